#include "sql_conn.h"

#include <errmsg.h>
#include <mysql.h>

#include "sql_excep.h"

MYSQL* sql_connection::make() {
    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql) throw sql_exception(std::string("MySQL client ran out of memory"), CR_OUT_OF_MEMORY);
    return mysql;
}

sql_connection::sql_connection() : m_mysql(make()) {}

sql_connection::~sql_connection() { mysql_close(m_mysql); }

void sql_connection::reset() {
    MYSQL* fresh = make();
    mysql_close(m_mysql);
    m_mysql = fresh;
}

int sql_connection::socket() const noexcept { return static_cast<int>(mysql_get_socket(m_mysql)); }
