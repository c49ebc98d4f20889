// BRENNOCK under a process limit that lets it start no thread: the rows are
// then received on the main thread, and every table is converted whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agent_child.h"
#include "agent_util.h"

namespace {

using namespace agent_test;
namespace fs = std::filesystem;


class brennock_limits : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_limits"};
    temp_dir dir;
    std::string out = dir / "out";
    // A copy the unprivileged user can reach wherever the build lies.
    std::string program = fennrow_test::reachable_copy(BRENNOCK_PATH);

    void SetUp() override {
        ASSERT_FALSE(program.empty()) << "cannot copy " << BRENNOCK_PATH;
        ASSERT_TRUE(fennrow_test::hand_to_unprivileged(dir.path()));
    }

    // The command that runs words as the unprivileged user with room for
    // one process only (its own), so that no thread can be started.
    static std::vector<std::string> one_process(const std::vector<std::string>& words) {
        std::vector<std::string> command = fennrow_test::unprivileged_prefix();
        for (const char* w : {"prlimit", "--nproc=1", "--"}) command.push_back(w);
        command.insert(command.end(), words.begin(), words.end());
        return command;
    }
};

FENNROW_SERVER_TESTS(brennock_limits);

TEST_F(brennock_limits, without_a_thread_of_its_own_every_page_arrives) {
    constexpr int rows = 3000;  // several pages
    db.conn().exec(
        "CREATE TABLE big (id INT PRIMARY KEY, name VARCHAR(20));"
        "INSERT INTO big SELECT seq, CONCAT('n', seq) FROM seq_1_to_" + std::to_string(rows) + ";"
        "CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x')");

    // The limit binds: the user cannot start another process.
    std::string forked;
    EXPECT_NE(fennrow_test::run_collecting(one_process({"sh", "-c", "true & wait"}), forked), 0) << forked;

    // The sanitizer's leak check needs a thread of its own, which the limit refuses.
    const child_sanitizer_option no_leak_check("detect_leaks=0");
    brennock_child child(one_process(join({program}, join(server_args(srv), {"--src=" + db.name(), "--dest=" + out}))));
    const run_result r = child.wait(std::chrono::seconds(120));
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "Converting database " + db.name() + "(2 tables)\nConverting table big(" + std::to_string(rows) +
                         " records)\nConverting table t2(1 records)\n")
        << r;
    EXPECT_EQ(r.err, "");
    std::string want = bom + "id;name\r\n";
    for (int i = 1; i <= rows; ++i) want += std::to_string(i) + ";n" + std::to_string(i) + "\r\n";
    const std::string got = read_file(out + "/big.csv");
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << got.substr(0, 60);
    EXPECT_EQ(read_file(out + "/t2.csv"), bom + "code\r\nx\r\n");
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"big.csv", "t2.csv"}));
}

}  // namespace
