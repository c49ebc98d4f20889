// Whole runs of BRENNOCK in a hostile world: closed standard descriptors,
// links in the destination, tables that fail mid-stream, two runs into one
// folder, file-system errors and a log file that cannot be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include "agent_util.h"

namespace {

using namespace agent_test;
namespace fs = std::filesystem;

const std::string t1_csv = bom + "id;name\r\n1;Anna\r\n2;Bo\r\n";
const std::string t2_csv = bom + "code\r\nx\r\n";

bool is_link(const std::string& path) { return fs::is_symlink(fs::symlink_status(path)); }

class brennock_hostile : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_hostile"};
    temp_dir dir;
    std::string out = dir / "out";

    void SetUp() override {
        db.conn().exec(
            "CREATE TABLE t1 (id INT PRIMARY KEY, name VARCHAR(20));"
            "INSERT INTO t1 VALUES (1, 'Anna'), (2, 'Bo');"
            "CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x')");
    }

    run_result run(const std::vector<std::string>& extra, const run_options& how = {}) {
        return run_brennock(join(join(server_args(srv), {"--src=" + db.name(), "--dest=" + out}), extra), how);
    }
    std::string csv(const std::string& name) const { return read_file(out + "/" + name); }
    std::string db_line(int tables) const {
        return "Converting database " + db.name() + "(" + std::to_string(tables) + " tables)\n";
    }
};

// Closed standard descriptors never become a CSV file or the connection.
struct closed_case {
    const char* name;
    run_options how;
};

class brennock_closed : public brennock_hostile, public ::testing::WithParamInterface<closed_case> {};

FENNROW_SERVER_TESTS(brennock_closed);

TEST_P(brennock_closed, the_files_get_only_their_records) {
    const run_result r = run({}, GetParam().how);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t1.csv", "t2.csv"}));
    EXPECT_EQ(csv("t1.csv"), t1_csv);
    EXPECT_EQ(csv("t2.csv"), t2_csv);
}

INSTANTIATE_TEST_SUITE_P(
    all, brennock_closed,
    ::testing::Values(closed_case{"in_and_out", {false, true, true, false}},
                      closed_case{"out", {false, false, true, false}},
                      closed_case{"in_out_and_err", {false, true, true, true}}),
    [](const ::testing::TestParamInfo<closed_case>& i) { return std::string(i.param.name); });

// A link named like a CSV file: modes 0 and 1 replace the link itself, mode
// 2 skips it; what it points to is never written.
class brennock_link : public brennock_hostile, public ::testing::WithParamInterface<int> {};

FENNROW_SERVER_TESTS(brennock_link);

TEST_P(brennock_link, is_never_written_through) {
    const int mode = GetParam();
    fs::create_directory(out);
    write_file(dir / "victim", "precious");
    fs::create_symlink(dir / "victim", out + "/t1.csv");
    fs::create_symlink(dir / "victim", out + "/t2.csv.part");
    const run_result r = run({"--mode=" + std::to_string(mode)});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(read_file(dir / "victim"), "precious");
    EXPECT_EQ(csv("t2.csv"), t2_csv);
    if (mode == 2) {
        EXPECT_TRUE(is_link(out + "/t1.csv"));
    } else {
        EXPECT_FALSE(is_link(out + "/t1.csv"));
        EXPECT_EQ(csv("t1.csv"), t1_csv);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(out + "/t2.csv.part")));
}

INSTANTIATE_TEST_SUITE_P(modes, brennock_link, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& i) { return "mode_" + std::to_string(i.param); });

FENNROW_SERVER_TESTS(brennock_hostile);

// The destination the user names may itself be a link to a folder.
TEST_F(brennock_hostile, a_destination_that_is_a_link_is_followed) {
    fs::create_directory(dir / "real");
    fs::create_symlink(dir / "real", out);
    const run_result r = run({});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(is_link(out));
    EXPECT_EQ(read_file(dir / "real/t1.csv"), t1_csv);
}

// A table that fails mid-stream keeps its records under its part name, which
// the report names; a later run in mode 2 does not take it for complete, and
// mode 0 removes part files of earlier runs.
TEST_F(brennock_hostile, a_table_that_fails_mid_stream_stays_a_part_file) {
    db.conn().exec(
        "CREATE TABLE t400 (id INT PRIMARY KEY); INSERT INTO t400 SELECT seq FROM seq_1_to_400;"
        "CREATE TABLE multi (k INT, v INT); INSERT INTO multi VALUES (300,1),(300,2)");
    // Row 300 of the stored query fails on the server.
    const std::string broken =
        "broken=SELECT id, (SELECT v FROM multi WHERE multi.k = t400.id) AS v FROM t400 ORDER BY id\r\n";
    auto profile = [&](int mode, const std::string& entries) {
        const std::string path = dir / "p.ini";
        write_file(path, "[Generic settings]\r\nsrc=" + db.name() + "\r\ndest=" + out + "\r\nmode=" +
                             std::to_string(mode) + "\r\n\r\n[MySQL settings]\r\nhost=" + srv.host +
                             "\r\nuser=" + srv.user + "\r\npassword=" + srv.password +
                             "\r\nport=" + std::to_string(srv.port) + "\r\n\r\n[Selected Tables]\r\n" + entries +
                             "\r\n");
        return "--profile=" + path;
    };
    const std::string part = out + "/broken.csv.part";
    const run_result r = run({profile(0, broken + "t2")});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_NE(r.out.find("Subquery returns more than 1 row (the records written so far are in " + part + ")\n"),
              std::string::npos)
        << r;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"broken.csv.part", "t2.csv"}));
    const std::string records = csv("broken.csv.part");
    EXPECT_EQ(records.rfind(bom + "id;v\r\n1;\r\n2;\r\n", 0), 0u) << records.substr(0, 40);
    EXPECT_EQ(records.substr(records.size() - 2), "\r\n");

    // Mode 2 does not take the part file for a complete table.
    const run_result skip = run({profile(2, broken + "t2")});
    EXPECT_EQ(skip.status, 255) << skip;
    EXPECT_NE(skip.out.find(part), std::string::npos) << skip;

    // Part files of earlier runs stay in modes 1 and 2 and go in mode 0.
    write_file(out + "/other.csv.part", "stale");
    write_file(out + "/notes.part", "kept");
    const run_result again = run({profile(1, "t2")});
    EXPECT_EQ(again.status, 0) << again;
    EXPECT_TRUE(exists(part));
    EXPECT_TRUE(exists(out + "/other.csv.part"));
    const run_result clean = run({profile(0, "t2")});
    EXPECT_EQ(clean.status, 0) << clean;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"notes.part", "t2.csv"}));
}

// A folder another run holds: the second run waits, then ends with an error
// naming the folder and deletes nothing.
TEST_F(brennock_hostile, a_folder_in_use_by_another_run_is_refused) {
    fs::create_directory(out);
    write_file(out + "/t1.csv", "old");
    const int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const run_result r = run({});
    ::close(fd);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nThe folder " + out + " is in use by another conversion\n");
    EXPECT_EQ(csv("t1.csv"), "old");
}

// Two identical runs started together: one waits for the other, both succeed.
TEST_F(brennock_hostile, two_runs_into_one_folder_take_turns) {
    db.conn().exec("CREATE TABLE big (id INT PRIMARY KEY); INSERT INTO big SELECT seq FROM seq_1_to_20000");
    std::string big = bom + "id\r\n";
    for (int i = 1; i <= 20000; ++i) big += std::to_string(i) + "\r\n";
    for (int round = 0; round < 3; ++round) {
        auto a = std::async(std::launch::async, [&] { return run({"--silent"}); });
        auto b = std::async(std::launch::async, [&] { return run({"--silent"}); });
        const run_result ra = a.get();
        const run_result rb = b.get();
        EXPECT_EQ(ra.status, 0) << ra;
        EXPECT_EQ(rb.status, 0) << rb;
        EXPECT_EQ(list_dir(out), (std::vector<std::string>{"big.csv", "t1.csv", "t2.csv"}));
        EXPECT_EQ(csv("big.csv"), big);
    }
}

// File-system errors name the path they concern (as an unprivileged user, so
// that permissions bind).
TEST_F(brennock_hostile, file_system_errors_name_their_path) {
    fs::create_directory(out);
    write_file(out + "/t1.csv", "old");
    ASSERT_EQ(::chmod(out.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const bool others_own_it = !fennrow_test::is_root();  // a folder of our own: make it read-only
    if (others_own_it) {
        ASSERT_EQ(::chmod(out.c_str(), 0555), 0);
    }
    const run_options nobody{true, false, false, false};

    // A folder of the unprivileged user's own is written as usual.
    const std::string own = dir / "own";
    fs::create_directory(own);
    ASSERT_TRUE(fennrow_test::hand_to_unprivileged(own));
    const run_result fine = run({"--dest=" + own, "--silent"}, nobody);
    EXPECT_EQ(fine.status, 0) << fine;
    EXPECT_EQ(read_file(own + "/t1.csv"), t1_csv);

    const run_result overwrite = run({"--mode=0"}, nobody);
    EXPECT_EQ(overwrite.status, 255) << overwrite;
    EXPECT_EQ(overwrite.out, "Error:\nCannot delete " + out + "/t1.csv: Permission denied\n");
    EXPECT_EQ(csv("t1.csv"), "old");

    write_file(dir / "tables.txt", "t2\n");
    const run_result create = run({"--mode=1", "--tab_file=" + dir / "tables.txt"}, nobody);
    EXPECT_EQ(create.status, 255) << create;
    // The table's line comes first, its count not known yet.
    EXPECT_EQ(create.out, db_line(1) + "Converting table t2(? records)\nError:\nt2: Error opening CSV file " + out +
                              "/t2.csv.part: Permission denied\n");

    const std::string long_name(300, 'x');
    const run_result too_long = run({"--dest=" + dir / long_name}, nobody);
    EXPECT_EQ(too_long.status, 255) << too_long;
    EXPECT_EQ(too_long.out, "Error:\nCannot create the folder " + dir / long_name + ": File name too long\n");
    ::chmod(out.c_str(), 0755);
}

// A log file that cannot be written is told once; the run goes on.
TEST_F(brennock_hostile, a_log_file_that_cannot_be_written_is_reported_once) {
    fs::create_symlink(dir / "missing/run.log", dir / "run.log");
    const run_result r = run({"--logfile=" + dir / "run.log"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nCannot write the log file " + dir / "run.log" + ": No such file or directory\n" +
                         db_line(2) + "Converting table t1(2 records)\nConverting table t2(1 records)\n");
    EXPECT_EQ(csv("t1.csv"), t1_csv);
    EXPECT_EQ(csv("t2.csv"), t2_csv);
}

}  // namespace
