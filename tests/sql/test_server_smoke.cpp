// The throwaway server of the test run answers, the test user logs in over
// TCP with utf8mb4, a wrong password is refused, and the per-test database
// helper creates and drops its database.
#include "test_server.h"

#include <gtest/gtest.h>

using fennrow_test::quote_name;
using fennrow_test::test_database;
using fennrow_test::test_sql_conn;

FENNROW_SERVER_TESTS(TestServer);

TEST(TestServer, AnswersVersionAsTestUser) {
    test_sql_conn c;
    const auto version = c.scalar("SELECT VERSION()");
    ASSERT_TRUE(version.has_value());
    EXPECT_NE(version->find("MariaDB"), std::string::npos) << *version;

    EXPECT_EQ(c.scalar("SELECT SUBSTRING_INDEX(CURRENT_USER(), '@', 1)"),
              fennrow_test::require_test_server().user);
    EXPECT_EQ(c.scalar("SELECT @@character_set_client"), "utf8mb4");
    EXPECT_EQ(c.scalar("SELECT CHAR_LENGTH('\xC3\xA4\xF0\x9F\x98\x80')"), "2");
}

TEST(TestServer, WrongPasswordIsRefusedWith1045) {
    const auto srv = fennrow_test::require_test_server();
    std::string error;
    EXPECT_EQ(fennrow_test::try_connect(srv, srv.user, srv.password + "x", &error), 1045u)
        << error;
    EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
    EXPECT_EQ(fennrow_test::try_connect(srv, srv.user, srv.password), 0u);
}

TEST(TestServer, FreshDatabaseIsCreatedAndDropped) {
    test_sql_conn observer;
    std::string name;
    {
        test_database db("Smoke-Test");
        name = db.name();
        EXPECT_EQ(name.rfind("fn_smoke_test_", 0), 0u) << name;
        EXPECT_EQ(db.conn().scalar("SELECT DATABASE()"), name);

        db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(10) NULL);"
                       "INSERT INTO t VALUES (1, 'a'), (2, NULL)");
        const auto rows = db.conn().rows("SELECT id, s FROM t ORDER BY id");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][1], "a");
        EXPECT_FALSE(rows[1][1].has_value());

        EXPECT_EQ(observer.rows("SHOW DATABASES LIKE " + observer.literal(name)).size(), 1u);
        EXPECT_EQ(db.conn().try_exec("SELECT * FROM " + quote_name("no_such_table")), 1146u);
        test_database other("smoke-test");
        EXPECT_NE(other.name(), name);
    }
    EXPECT_TRUE(observer.rows("SHOW DATABASES LIKE " + observer.literal(name)).empty());
}
