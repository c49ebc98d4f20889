#include "sql_excep.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <initializer_list>

#include "tk_log.h"

// sql_exception() takes the engine's connection; it is defined beside the
// engine (sql_engi.cpp).

sql_exception::sql_exception(MYSQL* connection) : tk_exception(0u) {
    if (connection)
        set_error(mysql_error(connection), mysql_errno(connection));
    else
        set_error("No connection to the MySQL server", CR_UNKNOWN_ERROR);
}

sql_exception::sql_exception(MYSQL_STMT* statement) : tk_exception(0u) {
    if (statement)
        set_error(mysql_stmt_error(statement), mysql_stmt_errno(statement));
    else
        set_error("No prepared statement", CR_UNKNOWN_ERROR);
}

sql_exception::sql_exception(const std::string& text, uint32_t number) : tk_exception(0u) {
    set_error(text.c_str(), number);
}

void sql_exception::set_error(const char* text, unsigned int number) {
    message_ = (text && *text) ? text : "Unknown MySQL error";
    tk_log(2, "sql_exception::sql_exception( msg=%s)", message_.c_str());
    code_ = (number & 0xFFFFu) | sql_error_code_bit;
    tk_log(2, "Got MySQL error code=%d", static_cast<int>(code_));
}

bool sql_is_connection_lost(const tk_exception& e) {
    if (!(e.code() & sql_error_code_bit)) return false;
    switch (e.code() & 0xFFFFu) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case ER_CONNECTION_KILLED:
    case ER_SERVER_SHUTDOWN:
        return true;
    default:
        return false;
    }
}

namespace {

bool has_client_error(const tk_exception& e, std::initializer_list<unsigned> numbers) {
    if (!(e.code() & sql_error_code_bit)) return false;
    const unsigned number = e.code() & 0xFFFFu;
    for (unsigned n : numbers)
        if (n == number) return true;
    return false;
}

}  // namespace

bool sql_is_no_answer(const tk_exception& e) {
    return has_client_error(e, {CR_SERVER_LOST, CR_SERVER_GONE_ERROR, CR_SERVER_LOST_EXTENDED});
}

bool sql_is_unreachable(const tk_exception& e) {
    return has_client_error(e, {CR_CONNECTION_ERROR, CR_CONN_HOST_ERROR, CR_UNKNOWN_HOST});
}

sql_auth_not_supported_exception::sql_auth_not_supported_exception()
    : tk_exception(std::string("The program does not support authentication protocol requested by "
                               "server. See 'Troubleshooting' article of the product documentation."),
                   1) {}

sql_prep_stmt_failed_exception::sql_prep_stmt_failed_exception()
    : tk_exception(std::string("Failed to execute prepared statement"), 1) {
    code_ = sql_error_code_bit | 3001;
}
