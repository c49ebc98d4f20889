// Ending server sessions whose client side was cut (a stopped run): what
// they still run on the server ends with them.
#pragma once
#include <chrono>
#include <vector>

#include "sql_login.h"

typedef struct st_mysql MYSQL;

// Every wait of the connection that ends the sessions is this short.
inline constexpr std::chrono::seconds sql_end_sessions_limit{5};

// The server thread id of a connection (0: never connected); it stays
// readable after the connection's socket was cut.
unsigned long sql_session_id(MYSQL* connection) noexcept;

// Sends KILL for each server thread id (0 is left out) on a short connection
// of its own. Throws nothing; sessions that cannot be ended are logged.
// Answers how many were ended.
size_t sql_end_sessions(const sql_login& where, const std::vector<unsigned long>& thread_ids) noexcept;
