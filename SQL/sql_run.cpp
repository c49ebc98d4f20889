#include "sql_run.h"

#include <charconv>
#include <mutex>
#include <stdexcept>

#include <errmsg.h>

#include "sql_excep.h"
#include "tk_utils.h"

namespace {
sql_statement_hook& statement_hook() {
    static sql_statement_hook hook;
    return hook;
}
}  // namespace

void sql_set_statement_hook(sql_statement_hook hook) { statement_hook() = std::move(hook); }

void sql_notify_statement(std::string_view statement) {
    const sql_statement_hook& hook = statement_hook();
    if (!hook) return;
    // Statements of several connections may run on several threads: the
    // hook sees one at a time.
    static std::mutex one_at_a_time;
    std::lock_guard<std::mutex> guard(one_at_a_time);
    hook(statement);
}

void sql_send(MYSQL* connection, std::string_view statement) {
    sql_notify_statement(statement);
    if (mysql_real_query(connection, statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        throw sql_exception(connection);
}

sql_result_ptr sql_take_stream(MYSQL* connection) {
    sql_result_ptr result(mysql_use_result(connection));
    if (!result && mysql_errno(connection) != 0) throw sql_exception(connection);
    return result;
}

void sql_drop_more_results(MYSQL* connection) {
    while (mysql_more_results(connection)) {
        int rc = mysql_next_result(connection);
        if (rc > 0) throw sql_exception(connection);
        if (rc < 0) break;
        sql_take_stream(connection);  // freed at once
    }
}

void sql_execute(MYSQL* connection, std::string_view statement) {
    sql_send(connection, statement);
    sql_take_stream(connection);  // a result, if any, is drained and freed here
    sql_drop_more_results(connection);
}

void sql_execute(MYSQL* connection, const std::wstring& statement) {
    sql_execute(connection, std::string_view(tk_to_utf8(statement)));
}

sql_result_ptr sql_open_stream(MYSQL* connection, std::string_view statement) {
    sql_send(connection, statement);
    return sql_take_stream(connection);
}

sql_result_ptr sql_open_stream(MYSQL* connection, const std::wstring& statement) {
    return sql_open_stream(connection, std::string_view(tk_to_utf8(statement)));
}

MYSQL_ROW sql_fetch_row(MYSQL* connection, MYSQL_RES* result) {
    MYSQL_ROW row = mysql_fetch_row(result);
    if (!row && mysql_errno(connection) != 0) throw sql_exception(connection);
    return row;
}

const unsigned long* sql_fetch_lengths(MYSQL_RES* result) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    if (!lengths) throw sql_exception(std::string("No column lengths for the current row"), CR_UNKNOWN_ERROR);
    return lengths;
}

std::optional<uint64_t> sql_scalar_u64(MYSQL* connection, std::string_view statement) {
    sql_result_ptr result = sql_open_stream(connection, statement);
    if (!result || mysql_num_fields(result.get()) < 1) throw std::out_of_range("invalid vector subscript");
    std::optional<uint64_t> value;
    if (MYSQL_ROW row = sql_fetch_row(connection, result.get())) {
        const unsigned long* lengths = sql_fetch_lengths(result.get());
        uint64_t number = 0;
        if (row[0] && std::from_chars(row[0], row[0] + lengths[0], number).ec == std::errc()) value = number;
        while (sql_fetch_row(connection, result.get())) {
        }
    }
    return value;
}

std::string sql_escape_for(MYSQL* connection, std::string_view utf8) {
    std::string out(utf8.size() * 2 + 1, '\0');
    const unsigned long n =
        mysql_real_escape_string(connection, out.data(), utf8.data(), static_cast<unsigned long>(utf8.size()));
    if (n == static_cast<unsigned long>(-1)) throw sql_exception(connection);
    out.resize(n);
    return out;
}
