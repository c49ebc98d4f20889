// A run of BRENNOCK never changes the source database: stored queries that
// would change data, statistics, sequences or locks are refused with an
// error naming them, the run goes on, and the data is as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_util.h"
#include "test_labels.h"

namespace {

using namespace agent_test;

const std::string t2_csv = bom + "code\r\nx\r\n";

class brennock_read_only : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_ro"};
    temp_dir dir;
    std::string out = dir / "out";

    void SetUp() override {
        db.conn().exec(
            "CREATE TABLE t (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
            "INSERT INTO t VALUES (1, 10), (2, 20), (3, 30);"
            "CREATE TABLE m (id INT) ENGINE=MyISAM; INSERT INTO m VALUES (1);"
            "CREATE TABLE log (x INT) ENGINE=InnoDB;"
            "CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x');"
            "CREATE SEQUENCE seq");
        db.conn().exec(
            "CREATE FUNCTION f() RETURNS INT MODIFIES SQL DATA "
            "BEGIN INSERT INTO log VALUES (1); RETURN 1; END");
        // Statistics of earlier runs of the server do not count.
        db.conn().exec("DELETE FROM mysql.table_stats WHERE db_name = " + db.conn().literal(db.name()) +
                       "; DELETE FROM mysql.column_stats WHERE db_name = " + db.conn().literal(db.name()) +
                       "; DELETE FROM mysql.index_stats WHERE db_name = " + db.conn().literal(db.name()));
        before_ = state();
    }

    void TearDown() override {
        db.conn().exec("DELETE FROM mysql.table_stats WHERE db_name = " + db.conn().literal(db.name()) +
                       "; DELETE FROM mysql.column_stats WHERE db_name = " + db.conn().literal(db.name()) +
                       "; DELETE FROM mysql.index_stats WHERE db_name = " + db.conn().literal(db.name()));
    }

    // Everything a hostile query could change, as text.
    std::string state() {
        auto one = [&](const std::string& sql) { return db.conn().scalar(sql).value_or("NULL"); };
        const std::string name = db.conn().literal(db.name());
        return "t=" + one("SELECT GROUP_CONCAT(id, ':', v ORDER BY id) FROM t") +
               " m=" + one("SELECT GROUP_CONCAT(id) FROM m") + " log=" + one("SELECT COUNT(*) FROM log") +
               " seq=" + one("SELECT next_not_cached_value FROM seq") +
               " stats=" + one("SELECT (SELECT COUNT(*) FROM mysql.table_stats WHERE db_name = " + name +
                               ") + (SELECT COUNT(*) FROM mysql.column_stats WHERE db_name = " + name + ")");
    }

    std::string profile(const std::string& entries) {
        const std::string path = dir / "p.ini";
        profile_spec p = profile_for(srv);
        p.database = db.name();
        p.dest = out;
        p.entries = entries;
        write_file(path, profile_text(p));
        return "--profile=" + path;
    }

    run_result run(const std::vector<std::string>& args) { return run_brennock(args); }

    std::string before_;
};
FENNROW_SERVER_TESTS(brennock_read_only);

// A query that would change something; the error the run reports for it.
struct hostile_case {
    const char* name;
    const char* query;
    const char* error;
};

const char* const read_only_error = "Cannot execute statement in a READ ONLY transaction";
const char* const kind_error = "only a statement that reads is run";

class brennock_hostile_query : public brennock_read_only, public ::testing::WithParamInterface<hostile_case> {};
FENNROW_SERVER_TESTS(brennock_hostile_query);

TEST_P(brennock_hostile_query, is_refused_and_the_run_goes_on) {
    const hostile_case& c = GetParam();
    const run_result r = run({profile(std::string("q=") + c.query + "\r\nt2")});
    EXPECT_EQ(r.status, 255) << r;
    // The report names the query; the next entry is converted.
    const std::string report = "Error:\nq: ";
    const size_t at = r.out.find(report);
    ASSERT_NE(at, std::string::npos) << r;
    const std::string line = r.out.substr(at + report.size(), r.out.find('\n', at + report.size()) -
                                                               (at + report.size()));
    EXPECT_NE(line.find(c.error), std::string::npos) << line;
    EXPECT_NE(r.out.find("Converting table t2(1 records)\n"), std::string::npos) << r;
    EXPECT_EQ(read_file(out + "/t2.csv"), t2_csv);
    EXPECT_FALSE(exists(out + "/q.csv")) << read_file(out + "/q.csv");
    EXPECT_EQ(state(), before_);
}

INSTANTIATE_TEST_SUITE_P(
    all, brennock_hostile_query,
    ::testing::Values(
        hostile_case{"analyze_delete", "ANALYZE DELETE FROM t", read_only_error},
        hostile_case{"analyze_update", "ANALYZE UPDATE t SET v = v + 1", read_only_error},
        hostile_case{"analyze_insert", "ANALYZE INSERT INTO t VALUES (9, 90)", read_only_error},
        hostile_case{"analyze_json_delete", "ANALYZE FORMAT=JSON DELETE FROM t", read_only_error},
        hostile_case{"optimize", "OPTIMIZE TABLE t", kind_error},
        hostile_case{"repair", "REPAIR TABLE m", kind_error},
        hostile_case{"persistent_statistics", "ANALYZE TABLE t PERSISTENT FOR ALL", kind_error},
        hostile_case{"in_a_versioned_comment", "/*M!100000 ANALYZE */ TABLE t PERSISTENT FOR ALL", kind_error},
        hostile_case{"read_only_switched_off", "SET STATEMENT tx_read_only=0 FOR ANALYZE DELETE FROM t",
                     read_only_error},
        hostile_case{"function_that_writes", "SELECT f() AS r", read_only_error},
        hostile_case{"function_that_writes_in_where", "SELECT id FROM t WHERE f() = 1", read_only_error},
        hostile_case{"sequence", "SELECT NEXTVAL(seq) AS n", read_only_error},
        hostile_case{"locking_read", "SELECT id FROM t FOR UPDATE", read_only_error},
        hostile_case{"user_lock", "SELECT GET_LOCK('brennock_ro', 0) AS l", "GET_LOCK"},
        hostile_case{"user_lock_quoted", "SELECT `get_lock` /* x */ ('brennock_ro', 0) AS l", "GET_LOCK"},
        hostile_case{"release_locks", "SELECT RELEASE_ALL_LOCKS() AS l", "RELEASE_ALL_LOCKS"}),
    [](const ::testing::TestParamInfo<hostile_case>& i) { return std::string(i.param.name); });

// Queries that only read still run, the same way.
TEST_F(brennock_read_only, reading_queries_are_converted) {
    const run_result r = run({profile("sel=SELECT id, v FROM t ORDER BY id\r\nshown=SHOW TABLES LIKE 't2'\r\n"
                                      "vals=VALUES (1), (2)\r\nw=WITH a AS (SELECT id FROM t) SELECT MAX(id) AS x "
                                      "FROM a\r\nshared=SELECT id FROM t ORDER BY id LOCK IN SHARE MODE\r\nt2")});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(read_file(out + "/sel.csv"), bom + "id;v\r\n1;10\r\n2;20\r\n3;30\r\n");
    EXPECT_EQ(read_file(out + "/shown.csv"), bom + "Tables_in_" + db.name() + " (t2)\r\nt2\r\n");
    EXPECT_EQ(read_file(out + "/vals.csv"), bom + "1\r\n1\r\n2\r\n");
    EXPECT_EQ(read_file(out + "/w.csv"), bom + "x\r\n3\r\n");
    EXPECT_EQ(read_file(out + "/shared.csv"), bom + "id\r\n1\r\n2\r\n3\r\n");
    EXPECT_EQ(read_file(out + "/t2.csv"), t2_csv);
    EXPECT_EQ(state(), before_);
}

// "Definitions only" runs no stored query: not for its rows, not for its
// count. The file holds the header; the count is unknown. A query the
// server refuses even to prepare in a read-only session is an error.
TEST_F(brennock_read_only, definitions_only_runs_no_query) {
    const run_result r =
        run({profile("q=SELECT id, v FROM t ORDER BY id\r\nw=SELECT id FROM t WHERE f() = 1\r\nt2"), "--tab_def"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_NE(r.out.find("Converting table q(? records)\n"), std::string::npos) << r;
    EXPECT_NE(r.out.find("Error:\nw: Cannot execute statement in a READ ONLY transaction\n"), std::string::npos) << r;
    EXPECT_NE(r.out.find("Converting table t2(1 records)\n"), std::string::npos) << r;
    EXPECT_EQ(read_file(out + "/q.csv"), bom + "id;v\r\n");
    EXPECT_FALSE(exists(out + "/w.csv"));
    EXPECT_EQ(read_file(out + "/t2.csv"), bom + "code\r\n");
    EXPECT_EQ(state(), before_);
}

}  // namespace
