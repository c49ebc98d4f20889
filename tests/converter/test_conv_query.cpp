// The query test of the table page: prepared on the server, never run.
#include "conv_test_util.h"

namespace {

class QueryCheck : public ::testing::Test {
protected:
    void SetUp() override {
        db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20));"
                       "INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c')");
        c.conv.source = tk_from_utf8(db.name());
    }
    long rows() { return std::stol(db.conn().scalar("SELECT COUNT(*) FROM t").value_or("-1")); }

    fennrow_test::test_database db{"query"};
    conv_test::connected c;
};

FENNROW_SERVER_TESTS(QueryCheck);

TEST_F(QueryCheck, AcceptsSelectsTheRunCanStream) {
    EXPECT_TRUE(c.conv.check_query(L"SELECT id, name FROM t WHERE id > 1"));
    EXPECT_TRUE(c.conv.check_query(L"SELECT * FROM t ORDER BY id;  "));
    EXPECT_TRUE(c.conv.check_query(L"SELECT name FROM t -- a comment"));
}

TEST_F(QueryCheck, StatementsThatChangeDataAreRefusedAndNeverRun) {
    const wchar_t* statements[] = {
        L"DELETE FROM t",
        L"DELETE FROM t WHERE id = 1",
        L"UPDATE t SET name = 'x'",
        L"TRUNCATE TABLE t",
        L"DROP TABLE t",
        L"SELECT 1; DELETE FROM t",
        L"SELECT * FROM t) AS x; DELETE FROM t; SELECT * FROM (SELECT 1",
        L"INSERT INTO t VALUES (9, 'z')",
        L"ANALYZE DELETE FROM t",
        L"ANALYZE TABLE t PERSISTENT FOR ALL",
        L"SELECT GET_LOCK('query_check', 0)",
    };
    for (const wchar_t* s : statements) {
        EXPECT_FALSE(c.conv.check_query(s)) << tk_to_utf8(s);
        EXPECT_EQ(rows(), 3) << tk_to_utf8(s);
    }
    EXPECT_EQ(db.conn().scalar("SELECT name FROM t WHERE id = 1").value_or(""), "a");
    // The connection is still fit for the next statement.
    EXPECT_TRUE(c.conv.check_query(L"SELECT id FROM t"));
}

TEST_F(QueryCheck, RefusesBadQueriesAndUnknownDatabases) {
    EXPECT_FALSE(c.conv.check_query(L"SELEC id FROM t"));
    EXPECT_FALSE(c.conv.check_query(L"SELECT nosuch FROM t"));
    EXPECT_FALSE(c.conv.check_query(L"SELECT * FROM nosuch"));
    EXPECT_FALSE(c.conv.check_query(L"SELECT * FROM t WHERE id = ?"));
    EXPECT_FALSE(c.conv.check_query(L""));
    c.conv.source = L"fn_no_such_database_here";
    EXPECT_FALSE(c.conv.check_query(L"SELECT 1"));
}

}  // namespace
