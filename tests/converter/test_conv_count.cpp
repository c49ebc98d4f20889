// The record count runs on a second connection beside the row stream: the
// table's line shows it as soon as it is known, the progress shows it, a
// count that fails is unknown, and the count's connection lives as long as
// the run.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conv_test_util.h"
#include "sql_run.h"
#include "test_labels.h"

namespace {

using conv_test::handled_calls;
using conv_test::read_file;
using conv_test::temp_dir;

const std::string bom = "\xEF\xBB\xBF";

// A login of its own, so that the test can see its sessions and how often it
// connected; dropped on every way out.
class own_login {
public:
    explicit own_login(const std::string& database) : login_(admin_, "fn_count_", database) {}

    const std::string& user() const { return login_.user(); }
    const std::string& password() const { return login_.password(); }

    // The login's open sessions, once they are as many as wanted or after 20
    // seconds.
    std::string sessions_once(const std::string& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const std::string n = sessions();
            if (n == wanted || std::chrono::steady_clock::now() > deadline) return n;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::string sessions(const std::string& running = "%") {
        return admin_
            .scalar("SELECT COUNT(*) FROM information_schema.processlist WHERE user = " + admin_.literal(user()) +
                    " AND IFNULL(info, '') LIKE " + admin_.literal(running))
            .value_or("");
    }
    // Connections made since the statistics were switched on.
    std::string connections_made() {
        return admin_
            .scalar("SELECT IFNULL(SUM(total_connections), 0) FROM information_schema.user_statistics WHERE user = " +
                    admin_.literal(user()))
            .value_or("");
    }

private:
    fennrow_test::test_sql_conn admin_;
    fennrow_test::test_login login_;
};

class RecordCount : public ::testing::Test {
protected:
    void SetUp() override { conv_test::aim(conv(), db.name(), out); }

    kellvar_converter& conv() { return c.conv; }

    // Runs on the console path and answers what it printed.
    std::string run_console() {
        conv().console_run = true;
        testing::internal::CaptureStdout();
        conv()();
        return testing::internal::GetCapturedStdout();
    }

    // Connects the converter with the login.
    void use_login(own_login& login) {
        const fennrow_test::test_server s = fennrow_test::require_test_server();
        conv().store_mysql_settings(s.host, login.user(), login.password(), std::to_string(s.port));
        conv().connect_mysql_server();
    }

    // Runs the converter on a thread of its own, stops it once the login's
    // count runs on the server, and checks that the run ended stopped with
    // no session of the login left.
    void stop_while_counting(own_login& login, std::chrono::seconds limit) {
        std::thread worker([this] { conv()(); });
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (login.sessions("SELECT COUNT(*)%") != "1" && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(login.sessions("SELECT COUNT(*)%"), "1") << "the count never ran";
        conv().request_stop();
        worker.join();
        conv().reset_stop();
        EXPECT_TRUE(conv().done.load());
        EXPECT_TRUE(conv().run_stopped.load());
        EXPECT_EQ(login.sessions_once("0"), "0");
    }

    fennrow_test::test_database db{"count"};
    conv_test::connected c;
    temp_dir out;
};

FENNROW_SERVER_TESTS(RecordCount);
FENNROW_SERVER_WIDE_TEST(RecordCount, OneCountConnectionPerRun);

// The rows of the query arrive slowly (the first, a middle and the last one
// wait), its count at once: the line and the progress show the count while
// the rows still stream.
TEST_F(RecordCount, ShownWhileTheRowsStillStream) {
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_2000");
    // Rows long enough that the server sends them before the last one.
    conv().table_queries = {
        {L"q", L"SELECT id, IF(id IN (1, 1000, 2000), SLEEP(0.5), 0) AS w, REPEAT('x', 200) AS s FROM t"}};
    std::atomic<bool> seen{false};
    std::atomic<bool> running{true};
    std::thread watch([&] {
        while (running.load()) {
            const uint64_t current = conv().progress.current_record.load();
            if (conv().progress.record_count.load() == 2000 && current > 0 && current < 2000) seen = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string printed = run_console();
    running = false;
    watch.join();
    EXPECT_EQ(conv().errors_reported.load(), 0u);
    EXPECT_TRUE(seen.load()) << "the count was not shown while the rows streamed";
    EXPECT_NE(printed.find("Converting table q(2000 records)\n"), std::string::npos) << printed;
    const std::string file = read_file(out.file("q.csv"));
    const std::string row2 = "2,0," + std::string(200, 'x') + "\r\n";
    EXPECT_EQ(file.rfind(bom + "id,w,s\r\n1,0," + std::string(200, 'x') + "\r\n" + row2, 0), 0u);
    size_t lines = 0;
    for (size_t at = file.find("\r\n"); at != std::string::npos; at = file.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 2001u);
}

// A count the server refuses (duplicate column names in a derived table)
// shows as unknown; the table is converted all the same. The last row waits,
// so that the failed count is known before the stream ends.
TEST_F(RecordCount, ACountThatFailsIsUnknown) {
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_2000");
    conv().table_queries = {
        {L"twice", L"SELECT id, id, IF(id = 2000, SLEEP(0.5), 0) AS w, REPEAT('x', 200) AS s FROM t"},
        {L"t", L""}};
    const std::string printed = run_console();
    EXPECT_EQ(conv().errors_reported.load(), 0u);
    EXPECT_TRUE(handled_calls().empty());
    EXPECT_NE(printed.find("Converting table twice(? records)\nConverting table t(2000 records)\n"),
              std::string::npos)
        << printed;
    const std::string file = read_file(out.file("twice.csv"));
    EXPECT_EQ(file.rfind(bom + "id,id,w,s\r\n1,1,0," + std::string(200, 'x') + "\r\n", 0), 0u);
    EXPECT_NE(file.find("\r\n2000,2000,0," + std::string(200, 'x') + "\r\n"), std::string::npos);
}

// A table whose rows all come with the first page is not counted: its line
// shows the records the file received.
TEST_F(RecordCount, ASmallTableNeedsNoCount) {
    db.conn().exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1), (2), (3)");
    conv().table_queries = {{L"twice", L"SELECT id, id FROM t"}, {L"t", L""}};
    std::vector<std::string> counts;
    sql_set_statement_hook([&](std::string_view statement) {
        if (statement.rfind("SELECT COUNT(*)", 0) == 0) counts.emplace_back(statement);
    });
    const std::string printed = run_console();
    sql_set_statement_hook(nullptr);
    EXPECT_EQ(conv().errors_reported.load(), 0u);
    EXPECT_TRUE(counts.empty()) << counts.front();
    EXPECT_NE(printed.find("Converting table twice(3 records)\nConverting table t(3 records)\n"), std::string::npos)
        << printed;
}

// One count connection for the whole run, gone when the run ends.
TEST_F(RecordCount, OneCountConnectionPerRun) {
    fennrow_test::global_setting_scope statistics("userstat", "1");
    own_login login(db.name());
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "t" + std::to_string(i);
        db.conn().exec("CREATE TABLE " + name + " (id INT); INSERT INTO " + name + " SELECT seq FROM seq_1_to_600");
    }
    use_login(login);
    size_t counts = 0;
    sql_set_statement_hook([&](std::string_view statement) {
        if (statement.rfind("SELECT COUNT(*)", 0) == 0) ++counts;
    });
    const std::string printed = run_console();
    sql_set_statement_hook(nullptr);
    EXPECT_EQ(conv().errors_reported.load(), 0u);
    // A count still waiting when the next table's starts is dropped.
    EXPECT_GE(counts, 1u);
    for (int i = 1; i <= 6; ++i)
        EXPECT_NE(printed.find("Converting table t" + std::to_string(i) + "(600 records)\n"), std::string::npos)
            << printed;
    // The converter's own connection stays open after the run.
    EXPECT_EQ(login.sessions_once("1"), "1");
    EXPECT_EQ(login.connections_made(), "2");
}

// A stopped run closes the count connection too, also while it counts.
TEST_F(RecordCount, AStoppedRunClosesTheCountConnection) {
    own_login login(db.name());
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_600");
    use_login(login);
    conv().console_run = false;
    // Stream and count both wait on every row; the rows are long enough that
    // the server sends them before the last one.
    conv().table_queries = {{L"q", L"SELECT id, REPEAT('x', 200) AS s FROM t WHERE SLEEP(0.005) = 0"}};
    stop_while_counting(login, std::chrono::seconds(60));
}

// A count still running when the next table begins is cancelled while the
// main connection is free: before the next table's stream opens, never on
// the connection that streams.
TEST_F(RecordCount, ASlowCountIsCancelledBeforeTheNextStreamOpens) {
    // The first table takes longer than a count may run before it is
    // cancelled; its count takes longer still.
    db.conn().exec("CREATE TABLE t1 (id INT); INSERT INTO t1 SELECT seq FROM seq_1_to_300000;"
                   "CREATE TABLE t2 (id INT); INSERT INTO t2 SELECT seq FROM seq_1_to_600");
    conv().table_queries = {{L"t1", L""}, {L"t2", L""}};
    std::mutex lock;
    std::vector<std::string> seen;
    sql_set_statement_hook([&](std::string_view statement) {
        {
            std::lock_guard<std::mutex> guard(lock);
            seen.emplace_back(statement);
        }
        if (statement == "SELECT COUNT(*) FROM `t1`") std::this_thread::sleep_for(std::chrono::seconds(2));
    });
    const std::string printed = run_console();
    sql_set_statement_hook(nullptr);
    EXPECT_EQ(conv().errors_reported.load(), 0u);
    EXPECT_NE(printed.find("Converting table t2(600 records)\n"), std::string::npos) << printed;
    const auto at = [&](const std::string& prefix) {
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i].rfind(prefix, 0) == 0) return i;
        return seen.size();
    };
    const size_t kill = at("KILL QUERY "), stream = at("SELECT * FROM `t2`");
    ASSERT_LT(kill, seen.size()) << "the slow count was not cancelled";
    ASSERT_LT(stream, seen.size());
    EXPECT_LT(kill, stream) << "cancelled on the connection that streams";
    std::string rows = bom + "id\r\n";
    for (int i = 1; i <= 600; ++i) rows += std::to_string(i) + "\r\n";
    EXPECT_EQ(read_file(out.file("t2.csv")), rows);
}

// A stopped run ends what it started on the server, on either connection:
// nothing of its login is left running, although counting or streaming the
// query would take a minute. With definitions only a stored query is not
// run at all; the count of a table runs on the main connection (here one
// that waits for a table another session has locked).
class StoppedRun : public RecordCount, public ::testing::WithParamInterface<bool> {};
FENNROW_SERVER_TESTS(StoppedRun);

TEST_P(StoppedRun, LeavesNothingRunningOnTheServer) {
    own_login login(db.name());
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_3000");
    use_login(login);
    conv().console_run = false;
    conv().definitions_only = GetParam();
    // The first page comes at once; each later row waits: counting or
    // streaming them all takes more than a minute.
    conv().table_queries = {{L"q", L"SELECT id, REPEAT('x', 200) AS s FROM t WHERE id <= 1500 OR SLEEP(0.05) = 0"}};
    fennrow_test::test_sql_conn locker(db.name());
    struct unlock_at_end {
        fennrow_test::test_sql_conn& c;
        ~unlock_at_end() { c.try_exec("UNLOCK TABLES"); }
    } unlock{locker};
    if (GetParam()) {
        // The first table is described on its own; the locked one is only
        // counted, and that waits.
        db.conn().exec("CREATE TABLE a (id INT)");
        locker.exec("LOCK TABLES t WRITE");
        conv().table_queries = {{L"a", L""}, {L"t", L""}};
    }
    stop_while_counting(login, std::chrono::seconds(20));
    EXPECT_EQ(login.sessions("SELECT COUNT(*)%"), "0");
}

INSTANTIATE_TEST_SUITE_P(Counts, StoppedRun, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "DefinitionsOnly" : "WithRows");
                         });

}  // namespace
