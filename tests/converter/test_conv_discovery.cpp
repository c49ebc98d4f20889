// What a conversion run asks the server about each table: the rows and the
// names of the columns, nothing more; and the files are the same bytes as
// those written from a fully discovered table.
#include <algorithm>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "conv_test_util.h"
#include "csv_util.h"
#include "sql_row_stream.h"
#include "sql_run.h"
#include "udb_db.h"
#include "udb_recordset.h"

namespace {

using conv_test::folder_contents;
using conv_test::handled_calls;
using conv_test::read_file;
using conv_test::temp_dir;

const std::string bom = "\xEF\xBB\xBF";

// Every command the server took on the session so far (the sum of its Com_*
// counters; the statement that reads them counts too, the same each time).
uint64_t session_commands(MYSQL* connection) {
    sql_result_ptr result = sql_open_stream(connection, std::string_view("SHOW SESSION STATUS LIKE 'Com\\_%'"));
    uint64_t sum = 0;
    while (MYSQL_ROW row = sql_fetch_row(connection, result.get()))
        if (row[1]) sum += std::stoull(row[1]);
    return sum;
}

std::vector<std::wstring> table_names(int from, int to) {
    std::vector<std::wstring> names;
    for (int i = from; i <= to; ++i) names.push_back(L"t" + std::to_wstring(i));
    return names;
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        conv().source = tk_from_utf8(db.name());
        conv().console_run = false;
        conv().delimiter_index = 2;
        conv().include_field_names = true;
    }
    void TearDown() override { sql_set_statement_hook(nullptr); }

    kellvar_converter& conv() { return c.conv; }
    MYSQL* connection() { return conv().engine.get_connection(); }

    void expect_clean_end() {
        EXPECT_TRUE(conv().done.load());
        EXPECT_EQ(conv().errors_reported.load(), 0u);
        for (const conv_test::handled_call& h : handled_calls()) ADD_FAILURE() << h.context << ": " << h.text;
    }

    // Commands of one run over the tables into a new folder; the statements
    // it sent are added to sent.
    uint64_t run_commands(const std::vector<std::wstring>& tables, std::vector<std::string>& sent) {
        temp_dir out;
        conv().destination = out.wpath();
        conv().selected_tables = tables;
        conv().table_queries.clear();
        const uint64_t before = session_commands(connection());
        sql_set_statement_hook([&](std::string_view s) { sent.emplace_back(s); });
        conv()();
        sql_set_statement_hook(nullptr);
        const uint64_t after = session_commands(connection());
        expect_clean_end();
        EXPECT_EQ(folder_contents(out.path()).size(), tables.size());
        return after - before;
    }

    // Commands of streaming the tables one after the other, as a run reads them.
    uint64_t stream_commands(const std::vector<std::wstring>& tables) {
        const uint64_t before = session_commands(connection());
        for (const std::wstring& t : tables) {
            sql_row_stream q(connection(), t, false, true);
            sql_record_page page;
            while (q.store_to(&page) > 0) {
            }
        }
        return session_commands(connection()) - before;
    }

    fennrow_test::test_database db{"discovery"};
    conv_test::connected c;
};

FENNROW_SERVER_TESTS(Discovery);

// Each table carries what discovery used to ask about: an auto-increment
// key, an index and a foreign key.
TEST_F(Discovery, ATableCostsItsStreamAndItsCountOnly) {
    db.conn().exec("CREATE TABLE t1 (id INT AUTO_INCREMENT PRIMARY KEY, label VARCHAR(20)) ENGINE=InnoDB;"
                   "INSERT INTO t1 (label) VALUES ('a'), ('b')");
    for (int i = 2; i <= 5; ++i) {
        const std::string t = "t" + std::to_string(i);
        db.conn().exec("CREATE TABLE " + t +
                       " (id INT AUTO_INCREMENT PRIMARY KEY, label VARCHAR(20), amount DECIMAL(8,2),"
                       " ref INT, KEY (label), FOREIGN KEY (ref) REFERENCES t1 (id)) ENGINE=InnoDB;"
                       "INSERT INTO " + t + " (label, amount, ref) VALUES ('x', 1.50, 1), ('y', NULL, 2)");
    }
    // Per table: the difference between a run over five tables and one over
    // two (what is asked once per run cancels out).
    std::vector<std::string> sent_two, sent_five;
    const uint64_t run_two = run_commands(table_names(1, 2), sent_two);
    const uint64_t run_five = run_commands(table_names(1, 5), sent_five);
    const uint64_t stream_per_table = (stream_commands(table_names(1, 5)) - stream_commands(table_names(1, 2))) / 3;
    ASSERT_GT(run_five, run_two);
    const uint64_t run_per_table = (run_five - run_two) / 3;
    std::string statements;
    for (const std::string& s : sent_five) statements += "\n  " + s;
    EXPECT_GT(stream_per_table, 0u);
    // The stream, and at most the record count besides it.
    EXPECT_LE(run_per_table, stream_per_table + 1) << "statements of the run over five tables:" << statements;

    // Definitions only: no stream, and no statement to describe a table.
    conv().definitions_only = true;
    std::vector<std::string> defs_two, defs_five;
    const uint64_t defs_per_table =
        (run_commands(table_names(1, 5), defs_five) - run_commands(table_names(1, 2), defs_two)) / 3;
    statements.clear();
    for (const std::string& s : defs_five) statements += "\n  " + s;
    EXPECT_LE(defs_per_table, 1u) << "statements of the run over five tables:" << statements;
}

// The tables of a run are described from one list of columns; the files are
// still those written from each table opened with its whole discovery.
TEST_F(Discovery, FilesAreThoseOfAFullyDiscoveredTable) {
    db.conn().exec(
        "CREATE TABLE plain (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10) NOT NULL DEFAULT 'd');"
        "INSERT INTO plain (v) VALUES ('a'), ('b,c');"
        "CREATE TABLE refined (id INT, f FLOAT(7,2), g FLOAT(5,5), d DOUBLE(8,3), tx TEXT, b BLOB,"
        " hidden INT INVISIBLE DEFAULT 7, dt DATETIME DEFAULT CURRENT_TIMESTAMP, ok BIT(1) DEFAULT b'1');"
        "INSERT INTO refined (id, f, g, d, tx, b, dt, ok) VALUES"
        " (1, 12345.678, 0.12345, 3.14159, 'text', 'blob', '2024-01-02 03:04:05', b'0'),"
        " (2, NULL, NULL, NULL, NULL, NULL, '1999-12-31 23:59:59', NULL);"
        "CREATE TABLE shapes (id INT, pt POINT, shape GEOMETRY);"
        "INSERT INTO shapes VALUES (1, POINT(1, 2), ST_GeomFromText('LINESTRING(0 0,1 1)')), (2, NULL, NULL);"
        "CREATE TABLE MixedCase (`a b` INT, `c``d` VARCHAR(3)); INSERT INTO MixedCase VALUES (1, 'x')");
    const std::vector<std::wstring> tables = {L"plain", L"refined", L"shapes", L"MixedCase"};

    // The files of each table written from the table opened with every
    // discovery statement.
    std::map<std::string, std::string> want, want_defs;
    {
        temp_dir ref;
        const bool saved = conv().engine.is_blob_to_text();
        conv().engine.set_blob_to_text(true);
        std::unique_ptr<udb_database> opened = conv().engine.open_db(conv().source, 1, std::wstring());
        for (const std::wstring& t : tables) {
            std::unique_ptr<udb_recordset> rs = opened->get_table(t, 1);
            ASSERT_TRUE(rs);
            const std::string file = tk_to_utf8(t) + ".csv";
            std::string lower = file;
            for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            {
                csv_file defs(tk_from_utf8(ref.file("defs")), L",", rs->get_schema());
                defs.complete();
                want_defs[lower] = read_file(ref.file("defs"));
            }
            csv_file out(tk_from_utf8(ref.file(lower)), L",");
            rs->reset();
            out.write_header(rs->get_schema());
            while (!rs->is_eof()) {
                out.append_record(*rs->get_record());
                rs->next();
            }
            out.complete();
            want[lower] = read_file(ref.file(lower));
        }
        conv().engine.set_blob_to_text(saved);
    }
    EXPECT_NE(want["shapes.csv"].find("POINT(1 2)"), std::string::npos) << want["shapes.csv"];
    EXPECT_EQ(want["refined.csv"].find("hidden"), std::string::npos) << want["refined.csv"];

    temp_dir out;
    conv().destination = out.wpath();
    conv().selected_tables = tables;
    conv()();
    expect_clean_end();
    EXPECT_EQ(folder_contents(out.path()), want);

    temp_dir defs;
    conv().destination = defs.wpath();
    conv().definitions_only = true;
    conv()();
    expect_clean_end();
    EXPECT_EQ(folder_contents(defs.path()), want_defs);
}

// A geometry column that a table gains after the run listed its columns is
// still written as text.
TEST_F(Discovery, GeometryAddedAfterTheColumnsWereListedIsText) {
    db.conn().exec("CREATE TABLE a (id INT); INSERT INTO a VALUES (1);"
                   "CREATE TABLE b (id INT); INSERT INTO b VALUES (2);"
                   "CREATE TABLE c (id INT); INSERT INTO c VALUES (3)");
    bool altered = false;
    sql_set_statement_hook([&](std::string_view statement) {
        if (altered || statement != "SELECT * FROM `c`") return;
        altered = true;
        db.conn().exec("ALTER TABLE c ADD p POINT; UPDATE c SET p = POINT(4, 5)");
    });
    temp_dir out;
    conv().destination = out.wpath();
    conv().selected_tables = {L"a", L"b", L"c"};
    conv()();
    sql_set_statement_hook(nullptr);
    EXPECT_TRUE(altered);
    expect_clean_end();
    EXPECT_EQ(read_file(out.file("c.csv")), bom + "id,p\r\n3,POINT(4 5)\r\n");
}

}  // namespace

namespace {

// A table the list of columns does not hold (renamed away while it was read)
// is described on its own.
TEST_F(Discovery, ATableMissingFromTheColumnListIsDescribedOnItsOwn) {
    db.conn().exec("CREATE TABLE a (id INT); INSERT INTO a VALUES (1);"
                   "CREATE TABLE b (id INT); INSERT INTO b VALUES (2);"
                   "CREATE TABLE c (x INT, y VARCHAR(3)); INSERT INTO c VALUES (3, 'z')");
    for (const bool definitions_only : {false, true}) {
        int phase = 0;
        std::vector<std::string> sent;
        // The count connection sets up its session on a thread of its own,
        // at a time of its own: only the run's statements move the phases.
        const std::thread::id run_thread = std::this_thread::get_id();
        sql_set_statement_hook([&](std::string_view statement) {
            if (std::this_thread::get_id() != run_thread) return;
            sent.emplace_back(statement);
            if (phase == 0 && statement.find("information_schema.COLUMNS") != std::string_view::npos) {
                phase = 1;
                db.conn().exec("RENAME TABLE c TO c_away");
            } else if (phase == 1) {
                phase = 2;
                db.conn().exec("RENAME TABLE c_away TO c");
            }
        });
        temp_dir out;
        conv().destination = out.wpath();
        conv().selected_tables = {L"a", L"b", L"c"};
        conv().definitions_only = definitions_only;
        conv()();
        sql_set_statement_hook(nullptr);
        EXPECT_EQ(phase, 2);
        expect_clean_end();
        EXPECT_NE(std::find(sent.begin(), sent.end(), "SELECT * FROM `c` LIMIT 0"), sent.end());
        EXPECT_EQ(read_file(out.file("c.csv")), bom + (definitions_only ? "x,y\r\n" : "x,y\r\n3,z\r\n"));
    }
}

}  // namespace
