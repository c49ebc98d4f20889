// Access to the throwaway MariaDB server that the test run starts
// (tests/server/mariadb-test-server.sh, CTest fixture "mariadb").
//
// The server's folder is named by $FENNROW_TEST_SERVER; its server.env holds
// HOST, PORT, USER, PASSWORD and SOCKET. A test that needs the server and
// cannot reach it fails; it never skips.
//
//   fennrow_test::test_server srv = fennrow_test::require_test_server();
//   fennrow_test::test_database db("orders");   // fresh database, dropped at the end
//   db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20))");
//   fennrow_test::test_sql_conn c(db.name());   // another session in it
#pragma once

#include <gtest/gtest.h>
#include <mysql.h>
#include <errmsg.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "test_labels.h"

namespace fennrow_test {

struct test_server {
    std::string host;
    unsigned port = 0;
    std::string user;
    std::string password;
    std::string socket;
};

// Thrown after a failure has been recorded, to stop the current test.
class test_server_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Records `why` as a failure of the current test and stops the test.
[[noreturn]] inline void fail_test(const std::string& why) {
    ADD_FAILURE() << why;
    throw test_server_error(why);
}

// Reads the lines of a server.env (named `path` in messages); on failure
// returns false with the reason.
inline bool parse_test_server(std::istream& in, const std::string& path, test_server& out, std::string& why) {
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    for (const char* key : {"HOST", "PORT", "USER", "PASSWORD"}) {
        if (values.find(key) == values.end()) {
            why = path + " has no " + key + " line";
            return false;
        }
    }
    const std::string& port = values["PORT"];
    unsigned p = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec != std::errc() || end != port.data() + port.size() || p == 0 || p > 65535) {
        why = path + " has a bad PORT: '" + port + "'";
        return false;
    }
    out.host = values["HOST"];
    out.port = p;
    out.user = values["USER"];
    out.password = values["PASSWORD"];
    out.socket = values["SOCKET"];
    return true;
}

// Reads the connection settings of the server started in `dir`; on failure
// returns false with the reason.
inline bool load_test_server_from(const std::string& dir, test_server& out, std::string& why) {
    const std::string path = dir + "/server.env";
    std::ifstream in(path);
    if (!in) {
        why = "cannot read " + path +
              ": the test server is not running (did the test 'mariadb_start' fail?)";
        return false;
    }
    return parse_test_server(in, path, out, why);
}

// Reads the connection settings; on failure returns false with the reason.
inline bool load_test_server(test_server& out, std::string& why) {
    const char* dir = std::getenv("FENNROW_TEST_SERVER");
    if (dir == nullptr || *dir == '\0') {
        why = "FENNROW_TEST_SERVER is not set: this test needs the throwaway "
              "MariaDB server; run it through ctest (fixture 'mariadb') or start "
              "tests/server/mariadb-test-server.sh and export the variable";
        return false;
    }
    // A child that cannot read the build tree (one run as another user) has
    // the lines of server.env in its environment.
    if (const char* handed = std::getenv("FENNROW_TEST_SERVER_SETTINGS")) {
        std::istringstream text(handed);
        return parse_test_server(text, "$FENNROW_TEST_SERVER_SETTINGS", out, why);
    }
    return load_test_server_from(dir, out, why);
}

// The connection settings, or a failure of the current test. A test needs
// a server mark beside its fixture (test_labels.h) to reach the server.
inline test_server require_test_server() {
    const ::testing::TestInfo* running = ::testing::UnitTest::GetInstance()->current_test_info();
    if (running && current_test_label() == test_label::unit)
        fail_test(std::string("the test needs the server, but its fixture has no server mark: ") +
                  running->test_suite_name() + "." + running->name());
    test_server s;
    std::string why;
    if (!load_test_server(s, why))
        fail_test(why);
    return s;
}

// A name in backquotes, each backquote inside doubled.
inline std::string quote_name(const std::string& name) {
    std::string q = "`";
    for (char c : name) {
        if (c == '`')
            q += '`';
        q += c;
    }
    q += '`';
    return q;
}

// Tries one login over TCP; returns 0 or the client's error number
// (for example 1045 for a refused password) and its text in *error.
inline unsigned try_connect(const test_server& s, const std::string& user,
                            const std::string& password, std::string* error = nullptr) {
    MYSQL* m = mysql_init(nullptr);
    if (m == nullptr) {
        if (error)
            *error = "mysql_init failed";
        return CR_OUT_OF_MEMORY;
    }
    unsigned timeout = 10;
    mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    unsigned proto = MYSQL_PROTOCOL_TCP;
    mysql_options(m, MYSQL_OPT_PROTOCOL, &proto);
    unsigned rc = 0;
    if (mysql_real_connect(m, s.host.c_str(), user.c_str(), password.c_str(), nullptr,
                           s.port, nullptr, 0) == nullptr) {
        rc = mysql_errno(m);
        if (error)
            *error = mysql_error(m);
    }
    mysql_close(m);
    return rc;
}

// One session with the test user over TCP, character set utf8mb4, several
// statements per call allowed. Every failure fails the current test.
class test_sql_conn {
public:
    explicit test_sql_conn(const std::string& database = std::string())
        : test_sql_conn(require_test_server(), database) {}

    test_sql_conn(const test_server& s, const std::string& database) {
        m_ = mysql_init(nullptr);
        if (m_ == nullptr)
            fail_test("mysql_init failed");
        unsigned connect_timeout = 10;
        unsigned io_timeout = 300;
        unsigned proto = MYSQL_PROTOCOL_TCP;
        mysql_options(m_, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
        mysql_options(m_, MYSQL_OPT_READ_TIMEOUT, &io_timeout);
        mysql_options(m_, MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);
        mysql_options(m_, MYSQL_OPT_PROTOCOL, &proto);
        mysql_options(m_, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        // TLS when the server offers it (a server may require it).
        my_bool tls = 1;
        mysql_options(m_, MYSQL_OPT_SSL_ENFORCE, &tls);
        if (mysql_real_connect(m_, s.host.c_str(), s.user.c_str(), s.password.c_str(),
                               database.empty() ? nullptr : database.c_str(), s.port,
                               nullptr, CLIENT_MULTI_STATEMENTS) == nullptr) {
            const std::string why = "cannot connect to the test server " + s.host + ":" +
                                    std::to_string(s.port) + " as " + s.user + ": " +
                                    mysql_error(m_);
            mysql_close(m_);
            m_ = nullptr;
            fail_test(why);
        }
    }

    ~test_sql_conn() {
        if (m_ != nullptr)
            mysql_close(m_);
    }
    test_sql_conn(const test_sql_conn&) = delete;
    test_sql_conn& operator=(const test_sql_conn&) = delete;

    MYSQL* get() const { return m_; }

    // Runs one or more statements (separated by ';'), frees every result;
    // fails the test with the server's text on the first error.
    void exec(const std::string& sql) {
        std::string why;
        if (run(sql, nullptr, why) != 0)
            fail_test("SQL failed: " + why + "\n  statement: " + sql);
    }

    // Like exec, but returns the error number (0 on success) instead of
    // failing, for statements that are meant to be refused.
    unsigned try_exec(const std::string& sql, std::string* error = nullptr) {
        std::string why;
        const unsigned rc = run(sql, nullptr, why);
        if (error)
            *error = why;
        return rc;
    }

    using row = std::vector<std::optional<std::string>>;

    // All rows of the first result; NULL cells are std::nullopt.
    std::vector<row> rows(const std::string& sql) {
        std::vector<row> out;
        std::string why;
        if (run(sql, &out, why) != 0)
            fail_test("SQL failed: " + why + "\n  statement: " + sql);
        return out;
    }

    // The first column of the first row; std::nullopt for NULL or no row.
    std::optional<std::string> scalar(const std::string& sql) {
        const auto r = rows(sql);
        if (r.empty() || r.front().empty())
            return std::nullopt;
        return r.front().front();
    }

    void use(const std::string& database) {
        if (mysql_select_db(m_, database.c_str()) != 0)
            fail_test("USE " + database + " failed: " + mysql_error(m_));
    }

    // A value as a quoted string literal, escaped for this session.
    std::string literal(const std::string& value) {
        std::string buf(value.size() * 2 + 1, '\0');
        const unsigned long n =
            mysql_real_escape_string(m_, buf.data(), value.data(), value.size());
        buf.resize(n);
        return "'" + buf + "'";
    }

private:
    // Returns 0 or the error number; collects the first result set into *out.
    unsigned run(const std::string& sql, std::vector<row>* out, std::string& why) {
        if (mysql_real_query(m_, sql.data(), sql.size()) != 0) {
            why = mysql_error(m_);
            return mysql_errno(m_);
        }
        bool first = true;
        for (;;) {
            MYSQL_RES* res = mysql_store_result(m_);
            if (res != nullptr) {
                if (first && out != nullptr) {
                    const unsigned n = mysql_num_fields(res);
                    while (MYSQL_ROW r = mysql_fetch_row(res)) {
                        const unsigned long* len = mysql_fetch_lengths(res);
                        row cells;
                        for (unsigned i = 0; i < n; ++i) {
                            if (r[i] == nullptr)
                                cells.emplace_back(std::nullopt);
                            else
                                cells.emplace_back(std::string(r[i], len[i]));
                        }
                        out->push_back(std::move(cells));
                    }
                }
                mysql_free_result(res);
                first = false;
            } else if (mysql_field_count(m_) != 0) {
                why = mysql_error(m_);
                const unsigned rc = mysql_errno(m_);
                drain();
                return rc;
            }
            const int next = mysql_next_result(m_);
            if (next == -1)
                return 0;
            if (next > 0) {
                why = mysql_error(m_);
                return mysql_errno(m_);
            }
        }
    }

    // Frees what is left of a multi-statement call.
    void drain() {
        while (mysql_next_result(m_) == 0) {
            if (MYSQL_RES* res = mysql_store_result(m_))
                mysql_free_result(res);
        }
    }

    MYSQL* m_ = nullptr;
};

// A login of its own with every privilege on one database, for a test that
// watches the login's sessions or takes the login away; dropped on every
// way out. The name is the prefix and the process id.
class test_login {
public:
    test_login(test_sql_conn& admin, const std::string& prefix, const std::string& database)
        : admin_(admin), user_(prefix + std::to_string(::getpid())), password_("Pw-" + std::to_string(::getpid())) {
        drop();
        admin_.exec("CREATE USER " + account() + " IDENTIFIED BY " + admin_.literal(password_) +
                    "; GRANT ALL PRIVILEGES ON " + quote_name(database) + ".* TO " + account());
    }
    ~test_login() { drop(); }
    test_login(const test_login&) = delete;
    test_login& operator=(const test_login&) = delete;

    void drop() { admin_.try_exec("DROP USER IF EXISTS " + account()); }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

private:
    std::string account() const { return admin_.literal(user_) + "@'%'"; }

    test_sql_conn& admin_;
    std::string user_;
    std::string password_;
};

// A fresh database with a unique name for one test, dropped on destruction.
// It owns a session that has the database selected.
class test_database {
public:
    explicit test_database(const std::string& tag = "t",
                           const std::string& charset = "utf8mb4")
        : name_(make_name(tag)), conn_() {
        conn_.exec("CREATE DATABASE " + quote_name(name_) + " CHARACTER SET " + charset);
        created_ = true;
        conn_.use(name_);
    }

    ~test_database() {
        if (!created_)
            return;
        std::string why;
        if (conn_.try_exec("DROP DATABASE IF EXISTS " + quote_name(name_), &why) != 0)
            ADD_FAILURE() << "cannot drop test database " << name_ << ": " << why;
    }
    test_database(const test_database&) = delete;
    test_database& operator=(const test_database&) = delete;

    const std::string& name() const { return name_; }
    test_sql_conn& conn() { return conn_; }

private:
    static std::string make_name(const std::string& tag) {
        static std::atomic<unsigned> counter{0};
        std::string clean;
        for (char c : tag) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (std::isalnum(u) && u < 0x80)
                clean += static_cast<char>(std::tolower(u));
            else
                clean += '_';
            if (clean.size() == 20)
                break;
        }
        std::random_device rd;
        const unsigned salt = rd() & 0xffffu;
        char hex[8];
        const auto r = std::to_chars(hex, hex + sizeof hex, salt, 16);
        return "fn_" + clean + "_" + std::to_string(::getpid()) + "_" +
               std::to_string(++counter) + "_" + std::string(hex, r.ptr);
    }

    std::string name_;
    test_sql_conn conn_;
    bool created_ = false;
};

// Sets a server-wide variable while it lives and puts the server's own value
// back on every path (a failed restore fails the test). Only sessions opened
// afterwards see a changed session default.
//
//   fennrow_test::global_setting_scope packet("max_allowed_packet", "67108864");
//   packet.saved();   // the server's own value
class global_setting_scope {
public:
    global_setting_scope(const std::string& name, const std::string& value) : name_(name) {
        // Only tests that CTest runs alone may change what every session sees.
        if (current_test_label() != test_label::server_wide)
            fail_test("the test changes the server-wide setting " + name +
                      ", but its fixture has no server-wide mark");
        saved_ = conn_.scalar("SELECT @@GLOBAL." + name_).value_or("");
        conn_.exec("SET GLOBAL " + name_ + " = " + sql_value(value));
    }
    ~global_setting_scope() {
        std::string why;
        if (conn_.try_exec("SET GLOBAL " + name_ + " = " + sql_value(saved_), &why) != 0)
            ADD_FAILURE() << "cannot restore the global " << name_ << " '" << saved_ << "': " << why;
    }
    global_setting_scope(const global_setting_scope&) = delete;
    global_setting_scope& operator=(const global_setting_scope&) = delete;

    const std::string& saved() const { return saved_; }

private:
    // Numbers as they are (numeric variables refuse strings), the rest quoted.
    std::string sql_value(const std::string& v) {
        const bool number = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos;
        return number ? v : conn_.literal(v);
    }

    std::string name_;
    test_sql_conn conn_;
    std::string saved_;
};

// The server's current global value of a variable.
inline std::string global_setting(const std::string& name) {
    test_sql_conn c;
    return c.scalar("SELECT @@GLOBAL." + name).value_or("");
}

}  // namespace fennrow_test
