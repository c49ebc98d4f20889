// What the server says of a statement it prepares without running it.
#pragma once
#include <functional>
#include <string>

#include <mysql.h>

// Prepares a statement (never runs it) and throws sql_exception when the
// server refuses it or it gives no rows.
void sql_check_gives_rows(MYSQL* connection, const std::string& statement);
// Why a stored query cannot be converted (prepared, never run): the server's
// reason, parameter markers, no columns, or a statement that does more than
// read (sql_reading_problem); empty when it can.
std::string sql_query_problem(MYSQL* connection, const std::string& statement);
// The same, then hands the columns the statement will give to `describe`
// (valid only during the call).
void sql_describe_prepared(MYSQL* connection, const std::string& statement,
                           const std::function<void(const MYSQL_FIELD*, unsigned int)>& describe);
