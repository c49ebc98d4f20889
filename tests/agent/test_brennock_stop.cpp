// BRENNOCK stopped by SIGINT, SIGTERM or SIGHUP: the run ends at a record,
// the table in work keeps its whole records under its part name, the stop is
// reported and the exit code is -1; a second signal ends it at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent_child.h"
#include "agent_util.h"

namespace {

using namespace agent_test;
namespace fs = std::filesystem;

struct signal_case {
    const char* name;
    int sig;
};

const signal_case signal_cases[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};

std::string case_name(const ::testing::TestParamInfo<signal_case>& i) { return i.param.name; }

// True once the process has taken the signal (it is no longer pending).
bool delivered(pid_t pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        for (const char* key : {"SigPnd:", "ShdPnd:"}) {
            if (line.rfind(key, 0) != 0) continue;
            const unsigned long long mask = std::strtoull(line.c_str() + std::string(key).size(), nullptr, 16);
            if (mask & (1ull << (sig - 1))) return false;
        }
    }
    return true;
}

// The rows of the slow query, 1..n, as its file holds them.
std::string slow_rows(size_t n) {
    std::string rows = bom + "id;pad\r\n";
    for (size_t i = 1; i <= n; ++i) rows += std::to_string(i) + ";" + std::string(1000, 'x') + "\r\n";
    return rows;
}

class brennock_stop : public ::testing::TestWithParam<signal_case> {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_stop"};
    temp_dir dir;
    std::string out = dir / "out";
    // Row 2000 of the stored query waits for this lock, which the test
    // holds: the stream stalls there, after about 2 MB of rows.
    const std::string lock_name = "fn_stop_" + std::to_string(::getpid());
    fennrow_test::test_sql_conn locker;

    void SetUp() override {
        db.conn().exec("CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x')");
        // A stored query may not take a lock itself; a function of the
        // database may.
        db.conn().exec("CREATE FUNCTION wait_lock(name VARCHAR(64)) RETURNS INT NO SQL RETURN GET_LOCK(name, 600)");
        ASSERT_EQ(locker.scalar("SELECT GET_LOCK(" + locker.literal(lock_name) + ", 0)"), "1");
    }
    void TearDown() override { locker.try_exec("DO RELEASE_LOCK(" + locker.literal(lock_name) + ")"); }

    std::string profile() {
        const std::string path = dir / "p.ini";
        profile_spec p = profile_for(srv);
        p.database = db.name();
        p.dest = out;
        p.mode = -1;
        p.entries = "slow=SELECT seq AS id, REPEAT('x', 1000) AS pad FROM seq_1_to_3000 WHERE IF(seq = 2000, wait_lock(" +
                    locker.literal(lock_name) + "), 1)\r\nt2\r\n";
        write_file(path, profile_text(p));
        return "--profile=" + path;
    }

    // The stream waits on the server for its row 2000, and the rows before
    // it have begun to reach the file.
    bool stalled() {
        std::error_code ec;
        const auto size = fs::file_size(out + "/slow.csv.part", ec);
        if (ec || size < (1u << 20)) return false;
        return locker
            .scalar("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE STATE = 'User lock' AND INFO LIKE " +
                    locker.literal("%" + lock_name + "%") + " AND INFO NOT LIKE '%COUNT(%'")
            .value_or("0") != "0";
    }
};

FENNROW_SERVER_TESTS(brennock_stop);

TEST_P(brennock_stop, ends_the_run_at_a_record) {
    brennock_child child(join({BRENNOCK_PATH}, {profile()}));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool was_stalled = false;
    while (child.running() && std::chrono::steady_clock::now() < give_up && !(was_stalled = stalled()))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(was_stalled) << "the stream never stalled\n" << child.out();
    child.send(GetParam().sig);
    // Only the signal can end the run while the lock is held.
    const run_result r = child.wait(std::chrono::seconds(60));
    EXPECT_EQ(r.status, 255) << r;
    const std::string report = std::string("Error:\nThe conversion was stopped by ") + GetParam().name + "\n";
    EXPECT_EQ(count_of(r.out, "Error:"), 1u) << r;
    ASSERT_GE(r.out.size(), report.size()) << r;
    EXPECT_EQ(r.out.substr(r.out.size() - report.size()), report) << r;
    EXPECT_EQ(r.out.rfind("Converting database " + db.name() + "(2 tables)\nConverting table slow(", 0), 0u) << r;
    EXPECT_EQ(r.err, "");
    // The next entry is not converted; the table in work keeps the whole
    // records written before the stop, under its part name.
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"slow.csv.part"}));
    const std::string part = read_file(out + "/slow.csv.part");
    const size_t rows = count_of(part, "\r\n") - 1;
    EXPECT_GE(rows, 1000u);
    EXPECT_LT(rows, 2000u);
    EXPECT_TRUE(part == slow_rows(rows)) << "the file is not the rows 1.." << rows;
}

INSTANTIATE_TEST_SUITE_P(signals, brennock_stop, ::testing::ValuesIn(signal_cases), case_name);

// A server that takes the connection and never answers: the program waits
// in its connect, which a stop does not cut.
class brennock_second_signal : public ::testing::TestWithParam<signal_case> {
protected:
    void SetUp() override {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        socklen_t len = sizeof addr;
        ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        port = ntohs(addr.sin_port);
    }
    void TearDown() override {
        if (accepted >= 0) ::close(accepted);
        if (listener >= 0) ::close(listener);
    }

    int listener = -1;
    int accepted = -1;
    unsigned port = 0;
    temp_dir dir;
};

FENNROW_SERVER_TESTS(brennock_second_signal);

TEST_P(brennock_second_signal, ends_the_program_at_once) {
    const int sig = GetParam().sig;
    brennock_child child({BRENNOCK_PATH, "--host=127.0.0.1", "--port=" + std::to_string(port), "--user=u",
                          "--src=db", "--dest=" + dir / "out"});
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 60000), 1) << "the program never connected\n" << child.out();
    accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    const pid_t pid = child.pid();
    child.send(sig);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (child.running() && !delivered(pid, sig) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(child.running()) << "the first signal ended the program";
    child.send(sig);
    // Without the second signal the connect would wait for the server and
    // then report its failure.
    const run_result r = child.wait(std::chrono::seconds(60));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "") << r;
    EXPECT_EQ(r.err, "") << r;
    EXPECT_FALSE(exists(dir / "out"));
}

INSTANTIATE_TEST_SUITE_P(signals, brennock_second_signal, ::testing::ValuesIn(signal_cases), case_name);

}  // namespace
