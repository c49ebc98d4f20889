// The schema of new tables within the server's row limits, and the field
// finder of appended rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sql_sch.h"
#include "sql_util.h"
#include "sql_vali.h"
#include "sql_write_test_util.h"
#include "test_server.h"
#include "udb_names_map.h"
#include "udb_record.h"

using namespace sql_write_test;

namespace {

t_ftd text(const std::wstring& name, uint32_t size) { return column(name, VT_BSTR, size); }

std::vector<uint32_t> sizes(const sql_schema& s) {
    std::vector<uint32_t> out;
    for (const t_ftd* d : s) out.push_back(d->size);
    return out;
}

TEST(SqlSchema, NullDescriptorIsAnInternalError) {
    sql_schema s;
    expect_assertion([&] { s.push_back(static_cast<t_ftd*>(nullptr)); }, "sql_sch", 24);
    EXPECT_TRUE(s.empty());
}

TEST(SqlSchema, LargestNewestStringIsConvertedFirst) {
    log_capture log;
    sql_schema s;
    s.push_back(text(L"a", 10000));
    EXPECT_TRUE(log.has_line("sql_schema::push_back(a, size=10000)"));
    EXPECT_TRUE(log.has_line("Special processing for string values"));
    EXPECT_TRUE(log.has_line("Insert new column into 'lobs' at pos=0"));
    s.push_back(text(L"b", 10000));
    // b went ahead of the equal-sized a and was converted.
    EXPECT_EQ(sizes(s), (std::vector<uint32_t>{10000, 0}));
    EXPECT_TRUE(log.has_line("Column 'b' converted into LONG TEXT"));
    s.push_back(text(L"c", 10000));
    EXPECT_EQ(sizes(s), (std::vector<uint32_t>{10000, 0, 0}));
    EXPECT_EQ(s.get_lobs(), (std::vector<uint32_t>{0}));
    EXPECT_LE(s.get_total_size(), sql_schema::max_row_bytes);
}

TEST(SqlSchema, LobsStayOrderedBySize) {
    sql_schema s;
    s.push_back(text(L"a", 10));
    s.push_back(text(L"b", 30));
    s.push_back(column(L"n", VT_I4));
    s.push_back(text(L"c", 20));
    s.push_back(text(L"d", 30));
    s.push_back(column(L"f", VT_BSTR, 5, 16));
    EXPECT_EQ(s.get_lobs(), (std::vector<uint32_t>{4, 1, 3, 0, 5}));
}

TEST(SqlSchema, LargeStringsAreNeverConvertedAndPushNothingOut) {
    sql_schema s;
    for (uint32_t size : {0u, 21845u, 21846u, 5592405u, 5592406u}) s.push_back(text(L"t", size));
    s.push_back(column(L"b", VT_BLOB, 70000));
    s.push_back(column(L"g", VT_BSTR, 100, 2));
    EXPECT_TRUE(s.get_lobs().empty());
    // Such columns take a reference's share of the row, not their length.
    s.push_back(text(L"v", 100));
    EXPECT_EQ(sizes(s), (std::vector<uint32_t>{0, 21845, 21846, 5592405, 5592406, 70000, 100, 100}));
}

TEST(SqlSchema, FullRowIsKeptOneMoreByteIsNot) {
    sql_schema full;
    full.push_back(text(L"a", 16383));  // 65532 bytes, 2 length bytes, 1 NULL flag byte
    EXPECT_EQ(full.get_total_size(), 65535u);
    EXPECT_EQ(sizes(full), (std::vector<uint32_t>{16383}));

    sql_schema over;
    over.push_back(text(L"a", 16383));
    over.push_back(column(L"n", VT_I4));
    EXPECT_EQ(sizes(over), (std::vector<uint32_t>{0, 0}));
    EXPECT_LE(over.get_total_size(), sql_schema::max_row_bytes);
}

TEST(SqlSchema, ConvertedColumnLosesItsServerType) {
    sql_schema s;
    t_ftd d = text(L"a", 20000);
    d.native_type = L"varchar(20000)";
    s.push_back(d);
    EXPECT_EQ(s[0]->size, 0u);
    EXPECT_TRUE(s[0]->native_type.empty());
    EXPECT_EQ(get_sql_native_type2(s[0], false), L"LONGTEXT");
}

TEST(SqlSchema, PageLimitConvertsSmallStrings) {
    sql_schema fits, over, other_engine;
    other_engine.set_page_limit(false);
    for (int i = 0; i < 40; ++i) fits.push_back(text(L"c" + std::to_wstring(i), 50));
    for (int i = 0; i < 41; ++i) {
        over.push_back(text(L"c" + std::to_wstring(i), 50));
        other_engine.push_back(text(L"c" + std::to_wstring(i), 50));
    }
    const auto fit_sizes = sizes(fits);
    EXPECT_EQ(std::count(fit_sizes.begin(), fit_sizes.end(), 0u), 0);
    const auto over_sizes = sizes(over);
    EXPECT_EQ(std::count(over_sizes.begin(), over_sizes.end(), 0u), 1);
    EXPECT_EQ(over_sizes.back(), 0u);  // the newest of the largest
    EXPECT_LE(over.get_page_size(), sql_schema::max_page_bytes);
    const auto other_sizes = sizes(other_engine);
    EXPECT_EQ(std::count(other_sizes.begin(), other_sizes.end(), 0u), 0);
}

TEST(SqlSchema, BinaryStringsBecomeLongBlobs) {
    sql_schema s;
    for (int i = 0; i < 40; ++i) s.push_back(column(L"b" + std::to_wstring(i), VT_BYTE_ARRAY, 255));
    EXPECT_LE(s.get_page_size(), sql_schema::max_page_bytes);
    int converted = 0;
    for (const t_ftd* d : s) {
        if (d->size != 0) continue;
        ++converted;
        EXPECT_EQ(get_sql_native_type2(d, false), L"LONGBLOB");
    }
    EXPECT_GT(converted, 0);
    EXPECT_LT(converted, 40);
}

TEST(SqlSchema, TinyStringsGiveNoRoom) {
    // Columns of up to five characters take no more of the page than LONGTEXT.
    sql_schema s;
    for (int i = 0; i < 500; ++i) s.push_back(text(L"c" + std::to_wstring(i), 5));
    const auto all = sizes(s);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
}

// --- The server accepts the tables the schema gives ---------------------------------

std::string create_statement(const std::string& table, const sql_schema& s) {
    std::string sql = "CREATE TABLE " + table + " (";
    for (size_t i = 0; i < s.size(); ++i) {
        const t_ftd& d = *s[i];
        if (i) sql += ", ";
        sql += "`" + u8(d.name) + "` " + u8(get_sql_native_type2(&d, false));
        if (d.vartype == VT_BSTR && d.reserved != 2 && d.reserved != 8) sql += " CHARACTER SET utf8mb4";
        if (d.b_not_null) sql += " NOT NULL";
    }
    return sql + ") ENGINE=InnoDB";
}

struct table_case {
    const char* what;
    std::vector<t_ftd> columns;
};

std::vector<t_ftd> many(int n, const t_ftd& d) {
    std::vector<t_ftd> out;
    for (int i = 0; i < n; ++i) out.push_back(d);
    return out;
}

std::vector<t_ftd> operator+(std::vector<t_ftd> a, const std::vector<t_ftd>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

t_ftd not_null(t_ftd d) {
    d.b_not_null = true;
    return d;
}

t_ftd decimal(int32_t precision, int32_t scale) {
    t_ftd d = column(L"d", VT_DECIMAL);
    d.precision = precision;
    d.scale = scale;
    return d;
}

FENNROW_SERVER_TESTS(SqlSchemaOnServer);

TEST(SqlSchemaOnServer, EveryTableIsAccepted) {
    engine_at e(new_server);
    fennrow_test::test_database db("schema");
    const std::vector<table_case> cases = {
        {"three long strings", many(3, text(L"", 10000))},
        {"full row", many(1, text(L"", 16383))},
        {"full row and a number", many(1, text(L"", 16383)) + many(1, column(L"", VT_I4))},
        {"full row of NOT NULL strings", many(2, not_null(text(L"", 8191)))},
        {"41 small strings", many(41, text(L"", 50))},
        {"300 small strings", many(300, text(L"", 60))},
        {"strings and numbers", many(30, text(L"", 1000)) + many(100, column(L"", VT_I8)) +
                                    many(10, decimal(30, 10)) + many(5, column(L"", VT_BSTR, 255, 16)) +
                                    many(5, column(L"", VT_DATE, 0, 1)) + many(3, column(L"", VT_DATE, 0, 0))},
        {"fixed width text", many(80, column(L"", VT_BSTR, 200, 16))},
        {"fixed width small text", many(40, column(L"", VT_BSTR, 60, 16))},
        {"many numbers and strings", many(900, column(L"", VT_R8)) + many(20, text(L"", 40))},
        {"binary and text", many(200, column(L"", VT_BLOB, 255)) + many(50, text(L"", 300))},
        {"row just fits", many(1, text(L"", 16382)) + many(1, column(L"", VT_I1))},
        {"row with a decimal", many(1, text(L"", 16382)) + many(1, not_null(decimal(19, 4)))},
        {"NOT NULL numbers and a long string", many(200, not_null(column(L"", VT_I4))) + many(1, text(L"", 16000))},
        {"large strings", many(20, text(L"", 21845)) + many(20, text(L"", 0)) + many(5, text(L"", 5000))},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sql_schema s;
        int i = 0;
        for (t_ftd d : c.columns) {
            d.name = L"c" + std::to_wstring(i++);
            s.push_back(d);
        }
        EXPECT_LE(s.get_total_size(), sql_schema::max_row_bytes);
        const std::string sql = create_statement("t" + std::to_string(n++), s);
        std::string error;
        EXPECT_EQ(db.conn().try_exec(sql, &error), 0u) << error;
    }
}

TEST(SqlSchemaOnServer, TablesWithoutTheLimitsAreRefused) {
    // The limits are real: the same columns unconverted are refused.
    engine_at e(new_server);
    fennrow_test::test_database db("schema_raw");
    // Built outside the rules: a plain udb_schema keeps every column as given.
    udb_schema raw_row, raw_page;
    raw_row.push_back(text(L"a", 16383));
    raw_row.push_back(column(L"n", VT_I4));
    for (int i = 0; i < 41; ++i) raw_page.push_back(text(L"c" + std::to_wstring(i), 50));
    auto statement = [](const std::string& table, const udb_schema& s) {
        std::string sql = "CREATE TABLE " + table + " (";
        for (size_t i = 0; i < s.size(); ++i) {
            if (i) sql += ", ";
            sql += "`" + u8(s[i]->name) + "` " + u8(get_sql_native_type2(s[i], false));
            if (s[i]->vartype == VT_BSTR) sql += " CHARACTER SET utf8mb4";
        }
        return sql + ") ENGINE=InnoDB";
    };
    EXPECT_EQ(db.conn().try_exec(statement("r", raw_row)), 1118u);
    EXPECT_EQ(db.conn().try_exec(statement("p", raw_page)), 1118u);
}

// --- Field finder -------------------------------------------------------------------------

udb_record record_of(std::initializer_list<const wchar_t*> names) {
    udb_record r;
    for (const wchar_t* n : names) r.push_back(std::make_unique<udb_field>(n, 10, ole_variant(L"v")));
    return r;
}

TEST(FieldFinder, FindsFieldsBySourceNameIgnoringCase) {
    engine_at e(new_server);
    udb_names_map map;
    map.add_fn_map(L"orders", {{L"Order Id", L"order_id"}, {L"Name", L"name"}});
    const udb_record record = record_of({L"order_id", L"name", L"extra"});
    log_capture log;
    sql_field_finder finder(L"orders", record, &map);
    EXPECT_TRUE(log.has_line("sql_field_finder::ctor(orders)"));
    EXPECT_TRUE(log.has_line("Name=order_id, original name=Order Id"));
    EXPECT_EQ(finder.get_original_names(), (std::vector<std::wstring>{L"Order Id", L"Name", L"extra"}));
    EXPECT_EQ(finder.get_field_idx(L"Order Id"), 0);
    EXPECT_EQ(finder.get_field_idx(L"ORDER ID"), 0);
    EXPECT_EQ(finder.get_field_idx(L"name"), 1);
    EXPECT_EQ(finder.get_field_idx(L"Extra"), 2);
    EXPECT_EQ(finder.get_field_idx(L"order_id"), -1);
    EXPECT_EQ(finder.get_field_idx(L"Order"), -1);
    EXPECT_EQ(finder.get_field_idx(L""), -1);
    // The source names are never acceptable as new names.
    EXPECT_FALSE(finder.get_validator().is_acceptable(L"order id"));
    EXPECT_TRUE(finder.get_validator().is_acceptable(L"order id 2"));
    EXPECT_NE(dynamic_cast<sql_new_fn_validator*>(&finder.get_validator()), nullptr);
}

TEST(FieldFinder, ValidatorFollowsTheServerVersion) {
    engine_at e(old_server);
    const udb_record record = record_of({L"a"});
    sql_field_finder finder(L"t", record, nullptr);
    EXPECT_NE(dynamic_cast<sql_old_fn_validator*>(&finder.get_validator()), nullptr);
    EXPECT_EQ(finder.get_field_idx(L"A"), 0);
}

TEST(FieldFinder, NeedsTheEngine) {
    ASSERT_EQ(sql_engine::peek(), nullptr);
    const udb_record record = record_of({L"a"});
    expect_assertion([&] { sql_field_finder finder(L"t", record, nullptr); }, tk_singl_source, 64);
}

}  // namespace
