// The converter's MySQL part: the engine (the one connection), the
// connection settings, the query test and the "MySQL settings" section of a
// settings profile.
#pragma once
#include <cstdint>
#include <string>

#include "sql_engi.h"
#include "udb_dump.h"

class error_handler;
class udb_profile;

inline constexpr const wchar_t* mysql_section_settings = L"MySQL settings";
inline constexpr const char* mysql_default_port = "3306";

class mysql_converter_impl {
public:
    // Reports of the run and of the writing side go to the handler, which
    // outlives the converter.
    explicit mysql_converter_impl(error_handler& handler);
    virtual ~mysql_converter_impl();
    mysql_converter_impl(const mysql_converter_impl&) = delete;
    mysql_converter_impl& operator=(const mysql_converter_impl&) = delete;

    // Connects with the stored settings. Throws tk_exception (level 1)
    // "Invalid port number" for a port that is not 1 to 65535; connection
    // failures are the engine's exceptions.
    void connect_mysql_server();
    // Stores the settings with blanks around them removed; an empty port
    // becomes "3306".
    void store_mysql_settings(const std::string& host, const std::string& user, const std::string& password,
                              const std::string& port);
    // Whether the server accepts the query as the source of a table: the
    // statement is only prepared, never executed. Throws nothing.
    bool check_query(const std::wstring& database, const std::wstring& query);
    // The same; a refused query leaves the server's reason in reason. A
    // connection that breaks (no answer, lost, gone) throws its exception.
    bool check_query(const std::wstring& database, const std::wstring& query, std::string& reason);

    bool load_profile(const udb_profile& profile);
    bool store_profile(udb_profile& profile) const;

    error_handler& handler() const { return m_handler; }

    // The port number of a port text: leading blanks, then decimal digits
    // (what follows them is ignored); 0 when there is no number from 1 to
    // 65535.
    static int32_t parse_port(const std::string& text);

    sql_engine engine;
    dump_options dump;
    std::string host;
    std::string user;
    std::string password;
    std::string port = mysql_default_port;

private:
    error_handler& m_handler;
};
