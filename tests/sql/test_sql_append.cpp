// Appending rows to MySQL tables: multi-row batches, one statement per row,
// long data through prepared statements, and the reports of failed rows.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "test_files.h"
#include "sql_excep.h"
#include "sql_write_util.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {

using namespace sql_write_test;

const std::string structure_text =
    "The structure of data source does not conform to the destination table. For more information see "
    "Troubleshooting article of the product documentation.";

ole_variant typed(const std::wstring& text, VARTYPE vt) { return ole_variant::from_wstring(text, vt); }

t_ftd date_column(const std::wstring& name, uint32_t kind) {
    t_ftd d = column(name, VT_DATE, 19);
    d.reserved = kind;
    return d;
}

struct typed_column {
    t_ftd column;
    std::vector<std::wstring> values;  // text of the value of each row; empty: NULL
};

// Every value type the writing side knows, with values at the edges of
// their ranges.
std::vector<typed_column> every_type() {
    t_ftd dec = column(L"dec", VT_DECIMAL, 12);
    dec.precision = 12;
    dec.scale = 3;
    return {
        {column(L"i2", VT_I2, 2), {L"-32768", L"32767", L""}},
        {column(L"i4", VT_I4, 4), {L"-2147483648", L"2147483647", L""}},
        {column(L"r4", VT_R4, 4), {L"1.5", L"-0.25", L""}},
        {column(L"r8", VT_R8, 8), {L"3.141592653589793", L"-1e+100", L""}},
        {column(L"cy", VT_CY, 8), {L"922337203685477.5807", L"-12.3456", L""}},
        {date_column(L"dt", 1), {L"2024-02-29 13:45:07", L"1999-12-31 23:59:59", L""}},
        {date_column(L"d", 2), {L"2024-02-29", L"1000-01-01", L""}},
        {date_column(L"tm", 3), {L"13:45:07", L"00:00:01", L""}},
        {column(L"s", VT_BSTR, 20), {L"O'Brien \\ \"x\"", L"gr\u00f6\u00dfe \U0001F600", L""}},
        {column(L"txt", VT_BSTR, 0), {L"line1\nline2\ttab", L"\u20ac", L""}},
        {column(L"b", VT_BOOL, 1), {L"1", L"0", L""}},
        {dec, {L"123456789.125", L"-0.001", L""}},
        {column(L"i1", VT_I1, 1), {L"-128", L"127", L""}},
        {column(L"ui1", VT_UI1, 1), {L"255", L"0", L""}},
        {column(L"ui2", VT_UI2, 2), {L"65535", L"1", L""}},
        {column(L"ui4", VT_UI4, 4), {L"4294967295", L"2", L""}},
        {column(L"i8", VT_I8, 8), {L"-9223372036854775808", L"9223372036854775807", L""}},
        {column(L"ui8", VT_UI8, 8), {L"18446744073709551615", L"3", L""}},
        {column(L"vi", VT_INT, 4), {L"-7", L"7", L""}},
        {column(L"vu", VT_UINT, 4), {L"4000000000", L"8", L""}},
        {column(L"bin", VT_BYTE_ARRAY, 0), {L"0x00FF10", L"0xABCDEF00", L""}},
        {column(L"vb", VT_BYTE_ARRAY, 16), {L"0x0102", L"0x00", L""}},
    };
}

udb_record typed_row(const std::vector<typed_column>& cols, size_t row) {
    udb_record r;
    for (const typed_column& c : cols) {
        const std::wstring& v = c.values[row];
        r.push_back(field(c.column.name, v.empty() ? null_value() : typed(v, c.column.vartype)));
    }
    return r;
}

class append_test : public mode_fixture {};

struct road {
    bool fast;
    bool german;  // under a locale with a decimal comma
};

// Puts the process locale back at the end of a test.
class locale_scope {
public:
    locale_scope() : saved_(std::setlocale(LC_ALL, nullptr)) {}
    ~locale_scope() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool use(const char* name) { return std::setlocale(LC_ALL, name) != nullptr; }

private:
    std::string saved_;
};

class every_type_test : public write_fixture, public ::testing::WithParamInterface<std::tuple<server_mode, road>> {
protected:
    server_mode mode() const override { return std::get<0>(GetParam()); }
    road the_road() const { return std::get<1>(GetParam()); }
};

FENNROW_SERVER_MODE_TESTS(every_type_test);

// Rows written on either road read back equal, field by field.
TEST_P(every_type_test, values_round_trip) {
    const bool fast = the_road().fast;
    locale_scope locale;
    if (the_road().german && !locale.use("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::vector<typed_column> cols = every_type();
    std::vector<t_ftd> descriptors;
    for (const typed_column& c : cols) descriptors.push_back(c.column);
    descriptors.insert(descriptors.begin(), column(L"id", VT_I4, 4, true, true));
    auto& d = open();
    engine_->fast_insert = fast;
    {
        auto t = d.create_table(L"all_types",
                                schema_of(descriptors), indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
        statement_log log({"INSERT"});
        for (size_t row = 0; row < 3; ++row) t->append_record(typed_row(cols, row));
        EXPECT_EQ(t->get_record_count(), 3u);
        EXPECT_EQ(log.lines.size(), fast ? 0u : 3u);
    }
    EXPECT_EQ(engine_->fast_insert, fast);

    auto t = d.get_table(L"all_types", 1);
    t->reset();
    size_t compared = 0;
    for (size_t row = 0; row < 3; ++row) {
        ASSERT_FALSE(t->is_eof()) << "row " << row;
        const udb_record* rec = t->get_record();
        ASSERT_EQ(rec->size(), cols.size() + 1);
        EXPECT_EQ(rec->at(0)->to_wstring(), std::to_wstring(row + 1));
        for (size_t i = 0; i < cols.size(); ++i) {
            const udb_field& f = *rec->at(i + 1);
            const std::wstring& expected = cols[i].values[row];
            if (expected.empty()) {
                EXPECT_TRUE(f.is_null() || f.is_empty()) << u(cols[i].column.name) << " row " << row;
                continue;
            }
            EXPECT_EQ(u(f.to_wstring()), u(typed(expected, cols[i].column.vartype).to_wstring()))
                << u(cols[i].column.name) << " row " << row;
            ++compared;
        }
        t->next();
    }
    EXPECT_TRUE(t->is_eof());
    EXPECT_EQ(compared, 2 * cols.size());
}

INSTANTIATE_TEST_SUITE_P(roads, every_type_test,
                         ::testing::Combine(every_server_mode(),
                                            ::testing::Values(road{true, false}, road{false, false},
                                                              road{true, true}, road{false, true})),
                         [](const auto& info) {
                             const road r = std::get<1>(info.param);
                             return std::string(r.fast ? "fast" : "slow") + (r.german ? "_de" : "") + "_" +
                                    mode_name(std::get<0>(info.param));
                         });

FENNROW_SERVER_MODE_TESTS(append_test);

TEST_P(append_test, batches_join_only_rows_of_the_same_column_list) {
    db_.conn().exec("CREATE TABLE t (a INT, b VARCHAR(10), c VARCHAR(10))");
    auto& d = open();
    statement_log log({"INSERT"});
    {
        auto t = d.get_table(L"t", 1);
        auto& table = as_table(*t);
        t->append_record(record_of({{L"a", i4(1)}, {L"b", text(L"x")}}));
        t->append_record(record_of({{L"a", i4(2)}, {L"b", text(L"y'z")}}));
        EXPECT_EQ(table.get_pending_rows(), 2u);
        EXPECT_TRUE(log.lines.empty());
        // The same number of fields, other columns: a statement of its own.
        t->append_record(record_of({{L"A", i4(3)}, {L"c", text(L"c")}}));
        EXPECT_EQ(table.get_pending_rows(), 1u);
        // A full record in another order: the schema's order.
        t->append_record(record_of({{L"c", text(L"c4")}, {L"b", text(L"b4")}, {L"a", i4(4)}}));
        t->append_record(record_of({{L"b", text(L"b5")}, {L"a", i4(5)}, {L"c", null_value()}}));
        EXPECT_EQ(table.get_pending_rows(), 2u);
    }
    const std::vector<std::string> expected = {
        "INSERT INTO `t`(`a`, `b`) VALUES(1, 'x'), (2, 'y\\'z')",
        "INSERT INTO `t`(`a`, `c`) VALUES(3, 'c')",
        "INSERT INTO `t`(`a`, `b`, `c`) VALUES(4, 'b4', 'c4'), (5, 'b5', NULL)",
    };
    EXPECT_EQ(log.lines, expected);
    const auto r = rows("SELECT a, b, c FROM t ORDER BY a");
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(*r[1][1], "y'z");
    EXPECT_FALSE(r[2][1].has_value());
    EXPECT_EQ(*r[2][2], "c");
    EXPECT_FALSE(r[4][2].has_value());
}

TEST_P(append_test, one_statement_per_row_on_the_slow_road) {
    db_.conn().exec("CREATE TABLE t (a INT, b VARCHAR(10))");
    auto& d = open();
    engine_->fast_insert = false;
    statement_log log({"INSERT"});
    auto t = d.get_table(L"t", 1);
    t->append_record(record_of({{L"a", i4(1)}, {L"b", text(L"x")}}));
    t->append_record(record_of({{L"b", text(L"y")}, {L"a", i4(2)}}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"INSERT INTO `t`(`a`, `b`) VALUES (1, 'x')",
                                                   "INSERT INTO `t`(`a`, `b`) VALUES (2, 'y')"}));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM t")[0][0], "2");
}

TEST_P(append_test, batches_stay_below_the_buffer_size) {
    db_.conn().exec("CREATE TABLE t (a INT, b LONGTEXT)");
    auto& d = open();
    statement_log log({"INSERT"});
    {
        auto t = d.get_table(L"t", 1);
        for (int i = 0; i < 4; ++i) t->append_record(record_of({{L"a", i4(i)}, {L"b", text(std::wstring(300000, L'x'))}}));
    }
    ASSERT_EQ(log.lines.size(), 2u);
    for (const std::string& s : log.lines) EXPECT_LE(s.size(), sql_write_table::get_max_buffer_size());
    EXPECT_EQ(rows("SELECT COUNT(*), SUM(LENGTH(b)) FROM t")[0], (fennrow_test::test_sql_conn::row{"4", "1200000"}));
}

TEST_P(append_test, row_above_the_buffer_size_takes_the_slow_road_for_good) {
    db_.conn().exec("CREATE TABLE t (a INT, b LONGTEXT)");
    auto& d = open();
    statement_log log({"INSERT"});
    auto t = d.get_table(L"t", 1);
    t->append_record(record_of({{L"a", i4(1)}, {L"b", text(L"small")}}));
    // 1,000,000 characters: still the fast road (the first row has to go
    // to make room for it).
    t->append_record(record_of({{L"a", i4(2)}, {L"b", text(std::wstring(1000000, L'y'))}}));
    EXPECT_TRUE(engine_->fast_insert);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "INSERT INTO `t`(`a`, `b`) VALUES(1, 'small')");
    EXPECT_EQ(as_table(*t).get_pending_rows(), 1u);
    t->append_record(record_of({{L"a", i4(3)}, {L"b", text(std::wstring(1000001, L'z'))}}));
    EXPECT_FALSE(engine_->fast_insert);
    ASSERT_EQ(log.lines.size(), 3u);
    // The row queued before goes first.
    EXPECT_EQ(log.lines[1].substr(0, 37), "INSERT INTO `t`(`a`, `b`) VALUES(2, '");
    EXPECT_EQ(log.lines[1].size(), 37 + 1000000 + 2u);
    EXPECT_EQ(log.lines[2].substr(0, 41), "INSERT INTO `t`(`a`, `b`) VALUES (3, 'zzz");
    t->append_record(record_of({{L"a", i4(4)}, {L"b", text(L"after")}}));
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[3], "INSERT INTO `t`(`a`, `b`) VALUES (4, 'after')");
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(a ORDER BY a), SUM(LENGTH(b)) FROM t")[0],
              (fennrow_test::test_sql_conn::row{"1,2,3,4", "2000011"}));
}

// Another table's big row switches the roads: the rows this table queued
// still go before its next row.
TEST_P(append_test, rows_keep_their_order_when_another_table_switches_the_road) {
    db_.conn().exec("CREATE TABLE t1 (a INT); CREATE TABLE t2 (b LONGTEXT)");
    auto& d = open();
    statement_log log({"INSERT"});
    auto t1 = d.get_table(L"t1", 1);
    auto t2 = d.get_table(L"t2", 1);
    t1->append_record(record_of({{L"a", i4(1)}}));
    t2->append_record(record_of({{L"b", text(std::wstring(1000001, L'b'))}}));
    EXPECT_FALSE(engine_->fast_insert);
    EXPECT_EQ(as_table(*t1).get_pending_rows(), 1u);
    t1->append_record(record_of({{L"a", i4(2)}}));
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1], "INSERT INTO `t1`(`a`) VALUES(1)");
    EXPECT_EQ(log.lines[2], "INSERT INTO `t1`(`a`) VALUES (2)");
}

TEST_P(append_test, replace_mode_replaces_rows_on_both_roads) {
    db_.conn().exec("CREATE TABLE t (a INT PRIMARY KEY, b VARCHAR(10)); INSERT INTO t VALUES (1, 'old'), (2, 'old')");
    auto& d = open(sql_database::mode_replace);
    statement_log log({"INSERT", "REPLACE"});
    {
        auto t = d.get_table(L"t", 1);
        t->append_record(record_of({{L"a", i4(1)}, {L"b", text(L"fast")}}));
    }
    engine_->fast_insert = false;
    {
        auto t = d.get_table(L"t", 1);
        t->append_record(record_of({{L"a", i4(2)}, {L"b", text(L"slow")}}));
    }
    EXPECT_EQ(log.lines, (std::vector<std::string>{"REPLACE INTO `t`(`a`, `b`) VALUES(1, 'fast')",
                                                   "REPLACE INTO `t`(`a`, `b`) VALUES (2, 'slow')"}));
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(b ORDER BY a) FROM t")[0][0], "fast,slow");
}

// Values above the placeholder threshold travel as long data: their own
// bytes (binary) and UTF-8 (text), each to its own placeholder.
TEST_P(append_test, large_values_go_through_a_prepared_statement) {
    db_.conn().exec("CREATE TABLE big (id INT, b LONGBLOB, t LONGTEXT, small VARBINARY(10))");
    auto& d = open();
    std::mt19937 gen(42);
    std::vector<uint8_t> bytes(2000000);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(gen());
    bytes[0] = 0;
    bytes[1] = '\'';
    std::wstring long_text;
    const std::wstring pieces[] = {L"a", L"\u00e9", L"\u20ac", L"\U0001F600", L"'", L"\\"};
    while (long_text.size() < 1100000) long_text += pieces[gen() % 6];
    statement_log log({"INSERT"});
    auto t = d.get_table(L"big", 1);
    // Fields in another order than the columns: each value still reaches its column.
    udb_record r;
    r.push_back(field(L"t", text(long_text)));
    r.push_back(field(L"small", ole_variant(std::vector<uint8_t>{1, 2})));
    r.push_back(field(L"b", ole_variant(bytes)));
    r.push_back(field(L"id", i4(7)));
    t->append_record(r);
    EXPECT_FALSE(engine_->fast_insert);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "INSERT INTO `big`(`id`, `b`, `t`, `small`) VALUES (7, ?, ?, 0x0102)");

    const auto back = rows("SELECT LENGTH(b), b, CHAR_LENGTH(t), t, HEX(small) FROM big");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(*back[0][0], "2000000");
    EXPECT_TRUE(*back[0][1] == std::string(bytes.begin(), bytes.end())) << "blob bytes differ";
    EXPECT_EQ(*back[0][2], std::to_string(long_text.size()));
    EXPECT_TRUE(*back[0][3] == u(long_text)) << "text differs";
    EXPECT_EQ(*back[0][4], "0102");
}

TEST_P(append_test, two_large_values_bind_two_placeholders) {
    db_.conn().exec("CREATE TABLE big (x LONGBLOB, y LONGBLOB, z LONGBLOB)");
    auto& d = open();
    engine_->fast_insert = false;
    statement_log log({"INSERT"});
    auto t = d.get_table(L"big", 1);
    // Exactly the threshold: a literal.
    t->append_record(record_of({{L"x", ole_variant(std::vector<uint8_t>(1048577, 'x'))},
                                {L"y", ole_variant(std::vector<uint8_t>(1048576, 'y'))},
                                {L"z", ole_variant(std::vector<uint8_t>(1048578, 'z'))}}));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].substr(0, 40), "INSERT INTO `big`(`x`, `y`, `z`) VALUES ");
    EXPECT_EQ(log.lines[0].substr(40, 7), "(?, 0x7");
    EXPECT_EQ(log.lines[0].substr(log.lines[0].size() - 4), ", ?)");
    EXPECT_EQ(rows("SELECT LENGTH(x), LENGTH(y), LENGTH(z), LEFT(x, 1), LEFT(y, 1), LEFT(z, 1) FROM big")[0],
              (fennrow_test::test_sql_conn::row{"1048577", "1048576", "1048578", "x", "y", "z"}));
}

TEST_P(append_test, field_without_a_column_is_refused_and_queued_rows_stay) {
    db_.conn().exec("CREATE TABLE t (a INT, b INT, c INT)");
    auto& d = open();
    {
        auto t = d.get_table(L"t", 1);
        t->append_record(record_of({{L"a", i4(1)}, {L"b", i4(1)}}));
        for (bool fast : {true, false}) {
            engine_->fast_insert = fast;
            try {
                t->append_record(record_of({{L"a", i4(2)}, {L"nope", i4(2)}}));
                ADD_FAILURE() << "no exception";
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level(), 0u);
                EXPECT_EQ(e.what(), structure_text);
            }
            // A record that leaves out a column of the schema, with an extra field.
            try {
                t->append_record(record_of({{L"a", i4(3)}, {L"b", i4(3)}, {L"x", i4(3)}}));
                ADD_FAILURE() << "no exception";
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.what(), structure_text);
            }
            // The fast road keeps the queued row; the slow road sends it
            // before its own row.
            EXPECT_EQ(as_table(*t).get_pending_rows(), fast ? 1u : 0u);
            EXPECT_EQ(rows("SELECT COUNT(*) FROM t")[0][0], fast ? "0" : "1");
        }
        EXPECT_EQ(t->get_record_count(), 1u);
    }
    EXPECT_EQ(rows("SELECT COUNT(*) FROM t")[0][0], "1");
}

TEST_P(append_test, prepared_statement_failures_leave_the_connection_usable) {
    db_.conn().exec("CREATE TABLE t (a LONGBLOB)");
    auto& d = open();
    const udb_record big = record_of({{L"a", ole_variant(std::vector<uint8_t>(1048577, 1))}});
    auto counter = [&](const char* name) {
        return sql_test::scalar_number(engine_->get_connection(),
                                       std::string("SELECT VARIABLE_VALUE FROM information_schema.session_status "
                                                   "WHERE VARIABLE_NAME = '") + name + "'");
    };
    // Refused by the parser, by the server.
    EXPECT_THROW(d.prepared_statement("INSERT INTO t VALUES (?", big, 1), sql_prep_stmt_failed_exception);
    EXPECT_THROW(d.prepared_statement("INSERT INTO nowhere VALUES (?)", big, 1), sql_prep_stmt_failed_exception);
    // Prepared, then refused here: the handle is closed on the server too.
    const long long prepared = counter("COM_STMT_PREPARE");
    const long long closed = counter("COM_STMT_CLOSE");
    for (int i = 0; i < 3; ++i)
        EXPECT_THROW(d.prepared_statement("INSERT INTO t VALUES (?)", big, 2), sql_prep_stmt_failed_exception);
    d.prepared_statement("INSERT INTO t VALUES (?)", big, 1);
    EXPECT_EQ(counter("COM_STMT_PREPARE") - prepared, 4);
    EXPECT_EQ(counter("COM_STMT_CLOSE") - closed, 4);
    d.query_append("INSERT INTO t VALUES (0x01)");
    EXPECT_EQ(rows("SELECT COUNT(*), MAX(LENGTH(a)) FROM t")[0], (fennrow_test::test_sql_conn::row{"2", "1048577"}));
}

using fennrow_test::read_file;

// Refused queued rows are reported as such by the call that sends them,
// and the row of that call is not lost.
TEST_P(append_test, failed_batch_is_reported_without_losing_the_next_row) {
    db_.conn().exec("CREATE TABLE t (a INT, b INT)");
    auto& d = open();
    auto t = d.get_table(L"t", 1);
    auto& table = as_table(*t);
    t->append_record(record_of({{L"a", i4(1)}, {L"b", i4(1)}}));
    t->append_record(record_of({{L"a", i4(2)}, {L"b", i4(2)}}));
    db_.conn().exec("DROP TABLE t");
    try {
        t->append_record(record_of({{L"a", i4(3)}}));
        ADD_FAILURE() << "no exception";
    } catch (const sql_exception& e) {
        EXPECT_NE(std::string(e.what()).find("Table 't': 2 queued row(s) were not written"), std::string::npos)
            << e.what();
        EXPECT_EQ(e.error_number(), 1146u);
    }
    EXPECT_EQ(table.get_pending_rows(), 1u);
    EXPECT_EQ(t->get_record_count(), 3u);
    db_.conn().exec("CREATE TABLE t (a INT, b INT)");
    table.flush();
    EXPECT_EQ(table.get_pending_rows(), 0u);
    EXPECT_EQ(rows("SELECT a FROM t")[0][0], "3");

    // An explicit flush reports the failure.
    t->append_record(record_of({{L"a", i4(4)}}));
    db_.conn().exec("DROP TABLE t");
    EXPECT_THROW(table.flush(), sql_exception);
    EXPECT_EQ(table.get_pending_rows(), 0u);
}

TEST_P(append_test, closing_a_table_sends_its_rows_and_logs_a_failure) {
    db_.conn().exec("CREATE TABLE t (a INT); CREATE TABLE u (a INT)");
    char tmpl[] = "/tmp/fn-sqlw-log.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string path = dir + "/run.log";
    {
        tk_logger logger(path.c_str(), true, 3, false);
        auto& d = open();
        {
            auto t = d.get_table(L"t", 1);
            t->append_record(record_of({{L"a", i4(1)}}));
        }
        EXPECT_EQ(rows("SELECT COUNT(*) FROM t")[0][0], "1");
        {
            auto t = d.get_table(L"u", 1);
            t->append_record(record_of({{L"a", i4(1)}}));
            db_.conn().exec("DROP TABLE u");
        }
    }
    const std::string log = read_file(path);
    EXPECT_NE(log.find("Table 'u': ERROR '"), std::string::npos) << log;
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

INSTANTIATE_TEST_SUITE_P(modes, append_test, every_server_mode(), server_mode_param_name);

}  // namespace
