// Where a further connection of the run goes: the main connection's settings.
#pragma once
#include <string>

struct sql_login {
    std::string host;
    std::string user;
    std::string password;
    unsigned int port = 0;
    std::string database;  // UTF-8; empty: none
};
