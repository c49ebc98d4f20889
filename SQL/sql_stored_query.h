// Whether a stored query can be converted, as the server judges it.
#pragma once
#include <string>

class sql_engine;

// Why the stored query cannot be converted: its stream's statement is
// prepared on the engine's connection, never run. The server's reason,
// parameter markers, no columns, or a statement that does more than read;
// empty when it can. Throws sql_exception
// when the connection broke on the way (the server has not judged it).
std::string sql_stored_query_problem(sql_engine& engine, const std::wstring& query);
