// TLS: BRENNOCK encrypts its sessions whenever the server offers TLS, and the
// TLS settings of the client option files in $HOME verify the server. The TLS
// server is the tests' own: a MariaDB server that requires secure transport,
// with a CA and a certificate made here with openssl, stopped at the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent_util.h"
#include "tls_server.h"

namespace {

using namespace agent_test;
using fennrow_test::certificates;
using fennrow_test::tls_server;

// Sets an environment variable of this process (and so of the programs it
// starts) while it lives.
class env_scope {
public:
    env_scope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~env_scope() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    env_scope(const env_scope&) = delete;
    env_scope& operator=(const env_scope&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

const std::string t_csv = bom + "id;name\r\n1;Anna\r\n2;Bo\r\n";
const std::string cipher_header = bom + "VARIABLE_VALUE\r\n";

// One run in its own folders: table t and the stored query cipher (the TLS
// cipher of the program's own session, empty without TLS) of `database`,
// with HOME at a folder that holds `option_file` as .my.cnf (none if empty).
struct tls_run {
    temp_dir dir;
    std::string home = dir / "home";
    std::string out = dir / "out";
    run_result result;

    tls_run(const fennrow_test::test_server& s, const std::string& database, const std::string& option_file) {
        std::filesystem::create_directory(home);
        if (!option_file.empty()) write_file(home + "/.my.cnf", option_file);
        const std::string profile = dir / "p.kvr";
        write_file(profile,
                   "[Generic settings]\r\nsrc=" + database + "\r\ndest=" + out +
                       "\r\nmode=0\r\n\r\n"
                       "[MySQL settings]\r\nhost=" + s.host + "\r\nuser=" + s.user + "\r\npassword=" + s.password +
                       "\r\nport=" + std::to_string(s.port) +
                       "\r\n\r\n"
                       "[CSV settings]\r\nInclude field names=1\r\nCSV delimiter=1\r\n\r\n"
                       "[Selected Tables]\r\nt\r\ncipher=SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                       "WHERE VARIABLE_NAME LIKE 'Ssl_cipher'\r\n\r\n");
        env_scope at_home("HOME", home);
        result = run_brennock({"--profile=" + profile});
    }

    std::string csv(const std::string& name) const { return read_file(out + "/" + name + ".csv"); }

    // The cipher the program's session reported; fails the test when the
    // file is not the one-column, one-row result.
    std::string cipher() const {
        const std::string text = csv("cipher");
        if (text.compare(0, cipher_header.size(), cipher_header) != 0 || text.size() < cipher_header.size() + 2 ||
            text.compare(text.size() - 2, 2, "\r\n") != 0)
            fennrow_test::fail_test("unexpected cipher.csv: " + text);
        return text.substr(cipher_header.size(), text.size() - cipher_header.size() - 2);
    }
};

class brennock_tls : public ::testing::Test {
protected:
    // The TLS server with a database tls_src holding table t.
    struct world {
        temp_dir dir;
        certificates certs{dir.path()};
        tls_server server{certs, dir.path()};
        world() {
            fennrow_test::test_sql_conn admin(server.srv, "");
            admin.exec("CREATE DATABASE tls_src; USE tls_src; CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20));"
                       "INSERT INTO t VALUES (1, 'Anna'), (2, 'Bo')");
        }
    };
    static std::unique_ptr<world> world_;

    static void TearDownTestSuite() { world_.reset(); }
    void SetUp() override {
        if (!world_) world_ = std::make_unique<world>();
    }
};
std::unique_ptr<brennock_tls::world> brennock_tls::world_;

FENNROW_SERVER_TESTS(brennock_tls);

TEST_F(brennock_tls, converts_over_encrypted_sessions_without_an_option_file) {
    tls_server& server = world_->server;
    const unsigned long denied = server.status("Access_denied_errors");

    const tls_run run(server.srv, "tls_src", "");
    EXPECT_EQ(run.result.status, 0) << run.result;
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.csv("t"), t_csv);
    EXPECT_NE(run.cipher(), "");
    // No session of the run was refused for want of TLS.
    EXPECT_EQ(server.status("Access_denied_errors"), denied);
}

struct file_case {
    std::string what;
    std::string file;  // {CA} and {OTHER} stand for the two CA files, {HOME} for the home folder
    bool connects;
    std::string error;  // a part of the output when refused
};

std::string filled(std::string text, const certificates& c, const std::string& home) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{OTHER}", c.other_ca}, {"{CA}", c.ca},
                                      {"{HOME}", home}}) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

TEST_F(brennock_tls, option_files_verify_the_server) {
    const std::vector<file_case> cases = {
        {"the CA and the key alone", "[client]\nssl-ca={CA}\nssl-verify-server-cert\n", true, ""},
        {"the program's group, a number", "[VT MySQL Lib]\nssl-ca = {CA}\nssl_verify_server_cert=1\n", true, ""},
        {"the CA and tls-verify-peer", "[client-mariadb]\nssl-ca={CA}\ntls-verify-peer\n", true, ""},
        {"another CA", "[client]\nssl-ca={OTHER}\nssl-verify-server-cert\n", false, "TLS/SSL error"},
        {"no CA: the system's CAs do not know the test CA", "[client]\nssl-verify-server-cert\n", false,
         "TLS/SSL error"},
        {"a word the client library reads as off", "[client]\nssl-ca={CA}\nssl-verify-server-cert = on\n", false,
         "The client library reads ssl-verify-server-cert in {HOME}/.my.cnf as off: write "
         "ssl-verify-server-cert=1 to verify the server"},
    };
    for (const file_case& c : cases) {
        SCOPED_TRACE(c.what);
        const tls_run run(world_->server.srv, "tls_src", filled(c.file, world_->certs, ""));
        if (c.connects) {
            EXPECT_EQ(run.result.status, 0) << run.result;
            EXPECT_EQ(run.result.err, "");
            EXPECT_EQ(run.csv("t"), t_csv);
            EXPECT_NE(run.cipher(), "");
        } else {
            EXPECT_EQ(run.result.status, 255) << run.result;
            const std::string error = filled(c.error, world_->certs, run.home);
            EXPECT_NE((run.result.out + run.result.err).find(error), std::string::npos) << run.result;
            EXPECT_FALSE(exists(run.out));
        }
    }
}

FENNROW_SERVER_TESTS(brennock_plain);

// A server without TLS: the sessions go on in clear, unless the option files
// ask to verify the server.
TEST(brennock_plain, tls_only_when_the_server_offers_it) {
    fennrow_test::test_database db{"tls_plain"};
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20));"
                   "INSERT INTO t VALUES (1, 'Anna'), (2, 'Bo')");
    const fennrow_test::test_server srv = fennrow_test::require_test_server();

    const tls_run plain(srv, db.name(), "");
    EXPECT_EQ(plain.result.status, 0) << plain.result;
    EXPECT_EQ(plain.result.err, "");
    EXPECT_EQ(plain.csv("t"), t_csv);
    EXPECT_EQ(plain.cipher(), "");

    for (const std::string& file : {std::string("[client]\nssl-verify-server-cert\n"),
                                    std::string("[client-server]\nssl-verify-server-cert=1\n")}) {
        SCOPED_TRACE(file);
        const tls_run verified(srv, db.name(), file);
        EXPECT_EQ(verified.result.status, 255) << verified.result;
        const std::string output = verified.result.out + verified.result.err;
        EXPECT_NE(output.find("SSL is required, but the server does not support it"), std::string::npos)
            << verified.result;
        EXPECT_FALSE(exists(verified.out));
    }
}

}  // namespace
