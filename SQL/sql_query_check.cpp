#include "sql_query_check.h"

#include <errmsg.h>

#include "sql_excep.h"
#include "sql_query_kind.h"
#include "sql_run.h"

void sql_describe_prepared(MYSQL* connection, const std::string& statement,
                           const std::function<void(const MYSQL_FIELD*, unsigned int)>& describe) {
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) throw sql_exception(connection);
    sql_notify_statement(statement);
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        throw sql_exception(stmt.get());
    if (mysql_stmt_field_count(stmt.get()) == 0) throw sql_exception(sql_no_rows_reason(statement), CR_UNKNOWN_ERROR);
    if (!describe) return;
    // The metadata's fields live in the statement: described before it closes.
    sql_result_ptr meta(mysql_stmt_result_metadata(stmt.get()));
    if (!meta) throw sql_exception(stmt.get());
    describe(mysql_fetch_fields(meta.get()), mysql_num_fields(meta.get()));
}

std::string sql_query_problem(MYSQL* connection, const std::string& statement) {
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) {
        const std::string text = mysql_error(connection);
        return text.empty() ? std::string("The query cannot be prepared.") : text;
    }
    sql_notify_statement(statement);
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        return mysql_stmt_error(stmt.get());
    if (mysql_stmt_param_count(stmt.get()) != 0) return "The query has parameter markers.";
    if (mysql_stmt_field_count(stmt.get()) == 0) return "The query returns no columns.";
    return sql_reading_problem(statement);
}

void sql_check_gives_rows(MYSQL* connection, const std::string& statement) {
    sql_describe_prepared(connection, statement, nullptr);
}
