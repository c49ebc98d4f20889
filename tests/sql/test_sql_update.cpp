// Updating and deleting rows of MySQL tables by record and by
// synchronisation key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_excep.h"
#include "sql_sync.h"
#include "sql_write_util.h"
#include "tk_excep.h"

namespace {

using namespace sql_write_test;
using row = fennrow_test::test_sql_conn::row;

ole_variant typed_decimal() { return ole_variant::from_wstring(L"2.5", VT_DECIMAL); }

struct filter_case {
    const wchar_t* key;
    const wchar_t* filter;
};

TEST(sql_sync_filter, keys_become_escaped_conditions) {
    t_ftd amount = column(L"amt", VT_DECIMAL, 10);
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4), column(L"name", VT_BSTR, 20),
                                         column(L"bin", VT_BYTE_ARRAY, 4), amount, column(L"vi", VT_INT, 4)});
    const filter_case cases[] = {
        {L"<id>5</id><name>a&amp;b</name>", L"`id`=5 and `name`='a&b' "},
        {L"<NAME>&lt;b&gt;</NAME>", L"`NAME`='<b>' "},
        {L"<name>&amp;lt;</name>", L"`name`='&lt;' "},
        {L"<amt>-1.5e3</amt><vi>7</vi>", L"`amt`=-1.5e3 and `vi`=7"},
        {L"<name>x' OR '1'='1</name>", L"`name`='x\\' OR \\'1\\'=\\'1' "},
        {L"<name>back\\slash</name>", L"`name`='back\\\\slash' "},
        {L"<bin>0xAB01</bin>", L"`bin`=0xAB01"},
        {L"<bin>zz'</bin>", L"`bin`='zz\\'' "},
        {L"<other>5</other>", L"`other`='5' "},
        {L"<a`b>1</a`b>", L"`a``b`='1' "},
        {L"<name>open", L"`name`='open' "},
        {L"junk<id>1</id>", L"`id`=1"},
        {L"", L""},
    };
    for (const filter_case& c : cases)
        EXPECT_EQ(u(sql_sync::make_filter(schema, sql_sync::parse(c.key))), u(c.filter)) << u(c.key);
}

// A key that is no number for a numeric column, or beyond a floating-point
// column's range, is refused: the server would match other rows.
TEST(sql_sync_filter, keys_that_are_no_numbers_for_numeric_columns_are_refused) {
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4), column(L"f", VT_R4, 4), column(L"d", VT_R8, 8),
                                         column(L"amt", VT_DECIMAL, 10)});
    const wchar_t* keys[] = {L"<id>5 OR 1=1</id>", L"<id></id>", L"<id>0x10</id>", L"<f>nan</f>", L"<f>inf</f>",
                             L"<f>1e39</f>", L"<d>1e999</d>", L"<d>-inf</d>", L"<amt>1,5</amt>", L"<id>1</id><f>x</f>"};
    for (const wchar_t* key : keys) {
        try {
            sql_sync::make_filter(schema, sql_sync::parse(key));
            ADD_FAILURE() << "no refusal of " << u(key);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 0u) << u(key);
        }
    }
    EXPECT_EQ(u(sql_sync::make_filter(schema, sql_sync::parse(L"<f>3.4028235e+38</f><d>-1e308</d>"))),
              "`f`=3.4028234663852886e+38 and `d`=-1e308");
}

TEST(sql_sync_filter, parse_gives_names_and_decoded_values) {
    const auto parts = sql_sync::parse(L"<a>1</a><b>&gt;&lt;&amp;</b>");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, L"a");
    EXPECT_EQ(parts[0].value, L"1");
    EXPECT_EQ(parts[1].name, L"b");
    EXPECT_EQ(parts[1].value, L"><&");
}

class update_test : public mode_fixture {
protected:
    void SetUp() override {
        write_fixture::SetUp();
        db_.conn().exec(
            "CREATE TABLE people (id INT PRIMARY KEY, name VARCHAR(20), note LONGTEXT, amount DECIMAL(10,2), "
            "UNIQUE KEY u_name (name));"
            "INSERT INTO people VALUES (1, 'Ann', NULL, 1), (2, 'Bo', NULL, 2), (3, '<b>', NULL, 3), "
            "(4, 'x', NULL, 4);"
            "CREATE TABLE nokey (a INT, b INT); INSERT INTO nokey VALUES (1, 1)");
    }
    std::vector<row> people() { return rows("SELECT id, name, amount FROM people ORDER BY id"); }
};

FENNROW_SERVER_MODE_TESTS(update_test);

TEST_P(update_test, update_by_record_sets_the_other_columns) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    t->update(record_of({{L"name", text(L"Bob's")}, {L"ID", i4(2)}, {L"amount", typed_decimal()}, {L"gone", i4(0)}}));
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"UPDATE `people` SET `name`='Bob\\'s', `amount`=2.5 WHERE `id`=2"});
    EXPECT_EQ(people()[1], (row{"2", "Bob's", "2.50"}));
}

TEST_P(update_test, update_by_record_needs_every_key_column) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    report_capture reports;
    t->update(record_of({{L"name", text(L"all of them")}}));
    EXPECT_TRUE(log.lines.empty());
    // A table without primary or unique key: nothing is sent.
    auto n = d.get_table(L"nokey", 1);
    n->update(record_of({{L"a", i4(1)}, {L"b", i4(9)}}));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(rows("SELECT b FROM nokey")[0][0], "1");
    EXPECT_EQ(reports.lines, (std::vector<std::string>{
                                 "Table 'people': The record has no value for the key column 'id'",
                                 "Table 'nokey': There's no primary/unique key"}));
}

// Update and delete report a failure and return; the caller goes on.
TEST_P(update_test, server_refusal_is_reported_and_the_call_returns) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    report_capture reports;
    t->update(record_of({{L"id", i4(2)}, {L"name", text(L"Ann")}}));
    t->update(record_of({{L"name", text(L"Ann")}}), L"<id>2</id>");
    ASSERT_EQ(reports.lines.size(), 2u);
    for (const std::string& line : reports.lines) {
        EXPECT_EQ(line.rfind("Table 'people': ", 0), 0u) << line;
        EXPECT_NE(line.find("Duplicate entry"), std::string::npos) << line;
    }
    EXPECT_EQ(people()[1][1], "Bo");
}

TEST_P(update_test, update_by_key_text) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    t->update(record_of({{L"name", text(L"Z")}, {L"note", null_value()}}), L"<id>3</id>");
    EXPECT_EQ(log.lines, std::vector<std::string>{"UPDATE `people` SET `name`='Z', `note`=NULL WHERE `id`=3"});
    EXPECT_EQ(people()[2][1], "Z");
    report_capture reports;
    t->update(record_of({{L"name", text(L"Y")}}), L"");
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(reports.lines, std::vector<std::string>{"Table 'people': Missing key for update"});
}

TEST_P(update_test, large_values_are_updated_through_placeholders) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    const std::wstring note(1200000, L'\u00e9');
    statement_log log(write_prefixes());
    t->update(record_of({{L"id", i4(4)}, {L"note", text(note)}}));
    EXPECT_EQ(log.lines, std::vector<std::string>{"UPDATE `people` SET `note`=? WHERE `id`=4"});
    EXPECT_EQ(rows("SELECT CHAR_LENGTH(note), LENGTH(note) FROM people WHERE id = 4")[0], (row{"1200000", "2400000"}));
}

TEST_P(update_test, delete_by_key_text) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    t->delete_key(L"<name>&lt;b&gt;</name>");
    EXPECT_EQ(log.lines, std::vector<std::string>{"delete from `people` where `name`='<b>' "});
    EXPECT_EQ(people().size(), 3u);
    report_capture reports;
    // A quote in a value stays inside the value: no row has that name.
    t->delete_key(L"<name>x' OR '1'='1</name>");
    EXPECT_EQ(people().size(), 3u);
    // No number for a numeric column: refused, not compared by its prefix.
    t->delete_key(L"<id>9 OR 1=1</id>");
    EXPECT_EQ(people().size(), 3u);
    // A key field that is no column is refused.
    log.lines.clear();
    t->delete_key(L"<id>2</id><nope>1</nope>");
    t->delete_key(L"");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(people().size(), 3u);
    EXPECT_EQ(reports.lines,
              (std::vector<std::string>{"Table 'people': No row matches the key of the delete",
                                        "Table 'people': The key value of the numeric column 'id' is not a "
                                        "number: '9 OR 1=1'",
                                        "Table 'people': The key field 'nope' is not a column; nothing is deleted",
                                        "Table 'people': Missing key for delete"}));
}

TEST_P(update_test, delete_by_record) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    t->delete_key(record_of({{L"id", i4(1)}, {L"name", text(L"Ann")}}));
    t->delete_key(record_of({{L"id", i4(2)}, {L"note", null_value()}}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"DELETE FROM `people` WHERE `id`=1 AND `name`='Ann'",
                                                   "DELETE FROM `people` WHERE `id`=2 AND `note` IS NULL"}));
    EXPECT_EQ(people().size(), 2u);
    // A field that is no column would widen the condition: refused.
    report_capture reports;
    t->delete_key(record_of({{L"id", i4(3)}, {L"nope", i4(1)}}));
    t->delete_key(udb_record());
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(people().size(), 2u);
    EXPECT_EQ(reports.lines,
              (std::vector<std::string>{"Table 'people': The field 'nope' is not a column; nothing is deleted",
                                        "Table 'people': Missing key for delete"}));
}

TEST_P(update_test, pending_rows_go_before_updates_and_deletes) {
    auto& d = open();
    auto t = d.get_table(L"people", 1);
    statement_log log(write_prefixes());
    t->append_record(record_of({{L"id", i4(10)}, {L"name", text(L"n10")}}));
    t->append_record(record_of({{L"id", i4(11)}, {L"name", text(L"n11")}}));
    t->delete_key(record_of({{L"id", i4(10)}}));
    t->append_record(record_of({{L"id", i4(12)}, {L"name", text(L"n12")}}));
    t->update(record_of({{L"id", i4(12)}, {L"name", text(L"twelve")}}));
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0], "INSERT INTO `people`(`id`, `name`) VALUES(10, 'n10'), (11, 'n11')");
    EXPECT_EQ(log.lines[1], "DELETE FROM `people` WHERE `id`=10");
    EXPECT_EQ(log.lines[3], "UPDATE `people` SET `name`='twelve' WHERE `id`=12");
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(name ORDER BY id) FROM people WHERE id >= 10")[0][0], "n11,twelve");
}

TEST_P(update_test, sync_filter_reads_the_table_schema) {
    auto& d = open();
    sql_sync sync(&d);
    EXPECT_EQ(u(sync.get_filter_subquery(L"people", L"<ID>7</ID><amount>2.5</amount><name>9</name>")),
              "`ID`=7 and `amount`=2.5 and `name`='9' ");
}

INSTANTIATE_TEST_SUITE_P(modes, update_test, every_server_mode(), server_mode_param_name);

}  // namespace
