// Whole runs of BRENNOCK whose tables fail: what stays in the folder (the
// earlier complete file in mode 1, a part file only when it holds records),
// the reports that name a part file, and a connection lost between tables.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent_util.h"

namespace {

using namespace agent_test;

// The id of the session that sleeps in a statement holding the text (not
// one that counts rows), once it shows (30 seconds at most).
std::optional<std::string> wait_for_sleeper(fennrow_test::test_sql_conn& conn, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<std::string> id = conn.scalar(
            "SELECT id FROM information_schema.processlist WHERE id <> CONNECTION_ID() AND info LIKE " +
            conn.literal("%" + text + "%") +
            " AND info NOT LIKE 'SELECT COUNT(*)%' AND state = 'User sleep' ORDER BY id LIMIT 1");
        if (id) return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

// Kills the session and waits until the server has let it go.
void kill_session(fennrow_test::test_sql_conn& conn, const std::string& id) {
    conn.exec("KILL CONNECTION " + id);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (conn.scalar("SELECT COUNT(*) FROM information_schema.processlist WHERE id = " + id) != "0") {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "session " << id << " outlived its KILL";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class brennock_part_files : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_parts"};
    temp_dir dir;
    std::string out = dir / "out";

    void SetUp() override {
        db.conn().exec(
            "CREATE TABLE t400 (id INT PRIMARY KEY); INSERT INTO t400 SELECT seq FROM seq_1_to_400;"
            "CREATE TABLE multi (k INT, v INT); INSERT INTO multi VALUES (300,1),(300,2);"
            "CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (1), (2);"
            "CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x')");
        std::filesystem::create_directories(out);
    }

    // A profile with the login, the folder, the mode and the entries.
    std::string profile(int mode, const std::string& entries, const std::string& user,
                        const std::string& password) {
        const std::string path = dir / "run.ini";
        profile_spec p = profile_for(srv);
        p.database = db.name();
        p.dest = out;
        p.mode = mode;
        p.user = user;
        p.password = password;
        p.entries = entries;
        write_file(path, profile_text(p));
        return "--profile=" + path;
    }
    std::string profile(int mode, const std::string& entries) {
        return profile(mode, entries, srv.user, srv.password);
    }
    std::string csv(const std::string& name) const { return read_file(out + "/" + name); }
    std::string part_note(const std::string& name) const {
        return "(the records written so far are in " + out + "/" + name + ".csv.part)";
    }
};

const std::string t2_csv = bom + "code\r\nx\r\n";
const std::string old_q = bom + "id;v\r\nthe complete file of an earlier run\r\n";

// The rows 1 to n of the entry q: the id and the value text.
std::string q_rows(int n, const std::string& value) {
    std::string rows = bom + "id;v\r\n";
    for (int i = 1; i <= n; ++i) rows += std::to_string(i) + ";" + value + "\r\n";
    return rows;
}

// How the entry q fails part-way: its row 300 is refused by the server, or
// its session is killed while the server holds row 400 back (the rows before
// it fill more than the server's network buffer, so that many are sent).
enum class cut_by { server_error, killed_session };

struct mid_case {
    const char* name;
    cut_by how;
};

const std::string pad(100, 'x');

class brennock_cut : public brennock_part_files {
protected:
    // Runs q, then t2, in mode 1. A refused login is dropped before the kill,
    // so that the program cannot log in again.
    run_result run_q(cut_by how, fennrow_test::test_login* refused_login = nullptr) {
        if (how == cut_by::server_error) {
            return run_brennock({profile(1,
                                         "q=SELECT id, (SELECT v FROM multi WHERE multi.k = t400.id) AS v "
                                         "FROM t400 ORDER BY id\r\nt2")});
        }
        const std::string marker = "SLEEP(" + std::to_string(300 + getpid() % 100) + ")";
        const std::string user = refused_login ? refused_login->user() : srv.user;
        const std::string password = refused_login ? refused_login->password() : srv.password;
        const std::string args = profile(1,
                                         "q=SELECT id, IF(id = 400, " + marker + ", '" + pad +
                                             "') AS v FROM t400 ORDER BY id\r\nt2",
                                         user, password);
        run_result r;
        std::thread program([&] { r = run_brennock({args}); });
        fennrow_test::test_sql_conn killer;
        const std::optional<std::string> id = wait_for_sleeper(killer, marker);
        EXPECT_TRUE(id.has_value()) << "the program never streamed q";
        if (id) {
            if (refused_login) refused_login->drop();
            kill_session(killer, *id);
        }
        program.join();
        return r;
    }

    // The part file holds whole records of q, at least one.
    void expect_records_of_q(cut_by how) {
        const std::string part = csv("q.csv.part");
        if (how == cut_by::server_error) {
            EXPECT_EQ(part, q_rows(299, ""));
            return;
        }
        const std::string all = q_rows(399, pad);
        EXPECT_EQ(all.rfind(part, 0), 0u) << part.substr(0, 60);
        EXPECT_GT(part.size(), q_rows(1, pad).size()) << part.substr(0, 60);
        EXPECT_EQ(part.substr(part.size() - pad.size() - 2), pad + "\r\n");
    }
};

class brennock_mid_stream : public brennock_cut, public ::testing::WithParamInterface<mid_case> {};

FENNROW_SERVER_TESTS(brennock_mid_stream);

// The new file replaces the complete file of an earlier run only when it is
// whole: a table cut part-way leaves the earlier file as it was, beside the
// part file, which the report names.
TEST_P(brennock_mid_stream, mode_1_keeps_the_earlier_file) {
    write_file(out + "/q.csv", old_q);
    const run_result r = run_q(GetParam().how);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
    EXPECT_NE(r.out.find(part_note("q") + "\n"), std::string::npos) << r;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"q.csv", "q.csv.part", "t2.csv"})) << r;
    EXPECT_EQ(csv("q.csv"), old_q);
    expect_records_of_q(GetParam().how);
    EXPECT_EQ(csv("t2.csv"), t2_csv);
}

INSTANTIATE_TEST_SUITE_P(cases, brennock_mid_stream,
                         ::testing::Values(mid_case{"refused_row", cut_by::server_error},
                                           mid_case{"killed_session", cut_by::killed_session}),
                         [](const auto& info) { return std::string(info.param.name); });

FENNROW_SERVER_TESTS(brennock_cut);

// The one report of a lost connection that cannot be restored names the part
// file too.
TEST_F(brennock_cut, a_refused_login_after_the_loss_names_the_part_file) {
    fennrow_test::test_sql_conn admin;
    fennrow_test::test_login login(admin, "brk_pf_", db.name());
    const run_result r = run_q(cut_by::killed_session, &login);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
    EXPECT_NE(r.out.find("Error:\nq: "), std::string::npos) << r;
    EXPECT_NE(r.out.find(part_note("q") + "; connecting again failed: Access denied for user '" + login.user()),
              std::string::npos)
        << r;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"q.csv.part"})) << r;
    expect_records_of_q(cut_by::killed_session);
}

// A table that fails before its first record leaves no file of its own:
// neither a part file nor, in mode 1, anything in place of the earlier file.
struct early_case {
    const char* name;
    const char* entry;   // fails before its first record
    const char* error;   // the report's text
    const char* killed;  // when set, the session is killed while it sleeps in this
};

class brennock_early_failure : public brennock_part_files, public ::testing::WithParamInterface<early_case> {
protected:
    run_result run_entry(int mode) {
        const early_case& c = GetParam();
        const std::string args = profile(mode, std::string("q=") + c.entry + "\r\nt2");
        if (!c.killed) return run_brennock({args});
        run_result r;
        std::thread program([&] { r = run_brennock({args}); });
        fennrow_test::test_sql_conn killer;
        const std::optional<std::string> id = wait_for_sleeper(killer, c.killed);
        EXPECT_TRUE(id.has_value()) << "the program never streamed q";
        if (id) kill_session(killer, *id);
        program.join();
        return r;
    }
};

FENNROW_SERVER_TESTS(brennock_early_failure);

TEST_P(brennock_early_failure, leaves_no_part_file) {
    const early_case& c = GetParam();
    for (int mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        write_file(out + "/q.csv", old_q);
        const run_result r = run_entry(mode);
        EXPECT_EQ(r.status, 255) << r;
        EXPECT_EQ(count_of(r.out, "Error:\n"), 1u) << r;
        EXPECT_NE(r.out.find(std::string("Error:\nq: ") + c.error + "\n"), std::string::npos) << r;
        if (mode == 1) {
            EXPECT_EQ(list_dir(out), (std::vector<std::string>{"q.csv", "t2.csv"})) << r;
            EXPECT_EQ(csv("q.csv"), old_q);
        } else {
            EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t2.csv"})) << r;
        }
        EXPECT_EQ(csv("t2.csv"), t2_csv);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, brennock_early_failure,
    ::testing::Values(
        early_case{"refused_first_row",
                   "SELECT id, (SELECT v FROM multi WHERE multi.k = t400.id + 299) AS v FROM t400 ORDER BY id",
                   "Subquery returns more than 1 row", nullptr},
        early_case{"killed_before_its_first_row", "SELECT id, IF(id = 1, SLEEP(517), 0) AS v FROM t400 ORDER BY id",
                   "Lost connection to server during query", "SLEEP(517)"}),
    [](const auto& info) { return std::string(info.param.name); });

FENNROW_SERVER_TESTS(brennock_part_files);

// The program's session is killed while it waits, idle, between two tables
// (its line about a missing table is held on a full error stream): the next
// table, of which nothing was read, is converted after the program connected
// again.
TEST_F(brennock_part_files, an_idle_connection_lost_between_tables_is_restored_for_the_next_one) {
    fennrow_test::test_sql_conn admin;
    fennrow_test::test_login login(admin, "brk_idle_", db.name());
    const std::string args = profile(0, "t1\r\nnosuch\r\nt2", login.user(), login.password());

    int out_pipe[2], err_pipe[2];
    ASSERT_EQ(pipe2(out_pipe, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(err_pipe, O_CLOEXEC), 0);
    // The error stream is full before the program starts.
    ASSERT_EQ(fcntl(err_pipe[1], F_SETFL, O_NONBLOCK), 0);
    size_t filled = 0;
    const std::string block(4096, '#');
    for (;;) {
        const ssize_t n = write(err_pipe[1], block.data(), block.size());
        if (n <= 0) break;
        filled += static_cast<size_t>(n);
    }
    ASSERT_EQ(errno, EAGAIN);
    ASSERT_EQ(fcntl(err_pipe[1], F_SETFL, 0), 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    std::vector<std::string> words = {BRENNOCK_PATH, args};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    ASSERT_EQ(rc, 0) << std::strerror(rc);

    // Reads what the descriptor holds until the text shows or it ends.
    auto read_until = [](int fd, std::string& into, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (into.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n == 0) return;
            if (n > 0) into.append(buf, static_cast<size_t>(n));
        }
    };
    run_result r;
    const std::string t1_line = "Converting table t1(2 records)\n";
    read_until(out_pipe[0], r.out, t1_line);
    EXPECT_NE(r.out.find(t1_line), std::string::npos) << r;
    // The program's own session is its first; the count has one beside it.
    const std::optional<std::string> id = admin.scalar(
        "SELECT MIN(id) FROM information_schema.processlist WHERE user = " + admin.literal(login.user()));
    ASSERT_TRUE(id.has_value());
    kill_session(admin, *id);

    // The error stream is read again, the program goes on.
    std::string err;
    read_until(err_pipe[0], err, "\n");
    std::thread drain_err([&] { read_until(err_pipe[0], err, "never printed"); });
    read_until(out_pipe[0], r.out, "never printed");
    drain_err.join();
    close(out_pipe[0]);
    close(err_pipe[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    ASSERT_GE(err.size(), filled);
    r.err = err.substr(filled);

    // Only the missing table counts against the run.
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "Table nosuch not exists\n");
    EXPECT_EQ(r.out, "Converting database " + db.name() + "(3 tables)\n" + t1_line +
                         "Converting table t2(1 records)\n")
        << r;
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t1.csv", "t2.csv"})) << r;
    EXPECT_EQ(csv("t2.csv"), t2_csv);
}

}  // namespace
