// Reading without changing: the kinds of stored query that are run, the
// read-only session and transaction, and the count connection's session.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <mysqld_error.h>

#include "sql_conn.h"
#include "sql_count.h"
#include "sql_excep.h"
#include "sql_query_kind.h"
#include "sql_read_only.h"
#include "sql_run.h"
#include "sql_test_util.h"
#include "test_server.h"
#include "tk_excep.h"
#include "test_labels.h"

namespace {

using sql_test::engine_session;
using sql_test::scalar;

// A stored query and what the refusal names (empty: it may run).
struct kind_case {
    const char* query;
    const char* refused_for;
};

class QueryKind : public ::testing::TestWithParam<kind_case> {};

TEST_P(QueryKind, OnlyStatementsThatReadAreRun) {
    const kind_case& c = GetParam();
    const std::string problem = sql_reading_problem(c.query);
    if (*c.refused_for == '\0') {
        EXPECT_EQ(problem, "") << c.query;
    } else {
        EXPECT_EQ(problem.rfind("The query is refused: only a statement that reads is run, and this one ", 0), 0u)
            << c.query << "\n" << problem;
        EXPECT_NE(problem.find(c.refused_for), std::string::npos) << c.query << "\n" << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, QueryKind,
    ::testing::Values(
        // Statements that read.
        kind_case{"SELECT 1", ""}, kind_case{"  select id from t order by id;", ""},
        kind_case{"(SELECT 1) UNION (SELECT 2)", ""}, kind_case{"WITH a AS (SELECT 1) SELECT * FROM a", ""},
        kind_case{"VALUES (1), (2)", ""}, kind_case{"SHOW TABLES LIKE 't'", ""},
        kind_case{"EXPLAIN SELECT 1", ""}, kind_case{"DESC t", ""}, kind_case{"describe t", ""},
        kind_case{"/* why */ SELECT 1", ""}, kind_case{"-- why\nSELECT 1", ""}, kind_case{"# why\nSELECT 1", ""},
        kind_case{"SELECT 1 -- GET_LOCK('x', 0)", ""}, kind_case{"SELECT 1 /* GET_LOCK('x', 0) */", ""},
        kind_case{"SELECT 'GET_LOCK(' AS s, \"RELEASE_LOCK(\" AS d", ""},
        kind_case{"SELECT 'it''s \\' GET_LOCK(' AS s", ""}, kind_case{"SELECT get_lock FROM t", ""},
        kind_case{"SELECT `GET_LOCK(` FROM t", ""}, kind_case{"SELECT IS_FREE_LOCK('x'), IS_USED_LOCK('x')", ""},
        kind_case{"", ""}, kind_case{"  -- only a comment", ""},
        // Statements of other kinds.
        kind_case{"ANALYZE DELETE FROM t", "begins with ANALYZE"},
        kind_case{"analyze format=json update t set v = 1", "begins with ANALYZE"},
        kind_case{"ANALYZE TABLE t PERSISTENT FOR ALL", "begins with ANALYZE"},
        kind_case{"ANALYZE SELECT 1", "begins with ANALYZE"},
        kind_case{"OPTIMIZE TABLE t", "begins with OPTIMIZE"}, kind_case{"REPAIR TABLE t", "begins with REPAIR"},
        kind_case{"CHECK TABLE t", "begins with CHECK"}, kind_case{"CALL p()", "begins with CALL"},
        kind_case{"SET STATEMENT tx_read_only=0 FOR SELECT f()", "begins with SET"},
        kind_case{"/*!ANALYZE*/ TABLE t", "begins with ANALYZE"},
        kind_case{"/*!50000 ANALYZE */ TABLE t", "begins with ANALYZE"},
        kind_case{"/*M!100000 ANALYZE */ TABLE t", "begins with ANALYZE"},
        kind_case{"/*!50000ANALYZE TABLE t*/", "begins with ANALYZE"},
        kind_case{"--x\nSELECT 1", "begins with -"}, kind_case{"`SELECT` 1", "begins with SELECT"},
        kind_case{"'SELECT'", "begins with a literal"},
        // Functions whose locks outlive any transaction.
        kind_case{"SELECT GET_LOCK('a', 0)", "calls GET_LOCK"}, kind_case{"select get_lock('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT `get_lock`('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT GET_LOCK /* c */ ('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT GET_LOCK\n\t('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT /*!GET_LOCK*/('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT 'x\\'', GET_LOCK('a', 0)", "calls GET_LOCK"},
        kind_case{"SELECT id FROM t WHERE RELEASE_LOCK('a')", "calls RELEASE_LOCK"},
        kind_case{"SELECT RELEASE_ALL_LOCKS()", "calls RELEASE_ALL_LOCKS"},
        kind_case{"SHOW TABLES WHERE GET_LOCK('a', 0)", "calls GET_LOCK"}));

// A table t, a function f that writes into log, and the engine's session.
class ReadOnly : public ::testing::Test {
protected:
    void SetUp() override {
        db.conn().exec("CREATE TABLE t (id INT) ENGINE=InnoDB; INSERT INTO t VALUES (1), (2);"
                       "CREATE TABLE log (x INT) ENGINE=InnoDB");
        db.conn().exec("CREATE FUNCTION f() RETURNS INT MODIFIES SQL DATA "
                       "BEGIN INSERT INTO log VALUES (1); RETURN 1; END");
        s.use(db.name());
    }

    long long rows(const std::string& table) {
        return std::stoll(db.conn().scalar("SELECT COUNT(*) FROM " + table).value_or("-1"));
    }
    // The server's error number for a statement on the engine's session (0: it ran).
    unsigned refusal(const std::string& statement) {
        try {
            sql_execute(s.conn(), std::string_view(statement));
        } catch (const sql_exception& e) {
            return e.error_number();
        }
        return 0;
    }

    fennrow_test::test_database db{"read_only"};
    engine_session s;
};
FENNROW_SERVER_TESTS(ReadOnly);

TEST_F(ReadOnly, ASessionMadeReadOnlyChangesNothingUntilItWritesAgain) {
    sql_make_session_read_only(s.conn());
    EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "1");
    EXPECT_EQ(refusal("DELETE FROM t"), static_cast<unsigned>(ER_CANT_EXECUTE_IN_READ_ONLY_TRANSACTION));
    EXPECT_EQ(refusal("DO f()"), static_cast<unsigned>(ER_CANT_EXECUTE_IN_READ_ONLY_TRANSACTION));
    EXPECT_EQ(rows("t"), 2);
    EXPECT_EQ(rows("log"), 0);
    sql_make_session_read_write(s.conn());
    EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "0");
    EXPECT_EQ(refusal("INSERT INTO t VALUES (3)"), 0u);
    EXPECT_EQ(rows("t"), 3);
}

// A session that is not open cannot be made read-only: the run is told so.
TEST_F(ReadOnly, ASessionThatCannotBeMadeReadOnlyIsAnError) {
    sql_connection closed;
    try {
        sql_make_session_read_only(closed.get());
        ADD_FAILURE() << "no error";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(std::string(e.what()).rfind("The MySQL session cannot be made read-only: ", 0), 0u) << e.what();
    }
}

// Inside the transaction the server refuses changes, also those a single
// statement would switch the session's setting off for.
TEST_F(ReadOnly, ATransactionRefusesEveryChangeAndEndsWithTheObject) {
    {
        sql_read_only_transaction reading(s.conn());
        EXPECT_EQ(scalar(s.conn(), "SELECT @@in_transaction"), "1");
        EXPECT_NE(refusal("SET STATEMENT tx_read_only=0 FOR ANALYZE DELETE FROM t"), 0u);
        EXPECT_EQ(refusal("ANALYZE UPDATE t SET id = id + 10"),
                  static_cast<unsigned>(ER_CANT_EXECUTE_IN_READ_ONLY_TRANSACTION));
        EXPECT_NE(refusal("SELECT f()"), 0u);
        EXPECT_EQ(scalar(s.conn(), "SELECT GROUP_CONCAT(id ORDER BY id) FROM t"), "1,2");
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT @@in_transaction"), "0");
    EXPECT_EQ(rows("t"), 2);
    EXPECT_EQ(rows("log"), 0);
    EXPECT_EQ(refusal("INSERT INTO t VALUES (3)"), 0u);
}

// The hold follows the engine to a session opened since, and gives the
// last one back able to write.
TEST_F(ReadOnly, TheHoldFollowsAReconnect) {
    {
        sql_read_only_session held(s.engine);
        EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "1");
        s.engine.connect(s.server.host, s.server.user, s.server.password, static_cast<int32_t>(s.server.port));
        EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "0");
        held.hold();
        EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "1");
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT @@session.tx_read_only"), "0");
}

// The count connection reads only: a count whose query would write is
// refused and writes nothing.
TEST_F(ReadOnly, TheCountConnectionReadsOnly) {
    sql_counter counter(
        sql_counter::login{s.server.host, s.server.user, s.server.password, s.server.port, db.name()});
    uint64_t count = 0;
    counter.start("SELECT @@session.tx_read_only");
    EXPECT_EQ(counter.wait(count), sql_counter::outcome::known);
    EXPECT_EQ(count, 1u);
    counter.start("SELECT COUNT(*) FROM (SELECT id FROM t WHERE f() = 1) AS query");
    EXPECT_EQ(counter.wait(count), sql_counter::outcome::unknown);
    counter.finish(s.conn());
    EXPECT_EQ(rows("log"), 0);
}

}  // namespace
