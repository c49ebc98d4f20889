// A table left in the middle of its stream, because a level-0 failure ends
// it or because the user aborts after that failure: the rest of its rows is
// not read, and the run does not wait for the server to send them.
#include <chrono>
#include <string>
#include <thread>

#include "conv_test_util.h"
#include "file_size_limit.h"

namespace {

using conv_test::exists;
using conv_test::handled_calls;
using conv_test::read_file;
using conv_test::temp_dir;

const std::string bom = "\xEF\xBB\xBF";

// The wizard's handler in short: every report is recorded; at level 0 the
// user may choose Abort.
class answering_handler : public conv_test::recording_handler {
public:
    bool abort_at_level_0 = false;
    void handle(const tk_exception& e, bool no_abort) override {
        recording_handler::handle(e, no_abort);
        if (abort_at_level_0 && e.level() == 0 && !no_abort) throw tk_final_exception();
    }
};

struct abandon_case {
    const char* name;
    bool abort;
};

class AbandonedStream : public ::testing::TestWithParam<abandon_case> {
protected:
    void SetUp() override {
        conv_test::use_empty_home();
        conv_test::clear_handled_calls();
        handler.abort_at_level_0 = GetParam().abort;
        const fennrow_test::test_server s = fennrow_test::require_test_server();
        conv.store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
        conv.connect_mysql_server();
        conv.source = tk_from_utf8(db.name());
        conv.destination = out.wpath();
        db.conn().exec("CREATE TABLE after_t (id INT); INSERT INTO after_t VALUES (7)");
        // A stored query may not take a lock itself; a function of the
        // database may.
        db.conn().exec("CREATE FUNCTION wait_lock(name VARCHAR(64)) RETURNS INT NO SQL RETURN GET_LOCK(name, 600)");
        ASSERT_EQ(locker.scalar("SELECT GET_LOCK(" + locker.literal(lock_name) + ", 0)"), "1");
    }
    void TearDown() override { locker.try_exec("DO RELEASE_LOCK(" + locker.literal(lock_name) + ")"); }

    answering_handler handler;  // before the converter, which holds it
    kellvar_converter conv{kellvar_program::console, handler};
    fennrow_test::test_database db{"abandon"};
    temp_dir out;
    // Row 2000 of the stream waits for this lock, which the test holds: the
    // server sends the rows after it only once the test lets it go.
    const std::string lock_name = "fn_abandon_" + std::to_string(::getpid());
    fennrow_test::test_sql_conn locker;
};

FENNROW_SERVER_TESTS(AbandonedStream);

TEST_P(AbandonedStream, IsNotReadToItsEnd) {
    conv.console_run = false;
    conv.table_queries = {{L"slow", tk_from_utf8("SELECT seq AS id, REPEAT('x', 1000) AS pad, IF(seq = 2000, wait_lock(" +
                                                 locker.literal(lock_name) + "), 0) AS s FROM seq_1_to_3000")}};
    conv.selected_tables = {L"after_t"};

    // Files may grow to a few KB only: the first block of about 1000 rows
    // cannot be written (level 1), and the record after it finds its file
    // incomplete (level 0), which ends the table long before row 2000.
    bool ended_with_the_rest_withheld = false;
    {
        fennrow_test::file_size_limit small_files(4096);
        ASSERT_TRUE(small_files.active());
        std::thread worker([this] { conv(); });
        // Only a run that leaves the rest unread can end while the lock is held;
        // the limit is there for a run that would wait for it.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!conv.done.load() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended_with_the_rest_withheld = conv.done.load();
        locker.exec("DO RELEASE_LOCK(" + locker.literal(lock_name) + ")");
        worker.join();
    }

    EXPECT_TRUE(ended_with_the_rest_withheld) << "the run read the abandoned stream to its end";
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].level, 1u) << calls[0].text;
    EXPECT_EQ(calls[1].level, 0u) << calls[1].text;
    EXPECT_EQ(calls[1].context.rfind("slow, record #", 0), 0u) << calls[1].context;
    EXPECT_FALSE(exists(out.file("slow.csv")));
    if (GetParam().abort) {
        EXPECT_TRUE(conv.run_stopped.load());
        EXPECT_FALSE(exists(out.file("after_t.csv")));
        // The next run connects again.
        conv_test::clear_handled_calls();
        conv.set_done(false);
        conv.table_queries.clear();
        conv.selected_tables = {L"after_t"};
        conv();
        EXPECT_TRUE(handled_calls().empty());
    } else {
        // The run connected again and went on with the next entry.
        EXPECT_FALSE(conv.run_stopped.load());
    }
    EXPECT_EQ(read_file(out.file("after_t.csv")), bom + "id\r\n7\r\n");
}

INSTANTIATE_TEST_SUITE_P(Table, AbandonedStream,
                         ::testing::Values(abandon_case{"EndedByALevel0Failure", false},
                                           abandon_case{"AbortedAfterIt", true}),
                         [](const ::testing::TestParamInfo<abandon_case>& i) { return std::string(i.param.name); });

}  // namespace
