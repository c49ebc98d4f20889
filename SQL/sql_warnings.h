// The notes and warnings a statement left: a row the server stored with a
// value rounded or cut (Note 1265, which strict mode lets pass) is not
// stored as it was given.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <mysql.h>

struct sql_warning {
    std::string level;    // "Note", "Warning"
    unsigned int code = 0;
    std::string message;  // the server's text without " at row N"
    uint64_t row = 0;     // the statement's row it names (1 for the first), 0 for none
};

// The warnings of the connection's last statement, read with SHOW WARNINGS
// when count (the statement's warning count) is not 0.
std::vector<sql_warning> sql_read_warnings(MYSQL* connection, unsigned int count);

// "Note 1265: Data truncated for column 'd'".
std::string sql_warning_text(const sql_warning& w);
