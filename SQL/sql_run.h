// Sending statements and owning their results. Every call is checked at once;
// a failure becomes an sql_exception built from the connection.
#pragma once
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <mysql.h>

struct sql_result_free {
    void operator()(MYSQL_RES* result) const noexcept { mysql_free_result(result); }
};
// Owner of a result; freeing a streamed result reads and drops its unread rows.
using sql_result_ptr = std::unique_ptr<MYSQL_RES, sql_result_free>;

struct sql_stmt_close {
    void operator()(MYSQL_STMT* statement) const noexcept { mysql_stmt_close(statement); }
};
// Owner of a prepared statement handle.
using sql_stmt_ptr = std::unique_ptr<MYSQL_STMT, sql_stmt_close>;

// Sees every statement text before it is sent (plain and prepared ones), for
// tracing and tests; an empty hook (the default) sees nothing. Set it while
// no statement runs.
using sql_statement_hook = std::function<void(std::string_view statement)>;
void sql_set_statement_hook(sql_statement_hook hook);
// Calls the hook, if one is set.
void sql_notify_statement(std::string_view statement);

// Sends a UTF-8 statement; throws sql_exception when the server refuses it.
void sql_send(MYSQL* connection, std::string_view statement);

// A statement without rows (SET, DDL, DML): sent, and any result it returns is
// read and freed so that the connection is free for the next statement.
void sql_execute(MYSQL* connection, std::string_view statement);
void sql_execute(MYSQL* connection, const std::wstring& statement);

// Sends the statement and opens its result as a stream (mysql_use_result).
// Null when the statement returns no rows; throws sql_exception on failure.
sql_result_ptr sql_open_stream(MYSQL* connection, std::string_view statement);
sql_result_ptr sql_open_stream(MYSQL* connection, const std::wstring& statement);

// The stream that the last statement left open (mysql_use_result): null when
// the statement returned no rows; throws when the call failed.
sql_result_ptr sql_take_stream(MYSQL* connection);

// The next row of a streamed result: null at the end of the stream. A stream
// that ends with an error (lost connection, killed query, time-out) throws
// sql_exception instead of looking like a normal end.
MYSQL_ROW sql_fetch_row(MYSQL* connection, MYSQL_RES* result);

// The byte lengths of the columns of the row last fetched from the result;
// throws sql_exception when the client library has none.
const unsigned long* sql_fetch_lengths(MYSQL_RES* result);

// The first column of the first row as an unsigned number: none when there
// is no row or the cell is NULL or no number. The rest of the stream is
// dropped. A result without a column is an index error (std::out_of_range).
std::optional<uint64_t> sql_scalar_u64(MYSQL* connection, std::string_view statement);

// UTF-8 text for inside a single-quoted literal, escaped for this connection
// (its character set and SQL mode); throws sql_exception when that fails.
std::string sql_escape_for(MYSQL* connection, std::string_view utf8);

// Frees any further results of the last statement (multi-result answers).
void sql_drop_more_results(MYSQL* connection);
