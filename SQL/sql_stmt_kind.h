// What a stored query that gives no result set is, told from its text.
#pragma once
#include <string>
#include <string_view>

// The refusal of a query that the server prepares without columns: a
// procedure call, an empty query (blanks and comments only) or any other
// statement.
std::string sql_no_rows_reason(std::string_view statement);

// True when the text holds nothing but blanks and comments.
bool sql_is_empty_statement(std::string_view statement);
