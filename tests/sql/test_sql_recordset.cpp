// Streaming recordsets against the test server: every column type and its
// values, pages, rows that change under the cursor, stored queries, broken
// streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "param_names.h"
#include "sql_excep.h"
#include "sql_row_stream.h"
#include "sql_recs.h"
#include "sql_run.h"
#include "sql_test_util.h"

using namespace std::string_literals;
using fennrow_test::quote_name;
using fennrow_test::test_database;
using fennrow_test::test_sql_conn;
using sql_test::engine_session;
using sql_test::scalar;

namespace {

// Rows of a table: ids 1..n in column id (the sequence engine makes them).
void fill_ids(test_sql_conn& c, const std::string& table, unsigned n, const std::string& extra = "") {
    if (n == 0) return;
    c.exec("INSERT INTO " + quote_name(table) + " SELECT seq" + extra + " FROM seq_1_to_" + std::to_string(n));
}

// Reads a recordset to its end; the ids of column 0.
std::vector<long> read_ids(sql_recordset& rs) {
    std::vector<long> ids;
    rs.reset();
    while (!rs.is_eof()) {
        udb_record* r = rs.get_record();
        if (!r) {
            ADD_FAILURE() << "no record at position " << rs.get_position();
            break;
        }
        ids.push_back(r->at(0)->to_long());
        rs.next();
    }
    EXPECT_EQ(rs.get_record(), nullptr);
    return ids;
}

std::vector<long> iota_ids(long from, long to) {
    std::vector<long> v;
    for (long i = from; i <= to; ++i) v.push_back(i);
    return v;
}

// --- Every column type --------------------------------------------------------

const char* const all_types_ddl =
    "CREATE TABLE all_types ("
    " id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,"
    " ti TINYINT, tiu TINYINT UNSIGNED, si SMALLINT, siu SMALLINT UNSIGNED,"
    " mi MEDIUMINT, miu MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, bi BIGINT, biu BIGINT UNSIGNED,"
    " f FLOAT, d DOUBLE, dec2 DECIMAL(10,2) UNSIGNED, dec28 DECIMAL(28,10), dec65 DECIMAL(65,30),"
    " dt DATE, dz DATE, dtm DATETIME(6), dtz DATETIME, ts TIMESTAMP NULL DEFAULT NULL,"
    " tm TIME, tmn TIME, tm3 TIME(3), y YEAR,"
    " b1 BIT(1), b12 BIT(12), b64 BIT(64),"
    " c CHAR(5), vc VARCHAR(10) COLLATE utf8mb4_bin, ve VARCHAR(10), l1 CHAR(2) CHARACTER SET latin1,"
    " bin BINARY(4), vb VARBINARY(8), vbt VARBINARY(8), tb TINYBLOB, bl BLOB, mb MEDIUMBLOB, lb LONGBLOB,"
    " tt TINYTEXT, tx TEXT, mt MEDIUMTEXT, lt LONGTEXT,"
    " en ENUM('a','b'), st SET('p','q'), js JSON, g GEOMETRY, pt POINT, i6 INET6, uu UUID)";

const char* const all_types_row =
    "INSERT INTO all_types VALUES (1,"
    " -128, 255, -32768, 65535, -8388608, 16777215, -2147483648, 4294967295,"
    " -9223372036854775808, 18446744073709551615,"
    " 1.5, 2.25, 12.50, '-123456789012345678.0123456789',"
    " '-12345678901234567890123456789012345.123456789012345678901234567890',"
    " '2024-02-29', '0000-00-00', '2024-01-02 03:04:05.123456', '0000-00-00 00:00:00', '2024-05-06 07:08:09',"
    " '-838:59:59', '12:34:56', '838:59:59.500', 2024,"
    " b'1', b'101000000101', x'FFFFFFFFFFFFFFFF',"
    " ' ab', _utf8mb4 x'78F09F9880', '', _utf8mb4 x'C3A4',"
    " x'00010200', x'00FF', 'abc', x'616200', _utf8mb4 x'68C3A96C6C6F', '', x'FFFE',"
    " 'a', _utf8mb4 x'C3A4C39F', _utf8mb4 x'F09F9880', CONCAT('a', CHAR(0), 'b'),"
    " 'b', 'p,q', '{\"a\": 1}', ST_GeomFromText('POINT(1 2)'), POINT(3, 4), '::1',"
    " '123e4567-e89b-12d3-a456-426614174000')";

struct expected_cell {
    const char* name;
    VARTYPE vt;            // blob_to_text off
    std::wstring text;
    VARTYPE vt_as_text;    // blob_to_text on
    std::wstring text_as_text;
    VARTYPE schema_vt = VT_EMPTY;  // the column's type when its cells differ from it
};

std::vector<expected_cell> all_types_expected() {
    auto same = [](const char* n, VARTYPE vt, std::wstring t) { return expected_cell{n, vt, t, vt, t}; };
    // A time span: a TIME column, its cells kept as the server's text.
    auto span = [](const char* n, std::wstring t) { return expected_cell{n, VT_BSTR, t, VT_BSTR, t, VT_DATE}; };
    return {
        same("id", VT_I4, L"1"),
        same("ti", VT_I1, L"-128"),
        same("tiu", VT_UI1, L"255"),
        same("si", VT_I2, L"-32768"),
        same("siu", VT_UI2, L"65535"),
        same("mi", VT_I4, L"-8388608"),
        same("miu", VT_I4, L"16777215"),
        same("i", VT_I4, L"-2147483648"),
        same("iu", VT_UI4, L"4294967295"),
        same("bi", VT_I8, L"-9223372036854775808"),
        same("biu", VT_UI8, L"18446744073709551615"),
        same("f", VT_R4, L"1.5"),
        same("d", VT_R8, L"2.25"),
        same("dec2", VT_DECIMAL, L"12.5"),
        same("dec28", VT_DECIMAL, L"-123456789012345678.0123456789"),
        same("dec65", VT_BSTR, L"-12345678901234567890123456789012345.123456789012345678901234567890"),
        same("dt", VT_DATE, L"2024-02-29"),
        same("dz", VT_DATE, L"0000-00-00"),
        same("dtm", VT_DATE, L"2024-01-02 03:04:05.123456"),
        same("dtz", VT_DATE, L"0000-00-00 00:00:00"),
        same("ts", VT_DATE, L"2024-05-06 07:08:09"),
        span("tm", L"-838:59:59"),
        same("tmn", VT_DATE, L"0000-00-00 12:34:56"),
        span("tm3", L"838:59:59.500"),
        same("y", VT_UI2, L"2024"),
        same("b1", VT_BOOL, L"1"),
        same("b12", VT_UI2, L"2565"),
        same("b64", VT_UI8, L"18446744073709551615"),
        same("c", VT_BSTR, L" ab"),
        same("vc", VT_BSTR, L"x\U0001F600"),
        same("ve", VT_BSTR, L""),
        same("l1", VT_BSTR, L"\u00E4"),
        same("bin", VT_BYTE_ARRAY, L"0x00010200"),
        same("vb", VT_BYTE_ARRAY, L"0x00FF"),
        {"vbt", VT_BYTE_ARRAY, L"0x616263", VT_BSTR, L"abc"},
        same("tb", VT_BYTE_ARRAY, L"0x616200"),
        {"bl", VT_BYTE_ARRAY, L"0x68C3A96C6C6F", VT_BSTR, L"h\u00E9llo"},
        {"mb", VT_BYTE_ARRAY, L"", VT_BSTR, L""},
        same("lb", VT_BYTE_ARRAY, L"0xFFFE"),
        same("tt", VT_BSTR, L"a"),
        same("tx", VT_BSTR, L"\u00E4\u00DF"),
        same("mt", VT_BSTR, L"\U0001F600"),
        same("lt", VT_BSTR, L"a"),  // the text holds "a\0b"; its text form ends at the zero
        same("en", VT_BSTR, L"b"),
        same("st", VT_BSTR, L"p,q"),
        same("js", VT_BSTR, L"{\"a\": 1}"),
        same("g", VT_BSTR, L"POINT(1 2)"),
        same("pt", VT_BSTR, L"POINT(3 4)"),
        same("i6", VT_BSTR, L"::1"),
        same("uu", VT_BSTR, L"123e4567-e89b-12d3-a456-426614174000"),
    };
}

class AllTypes : public ::testing::TestWithParam<bool> {};

FENNROW_SERVER_TESTS(AllTypes);

TEST_P(AllTypes, EveryColumnGivesItsExactValue) {
    const bool blob_to_text = GetParam();
    test_database db("all_types");
    db.conn().exec("SET SESSION sql_mode = ''");
    db.conn().exec(all_types_ddl);
    db.conn().exec(all_types_row);
    db.conn().exec("INSERT INTO all_types (id) VALUES (2)");

    engine_session s;
    s.use(db.name());
    s.engine.set_blob_to_text(blob_to_text);
    sql_recordset rs(nullptr, s.conn(), L"all_types", nullptr);
    const std::vector<expected_cell> expected = all_types_expected();

    rs.count();
    EXPECT_EQ(rs.get_record_count(), 2u);
    // A geometry column makes the table a query of its select list.
    EXPECT_TRUE(rs.is_query());
    EXPECT_NE(rs.get_query_text().find(L"ST_AsText(`g`) as `g`"), std::wstring::npos) << rs.get_query_text();

    const udb_schema& schema = rs.get_schema();
    ASSERT_EQ(schema.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(schema[i]->name, tk_from_utf8(expected[i].name));
        // NULL cells aside, the descriptor's type is the cells' type (binary
        // cells read as text may still be bytes when they are not UTF-8).
        VARTYPE want = blob_to_text && expected[i].vt == VT_BYTE_ARRAY ? VT_BSTR : expected[i].vt;
        if (expected[i].schema_vt != VT_EMPTY) want = expected[i].schema_vt;
        EXPECT_EQ(schema[i]->vartype, want) << expected[i].name;
    }
    const t_ftd& id = schema.get_field1(L"id");
    EXPECT_TRUE(id.auto_increment);
    EXPECT_TRUE(id.b_not_null);
    EXPECT_FALSE(schema.get_field1(L"ti").b_not_null);
    EXPECT_EQ(schema.get_field1(L"dec2").precision, 10);
    EXPECT_EQ(schema.get_field1(L"dec2").scale, 2);
    EXPECT_EQ(schema.get_field1(L"dec65").precision, 65);
    EXPECT_EQ(schema.get_field1(L"dec65").scale, 30);
    EXPECT_EQ(schema.get_field1(L"dtm").reserved, 1u);
    EXPECT_EQ(schema.get_field1(L"dt").reserved, 2u);
    EXPECT_EQ(schema.get_field1(L"tm").reserved, 3u);
    EXPECT_EQ(schema.get_field1(L"bi").reserved, 1u);
    EXPECT_EQ(schema.get_field1(L"biu").reserved, 2u);
    EXPECT_EQ(schema.get_field1(L"g").reserved, 2u);
    EXPECT_EQ(rs.get_auto_number_column(), L"id");

    rs.reset();
    ASSERT_FALSE(rs.is_eof());
    const udb_record* row = rs.get_record();
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const expected_cell& e = expected[i];
        const udb_field* f = row->at(i);
        EXPECT_EQ(f->get_name(), tk_from_utf8(e.name));
        EXPECT_EQ(f->get_type(), blob_to_text ? e.vt_as_text : e.vt) << e.name;
        EXPECT_EQ(f->to_wstring(), blob_to_text ? e.text_as_text : e.text) << e.name;
    }
    EXPECT_EQ(row->get_field(L"lt").get_bstr(), L"a\0b"s);
    EXPECT_EQ(row->get_field(L"dec2").get_decimal().scale, 2);

    rs.next();
    ASSERT_FALSE(rs.is_eof());
    row = rs.get_record();
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at(0)->to_long(), 2);
    for (size_t i = 1; i < row->size(); ++i) EXPECT_EQ(row->at(i)->get_type(), VT_EMPTY) << expected[i].name;

    rs.next();
    EXPECT_TRUE(rs.is_eof());
    EXPECT_EQ(rs.get_position(), 2u);
}

INSTANTIATE_TEST_SUITE_P(BlobToText, AllTypes, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "blobs_as_text" : "blobs_as_bytes");
});

// --- Pages ---------------------------------------------------------------------

class Pages : public ::testing::TestWithParam<unsigned> {};

FENNROW_SERVER_TESTS(Pages);

TEST_P(Pages, EveryRowOnceInOrder) {
    const unsigned n = GetParam();
    test_database db("pages");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY)");
    fill_ids(db.conn(), "t", n);
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    rs.count();
    EXPECT_EQ(rs.get_record_count(), n);
    EXPECT_FALSE(rs.is_query());
    EXPECT_EQ(read_ids(rs), iota_ids(1, n));
    EXPECT_EQ(rs.get_position(), n);
    rs.next();  // at the end nothing moves
    EXPECT_TRUE(rs.is_eof());
    EXPECT_EQ(rs.get_position(), n);
    // A second pass reads the same rows again.
    EXPECT_EQ(read_ids(rs), iota_ids(1, n));
}

INSTANTIATE_TEST_SUITE_P(RowCounts, Pages, ::testing::Values(0u, 1u, 255u, 256u, 257u, 513u),
                         [](const auto& info) { return "rows_" + std::to_string(info.param); });

TEST(Pages, LargeRowsMakeSmallerPages) {
    test_database db("big_rows");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, b LONGBLOB)");
    fill_ids(db.conn(), "t", 120, ", REPEAT(CHAR(65 + seq % 26), 200000)");
    engine_session s;
    s.use(db.name());
    s.engine.set_blob_to_text(true);
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    rs.reset();
    // 200 kB rows: a page holds far fewer than 256 of them (8 MiB at most).
    EXPECT_GT(rs.get_page_rows(), 0u);
    EXPECT_LE(rs.get_page_rows(), (sql_record_page::max_bytes / 200000) + 1);
    long count = 0;
    while (!rs.is_eof()) {
        const udb_record* r = rs.get_record();
        ASSERT_NE(r, nullptr);
        ++count;
        EXPECT_EQ(r->at(0)->to_long(), count);
        const std::wstring& text = r->at(1)->get_bstr();
        ASSERT_EQ(text.size(), 200000u);
        EXPECT_EQ(text.front(), static_cast<wchar_t>(L'A' + count % 26));
        EXPECT_EQ(text.back(), text.front());
        EXPECT_LE(rs.get_page_rows(), (sql_record_page::max_bytes / 200000) + 1);
        rs.next();
    }
    EXPECT_EQ(count, 120);
}

TEST(Pages, TableIsStreamedOncePerPass) {
    test_database db("read_once");
    db.conn().exec("CREATE TABLE t (id INT, s VARCHAR(20)) ENGINE=InnoDB");
    fill_ids(db.conn(), "t", 1000, ", 'row'");
    engine_session s;
    s.use(db.name());
    auto scans = [&] {
        return sql_test::scalar_number(s.conn(),
                                       "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                       "WHERE VARIABLE_NAME = 'HANDLER_READ_RND_NEXT'");
    };
    const long long before = scans();
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    const long long after_open = scans();
    EXPECT_EQ(read_ids(rs).size(), 1000u);
    const long long after_read = scans();
    // Opening reads the rows once, for the count; the columns come from a
    // LIMIT 0 statement. The pass streams each row once.
    EXPECT_LT(after_open - before, 1100) << "rows scanned while opening";
    EXPECT_LT(after_read - after_open, 1100) << "rows scanned while reading";
    EXPECT_GE(after_read - after_open, 1000);
}

FENNROW_SERVER_TESTS(ChangingRows);

// --- Rows that change between the count and the stream ---------------------------

TEST(ChangingRows, TheStreamDecidesTheEnd) {
    test_database db("changing");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY)");
    fill_ids(db.conn(), "t", 10);
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    EXPECT_FALSE(rs.is_record_count_known());  // opening counts nothing
    rs.count();
    EXPECT_TRUE(rs.is_record_count_known());
    EXPECT_EQ(rs.get_record_count(), 10u);

    // Rows added after the count: none vanishes.
    db.conn().exec("INSERT INTO t SELECT seq FROM seq_11_to_300");
    EXPECT_EQ(read_ids(rs), iota_ids(1, 300));
    EXPECT_EQ(rs.get_record_count(), 10u);  // a pass counts nothing

    // Rows removed: no empty slot is handed out.
    db.conn().exec("DELETE FROM t WHERE id > 5");
    EXPECT_EQ(read_ids(rs), iota_ids(1, 5));
    rs.count();
    EXPECT_EQ(rs.get_record_count(), 5u);
}

// --- Stored queries -------------------------------------------------------------

class StoredQuery : public ::testing::TestWithParam<std::wstring> {};

FENNROW_SERVER_TESTS(StoredQuery);

TEST_P(StoredQuery, IsWrappedAndStreamed) {
    test_database db("queries");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(10))");
    fill_ids(db.conn(), "t", 300, ", 'x;y'");
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"q", GetParam(), nullptr);
    EXPECT_TRUE(rs.is_query());
    rs.count();
    EXPECT_EQ(rs.get_record_count(), 3u);
    ASSERT_GE(rs.get_schema().size(), 1u);
    EXPECT_EQ(rs.get_schema()[0]->name, L"id");
    EXPECT_EQ(read_ids(rs), iota_ids(1, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, StoredQuery,
    ::testing::Values(L"SELECT id FROM t WHERE id <= 3 ORDER BY id", L"SELECT id FROM t WHERE id <= 3 ORDER BY id;",
                      L"SELECT id FROM t WHERE id <= 3 ORDER BY id ;\n\n  ",
                      L"SELECT id FROM t WHERE id <= 3 ORDER BY id -- the first three",
                      L"SELECT id FROM t WHERE id <= 3 ORDER BY id; -- the first three",
                      L"SELECT id, s FROM t # only some;\nWHERE id <= 3 AND s = 'x;y' ORDER BY id;",
                      L"SELECT id, ';' AS semi FROM t WHERE id <= 3 /* ; */ ORDER BY id;"),
    [](const auto& info) { return test_names::indexed(info.index, info.param); });

TEST(StoredQuery, GeometryOfAQueryIsText) {
    test_database db("geo_query");
    db.conn().exec("CREATE TABLE geo (id INT, g POINT); INSERT INTO geo VALUES (1, POINT(5, 6))");
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"q", L"SELECT id, g AS place FROM geo;", nullptr);
    rs.reset();
    ASSERT_FALSE(rs.is_eof());
    EXPECT_EQ(rs.get_record()->get_field(L"place").to_wstring(), L"POINT(5 6)");
    EXPECT_EQ(rs.get_record()->get_field(L"place").get_type(), VT_BSTR);
}

struct refused_case {
    const wchar_t* table;
    const wchar_t* query;
    unsigned number;
};

class Refused : public ::testing::TestWithParam<refused_case> {};

FENNROW_SERVER_TESTS(Refused);

TEST_P(Refused, ServerErrorBecomesSqlExceptionAndTheConnectionStaysUsable) {
    test_database db("refused");
    db.conn().exec("CREATE TABLE a (id INT); CREATE TABLE b (id INT)");
    engine_session s;
    s.use(db.name());
    const refused_case& c = GetParam();
    try {
        if (c.query)
            sql_recordset rs(nullptr, s.conn(), L"q", c.query, nullptr);
        else
            sql_recordset rs(nullptr, s.conn(), c.table, nullptr);
        FAIL() << "no exception";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.code(), 0x400000u | c.number) << e.what();
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT COUNT(*) FROM a"), "0");
}

INSTANTIATE_TEST_SUITE_P(All, Refused,
                         ::testing::Values(refused_case{L"no_such_table", nullptr, 1146},
                                           refused_case{nullptr, L"SELEKT 1", 1064},
                                           refused_case{nullptr, L"SELECT nosuch FROM a", 1054}),
                         [](const auto& info) {
                             const refused_case& c = info.param;
                             return (c.query ? "query_" : "table_") + std::to_string(c.number);
                         });

FENNROW_SERVER_TESTS(TableNames);

TEST(TableNames, AreQuotedInEveryStatement) {
    test_database db("names");
    const std::string name = "we`ird; name";
    db.conn().exec("CREATE TABLE " + quote_name(name) + " (`i``d` INT AUTO_INCREMENT PRIMARY KEY, g POINT)");
    db.conn().exec("INSERT INTO " + quote_name(name) + " VALUES (7, POINT(1, 1)), (9, NULL)");
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), tk_from_utf8(name), nullptr);
    rs.count();
    EXPECT_EQ(rs.get_record_count(), 2u);
    EXPECT_EQ(rs.get_schema().counter1, 9u);
    EXPECT_EQ(rs.get_schema()[0]->name, L"i`d");
    EXPECT_EQ(read_ids(rs), (std::vector<long>{7, 9}));
}

// --- Broken streams ---------------------------------------------------------------

class BrokenStream : public ::testing::TestWithParam<const char*> {};

FENNROW_SERVER_TESTS(BrokenStream);

TEST_P(BrokenStream, KilledMidStreamRaisesSqlException) {
    const std::string kill = GetParam();
    test_database db("killed");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(1000))");
    const unsigned rows = 40000;  // 40 MB: far more than the socket buffers hold
    fill_ids(db.conn(), "t", rows, ", REPEAT('k', 1000)");
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    rs.reset();
    for (int i = 0; i < 300 && !rs.is_eof(); ++i) rs.next();
    ASSERT_FALSE(rs.is_eof());

    test_sql_conn killer;
    killer.exec(kill + " " + std::to_string(mysql_thread_id(s.conn())));

    uint64_t read = rs.get_position();
    bool raised = false;
    try {
        while (!rs.is_eof()) {
            ASSERT_NE(rs.get_record(), nullptr);
            rs.next();
            ++read;
        }
    } catch (const sql_exception& e) {
        raised = true;
        EXPECT_EQ(e.code() & 0x400000u, 0x400000u);
        EXPECT_NE(e.error_number(), 0u) << e.what();
    }
    EXPECT_TRUE(raised) << "the broken stream looked like a normal end after " << read << " rows";
    EXPECT_LT(read, rows);
    EXPECT_TRUE(rs.is_eof());
    EXPECT_EQ(rs.get_record(), nullptr);

    if (kill == "KILL QUERY") {
        // The session survives a killed query and takes the next statement.
        EXPECT_EQ(scalar(s.conn(), "SELECT 42"), "42");
    }
}

INSTANTIATE_TEST_SUITE_P(Kill, BrokenStream, ::testing::Values("KILL CONNECTION", "KILL QUERY"),
                         [](const auto& info) { return test_names::ident(info.param); });

FENNROW_SERVER_TESTS(TmpRecordset);

// --- Small results and internal checks --------------------------------------------

TEST(TmpRecordset, ReadsForwardInCachesOf1000) {
    test_database db("tmp_rs");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY)");
    fill_ids(db.conn(), "t", 2500);
    engine_session s;
    s.use(db.name());
    std::unique_ptr<sql_tmp_recordset> rs = sql_query_rows(s.conn(), L"SELECT id FROM t ORDER BY id");
    ASSERT_NE(rs, nullptr);
    std::vector<long> ids;
    while (!rs->is_eof()) {
        ids.push_back(rs->get_record()->at(0)->to_long());
        rs->next();
    }
    EXPECT_EQ(ids, iota_ids(1, 2500));
    // Read to its end, the result no longer holds the connection.
    EXPECT_EQ(scalar(s.conn(), "SELECT 1"), "1");
    EXPECT_EQ(sql_query_rows(s.conn(), L"SET @x = 1"), nullptr);
}

TEST(TmpRecordset, ListsDatabases) {
    test_database db("list_dbs");
    engine_session s;
    sql_list_databases_rs rs(s.conn());
    bool found = false;
    for (rs.reset(); !rs.is_eof(); rs.next())
        found = found || rs.get_record()->at(0)->to_wstring() == tk_from_utf8(db.name());
    EXPECT_TRUE(found);
}

void expect_assertion(const std::function<void()>& action, const char* file, uint32_t line) {
    try {
        action();
        ADD_FAILURE() << "no assertion for " << file << " " << line;
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(std::string(e.what()), make_err_meggase(file, line));
    }
}

FENNROW_SERVER_TESTS(InternalChecks);

TEST(InternalChecks, AssertAtTheirSites) {
    test_database db("checks");
    db.conn().exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1)");
    engine_session s;
    s.use(db.name());
    sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
    udb_record record;
    expect_assertion([&] { rs.next(); }, "sql_recs", 292);
    expect_assertion([&] { rs.append_record(record); }, "sql_recs", 257);
    {
        sql_tmp_recordset tmp(s.conn(), std::string("SELECT 1"));
        expect_assertion([&] { tmp.append_record(record); }, "sql_recs", 402);
    }
    expect_assertion([&] { sql_tmp_recordset tmp(s.conn(), sql_result_ptr()); }, "sql_recs", 409);
    expect_assertion([&] { sql_tmp_recordset tmp(s.conn(), std::string("SET @y = 2")); }, "sql_recs", 409);
    {
        sql_row_stream q(s.conn(), L"t", false, false);
        expect_assertion([&] { q.store_to(nullptr); }, "sql_row_stream", 66);
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT 5"), "5");
}

}  // namespace
