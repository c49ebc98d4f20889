// The writing side under any server SQL mode: literals, keys and comments
// that cannot change their statement, rows that are stored exactly or
// reported, and the values at the edges of their types.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <string>
#include <vector>

#include "sql_excep.h"
#include "sql_util.h"
#include "sql_write_util.h"
#include "tk_excep.h"
#include "utf8.h"

namespace {

using namespace sql_write_test;
using row = fennrow_test::test_sql_conn::row;

// --- The session's SQL mode --------------------------------------------------------

TEST(session_sql_mode, drops_quote_modes_and_adds_strictness) {
    struct mode_case {
        const char* server;
        const char* session;
    };
    const mode_case cases[] = {
        {"", "STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
        {"STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION",
         "STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION,STRICT_ALL_TABLES,"
         "NO_AUTO_VALUE_ON_ZERO"},
        {"NO_BACKSLASH_ESCAPES,ANSI_QUOTES,STRICT_ALL_TABLES", "STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
        {"REAL_AS_FLOAT,PIPES_AS_CONCAT,ANSI_QUOTES,IGNORE_SPACE,ANSI",
         "REAL_AS_FLOAT,PIPES_AS_CONCAT,IGNORE_SPACE,STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
        {"PIPES_AS_CONCAT,ANSI_QUOTES,NO_KEY_OPTIONS,ORACLE,NO_BACKSLASH_ESCAPES",
         "PIPES_AS_CONCAT,NO_KEY_OPTIONS,STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
        {"x'y,NO_ZERO_DATE,,", "NO_ZERO_DATE,STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
        {"EMPTY_STRING_IS_NULL,NO_AUTO_VALUE_ON_ZERO,STRICT_ALL_TABLES",
         "NO_AUTO_VALUE_ON_ZERO,STRICT_ALL_TABLES"},
        {"SIMULTANEOUS_ASSIGNMENT,EMPTY_STRING_IS_NULL,TIME_ROUND_FRACTIONAL",
         "SIMULTANEOUS_ASSIGNMENT,TIME_ROUND_FRACTIONAL,STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO"},
    };
    for (const mode_case& c : cases) EXPECT_EQ(sql_engine::session_sql_mode(c.server), c.session) << c.server;
}

class safety_test : public mode_fixture {
protected:
    std::string engine_scalar(const std::string& sql) {
        return sql_test::scalar(engine_->get_connection(), sql).value_or("NULL");
    }
};

FENNROW_SERVER_MODE_TESTS(safety_test);

TEST_P(safety_test, session_mode_is_set_and_escaping_follows_the_connection) {
    // The test's modes are added to the server's own, whatever that is.
    const std::string global = rows("SELECT @@GLOBAL.sql_mode")[0][0].value_or("");
    if (mode() == server_mode::server_default) {
        EXPECT_EQ(global, own_mode_);
    }
    const std::string added = added_modes(mode());
    for (size_t from = 0; from < added.size();) {
        const size_t comma = std::min(added.find(',', from), added.size());
        const std::string name = added.substr(from, comma - from);
        // TRADITIONAL stands for modes the server lists one by one.
        if (name != "TRADITIONAL") {
            EXPECT_NE(("," + global + ",").find("," + name + ","), std::string::npos) << global;
        }
        from = comma + 1;
    }
    const std::string session = engine_scalar("SELECT @@SESSION.sql_mode");
    EXPECT_EQ(session.find("NO_BACKSLASH_ESCAPES"), std::string::npos) << session;
    EXPECT_EQ(session.find("ANSI_QUOTES"), std::string::npos) << session;
    EXPECT_NE(session.find("STRICT_ALL_TABLES"), std::string::npos) << session;
    EXPECT_EQ(sql_escape(std::string_view("O'Brien \\")), "O\\'Brien \\\\");

    // A connection whose mode has no backslash escapes gets doubled quotes.
    sql_execute(engine_->get_connection(), std::string_view("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"));
    EXPECT_EQ(sql_escape(std::string_view("O'Brien \\")), "O''Brien \\");
    EXPECT_EQ(engine_scalar("SELECT '" + sql_escape(std::string_view("x' OR '1'='1 \\")) + "'"), "x' OR '1'='1 \\");
}

// Texts that would end their literal, quoted or escaped any way, on both
// roads; zero characters included.
TEST_P(safety_test, texts_reach_the_server_whole) {
    const std::vector<std::wstring> texts = {
        L"O'Brien", L"x', (select user())) -- ", L"back\\slash\\", L"\"double\" ''", std::wstring(L"ab\0cd", 5),
        L"\\' OR 1=1 -- "};
    t_ftd note = column(L"s", VT_BSTR, 40);
    note.description = L"customer's \\ \"note\"";
    t_ftd when = column(L"w", VT_DATE, 19);
    when.reserved = 1;
    when.def_value = ole_variant(L"2024-01-02 03:04:05");
    auto& d = open();
    auto t = d.create_table(L"texts", schema_of({column(L"id", VT_I4, 4, true), note, when}),
                            indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    int id = 0;
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        for (const std::wstring& s : texts) t->append_record(record_of({{L"id", i4(++id)}, {L"s", text(s)}}));
    }
    as_table(*t).flush();
    const auto stored = rows("SELECT id, HEX(s), w FROM texts ORDER BY id");
    ASSERT_EQ(stored.size(), 2 * texts.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        const std::string utf8 = plat::utf8_encode(texts[i % texts.size()]);
        static const char hex[] = "0123456789ABCDEF";
        std::string expected;
        for (unsigned char c : utf8) expected += {hex[c >> 4], hex[c & 15]};
        EXPECT_EQ(stored[i][1], expected) << "row " << i + 1;
        EXPECT_EQ(stored[i][2], "2024-01-02 03:04:05.000000");
    }
    // Updates and key conditions carry the whole text too.
    report_capture reports;
    const std::wstring zero(L"ab\0cd", 5);
    t->update(record_of({{L"id", i4(1)}, {L"s", text(zero)}}));
    EXPECT_EQ(rows("SELECT HEX(s) FROM texts WHERE id = 1")[0][0], "6162006364");
    t->delete_key(record_of({{L"s", text(zero)}}));
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    EXPECT_EQ(rows("SELECT COUNT(*) FROM texts")[0][0], std::to_string(2 * texts.size() - 3));
    EXPECT_EQ(rows("SELECT column_comment FROM information_schema.columns WHERE table_schema = DATABASE() AND "
                   "column_name = 's'")[0][0],
              "customer's \\ \"note\"");
}

TEST_P(safety_test, keys_cannot_widen_their_condition) {
    db_.conn().exec("CREATE TABLE k (id INT PRIMARY KEY, name VARCHAR(20)); "
                    "INSERT INTO k VALUES (1, 'a'), (2, 'b'), (3, 'it''s')");
    auto& d = open();
    auto t = d.get_table(L"k", 1);
    report_capture reports;
    t->delete_key(L"<name>' OR 1=1 -- </name>");
    t->delete_key(L"<name>\\' OR 1=1 -- </name>");
    t->update(record_of({{L"name", text(L"hacked")}}), L"<name>' OR ''='</name>");
    EXPECT_EQ(rows("SELECT COUNT(*) FROM k WHERE name <> 'hacked'")[0][0], "3");
    EXPECT_EQ(reports.lines, (std::vector<std::string>{"Table 'k': No row matches the key of the delete",
                                                      "Table 'k': No row matches the key of the delete",
                                                      "Table 'k': No row matches the key of the update"}));
    // The quote in the key is a quote of the value.
    t->delete_key(L"<name>it's</name>");
    EXPECT_EQ(rows("SELECT COUNT(*) FROM k")[0][0], "2");
    EXPECT_EQ(reports.lines.size(), 3u);
}

// TIME spans beyond a day and below zero, in values, updates and keys.
TEST_P(safety_test, time_values_keep_their_hours_and_sign) {
    t_ftd span = column(L"span", VT_DATE, 8);
    span.reserved = 3;
    auto& d = open();
    auto t = d.create_table(L"spans", schema_of({column(L"id", VT_I4, 4, true), span}),
                            indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    const std::vector<std::wstring> times = {L"838:59:59", L"-838:59:59", L"24:00:00", L"-00:00:01", L"100:20:30.5"};
    int id = 0;
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        for (const std::wstring& s : times)
            t->append_record(record_of({{L"id", i4(++id)}, {L"span", ole_variant::from_wstring(s, VT_DATE)}}));
    }
    as_table(*t).flush();
    const auto stored = rows("SELECT span FROM spans ORDER BY id");
    ASSERT_EQ(stored.size(), 2 * times.size());
    const char* expected[] = {"838:59:59.000000", "-838:59:59.000000", "24:00:00.000000", "-00:00:01.000000",
                              "100:20:30.500000"};
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i][0], expected[i % times.size()]) << i;

    report_capture reports;
    t->update(record_of({{L"id", i4(1)}, {L"span", ole_variant::from_wstring(L"-25:00:00", VT_DATE)}}));
    t->delete_key(record_of({{L"span", ole_variant::from_wstring(L"24:00:00", VT_DATE)}}));
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    EXPECT_EQ(rows("SELECT span FROM spans WHERE id = 1")[0][0], "-25:00:00.000000");
    EXPECT_EQ(rows("SELECT COUNT(*) FROM spans")[0][0], "8");
}

struct refused_row {
    const wchar_t* v;
    ole_variant n;
    const wchar_t* d;
    int id;
    const char* error;  // part of the report; empty: the row is stored
};

std::vector<refused_row> strict_rows() {
    ole_variant big;
    big.set_i8(1099511627776LL);
    return {
        {L"ok", i4(1), L"2024-01-01", 1, ""},
        {L"toolongvalue", i4(2), L"2024-01-02", 2, "Data too long"},
        {L"n", big, L"2024-01-03", 3, "Out of range"},
        {L"d", i4(4), L"not a date", 4, "Incorrect date value"},
        {L"dup", i4(5), L"2024-01-05", 1, "Duplicate entry"},
        {L"ok2", i4(6), L"2024-01-06", 6, ""},
    };
}

// No row is altered or dropped silently: the fast road stores the good rows
// of a refused batch and reports exactly the refused ones.
TEST_P(safety_test, refused_rows_are_reported_exactly_on_both_table_types) {
    for (const char* type : {"InnoDB", "MyISAM"}) {
        SCOPED_TRACE(type);
        db_.conn().exec(std::string("DROP TABLE IF EXISTS s; CREATE TABLE s (id INT PRIMARY KEY, v VARCHAR(5), "
                                    "n INT, d DATE) ENGINE=") +
                        type);
        auto& d = open();
        report_capture reports;
        const std::vector<refused_row> cases = strict_rows();
        {
            auto t = d.get_table(L"s", 1);
            statement_log log({"INSERT"});
            for (const refused_row& c : cases)
                t->append_record(record_of({{L"id", i4(c.id)}, {L"v", text(c.v)}, {L"n", c.n}, {L"d", text(c.d)}}));
            as_table(*t).flush();
            if (std::string(type) == "InnoDB") {
                ASSERT_FALSE(log.lines.empty());
                EXPECT_EQ(log.lines[0].rfind("INSERT INTO `s`(`id`, `v`, `n`, `d`) VALUES(1, 'ok', 1, '2024-01-01'), ",
                                             0),
                          0u);
            }
        }
        std::vector<std::string> expected_reports;
        for (size_t i = 0; i < cases.size(); ++i) {
            if (*cases[i].error == 0) continue;
            ASSERT_LT(expected_reports.size(), reports.lines.size());
            const std::string& line = reports.lines[expected_reports.size()];
            expected_reports.push_back(line);
            EXPECT_EQ(line.rfind("Table 's', row " + std::to_string(i + 1) + ": ", 0), 0u) << line;
            EXPECT_NE(line.find(cases[i].error), std::string::npos) << line;
            EXPECT_NE(line.find("(values (" + std::to_string(cases[i].id) + ", '"), std::string::npos) << line;
        }
        EXPECT_EQ(reports.lines.size(), expected_reports.size());
        EXPECT_EQ(rows("SELECT id, v, n, d FROM s ORDER BY id"),
                  (std::vector<row>{{"1", "ok", "1", "2024-01-01"}, {"6", "ok2", "6", "2024-01-06"}}));

        // The slow road refuses the same rows, one exception each.
        db_.conn().exec("DELETE FROM s");
        engine_->fast_insert = false;
        auto t = d.get_table(L"s", 1);
        size_t refused = 0;
        for (const refused_row& c : cases) {
            try {
                t->append_record(record_of({{L"id", i4(c.id)}, {L"v", text(c.v)}, {L"n", c.n}, {L"d", text(c.d)}}));
                EXPECT_EQ(*c.error, 0) << c.error;
            } catch (const sql_exception& e) {
                ++refused;
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(refused, 4u);
        EXPECT_EQ(rows("SELECT COUNT(*) FROM s")[0][0], "2");
        engine_->fast_insert = true;
    }
}

TEST_P(safety_test, reported_values_are_shortened) {
    db_.conn().exec("CREATE TABLE s (id INT PRIMARY KEY, v VARCHAR(5))");
    auto& d = open();
    report_capture reports;
    {
        auto t = d.get_table(L"s", 1);
        t->append_record(record_of({{L"id", i4(1)}, {L"v", text(L"ok")}}));
        t->append_record(record_of({{L"id", i4(2)}, {L"v", text(std::wstring(300, L'\u00e9'))}}));
    }
    ASSERT_EQ(reports.lines.size(), 1u);
    const std::string& line = reports.lines[0];
    EXPECT_EQ(line.rfind("Table 's', row 2: ", 0), 0u) << line;
    EXPECT_LT(line.size(), 300u) << line;
    EXPECT_NE(line.find("...)"), std::string::npos) << line;
    EXPECT_EQ(rows("SELECT COUNT(*) FROM s")[0][0], "1");
}

// Singles at their limits read back equal; a FLOAT key finds its row.
TEST_P(safety_test, float_values_and_keys) {
    auto& d = open();
    auto t = d.create_table(L"f", schema_of({column(L"id", VT_I4, 4, true), column(L"f", VT_R4, 4)}),
                            indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    const std::vector<float> values = {FLT_MAX, -FLT_MAX, 1.1f, FLT_MIN, -3.4028232e+38f, 16777217.0f};
    int id = 0;
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        for (float v : values) {
            ole_variant x;
            x.set_r4(v);
            t->append_record(record_of({{L"id", i4(++id)}, {L"f", x}}));
        }
    }
    as_table(*t).flush();
    const auto stored = rows("SELECT CAST(f AS DOUBLE) FROM f ORDER BY id");
    ASSERT_EQ(stored.size(), 2 * values.size());
    for (size_t i = 0; i < stored.size(); ++i)
        EXPECT_EQ(static_cast<float>(std::strtod(stored[i][0]->c_str(), nullptr)), values[i % values.size()])
            << *stored[i][0];

    report_capture reports;
    ole_variant key;
    key.set_r4(1.1f);
    t->delete_key(record_of({{L"f", key}}));
    ole_variant half;
    half.set_r4(0.5f);
    t->update(record_of({{L"f", half}}), L"<f>3.4028235e+38</f>");
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    // Each value was written twice, once per road.
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(id ORDER BY id) FROM f WHERE f = 0.5")[0][0], "1,7");
    EXPECT_EQ(rows("SELECT COUNT(*) FROM f")[0][0], "10");
}

TEST_P(safety_test, datetime_and_time_columns_keep_fractions) {
    t_ftd when = column(L"w", VT_DATE, 19);
    when.reserved = 1;
    t_ftd span = column(L"t", VT_DATE, 8);
    span.reserved = 3;
    auto& d = open();
    auto t = d.create_table(L"frac", schema_of({when, span}), udb_indexes());
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(column_type ORDER BY ordinal_position) FROM information_schema.columns "
                   "WHERE table_schema = DATABASE() AND table_name = 'frac'")[0][0],
              "datetime(6),time(6)");
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        t->append_record(record_of({{L"w", ole_variant::from_wstring(L"2024-02-29 13:45:07.789012", VT_DATE)},
                                    {L"t", ole_variant::from_wstring(L"13:45:07.789012", VT_DATE)}}));
    }
    as_table(*t).flush();
    EXPECT_EQ(rows("SELECT w, t FROM frac"), (std::vector<row>{{"2024-02-29 13:45:07.789012", "13:45:07.789012"},
                                                                {"2024-02-29 13:45:07.789012", "13:45:07.789012"}}));
}

// The rewritten functions mean on the server what they meant in the source
// dialect; a failing view reaches the process's reporter.
TEST_P(safety_test, view_functions_keep_their_meaning_and_failures_are_reported) {
    auto& d = open();
    report_capture reports;
    d.create_views({{L"v_f", L"select datediff(day, '2024-01-01', '2024-01-31') as dd, len('\u00e9t\u00e9') as l, "
                             L"getdate() as g"},
                    {L"v_fail", L"select * from nowhere"}});
    EXPECT_EQ(rows("SELECT dd, l, LENGTH(g) FROM v_f"), (std::vector<row>{{"30", "3", "19"}}));
    ASSERT_EQ(reports.lines.size(), 1u);
    EXPECT_EQ(reports.lines[0].rfind("View 'v_fail': ", 0), 0u) << reports.lines[0];
    EXPECT_EQ(d.get_failed_views(), std::vector<std::wstring>{L"v_fail"});
}

// Appending, updating and deleting find a record's field for a column by
// one rule: the source name, or the name table creation gave the column.
TEST_P(safety_test, renamed_columns_take_their_fields) {
    auto& d = open();
    auto t = d.create_table(L"r", schema_of({column(L"id", VT_I4, 4, true), column(L"a*b", VT_BSTR, 10),
                                             column(L"c", VT_BSTR, 10)}),
                            indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(column_name ORDER BY ordinal_position) FROM information_schema.columns "
                   "WHERE table_schema = DATABASE() AND table_name = 'r'")[0][0],
              "id,a_b,c");
    for (bool fast : {true, false}) {
        engine_->fast_insert = fast;
        const int base = fast ? 0 : 10;
        t->append_record(record_of({{L"c", text(L"c1")}, {L"A*B", text(L"x1")}, {L"id", i4(base + 1)}}));
        t->append_record(record_of({{L"id", i4(base + 2)}, {L"a*b", text(L"x2")}}));
    }
    as_table(*t).flush();
    report_capture reports;
    t->update(record_of({{L"id", i4(2)}, {L"a*b", text(L"y2")}}));
    t->delete_key(record_of({{L"a*b", text(L"x1")}, {L"id", i4(11)}}));
    EXPECT_TRUE(reports.lines.empty()) << reports.lines.front();
    EXPECT_EQ(rows("SELECT id, a_b, c FROM r ORDER BY id"),
              (std::vector<row>{{"1", "x1", "c1"}, {"2", "y2", std::nullopt}, {"12", "x2", std::nullopt}}));
}

INSTANTIATE_TEST_SUITE_P(modes, safety_test, every_server_mode(), server_mode_param_name);

}  // namespace
