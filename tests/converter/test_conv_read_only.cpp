// The run's main session reads only, a stored query runs in a read-only
// transaction of its own, and the session may write again after the run.
#include <string>
#include <thread>
#include <vector>

#include "conv_test_util.h"
#include "sql_run.h"
#include "test_labels.h"

namespace {

using conv_test::read_file;
using conv_test::temp_dir;

const std::string bom = "\xEF\xBB\xBF";

class ReadOnlyRun : public ::testing::Test {
protected:
    void SetUp() override { conv_test::aim(c.conv, db.name(), out); }
    void TearDown() override { sql_set_statement_hook(nullptr); }

    // Tens: the session reads only; ones: a transaction is open. Asked past
    // the statement hook, which may be the caller.
    int session_state() {
        MYSQL* m = c.conv.engine.get_connection();
        const std::string sql = "SELECT @@session.tx_read_only * 10 + @@in_transaction";
        if (mysql_real_query(m, sql.data(), sql.size()) != 0) return -1;
        MYSQL_RES* res = mysql_store_result(m);
        if (!res) return -2;
        MYSQL_ROW row = mysql_fetch_row(res);
        const int state = row && row[0] ? std::stoi(row[0]) : -3;
        mysql_free_result(res);
        return state;
    }

    fennrow_test::test_database db{"conv_ro"};
    conv_test::connected c;
    temp_dir out;
};
FENNROW_SERVER_TESTS(ReadOnlyRun);

TEST_F(ReadOnlyRun, TheSessionReadsOnlyAndAQueryRunsInAReadOnlyTransaction) {
    db.conn().exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1), (2)");
    const std::thread::id runner = std::this_thread::get_id();
    std::vector<int> table_seen, query_seen;
    // When the run describes or streams an entry, the state of its session.
    sql_set_statement_hook([&](std::string_view statement) {
        if (std::this_thread::get_id() != runner) return;
        if (statement == "SELECT * FROM `t`") table_seen.push_back(session_state());
        if (statement == "SELECT id FROM t ORDER BY id") query_seen.push_back(session_state());
    });
    c.conv.console_run = false;
    c.conv.selected_tables = {L"t"};
    c.conv.table_queries = {{L"q", L"SELECT id FROM t ORDER BY id"}};
    c.conv();
    sql_set_statement_hook(nullptr);
    EXPECT_EQ(c.conv.errors_reported.load(), 0u);
    EXPECT_EQ(read_file(out.file("t.csv")), bom + "id\r\n1\r\n2\r\n");
    EXPECT_EQ(read_file(out.file("q.csv")), bom + "id\r\n1\r\n2\r\n");
    // Described, then streamed; the table is streamed once.
    EXPECT_EQ(table_seen, std::vector<int>({10}));
    EXPECT_EQ(query_seen, std::vector<int>({11, 11}));
    // After the run the session writes again, outside any transaction.
    EXPECT_EQ(session_state(), 0);
}

}  // namespace
