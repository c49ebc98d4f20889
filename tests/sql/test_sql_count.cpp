// The counter of a run: counts on a connection of its own, a count slower
// than its table is cancelled without losing the connection, a cut ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "sql_count.h"
#include "sql_test_util.h"
#include "tcp_proxy.h"
#include "test_server.h"
#include "test_labels.h"

namespace {

using sql_test::engine_session;
using std::chrono::steady_clock;

sql_counter::login login_of(const engine_session& s, const std::string& database) {
    return sql_counter::login{s.server.host, s.server.user, s.server.password, s.server.port, database};
}

// A table t of two rows, the run's session on its database and a counter.
class Counter : public ::testing::Test {
protected:
    void SetUp() override {
        db.conn().exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1), (2)");
        s.use(db.name());
        counter = std::make_unique<sql_counter>(login_of(s, db.name()));
    }

    fennrow_test::test_database db{"counter"};
    engine_session s;
    std::unique_ptr<sql_counter> counter;
    uint64_t count = 0;
};

FENNROW_SERVER_TESTS(Counter);

TEST_F(Counter, CountsOnAConnectionOfItsOwn) {
    db.conn().exec("INSERT INTO t VALUES (3)");
    counter->start("SELECT COUNT(*) FROM `t`");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::known);
    EXPECT_EQ(count, 3u);
    EXPECT_NE(counter->connection_id(), 0u);
    EXPECT_NE(counter->connection_id(), mysql_thread_id(s.conn()));
    // A statement the server refuses: unknown, and the connection goes on.
    counter->start("SELECT COUNT(*) FROM (SELECT id, id FROM t) AS q");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::unknown);
    counter->start("SELECT COUNT(*) FROM `t` WHERE id > 1");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::known);
    EXPECT_EQ(count, 2u);
    counter->finish(s.conn());
}

// The first count would take 30 seconds: the next start cancels it, and the
// same connection counts the next one at once.
TEST_F(Counter, ACountSlowerThanItsTableIsCancelled) {
    counter->start("SELECT COUNT(*) FROM `t` WHERE SLEEP(15) = 0");
    // Until the count runs on the server.
    const auto deadline = steady_clock::now() + std::chrono::seconds(20);
    while (counter->connection_id() == 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const unsigned long id = counter->connection_id();
    std::this_thread::sleep_for(sql_counter::cancel_after * 5);
    EXPECT_EQ(counter->result(count), sql_counter::outcome::pending);
    const auto started = steady_clock::now();
    counter->cancel_stale(s.conn());
    counter->start("SELECT COUNT(*) FROM `t`");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::known);
    EXPECT_EQ(count, 2u);
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(10)) << "the slow count was waited for";
    EXPECT_EQ(counter->connection_id(), id);
    counter->finish(s.conn());
}

// A cut (a stopped run) ends a running count at once; every later count is
// unknown.
TEST_F(Counter, ACutEndsTheCount) {
    counter->start("SELECT COUNT(*) FROM `t` WHERE SLEEP(4) = 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cut_at = steady_clock::now();
    counter->cut();
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::unknown);
    EXPECT_LT(steady_clock::now() - cut_at, std::chrono::seconds(3));
    counter->start("SELECT COUNT(*) FROM `t`");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::unknown);
}

// Killed on the server, the count connection is opened again once and the
// count that lost it runs again there; killed once more, it cannot be had,
// and the counter says why.
TEST_F(Counter, AKilledConnectionIsOpenedAgainOnce) {
    counter->start("SELECT COUNT(*) FROM `t`");
    ASSERT_EQ(counter->wait(count), sql_counter::outcome::known);
    const unsigned long first = counter->connection_id();
    db.conn().exec("KILL " + std::to_string(first));
    counter->start("SELECT COUNT(*) FROM `t` WHERE id > 1");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::known);
    EXPECT_EQ(count, 1u);
    const unsigned long second = counter->connection_id();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    std::string why;
    EXPECT_TRUE(counter->available(why));
    db.conn().exec("KILL " + std::to_string(second));
    counter->start("SELECT COUNT(*) FROM `t`");
    EXPECT_EQ(counter->wait(count), sql_counter::outcome::no_connection);
    EXPECT_FALSE(counter->available(why));
    EXPECT_FALSE(why.empty());
    counter->finish(s.conn());
}

// A count connection that stops answering at its count (a local proxy holds
// the server's replies back).
class StalledCounter : public Counter {
protected:
    void SetUp() override {
        Counter::SetUp();
        proxy.add_rule(1, fennrow_test::tcp_proxy::action::stall, "COUNT(*)");
        sql_counter::login via = login_of(s, db.name());
        via.port = proxy.port();
        stalled = std::make_unique<sql_counter>(via);
        stalled->start("SELECT COUNT(*) FROM `t`");
        const auto deadline = steady_clock::now() + std::chrono::seconds(20);
        while (proxy.fired() == 0 && steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(proxy.fired(), 1) << "the count never reached the proxy";
    }

    // The call, on a thread of its own; a call that hangs fails the test and
    // is released by a cut.
    template <class F>
    auto bounded(F call) {
        auto done = std::async(std::launch::async, call);
        if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "the call waits for the connection that does not answer";
            stalled->cut();
        }
        return done.get();
    }

    fennrow_test::tcp_proxy proxy{s.server};
    std::unique_ptr<sql_counter> stalled;
};
FENNROW_SERVER_TESTS(StalledCounter);

// The end of the run cancels the count on the server and cuts its
// connection instead of waiting for it.
TEST_F(StalledCounter, FinishDoesNotWait) {
    bounded([&] { stalled->finish(s.conn()); });
    EXPECT_EQ(stalled->result(count), sql_counter::outcome::unknown);
}

// A cancelled count that gets no answer has its connection cut after a
// short grace; the connection is opened again and the next count is known.
TEST_F(StalledCounter, ACancelledCountWithoutAnswerIsCut) {
    stalled->cancel_stale(s.conn());
    stalled->start("SELECT COUNT(*) FROM `t` WHERE id > 1");
    EXPECT_EQ(bounded([&] { return stalled->wait(count); }), sql_counter::outcome::known);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(proxy.connections(), 2);
    bounded([&] { stalled->finish(s.conn()); });
}

}  // namespace
