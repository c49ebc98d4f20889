// Failures of the MySQL back end.
#pragma once
#include <cstdint>

#include "tk_excep.h"

typedef struct st_mysql MYSQL;
typedef struct st_mysql_stmt MYSQL_STMT;

// Bit 22 marks a code that carries a MySQL error number in its low 16 bits.
inline constexpr uint32_t sql_error_code_bit = 0x400000;

// A statement or call that the server or the client library refused: the
// connection's error text and number, level 0. Build it right after the failing
// call, before anything else touches the connection.
class sql_exception : public tk_exception {
public:
    // The engine's connection (the engine singleton must exist).
    sql_exception();
    explicit sql_exception(MYSQL* connection);
    explicit sql_exception(MYSQL_STMT* statement);
    // A failure found by the back end itself (e.g. a client-side limit);
    // number is a MySQL or client error number.
    sql_exception(const std::string& text, uint32_t number);
    sql_exception(const sql_exception&) = default;

    // The MySQL error number carried in the code.
    uint32_t error_number() const { return code_ & 0xFFFF; }

private:
    void set_error(const char* text, unsigned int number);
};

// The failure says the connection to the server is gone (the server went
// away, the connection was lost or killed, the server shut down): nothing
// more can be done on it until it is opened again.
bool sql_is_connection_lost(const tk_exception& e);
// The server gave no answer or the connection to it broke: it went away,
// the connection was lost, or no greeting came within the time limit.
bool sql_is_no_answer(const tk_exception& e);
// No connection could be made: nothing listens at the socket or the port,
// or the host is not known.
bool sql_is_unreachable(const tk_exception& e);

// The one login the system refuses itself (a 4.1.0 server with a password).
class sql_auth_not_supported_exception : public tk_exception {
public:
    sql_auth_not_supported_exception();
    sql_auth_not_supported_exception(const sql_auth_not_supported_exception&) = default;
};

class sql_prep_stmt_failed_exception : public tk_exception {
public:
    sql_prep_stmt_failed_exception();
    sql_prep_stmt_failed_exception(const sql_prep_stmt_failed_exception&) = default;
};
