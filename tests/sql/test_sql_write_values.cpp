// Values the writing side must store as given, or refuse and report: times,
// NaN and infinity, values the server rounds or cuts, keys that are no
// numbers, row numbers in reports, view texts with comments.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sql_excep.h"
#include "sql_report.h"
#include "sql_write_util.h"
#include "tk_excep.h"

namespace {

using namespace sql_write_test;
using row = fennrow_test::test_sql_conn::row;

ole_variant r8(double v) {
    ole_variant x;
    x.set_r8(v);
    return x;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class value_test : public mode_fixture {};

FENNROW_SERVER_MODE_TESTS(value_test);

// NaN and infinity have no literal: appending, deleting and updating with
// them are refused and reported, and no row changes. A FLOAT key beyond the
// single's range is refused too (it used to become the name inf).
TEST_P(value_test, nan_and_infinity_are_refused_and_reported) {
    db_.conn().exec("CREATE TABLE r (id INT PRIMARY KEY, d DOUBLE, f FLOAT, `inf` DOUBLE);"
                    "INSERT INTO r VALUES (1, 0, 0, 0), (2, 1.5, 1.5, 0)");
    auto& d = open();
    auto t = d.get_table(L"r", 1);
    report_capture reports;
    const double bad_values[] = {std::nan(""), HUGE_VAL, -HUGE_VAL};
    for (double bad : bad_values) {
        for (bool fast : {true, false}) {
            engine_->fast_insert = fast;
            EXPECT_THROW(t->append_record(record_of({{L"id", i4(24)}, {L"d", r8(bad)}})), tk_exception);
        }
        t->delete_key(record_of({{L"d", r8(bad)}}));
        t->update(record_of({{L"id", i4(2)}, {L"d", r8(bad)}}));
        t->update(record_of({{L"d", r8(bad)}}), L"<id>2</id>");
    }
    as_table(*t).flush();
    t->delete_key(record_of({{L"f", r8(1e39)}}));
    t->delete_key(L"<f>1e39</f>");
    t->delete_key(L"<d>1e999</d>");
    EXPECT_EQ(rows("SELECT id, d, f FROM r ORDER BY id"), (std::vector<row>{{"1", "0", "0"}, {"2", "1.5", "1.5"}}));
    ASSERT_EQ(reports.lines.size(), 12u);
    for (const std::string& line : reports.lines) EXPECT_EQ(line.rfind("Table 'r': ", 0), 0u) << line;
    EXPECT_TRUE(has(reports.lines[0], "NaN")) << reports.lines[0];
    EXPECT_TRUE(has(reports.lines[9], "FLOAT")) << reports.lines[9];
}

// A time of day is written without a date, so that servers with
// NO_ZERO_IN_DATE take it, on both roads and as a key.
TEST_P(value_test, times_of_day_are_stored_and_found) {
    db_.conn().exec("CREATE TABLE tm (id INT PRIMARY KEY, t TIME(6))");
    auto& d = open();
    auto t = d.get_table(L"tm", 1);
    report_capture reports;
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        t->append_record(record_of({{L"id", i4(fast ? 1 : 2)},
                                    {L"t", ole_variant::from_wstring(L"12:34:56.789012", VT_DATE)}}));
    }
    as_table(*t).flush();
    t->update(record_of({{L"id", i4(2)}, {L"t", ole_variant::from_wstring(L"-838:59:59", VT_DATE)}}));
    t->delete_key(record_of({{L"t", ole_variant::from_wstring(L"12:34:56.789012", VT_DATE)}}));
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    EXPECT_EQ(rows("SELECT id, t FROM tm ORDER BY id"), (std::vector<row>{{"2", "-838:59:59.000000"}}));
}

// A value the server rounds or cuts with a note (which strict mode lets
// pass) is reported like a refused row, with the number of its record.
TEST_P(value_test, rounded_or_cut_values_are_reported_with_their_row) {
    db_.conn().exec("CREATE TABLE n (id INT PRIMARY KEY, amount DECIMAL(5,2), code VARCHAR(3))");
    auto& d = open();
    auto t = d.get_table(L"n", 1);
    auto dec = [](const wchar_t* v) { return ole_variant::from_wstring(v, VT_DECIMAL); };
    {
        report_capture reports;
        engine_->fast_insert = true;
        t->append_record(record_of({{L"id", i4(1)}, {L"amount", dec(L"1.25")}, {L"code", text(L"abc")}}));
        t->append_record(record_of({{L"id", i4(2)}, {L"amount", dec(L"1.005")}, {L"code", text(L"ab")}}));
        t->append_record(record_of({{L"id", i4(3)}, {L"amount", dec(L"2")}, {L"code", text(L"abc   ")}}));
        as_table(*t).flush();
        ASSERT_EQ(reports.lines.size(), 2u);
        EXPECT_EQ(reports.lines[0].rfind("Table 'n', row 2: ", 0), 0u) << reports.lines[0];
        EXPECT_TRUE(has(reports.lines[0], "1265") && has(reports.lines[0], "'amount'")) << reports.lines[0];
        EXPECT_EQ(reports.lines[1].rfind("Table 'n', row 3: ", 0), 0u) << reports.lines[1];
        EXPECT_TRUE(has(reports.lines[1], "1265") && has(reports.lines[1], "'code'")) << reports.lines[1];
    }
    engine_->fast_insert = false;
    t->append_record(record_of({{L"id", i4(11)}, {L"amount", dec(L"1.25")}, {L"code", text(L"abc")}}));
    EXPECT_THROW(t->append_record(record_of({{L"id", i4(12)}, {L"amount", dec(L"1.005")}})), sql_exception);
    report_capture reports;
    t->update(record_of({{L"id", i4(11)}, {L"code", text(L"xyz   ")}}));
    ASSERT_EQ(reports.lines.size(), 1u);
    EXPECT_TRUE(has(reports.lines[0], "1265")) << reports.lines[0];
}

// Reports number every record the caller gave, also those that threw.
TEST_P(value_test, row_numbers_count_every_record) {
    db_.conn().exec("CREATE TABLE c (id INT PRIMARY KEY, d DOUBLE)");
    auto& d = open();
    auto t = d.get_table(L"c", 1);
    report_capture reports;
    engine_->fast_insert = true;
    t->append_record(record_of({{L"id", i4(1)}, {L"d", r8(1)}}));
    EXPECT_THROW(t->append_record(record_of({{L"id", i4(2)}, {L"d", r8(std::nan(""))}})), tk_exception);
    t->append_record(record_of({{L"id", i4(1)}, {L"d", r8(3)}}));
    as_table(*t).flush();
    ASSERT_EQ(reports.lines.size(), 1u);
    EXPECT_EQ(reports.lines[0].rfind("Table 'c', row 3: Duplicate entry", 0), 0u) << reports.lines[0];
}

// A 0 for an AUTO_INCREMENT column is stored as 0; a field without a value
// gets the next number.
TEST_P(value_test, zero_in_an_auto_increment_column_stays_zero) {
    auto& d = open();
    auto t = d.create_table(L"ai", schema_of({column(L"id", VT_I4, 4, true, true), column(L"v", VT_I4, 4)}),
                            indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    engine_->fast_insert = true;
    t->append_record(record_of({{L"id", i4(5)}, {L"v", i4(1)}}));
    t->append_record(record_of({{L"id", i4(0)}, {L"v", i4(2)}}));
    t->append_record(record_of({{L"id", ole_variant()}, {L"v", i4(3)}}));
    as_table(*t).flush();
    engine_->fast_insert = false;
    t->append_record(record_of({{L"id", i4(9)}, {L"v", i4(4)}}));
    t->append_record(record_of({{L"id", ole_variant()}, {L"v", i4(5)}}));
    EXPECT_EQ(rows("SELECT id, v FROM ai ORDER BY v"),
              (std::vector<row>{{"5", "1"}, {"0", "2"}, {"6", "3"}, {"9", "4"}, {"10", "5"}}));
}

// A key that is no number for a numeric column would match by its numeric
// prefix: it is refused and nothing changes.
TEST_P(value_test, non_numeric_keys_of_numeric_columns_are_refused) {
    db_.conn().exec("CREATE TABLE k (id INT PRIMARY KEY, f FLOAT, name VARCHAR(10));"
                    "INSERT INTO k VALUES (1, 0, 'a'), (2, 1, 'b')");
    auto& d = open();
    auto t = d.get_table(L"k", 1);
    report_capture reports;
    t->delete_key(L"<id>1 OR 1=1</id>");
    t->delete_key(L"<f>abc</f>");
    t->update(record_of({{L"name", text(L"z")}}), L"<id>1x</id>");
    t->delete_key(L"<name>1 OR 1=1</name>");  // a text key: compared as text, finds nothing
    ASSERT_EQ(reports.lines.size(), 4u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(has(reports.lines[i], "is not a number")) << reports.lines[i];
    EXPECT_TRUE(has(reports.lines[3], "No row matches")) << reports.lines[3];
    EXPECT_EQ(rows("SELECT id, name FROM k ORDER BY id"), (std::vector<row>{{"1", "a"}, {"2", "b"}}));
}

// A refused update of a big value (sent as long data) is reported at level
// 0 with the server's reason, as a small value's refusal is.
TEST_P(value_test, refused_big_update_reports_the_server_reason) {
    db_.conn().exec("CREATE TABLE b (id INT PRIMARY KEY, t TEXT); INSERT INTO b VALUES (1, 'x')");
    auto& d = open();
    auto t = d.get_table(L"b", 1);
    std::vector<std::pair<uint32_t, std::string>> seen;
    sql_set_error_reporter([&](const tk_exception& e, const std::string&) { seen.emplace_back(e.level(), e.what()); });
    t->update(record_of({{L"id", i4(1)}, {L"t", text(std::wstring(0x100001, L'a'))}}));
    t->update(record_of({{L"id", i4(1)}, {L"t", text(std::wstring(70000, L'a'))}}));
    sql_set_error_reporter(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    for (const auto& [level, what] : seen) {
        EXPECT_EQ(level, 0u) << what;
        EXPECT_TRUE(has(what, "Data too long")) << what;
    }
    EXPECT_EQ(rows("SELECT t FROM b")[0][0], "x");
}

// A foreign key whose referenced columns were renamed finds the primary key
// by the new names and adds no second index.
TEST_P(value_test, foreign_key_on_renamed_columns_uses_the_existing_index) {
    auto& d = open();
    d.create_table(L"parent", schema_of({column(L"k+", VT_I4, 4, true), column(L"k2", VT_I4, 4, true)}),
                   indexes_of({udb_index(L"PRIMARY", true, true, false, {L"k+", L"k2"})}));
    d.create_table(L"child", schema_of({column(L"id", VT_I4, 4, true), column(L"a", VT_I4, 4), column(L"b", VT_I4, 4)}),
                   indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    statement_log log({"ALTER"});
    d.create_relationships({udb_relationship(L"fk_p", L"", L"child", L"parent", {L"a", L"b"}, {L"k+", L"k2"}, L"")});
    EXPECT_EQ(log.lines, (std::vector<std::string>{"ALTER TABLE `child` ADD INDEX (`a`, `b`)",
                                                   "ALTER TABLE `child` ADD CONSTRAINT `fk_p` FOREIGN KEY(`a`, `b`) "
                                                   "REFERENCES `parent`(`k_`, `k2`)"}));
    EXPECT_EQ(rows("SELECT COUNT(DISTINCT index_name) FROM information_schema.statistics "
                   "WHERE table_schema = DATABASE() AND table_name = 'parent'")[0][0],
              "1");
}

// Comments and literals of a view text stay whole: a line comment does not
// swallow the rest of the query.
TEST_P(value_test, view_texts_keep_comments_and_literals) {
    db_.conn().exec("CREATE TABLE vt (id INT PRIMARY KEY, s VARCHAR(20)); INSERT INTO vt VALUES (1, 'a'), (2, 'b')");
    auto& d = open();
    report_capture reports;
    d.create_views({{L"v_dash", L"select id, s from vt -- every row\nwhere id = 2"},
                    {L"v_hash", L"select id, s from vt # note\nwhere id = 2"},
                    {L"v_block", L"select id, s from vt /* it's [x] -- */ where id = 2"},
                    {L"v_text", L"select id, 'a\\'b   c' as s from vt where id = 2"},
                    {L"v_minus", L"select id, s from vt where id = 1--1"}});
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    for (const char* v : {"v_dash", "v_hash", "v_block", "v_minus"})
        EXPECT_EQ(rows(std::string("SELECT id, s FROM ") + v), (std::vector<row>{{"2", "b"}})) << v;
    EXPECT_EQ(rows("SELECT s FROM v_text"), (std::vector<row>{{"a'b   c"}}));
}

INSTANTIATE_TEST_SUITE_P(modes, value_test, every_server_mode(), server_mode_param_name);

// A server whose own mode makes '' NULL: the engine's session drops the mode,
// so an empty text is stored as an empty text. Changes the global mode.
class empty_string_fixture : public write_fixture {
protected:
    void SetUp() override {
        scope_ = std::make_unique<global_sql_mode_scope>("EMPTY_STRING_IS_NULL");
        write_fixture::SetUp();
    }
    void TearDown() override {
        write_fixture::TearDown();
        scope_.reset();
    }
    std::unique_ptr<global_sql_mode_scope> scope_;
};

FENNROW_SERVER_WIDE_TESTS(empty_string_fixture);

TEST_F(empty_string_fixture, ServerWide_empty_texts_stay_empty) {
    db_.conn().exec("CREATE TABLE e (id INT PRIMARY KEY, s VARCHAR(5) NOT NULL)");
    auto& d = open();
    auto t = d.get_table(L"e", 1);
    report_capture reports;
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        t->append_record(record_of({{L"id", i4(fast ? 1 : 2)}, {L"s", text(L"")}}));
    }
    as_table(*t).flush();
    t->update(record_of({{L"id", i4(3)}, {L"s", text(L"")}}));  // no such row: reported
    EXPECT_EQ(reports.lines.size(), 1u);
    EXPECT_EQ(rows("SELECT id, s, s IS NULL FROM e ORDER BY id"), (std::vector<row>{{"1", "", "0"}, {"2", "", "0"}}));
}

}  // namespace
