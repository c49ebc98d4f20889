#include "sql_conn.h"

#include <errmsg.h>
#include <mysql.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "sql_excep.h"

namespace {
// The owned connections and the statement each keeps (null for none).
struct kept_statement {
    MYSQL* connection;
    MYSQL_STMT* statement;
};
struct kept_statements {
    std::mutex mutex;
    std::vector<kept_statement> list;
};
// Never destroyed: a connection may close during the program's exit.
kept_statements& kept_all() {
    static kept_statements* const all = new kept_statements;
    return *all;
}

void own(MYSQL* connection) {
    kept_statements& kept = kept_all();
    std::lock_guard lock(kept.mutex);
    kept.list.push_back({connection, nullptr});
}

// Called with the mutex held.
kept_statement* kept_of(MYSQL* connection) {
    kept_statements& kept = kept_all();
    auto it = std::find_if(kept.list.begin(), kept.list.end(),
                           [connection](const kept_statement& k) { return k.connection == connection; });
    return it == kept.list.end() ? nullptr : &*it;
}
}  // namespace

MYSQL_STMT* sql_take_statement(MYSQL* connection) {
    {
        kept_statements& kept = kept_all();
        std::lock_guard lock(kept.mutex);
        if (kept_statement* k = kept_of(connection); k && k->statement) {
            MYSQL_STMT* statement = k->statement;
            k->statement = nullptr;
            return statement;
        }
    }
    return mysql_stmt_init(connection);
}

void sql_keep_statement(MYSQL* connection, MYSQL_STMT* statement) noexcept {
    if (!statement) return;
    {
        kept_statements& kept = kept_all();
        std::lock_guard lock(kept.mutex);
        // A handle the client library cut from its connection is not kept.
        if (kept_statement* k = kept_of(connection); k && !k->statement && statement->mysql == connection) {
            k->statement = statement;
            return;
        }
    }
    mysql_stmt_close(statement);
}

void sql_connection::forget() noexcept {
    MYSQL_STMT* statement = nullptr;
    {
        kept_statements& kept = kept_all();
        std::lock_guard lock(kept.mutex);
        if (kept_statement* k = kept_of(m_mysql)) {
            statement = k->statement;
            kept.list.erase(kept.list.begin() + (k - kept.list.data()));
        }
    }
    if (statement) mysql_stmt_close(statement);
}

MYSQL* sql_connection::make() {
    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql) throw sql_exception(std::string("MySQL client ran out of memory"), CR_OUT_OF_MEMORY);
    try {
        own(mysql);
    } catch (...) {
        mysql_close(mysql);
        throw;
    }
    return mysql;
}

sql_connection::sql_connection() : m_mysql(make()) {}

sql_connection::~sql_connection() {
    forget();
    mysql_close(m_mysql);
}

void sql_connection::reset() {
    MYSQL* fresh = make();
    forget();
    mysql_close(m_mysql);
    m_mysql = fresh;
}

int sql_connection::socket() const noexcept { return static_cast<int>(mysql_get_socket(m_mysql)); }
