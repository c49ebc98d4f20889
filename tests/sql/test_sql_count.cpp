// The counter of a run: counts on a connection of its own, a count slower
// than its table is cancelled without losing the connection, a cut ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "sql_count.h"
#include "sql_test_util.h"
#include "test_server.h"

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

}  // namespace
