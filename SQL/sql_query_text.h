// The text of the statement that streams a table or a stored query.
#pragma once
#include <string>

// The statement that streams a table or a stored query: "SELECT * FROM
// `table`", or the query as written (sql_strip_query_end).
std::wstring sql_select_statement(const std::wstring& name_or_query, bool is_query);
// A stored query made fit to be sent or wrapped: trailing blanks and
// semicolons (also before a trailing comment) are removed.
std::wstring sql_strip_query_end(const std::wstring& query);
