// Whole runs of BRENNOCK whose count connection stops answering, breaks or
// cannot be had: the run ends all the same, every table's line shows its
// count, and the log says why the counts ran on the main connection.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "agent_util.h"
#include "tcp_proxy.h"
#include "test_labels.h"

namespace {

using namespace agent_test;
using fennrow_test::tcp_proxy;

constexpr int rows = 3000;
// A run that takes longer than this hangs.
constexpr std::chrono::seconds hang_limit{120};

class brennock_count : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_count"};
    fennrow_test::test_sql_conn admin;
    fennrow_test::test_login login{admin, "fn_acount_", db.name()};
    temp_dir dir;
    std::string out = dir / "out";
    std::string log = dir / "run.log";

    void SetUp() override {
        db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_" +
                       std::to_string(rows));
    }

    // Three stored queries whose last row waits, so that each stream is
    // still open when its count runs.
    static std::string entries() {
        std::string text;
        for (int i = 1; i <= 3; ++i)
            text += "q" + std::to_string(i) + "=SELECT id, IF(id = " + std::to_string(rows) +
                    ", SLEEP(0.3), 0) AS w FROM t\r\n";
        return text;
    }

    // Runs the queries as the test's login, connecting to the port.
    run_result run(unsigned port, const std::vector<std::string>& extra = {}) {
        const std::string profile = dir / "p.ini";
        profile_spec p = profile_for(srv);
        p.database = db.name();
        p.dest = out;
        p.port = port;
        p.user = login.user();
        p.password = login.password();
        p.entries = entries();
        write_file(profile, profile_text(p));
        run_options how;
        how.limit = hang_limit;
        return run_brennock(join({"--profile=" + profile, "--logfile=" + log}, extra), how);
    }

    // Every query's line with its true count, and its whole file. With
    // definitions only no stored query runs, also not to be counted.
    void expect_converted(const run_result& r, bool definitions_only) {
        EXPECT_EQ(r.status, 0) << r;
        EXPECT_NE(r.out.find("Converting database " + db.name() + "(3 tables)\n"), std::string::npos) << r;
        std::string records;
        if (!definitions_only)
            for (int i = 1; i <= rows; ++i) records += std::to_string(i) + ";0\r\n";
        for (int i = 1; i <= 3; ++i) {
            const std::string name = "q" + std::to_string(i);
            const std::string count = definitions_only ? "?" : std::to_string(rows);
            EXPECT_NE(r.out.find("Converting table " + name + "(" + count + " records)\n"),
                      std::string::npos)
                << r;
            EXPECT_EQ(read_file(out + "/" + name + ".csv"), bom + "id;w\r\n" + records) << name;
        }
        EXPECT_EQ(list_dir(out), (std::vector<std::string>{"q1.csv", "q2.csv", "q3.csv"}));
    }
};
FENNROW_SERVER_TESTS(brennock_count);
FENNROW_SERVER_WIDE_TEST(brennock_count, ServerWide_a_full_server_counts_on_the_main_connection);

// The count connection (the second one) stops answering after its login or
// at its first count: the run neither hangs nor loses a count.
struct stall_case {
    const char* name;
    const char* trigger;  // empty: the first command after the login
    bool definitions_only;
};

void PrintTo(const stall_case& c, std::ostream* os) { *os << c.name; }

class brennock_count_stall : public brennock_count, public ::testing::WithParamInterface<stall_case> {};
FENNROW_SERVER_TESTS(brennock_count_stall);

TEST_P(brennock_count_stall, the_run_ends_with_every_count) {
    tcp_proxy proxy(srv);
    proxy.add_rule(2, tcp_proxy::action::stall, GetParam().trigger);
    const run_result r = run(proxy.port(), GetParam().definitions_only ? std::vector<std::string>{"--tab_def"}
                                                                       : std::vector<std::string>{});
    expect_converted(r, GetParam().definitions_only);
    // A run with streams met the stall; one without needs no count connection.
    EXPECT_EQ(proxy.fired(), GetParam().definitions_only ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    cases, brennock_count_stall,
    ::testing::Values(stall_case{"at_the_count", "COUNT(*)", false}, stall_case{"after_login", "", false},
                      stall_case{"at_the_count_definitions_only", "COUNT(*)", true},
                      stall_case{"after_login_definitions_only", "", true}),
    [](const ::testing::TestParamInfo<stall_case>& info) { return std::string(info.param.name); });

// The count connection breaks at its first count: it is opened once more.
// When that one breaks too, the counts run on the main connection, and the
// log says why.
struct break_case {
    const char* name;
    int broken;  // how many count connections break
};

void PrintTo(const break_case& c, std::ostream* os) { *os << c.name; }

class brennock_count_break : public brennock_count, public ::testing::WithParamInterface<break_case> {};
FENNROW_SERVER_TESTS(brennock_count_break);

TEST_P(brennock_count_break, every_count_is_still_known) {
    tcp_proxy proxy(srv);
    for (int i = 0; i < GetParam().broken; ++i) proxy.add_rule(2 + i, tcp_proxy::action::drop, "COUNT(*)");
    const run_result r = run(proxy.port());
    expect_converted(r, false);
    EXPECT_EQ(proxy.fired(), GetParam().broken);
    // The main connection, the count connection and the one opened again.
    EXPECT_EQ(proxy.connections(), 3);
    const bool on_main = read_file(log).find("The records are counted on the main connection: ") != std::string::npos;
    EXPECT_EQ(on_main, GetParam().broken == 2) << read_file(log);
}

INSTANTIATE_TEST_SUITE_P(cases, brennock_count_break,
                         ::testing::Values(break_case{"once", 1}, break_case{"twice", 2}),
                         [](const ::testing::TestParamInfo<break_case>& info) { return std::string(info.param.name); });

// The server refuses the count connection: the counts run on the main
// connection before each stream, as they did before there was a second
// connection, and the log gives the server's reason.
TEST_F(brennock_count, a_login_of_one_connection_counts_on_the_main_one) {
    admin.exec("ALTER USER " + admin.literal(login.user()) + "@'%' WITH MAX_USER_CONNECTIONS 1");
    const run_result r = run(srv.port);
    expect_converted(r, false);
    const std::string text = read_file(log);
    EXPECT_NE(text.find("The records are counted on the main connection: "), std::string::npos) << text;
    EXPECT_NE(text.find("max_user_connections"), std::string::npos) << text;
}

// The server has no connection left for anyone but an administrator.
TEST_F(brennock_count, ServerWide_a_full_server_counts_on_the_main_connection) {
    std::vector<std::unique_ptr<fennrow_test::test_sql_conn>> fillers;
    auto connected = [&] {
        return std::stoi(admin.scalar("SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
                                      "WHERE VARIABLE_NAME = 'THREADS_CONNECTED'")
                             .value_or("0"));
    };
    // The server allows no fewer than 10 connections: the rest are taken.
    fennrow_test::global_setting_scope limit("max_connections", std::to_string(std::max(10, connected() + 2)));
    const int most = std::stoi(admin.scalar("SELECT @@GLOBAL.max_connections").value_or("0"));
    while (connected() < most - 1) fillers.push_back(std::make_unique<fennrow_test::test_sql_conn>());
    const run_result r = run(srv.port);
    expect_converted(r, false);
    const std::string text = read_file(log);
    EXPECT_NE(text.find("The records are counted on the main connection: Too many connections"), std::string::npos)
        << text;
}

}  // namespace
