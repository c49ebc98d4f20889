// Whole runs of BRENNOCK against hostile inputs and a hostile world: files
// without bounds, unreadable profiles, control characters in names, names
// that clash beyond all numbers, the password in the process list, a lost
// connection and table names that differ only in case.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "agent_util.h"

namespace {

using namespace agent_test;

// Starts a command (no shell), stdin /dev/null, stdout and stderr to the
// given descriptors (-1: /dev/null). Answers the child's id, or -1.
pid_t start_command(const std::vector<std::string>& command, int out_fd = -1, int err_fd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (err_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << command.front() << ": " << std::strerror(rc);
        return -1;
    }
    return pid;
}

int wait_status(pid_t pid) {
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return -WTERMSIG(st);
    return -1000;
}

// Runs BRENNOCK as the unprivileged user (when root) and collects its output.
run_result run_brennock_unprivileged(const std::vector<std::string>& args) {
    run_result r;
    char out_tmpl[] = "/tmp/brennock-out.XXXXXX";
    char err_tmpl[] = "/tmp/brennock-err.XXXXXX";
    const int out_fd = mkstemp(out_tmpl);
    const int err_fd = mkstemp(err_tmpl);
    if (out_fd < 0 || err_fd < 0) {
        ADD_FAILURE() << "mkstemp: " << std::strerror(errno);
        return r;
    }
    std::vector<std::string> command = fennrow_test::unprivileged_prefix();
    const std::string program = fennrow_test::reachable_copy(BRENNOCK_PATH);
    if (program.empty()) {
        ADD_FAILURE() << "cannot copy " << BRENNOCK_PATH << " where the unprivileged user can run it";
        return r;
    }
    command.push_back(program);
    command.insert(command.end(), args.begin(), args.end());
    const pid_t pid = start_command(command, out_fd, err_fd);
    close(out_fd);
    close(err_fd);
    if (pid > 0) r.status = wait_status(pid);
    r.out = read_file(out_tmpl);
    r.err = read_file(err_tmpl);
    unlink(out_tmpl);
    unlink(err_tmpl);
    return r;
}

class brennock_inputs : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_inputs"};
    temp_dir dir;
    std::string out = dir / "out";

    run_result run(const std::vector<std::string>& extra) {
        return run_brennock(join(join(server_args(srv), {"--src=" + db.name(), "--dest=" + out}), extra));
    }
    std::string db_line(int tables) const {
        return "Converting database " + db.name() + "(" + std::to_string(tables) + " tables)\n";
    }
    static std::string table_line(const std::string& name, int records) {
        return "Converting table " + name + "(" + std::to_string(records) + " records)\n";
    }
    // A profile with the connection settings, the folder and the entries.
    std::string write_profile(const std::string& user, const std::string& password, const std::string& entries) {
        const std::string path = dir / "run.ini";
        write_file(path, "[Generic settings]\r\nsrc=" + db.name() + "\r\ndest=" + out + "\r\nmode=0\r\n\r\n" +
                             "[MySQL settings]\r\nhost=" + srv.host + "\r\nuser=" + user + "\r\npassword=" +
                             password + "\r\nport=" + std::to_string(srv.port) + "\r\n\r\n[Selected Tables]\r\n" +
                             entries + "\r\n");
        return path;
    }
};

// --- Inputs without bounds ------------------------------------------------

// Opens the FIFO for writing once the program opened it for reading, writes
// the bytes and closes it; gives up after 30 seconds.
void feed_fifo(const std::string& path, const std::string& bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int fd = -1;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "cannot open the FIFO for writing: " << std::strerror(errno);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

FENNROW_SERVER_TESTS(brennock_inputs);

TEST_F(brennock_inputs, endless_or_silent_input_files_are_refused_naming_the_file) {
    const std::string fifo = dir / "tables.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct refused_case {
        std::string option;
        std::string message;
    };
    const std::vector<refused_case> cases = {
        // Memory once grew until it ran out here.
        {"--tab_file=/dev/zero", "The table names file /dev/zero has a line longer than 64 KiB"},
        {"--profile=/dev/zero", "The profile /dev/zero is larger than 16 MiB"},
        // No writer ever comes: no endless wait.
        {"--tab_file=" + fifo, "The table names file " + fifo + " gave nothing to read for 10 seconds"},
    };
    for (const refused_case& c : cases) {
        const run_result r = run({c.option});
        EXPECT_EQ(r.status, 255) << c.option << "\n" << r;
        EXPECT_EQ(r.out, "Error:\n" + c.message + "\n") << c.option;
        EXPECT_EQ(r.err, "") << c.option;
        EXPECT_FALSE(exists(out)) << c.option;
    }
}

TEST_F(brennock_inputs, a_table_list_from_a_fifo_is_read_when_a_writer_comes) {
    db.conn().exec("CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (7); CREATE TABLE t2 (id INT)");
    const std::string fifo = dir / "tables.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        feed_fifo(fifo, "t1\n");
    });
    const run_result r = run({"--tab_file=" + fifo});
    writer.join();
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(1) + table_line("t1", 1));
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t1.csv"}));
}

TEST_F(brennock_inputs, an_unreadable_profile_fails_with_the_reason) {
    // The user that runs the program may enter the folder but not read the file.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string profile = dir / "p.ini";
    write_file(profile, "[Generic settings]\r\nsrc=" + db.name() + "\r\n");
    ASSERT_EQ(chmod(profile.c_str(), 0), 0);
    const run_result r = run_brennock_unprivileged(
        join(server_args(srv), {"--src=" + db.name(), "--dest=" + out, "--profile=" + profile}));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nCannot read profile " + profile + ": Permission denied\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(out));
}

// --- Control characters ---------------------------------------------------

TEST_F(brennock_inputs, control_characters_of_names_reach_the_console_escaped) {
    const std::string hostile = "a\x1b[2J\x1b]0;x\x07" "b";
    db.conn().exec("CREATE TABLE " + fennrow_test::quote_name(hostile) + " (s VARCHAR(10)); INSERT INTO " +
                   fennrow_test::quote_name(hostile) + " VALUES ('v\x1b" "1')");
    write_file(dir / "tables.txt", hostile + "\nno\x1bsuch\x7f\n");
    const run_result r = run({"--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, db_line(2) + table_line("a\\x1b[2J\\x1b]0;x\\x07b", 1));
    EXPECT_EQ(r.err, "Table no\\x1bsuch\\x7f not exists\n");
    // The file keeps the data as it is.
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"a__2j__0_x_b.csv"}));
    EXPECT_EQ(read_file(out + "/a__2j__0_x_b.csv"), bom + "s\r\nv\x1b" "1\r\n");
}

// --- Names that clash -------------------------------------------------------

TEST_F(brennock_inputs, more_names_than_numbers_fail_one_by_one_and_the_run_goes_on) {
    // 1003 names that all become t___: the plain name and 1000 numbered ones
    // are given, the last two entries get no file.
    const std::string marks = "!#$%&()*+,;";
    std::string sql;
    int made = 0;
    for (char a : marks)
        for (char b : marks)
            for (char c : marks) {
                if (made == 1003) break;
                sql += "CREATE TABLE " + fennrow_test::quote_name(std::string("t") + a + b + c) +
                       " (i INT) ENGINE=MyISAM;";
                ++made;
            }
    sql += "CREATE TABLE zz (i INT); INSERT INTO zz VALUES (1)";
    db.conn().exec(sql);

    const run_result r = run({});
    EXPECT_EQ(r.status, 255) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string reason =
        ": No file name is left for this entry: the names t___ and t___000 to t___999 are all taken\n";
    EXPECT_EQ(count_of(r.out, "Error:\n"), 2u);
    EXPECT_EQ(count_of(r.out, reason), 2u);
    EXPECT_EQ(r.out.find("Internal error"), std::string::npos);
    EXPECT_NE(r.out.find(table_line("zz", 1)), std::string::npos);
    const std::vector<std::string> files = list_dir(out);
    EXPECT_EQ(files.size(), 1002u);
    EXPECT_EQ(files.back(), "zz.csv");
    EXPECT_EQ(read_file(out + "/zz.csv"), bom + "i\r\n1\r\n");
}

// --- The password in the process list ----------------------------------------

TEST_F(brennock_inputs, the_password_is_hidden_from_the_process_list) {
    // A local server that takes the connection and never answers holds the
    // program in its connect, after the options were read.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string port = std::to_string(ntohs(addr.sin_port));

    const std::string secret = "S3cret-Pw";
    const pid_t pid = start_command({BRENNOCK_PATH, "--host=127.0.0.1", "--port=" + port, "--user=u",
                                     "--pswd=" + secret, "--src=x", "--dest=" + out});
    ASSERT_GT(pid, 0);
    pollfd p{listener, POLLIN, 0};
    const int ready = poll(&p, 1, 30000);
    const std::string cmdline = read_file("/proc/" + std::to_string(pid) + "/cmdline");
    kill(pid, SIGKILL);
    wait_status(pid);
    close(listener);

    ASSERT_EQ(ready, 1) << "the program did not connect";
    std::vector<std::string> args;
    for (size_t start = 0; start < cmdline.size();) {
        const size_t end = cmdline.find('\0', start);
        args.push_back(cmdline.substr(start, end - start));
        start = end == std::string::npos ? cmdline.size() : end + 1;
    }
    ASSERT_EQ(args.size(), 7u) << cmdline;
    EXPECT_EQ(args[4], "--pswd=" + std::string(secret.size(), 'x'));
    EXPECT_EQ(cmdline.find(secret), std::string::npos);
    EXPECT_EQ(args[3], "--user=u");
}

// --- A lost connection --------------------------------------------------------

// The id of the session that streams the statement holding the text (not
// the one that counts its rows), once it shows (30 seconds at most).
std::optional<std::string> wait_for_session(fennrow_test::test_sql_conn& conn, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<std::string> id = conn.scalar(
            "SELECT id FROM information_schema.processlist WHERE id <> CONNECTION_ID() AND info LIKE " +
            conn.literal("%" + text + "%") + " AND info NOT LIKE 'SELECT COUNT(*)%' ORDER BY id LIMIT 1");
        if (id) return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

class brennock_lost_connection : public brennock_inputs {
protected:
    // Marks the entry that blocks until its session is killed.
    std::string sleeper = "SELECT SLEEP(120) AS s, " + std::to_string(getpid()) + " AS marker";

    void SetUp() override {
        db.conn().exec(
            "CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (1), (2);"
            "CREATE TABLE t2 (id INT); INSERT INTO t2 VALUES (3)");
    }

    // Runs the profile; once the sleeper runs, calls before_kill and kills
    // the program's session.
    run_result run_and_kill(const std::string& profile, const std::function<void()>& before_kill) {
        run_result r;
        std::thread program([&] { r = run_brennock({"--profile=" + profile}); });
        fennrow_test::test_sql_conn killer;
        const std::optional<std::string> id = wait_for_session(killer, sleeper);
        EXPECT_TRUE(id.has_value()) << "the program never ran the stored query";
        if (id) {
            before_kill();
            killer.exec("KILL CONNECTION " + *id);
        }
        program.join();
        return r;
    }
};

FENNROW_SERVER_TESTS(brennock_lost_connection);

TEST_F(brennock_lost_connection, the_run_connects_again_once_and_goes_on) {
    const std::string profile = write_profile(srv.user, srv.password, "t1\r\nq=" + sleeper + "\r\nt2\r\n");
    const run_result r = run_and_kill(profile, [] {});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "");
    // The entry's line (its count still running) and one report for it, then
    // the next table as usual.
    const std::string head = db_line(3) + table_line("t1", 2) + "Converting table q(? records)\nError:\nq: ";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r;
    EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
    EXPECT_EQ(r.out.substr(r.out.size() - table_line("t2", 1).size()), table_line("t2", 1)) << r;
    EXPECT_EQ(read_file(out + "/t1.csv"), bom + "id\r\n1\r\n2\r\n");
    EXPECT_EQ(read_file(out + "/t2.csv"), bom + "id\r\n3\r\n");
}

TEST_F(brennock_lost_connection, a_connection_lost_while_rows_stream_is_restored_too) {
    // The first row arrives, the second waits until the session is killed.
    const std::string marker = "SLEEP(" + std::to_string(400 + getpid() % 100) + ")";
    const std::string profile =
        write_profile(srv.user, srv.password, "q=SELECT id, IF(id = 2, " + marker + ", 0) AS w FROM t1\r\nt2\r\n");
    run_result r;
    std::thread program([&] { r = run_brennock({"--profile=" + profile}); });
    fennrow_test::test_sql_conn killer;
    // The statement that streams the rows, not the one that counts them.
    std::optional<std::string> id;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!id && std::chrono::steady_clock::now() < deadline) {
        id = killer.scalar(
            "SELECT id FROM information_schema.processlist WHERE id <> CONNECTION_ID() AND info LIKE " +
            killer.literal("%" + marker + "%") + " AND info NOT LIKE 'SELECT COUNT(*)%' LIMIT 1");
        if (!id) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(id.has_value()) << "the rows of the stored query were never asked for";
    if (id) killer.exec("KILL CONNECTION " + *id);
    program.join();

    EXPECT_EQ(r.status, 255) << r;
    // The stream failed before the rows were counted.
    const std::string head = db_line(2) + "Converting table q(? records)\nError:\nq: ";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r;
    EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
    EXPECT_EQ(r.out.substr(r.out.size() - table_line("t2", 1).size()), table_line("t2", 1)) << r;
    EXPECT_EQ(read_file(out + "/t2.csv"), bom + "id\r\n3\r\n");
}

// The entry's line comes before the report of its stream's failure, whether
// its count (beside the stream) came first or not.
TEST_F(brennock_inputs, the_line_comes_before_the_report_of_a_failed_stream) {
    db.conn().exec("CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (1), (2), (3)");
    const std::string profile =
        write_profile(srv.user, srv.password, "q=SELECT id, IF(id = 2, (SELECT id FROM t1), 0) AS w FROM t1\r\n");
    const run_result r = run_brennock({"--profile=" + profile});
    const std::string head = db_line(1) + "Converting table q(";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r;
    const size_t line_end = r.out.find('\n', head.size());
    ASSERT_NE(line_end, std::string::npos) << r;
    const std::string count = r.out.substr(head.size(), line_end - head.size());
    EXPECT_TRUE(count == "3 records)" || count == "? records)") << r;
    EXPECT_EQ(r.out.substr(line_end + 1, 8), "Error:\nq") << r;
    EXPECT_NE(r.out.find("Subquery returns more than 1 row"), std::string::npos) << r;
}

TEST_F(brennock_lost_connection, a_refused_reconnect_ends_the_run_with_one_error) {
    fennrow_test::test_sql_conn admin;
    // Dropped while the program runs, so that the server refuses the second
    // connect.
    fennrow_test::test_login login(admin, "brk_rc_", db.name());
    const std::string profile = write_profile(login.user(), login.password(), "t1\r\nq=" + sleeper + "\r\nt2\r\n");
    const run_result r = run_and_kill(profile, [&] { login.drop(); });
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "");
    const std::string head = db_line(3) + table_line("t1", 2) + "Converting table q(? records)\nError:\nq: ";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r;
    EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
    EXPECT_NE(r.out.find("; connecting again failed: Access denied for user '" + login.user() + "'"),
              std::string::npos)
        << r;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(count_of(r.out, "\n"), 5u) << r;  // nothing after the report
    // The entry whose stream was cut before its first record leaves no file.
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t1.csv"}));
}

// --- Names that differ only in case -----------------------------------------

TEST_F(brennock_inputs, an_exact_spelling_wins_and_an_ambiguous_name_is_an_error) {
    db.conn().exec(
        "CREATE TABLE `Tt` (v CHAR(1)); INSERT INTO `Tt` VALUES ('a');"
        "CREATE TABLE `tT` (v CHAR(1)); INSERT INTO `tT` VALUES ('b')");
    write_file(dir / "tables.txt", "TT\ntT\n");
    const run_result r = run({"--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 255) << r;
    const std::string error =
        "Converting table TT(? records)\nError:\nTT: The table name TT is ambiguous: it matches the tables ";
    EXPECT_TRUE(r.out == db_line(2) + error + "Tt, tT\n" + table_line("tT", 1) ||
                r.out == db_line(2) + error + "tT, Tt\n" + table_line("tT", 1))
        << r;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"tt.csv"}));
    EXPECT_EQ(read_file(out + "/tt.csv"), bom + "v\r\nb\r\n");
}

}  // namespace
