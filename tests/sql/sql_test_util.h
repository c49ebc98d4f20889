// A connected engine for the tests that talk to the test server.
#pragma once
#include <cstdlib>
#include <optional>
#include <string>

#include <unistd.h>

#include <mysql.h>

#include "sql_engi.h"
#include "tk_utils.h"
#include "test_server.h"

namespace sql_test {

// The client reads option files of the engine's option group: HOME points at
// an empty folder, so that no option file of the user takes part.
inline void use_empty_home() {
    static const bool done = [] {
        char tmpl[] = "/tmp/fn-sql-home.XXXXXX";
        if (const char* dir = ::mkdtemp(tmpl)) {
            ::setenv("HOME", dir, 1);
            static std::string path = dir;
            std::atexit([] { ::rmdir(path.c_str()); });
        }
        return true;
    }();
    (void)done;
}

// The first column of the first row of a statement on a connection, or
// nullopt (NULL or no row). Fails the test when the statement fails.
inline std::optional<std::string> scalar(MYSQL* m, const std::string& sql) {
    if (mysql_real_query(m, sql.data(), sql.size()) != 0)
        fennrow_test::fail_test("SQL failed: " + std::string(mysql_error(m)) + "\n  statement: " + sql);
    MYSQL_RES* res = mysql_store_result(m);
    if (!res) fennrow_test::fail_test("no result: " + sql);
    std::optional<std::string> out;
    if (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* len = mysql_fetch_lengths(res);
        if (row[0]) out = std::string(row[0], len[0]);
    }
    mysql_free_result(res);
    return out;
}

inline long long scalar_number(MYSQL* m, const std::string& sql) {
    const auto s = scalar(m, sql);
    return s ? std::stoll(*s) : -1;
}

// An engine connected to the test server as the test user.
struct engine_session {
    engine_session() {
        use_empty_home();
        server = fennrow_test::require_test_server();
        engine.connect(server.host, server.user, server.password, static_cast<int32_t>(server.port));
    }
    // Makes the database the engine's current one.
    void use(const std::string& database) {
        if (!engine.is_db_exist(tk_from_utf8(database))) fennrow_test::fail_test("cannot select " + database);
    }
    MYSQL* conn() { return engine.get_connection(); }

    fennrow_test::test_server server;
    sql_engine engine;
};

}  // namespace sql_test
