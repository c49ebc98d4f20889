// What a stored query is: its kind and the functions it calls, read by the
// server's rules for comments, quotes and names.
#pragma once
#include <string>
#include <string_view>

// Why the stored query (UTF-8) is not run: it is no statement that only
// reads (SELECT, WITH, VALUES, SHOW, EXPLAIN, DESCRIBE or a parenthesised
// SELECT), or it calls a function whose effect a read-only transaction does
// not stop (the user locks). Empty when it may run. Versioned comments
// ("/*!...*/", "/*M!...*/") count as part of the statement.
std::string sql_reading_problem(std::string_view query);

// The refusal of a query that the server prepares without columns: a
// procedure call, an empty query (blanks and comments only) or any other
// statement.
std::string sql_no_rows_reason(std::string_view statement);
