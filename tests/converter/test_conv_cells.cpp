// Files hold every row and cell as the server holds them: the server's text
// of each column type, stored queries run as written, the header of the
// result that fills the file.
#include <string>

#include "conv_test_util.h"
#include "sql_run.h"

namespace {

using conv_test::handled_calls;
using conv_test::read_file;
using conv_test::temp_dir;
using namespace std::string_literals;

const std::string bom = "\xEF\xBB\xBF";

class FileContents : public ::testing::Test {
protected:
    void SetUp() override { conv_test::aim(conv(), db.name(), out); }
    void TearDown() override { sql_set_statement_hook(nullptr); }

    kellvar_converter& conv() { return c.conv; }

    void expect_clean_end() {
        EXPECT_TRUE(conv().done.load());
        EXPECT_EQ(conv().errors_reported.load(), 0u);
        EXPECT_TRUE(handled_calls().empty());
    }

    // Runs on the console path and answers what it printed.
    std::string run_console() {
        conv().console_run = true;
        testing::internal::CaptureStdout();
        conv()();
        return testing::internal::GetCapturedStdout();
    }

    fennrow_test::test_database db{"cells"};
    conv_test::connected c;
    temp_dir out;
};

FENNROW_SERVER_TESTS(FileContents);

TEST_F(FileContents, EachColumnInTheServersForm) {
    db.conn().exec(
        "CREATE TABLE t(id INT, tx TEXT, tm TIME(3), dt DATETIME, d DATE, b BLOB, dc DECIMAL(10,2));"
        "INSERT INTO t VALUES (1, CONCAT('ab',CHAR(0),'cd'), '12:34:56.5', '2020-01-31 00:00:00', '2020-01-31',"
        " '0x00', 24.50),"
        " (2, 'x', '-01:00:00', '2020-01-31 10:00:00', '2020-02-01', UNHEX('00'), 19.00)");
    conv().console_run = false;
    conv().selected_tables = {L"t"};
    conv()();
    expect_clean_end();
    EXPECT_EQ(read_file(out.file("t.csv")),
              bom + "id,tx,tm,dt,d,b,dc\r\n" + "1,ab\0cd,12:34:56.500,2020-01-31 00:00:00,2020-01-31,0x30783030,24.50\r\n"s +
                  "2,x,-01:00:00.000,2020-01-31 10:00:00,2020-02-01,0x00,19.00\r\n");
}

TEST_F(FileContents, StoredQueriesRunAsWritten) {
    db.conn().exec("CREATE TABLE o (x INT); INSERT INTO o VALUES (2),(3),(1);"
                   "CREATE TABLE p (x INT, n VARCHAR(5)); INSERT INTO p VALUES (1,'one'),(3,'three')");
    conv().table_queries = {
        {L"sorted", L"select x from o order by x desc;"},
        {L"joined", L"SELECT o.x, p.x, p.n FROM o JOIN p ON o.x = p.x ORDER BY o.x -- both x"},
        {L"with_q", L"WITH w AS (SELECT x FROM o) SELECT x * 2 AS y FROM w ORDER BY y"},
        {L"shown", L"SHOW TABLES LIKE 'o'"},
    };
    const std::string printed = run_console();
    expect_clean_end();
    EXPECT_EQ(read_file(out.file("sorted.csv")), bom + "x\r\n3\r\n2\r\n1\r\n");
    EXPECT_EQ(read_file(out.file("joined.csv")), bom + "x,x,n\r\n1,1,one\r\n3,3,three\r\n");
    EXPECT_EQ(read_file(out.file("with_q.csv")), bom + "y\r\n2\r\n4\r\n6\r\n");
    EXPECT_EQ(read_file(out.file("shown.csv")), bom + "Tables_in_" + db.name() + " (o)\r\no\r\n");
    // Counted where the server can count the query; where it cannot, the
    // count is unknown, unless the stream ended first: then the line shows
    // the records the file received.
    EXPECT_NE(printed.find("Converting table sorted(3 records)\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Converting table with_q(3 records)\n"), std::string::npos) << printed;
    EXPECT_TRUE(printed.find("Converting table joined(? records)\n") != std::string::npos ||
                printed.find("Converting table joined(2 records)\n") != std::string::npos)
        << printed;
    EXPECT_TRUE(printed.find("Converting table shown(? records)\n") != std::string::npos ||
                printed.find("Converting table shown(1 records)\n") != std::string::npos)
        << printed;
}

// Stored queries are sent as written, but one that gives no rows is refused
// before it runs: nothing it says is done.
TEST_F(FileContents, StoredQueriesThatChangeDataAreNeverRun) {
    db.conn().exec("CREATE TABLE o (x INT); INSERT INTO o VALUES (1),(2)");
    for (bool binary_allowed : {true, false}) {
        conv_test::clear_handled_calls();
        conv().console_run = false;
        conv().table_queries = {{L"del", L"DELETE FROM o"},
                                {L"upd", L"UPDATE o SET x = 9;"},
                                {L"ins", L"INSERT INTO o VALUES (3)"},
                                {L"drop", L"DROP TABLE o"}};
        // A column only the text protocol reads: the check does not depend
        // on the binary path.
        if (!binary_allowed) conv().table_queries.push_back({L"flt", L"SELECT CAST(x AS FLOAT) AS f FROM o"});
        conv()();
        EXPECT_EQ(conv().errors_reported.load(), 4u);
        EXPECT_EQ(db.conn().scalar("SELECT GROUP_CONCAT(x ORDER BY x) FROM o").value_or(""), "1,2");
    }
}

// Another connection changes the column order after the table was described
// and before its rows are read: header and rows both follow the result.
TEST_F(FileContents, HeaderOfTheResultThatFillsTheFile) {
    db.conn().exec("CREATE TABLE t (a VARCHAR(5), b VARCHAR(5)); INSERT INTO t VALUES ('x', '1')");
    bool altered = false;
    sql_set_statement_hook([&](std::string_view statement) {
        if (altered || statement != "SELECT * FROM `t`") return;
        altered = true;
        db.conn().exec("ALTER TABLE t MODIFY b INT FIRST");
    });
    conv().console_run = false;
    conv().selected_tables = {L"t"};
    conv()();
    sql_set_statement_hook(nullptr);
    EXPECT_TRUE(altered);
    expect_clean_end();
    EXPECT_EQ(read_file(out.file("t.csv")), bom + "b,a\r\n1,x\r\n");
}

}  // namespace
