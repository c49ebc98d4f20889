// The column rules and cell readers of the MySQL back end, the quoting of
// names, the version reader and the wrapping of stored queries: no server.
#include <gtest/gtest.h>

#include <errmsg.h>
#include <mysqld_error.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decimal.h"
#include "sql_cell_util.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_query_text.h"
#include "sql_cell_read.h"
#include "sql_rec.h"
#include "sql_types.h"

#include "param_names.h"

using namespace std::string_literals;

namespace {

MYSQL_FIELD column(enum_field_types type, unsigned int flags = 0, unsigned int charset = 45,
                   unsigned long length = 10) {
    MYSQL_FIELD f;
    std::memset(&f, 0, sizeof f);
    f.type = type;
    f.flags = flags;
    f.charsetnr = charset;
    f.length = length;
    f.name = const_cast<char*>("c");
    f.name_length = 1;
    return f;
}

MYSQL_FIELD decimal_column(unsigned long length, unsigned int decimals, unsigned int flags = 0) {
    MYSQL_FIELD f = column(MYSQL_TYPE_NEWDECIMAL, flags, 63, length);
    f.decimals = decimals;
    return f;
}

ole_variant read_cell(const MYSQL_FIELD& f, const std::string& bytes, bool blob_to_text = false) {
    ole_variant v;
    sql_cell_to_value(sql_column_rule_for(f, blob_to_text), bytes.data(), bytes.size(), v);
    return v;
}

std::vector<uint8_t> bytes_of(const ole_variant& v) {
    return std::vector<uint8_t>(v.binary_data(), v.binary_data() + v.binary_size());
}

constexpr unsigned B = BINARY_FLAG;
constexpr unsigned U = UNSIGNED_FLAG;

// --- Which value type each column gets -------------------------------------

struct rule_case {
    const char* what;
    MYSQL_FIELD field;
    bool blob_to_text;
    VARTYPE vartype;
    sql_cell_kind kind;
};

class ColumnRule : public ::testing::TestWithParam<rule_case> {};

TEST_P(ColumnRule, GivesTypeAndReader) {
    const rule_case& c = GetParam();
    const sql_column_rule r = sql_column_rule_for(c.field, c.blob_to_text);
    EXPECT_EQ(r.vartype, c.vartype) << c.what;
    EXPECT_EQ(static_cast<int>(r.kind), static_cast<int>(c.kind)) << c.what;
}

const rule_case rule_cases[] = {
    {"tinyint", column(MYSQL_TYPE_TINY, 0, 63), false, VT_I1, sql_cell_kind::int_signed},
    {"tinyint unsigned", column(MYSQL_TYPE_TINY, U, 63), false, VT_UI1, sql_cell_kind::int_unsigned},
    {"smallint", column(MYSQL_TYPE_SHORT, 0, 63), false, VT_I2, sql_cell_kind::int_signed},
    {"smallint unsigned", column(MYSQL_TYPE_SHORT, U, 63), false, VT_UI2, sql_cell_kind::int_unsigned},
    {"int", column(MYSQL_TYPE_LONG, 0, 63), false, VT_I4, sql_cell_kind::int_signed},
    {"int unsigned", column(MYSQL_TYPE_LONG, U, 63), false, VT_UI4, sql_cell_kind::int_unsigned},
    {"mediumint unsigned", column(MYSQL_TYPE_INT24, U, 63), false, VT_I4, sql_cell_kind::int_signed},
    {"bigint", column(MYSQL_TYPE_LONGLONG, 0, 63), false, VT_I8, sql_cell_kind::int_signed},
    {"bigint unsigned", column(MYSQL_TYPE_LONGLONG, U, 63), false, VT_UI8, sql_cell_kind::int_unsigned},
    {"float", column(MYSQL_TYPE_FLOAT, 0, 63), false, VT_R4, sql_cell_kind::real4},
    {"double", column(MYSQL_TYPE_DOUBLE, 0, 63), false, VT_R8, sql_cell_kind::real8},
    {"decimal", column(MYSQL_TYPE_NEWDECIMAL, 0, 63), false, VT_DECIMAL, sql_cell_kind::decimal},
    {"old decimal", column(MYSQL_TYPE_DECIMAL, 0, 63), false, VT_DECIMAL, sql_cell_kind::decimal},
    {"decimal(28,10)", decimal_column(30, 10), false, VT_DECIMAL, sql_cell_kind::decimal},
    {"decimal(28,0) unsigned", decimal_column(28, 0, U), false, VT_DECIMAL, sql_cell_kind::decimal},
    {"decimal(29,0)", decimal_column(30, 0), false, VT_BSTR, sql_cell_kind::text},
    {"decimal(65,30)", decimal_column(67, 30), false, VT_BSTR, sql_cell_kind::text},
    {"date", column(MYSQL_TYPE_DATE, B, 63), false, VT_DATE, sql_cell_kind::date},
    {"time", column(MYSQL_TYPE_TIME, B, 63), false, VT_DATE, sql_cell_kind::time},
    {"datetime", column(MYSQL_TYPE_DATETIME, B, 63), false, VT_DATE, sql_cell_kind::datetime},
    {"timestamp", column(MYSQL_TYPE_TIMESTAMP, B, 63), false, VT_DATE, sql_cell_kind::datetime},
    {"year", column(MYSQL_TYPE_YEAR, U, 63), false, VT_UI2, sql_cell_kind::int_unsigned},
    {"bit(1)", column(MYSQL_TYPE_BIT, U, 63, 1), false, VT_BOOL, sql_cell_kind::boolean},
    {"bit(8)", column(MYSQL_TYPE_BIT, U, 63, 8), false, VT_UI1, sql_cell_kind::bits},
    {"bit(12)", column(MYSQL_TYPE_BIT, U, 63, 12), false, VT_UI2, sql_cell_kind::bits},
    {"bit(32)", column(MYSQL_TYPE_BIT, U, 63, 32), false, VT_UI4, sql_cell_kind::bits},
    {"bit(64)", column(MYSQL_TYPE_BIT, U, 63, 64), false, VT_UI8, sql_cell_kind::bits},
    {"varchar", column(MYSQL_TYPE_VAR_STRING, 0, 45), false, VT_BSTR, sql_cell_kind::text},
    // A _bin collation sets the binary flag on a text column.
    {"varchar _bin", column(MYSQL_TYPE_VAR_STRING, B, 45), false, VT_BSTR, sql_cell_kind::text},
    {"char", column(MYSQL_TYPE_STRING, 0, 45), false, VT_BSTR, sql_cell_kind::text},
    {"varbinary", column(MYSQL_TYPE_VAR_STRING, B, 63), false, VT_BYTE_ARRAY, sql_cell_kind::bytes},
    {"binary", column(MYSQL_TYPE_STRING, B, 63), false, VT_BYTE_ARRAY, sql_cell_kind::bytes},
    {"blob", column(MYSQL_TYPE_BLOB, B | 16, 63), false, VT_BYTE_ARRAY, sql_cell_kind::bytes},
    {"longblob", column(MYSQL_TYPE_LONG_BLOB, B | 16, 63), false, VT_BYTE_ARRAY, sql_cell_kind::bytes},
    {"blob, blob_to_text", column(MYSQL_TYPE_BLOB, B | 16, 63), true, VT_BSTR, sql_cell_kind::bytes_or_text},
    {"varbinary, blob_to_text", column(MYSQL_TYPE_VAR_STRING, B, 63), true, VT_BSTR,
     sql_cell_kind::bytes_or_text},
    {"text", column(MYSQL_TYPE_BLOB, 16, 45), false, VT_BSTR, sql_cell_kind::text},
    {"json (binary flag, text charset)", column(MYSQL_TYPE_BLOB, B | 16, 45), false, VT_BSTR,
     sql_cell_kind::text},
    {"enum", column(MYSQL_TYPE_STRING, 256, 45), false, VT_BSTR, sql_cell_kind::text},
    {"geometry as text", column(MYSQL_TYPE_LONG_BLOB, 0, 45), false, VT_BSTR, sql_cell_kind::text},
    {"raw geometry", column(MYSQL_TYPE_GEOMETRY, B | 16, 63), false, VT_BYTE_ARRAY, sql_cell_kind::bytes},
    {"null column", column(MYSQL_TYPE_NULL, B, 63), false, VT_BSTR, sql_cell_kind::text},
};

INSTANTIATE_TEST_SUITE_P(All, ColumnRule, ::testing::ValuesIn(rule_cases),
                         [](const auto& info) { return test_names::ident(info.param.what); });

// --- Cell values ------------------------------------------------------------

struct cell_case {
    const char* what;
    MYSQL_FIELD field;
    std::string bytes;
    bool blob_to_text;
    VARTYPE vartype;
    std::wstring text;  // to_wstring of the value
};

class CellValue : public ::testing::TestWithParam<cell_case> {};

TEST_P(CellValue, HasTypeAndText) {
    const cell_case& c = GetParam();
    const ole_variant v = read_cell(c.field, c.bytes, c.blob_to_text);
    EXPECT_EQ(v.type(), c.vartype) << c.what;
    EXPECT_EQ(v.to_wstring(), c.text) << c.what;
}

const cell_case cell_cases[] = {
    {"tinyint", column(MYSQL_TYPE_TINY, 0, 63), "-128", false, VT_I1, L"-128"},
    {"tinyint unsigned", column(MYSQL_TYPE_TINY, U, 63), "255", false, VT_UI1, L"255"},
    {"smallint", column(MYSQL_TYPE_SHORT, 0, 63), "-32768", false, VT_I2, L"-32768"},
    {"int", column(MYSQL_TYPE_LONG, 0, 63), "-2147483648", false, VT_I4, L"-2147483648"},
    {"int unsigned", column(MYSQL_TYPE_LONG, U, 63), "4294967295", false, VT_UI4, L"4294967295"},
    {"mediumint unsigned", column(MYSQL_TYPE_INT24, U, 63), "16777215", false, VT_I4, L"16777215"},
    {"bigint", column(MYSQL_TYPE_LONGLONG, 0, 63), "-9223372036854775808", false, VT_I8,
     L"-9223372036854775808"},
    {"bigint unsigned", column(MYSQL_TYPE_LONGLONG, U, 63), "18446744073709551615", false, VT_UI8,
     L"18446744073709551615"},
    {"year", column(MYSQL_TYPE_YEAR, U, 63), "2024", false, VT_UI2, L"2024"},
    // Integers by the quick reader and past it: leading zeros (ZEROFILL), 18
    // and 19 digits, a sign the server never sends.
    {"int zerofill", column(MYSQL_TYPE_LONG, U, 63), "0000000042", false, VT_UI4, L"42"},
    {"int minus zero", column(MYSQL_TYPE_LONG, 0, 63), "-0", false, VT_I4, L"0"},
    {"bigint 18 digits", column(MYSQL_TYPE_LONGLONG, 0, 63), "-999999999999999999", false, VT_I8,
     L"-999999999999999999"},
    {"bigint 19 digits", column(MYSQL_TYPE_LONGLONG, 0, 63), "9223372036854775807", false, VT_I8,
     L"9223372036854775807"},
    {"bigint unsigned 20 digits zerofill", column(MYSQL_TYPE_LONGLONG, U, 63), "00000000000000000007", false,
     VT_UI8, L"7"},
    {"int with a plus", column(MYSQL_TYPE_LONG, 0, 63), "+5", false, VT_I4, L"5"},
    {"double", column(MYSQL_TYPE_DOUBLE, 0, 63), "2.25", false, VT_R8, L"2.25"},
    {"decimal", column(MYSQL_TYPE_NEWDECIMAL, 0, 63), "12.50", false, VT_DECIMAL, L"12.5"},
    {"decimal of 28 digits", column(MYSQL_TYPE_NEWDECIMAL, 0, 63), "-123456789012345678.0123456789", false,
     VT_DECIMAL, L"-123456789012345678.0123456789"},
    // Too many digits for the 96-bit decimal: the exact digits as text.
    {"decimal(65,30)", column(MYSQL_TYPE_NEWDECIMAL, 0, 63),
     "-12345678901234567890123456789012345.123456789012345678901234567890", false, VT_BSTR,
     L"-12345678901234567890123456789012345.123456789012345678901234567890"},
    {"decimal scale 30", column(MYSQL_TYPE_NEWDECIMAL, 0, 63), "0.000000000000000000000000000001", false,
     VT_BSTR, L"0.000000000000000000000000000001"},
    {"bit(1) one", column(MYSQL_TYPE_BIT, U, 63, 1), "\x01", false, VT_BOOL, L"1"},
    {"bit(1) zero", column(MYSQL_TYPE_BIT, U, 63, 1), "\x00"s, false, VT_BOOL, L"0"},
    // All bytes count, not only the first.
    {"bit(16) one", column(MYSQL_TYPE_BIT, U, 63, 16), "\x00\x01"s, false, VT_UI2, L"1"},
    {"bit(12)", column(MYSQL_TYPE_BIT, U, 63, 12), "\x0A\x05", false, VT_UI2, L"2565"},
    {"bit(64)", column(MYSQL_TYPE_BIT, U, 63, 64), std::string(8, '\xFF'), false, VT_UI8,
     L"18446744073709551615"},
    {"date", column(MYSQL_TYPE_DATE, B, 63), "2024-02-29", false, VT_DATE, L"2024-02-29"},
    {"zero date", column(MYSQL_TYPE_DATE, B, 63), "0000-00-00", false, VT_DATE, L"0000-00-00"},
    {"date with zero month", column(MYSQL_TYPE_DATE, B, 63), "2024-00-15", false, VT_DATE, L"2024-00-15"},
    {"date out of the calendar", column(MYSQL_TYPE_DATE, B, 63), "2023-02-30", false, VT_BSTR, L"2023-02-30"},
    {"datetime(6)", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02 03:04:05.123456", false, VT_DATE,
     L"2024-01-02 03:04:05.123456"},
    {"zero datetime", column(MYSQL_TYPE_DATETIME, B, 63), "0000-00-00 00:00:00", false, VT_DATE,
     L"0000-00-00 00:00:00"},
    {"datetime(1)", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02 03:04:05.5", false, VT_DATE,
     L"2024-01-02 03:04:05.500000"},
    {"datetime(6) of zeros", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02 03:04:05.000000", false, VT_DATE,
     L"2024-01-02 03:04:05"},
    // Forms the server does not send stay text.
    {"datetime with a T", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02T03:04:05", false, VT_BSTR,
     L"2024-01-02T03:04:05"},
    {"datetime with seven fraction digits", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02 03:04:05.1234567",
     false, VT_BSTR, L"2024-01-02 03:04:05.1234567"},
    {"datetime ending in a point", column(MYSQL_TYPE_DATETIME, B, 63), "2024-01-02 03:04:05.", false, VT_BSTR,
     L"2024-01-02 03:04:05."},
    {"date with a letter", column(MYSQL_TYPE_DATE, B, 63), "2024-0a-15", false, VT_BSTR, L"2024-0a-15"},
    {"date with a slash", column(MYSQL_TYPE_DATE, B, 63), "2024/01/15", false, VT_BSTR, L"2024/01/15"},
    {"timestamp", column(MYSQL_TYPE_TIMESTAMP, B, 63), "2038-01-19 03:14:07", false, VT_DATE,
     L"2038-01-19 03:14:07"},
    {"time", column(MYSQL_TYPE_TIME, B, 63), "12:34:56", false, VT_DATE, L"0000-00-00 12:34:56"},
        // Time spans the date value cannot hold keep the server's text.
    {"time beyond 24 hours", column(MYSQL_TYPE_TIME, B, 63), "838:59:59", false, VT_BSTR, L"838:59:59"},
    {"negative time", column(MYSQL_TYPE_TIME, B, 63), "-00:00:01", false, VT_BSTR, L"-00:00:01"},
    {"time(3) span", column(MYSQL_TYPE_TIME, B, 63), "100:00:01.500", false, VT_BSTR, L"100:00:01.500"},
    {"time(6)", column(MYSQL_TYPE_TIME, B, 63), "23:59:59.250000", false, VT_DATE, L"0000-00-00 23:59:59.250000"},
    {"text", column(MYSQL_TYPE_BLOB, 16, 45), "\xC3\xA4\xC3\x9F", false, VT_BSTR, L"\u00E4\u00DF"},
    {"4-byte character", column(MYSQL_TYPE_VAR_STRING, 0, 45), "x\xF0\x9F\x98\x80", false, VT_BSTR,
     L"x\U0001F600"},
    {"empty text", column(MYSQL_TYPE_VAR_STRING, 0, 45), "", false, VT_BSTR, L""},
    {"varbinary", column(MYSQL_TYPE_VAR_STRING, B, 63), "\x00\xFF"s, false, VT_BYTE_ARRAY, L"0x00FF"},
    {"blob", column(MYSQL_TYPE_BLOB, B, 63), "ab", false, VT_BYTE_ARRAY, L"0x6162"},
    {"empty blob", column(MYSQL_TYPE_BLOB, B, 63), "", false, VT_BYTE_ARRAY, L""},
    {"blob as text", column(MYSQL_TYPE_BLOB, B, 63), "h\xC3\xA9llo", true, VT_BSTR, L"h\u00E9llo"},
    // Zero bytes or ill-formed UTF-8: every byte kept, in the binary text form.
    {"blob with a zero byte", column(MYSQL_TYPE_BLOB, B, 63), "ab\x00"s, true, VT_BYTE_ARRAY, L"0x616200"},
    {"blob not UTF-8", column(MYSQL_TYPE_BLOB, B, 63), "\xFF\xFE", true, VT_BYTE_ARRAY, L"0xFFFE"},
    {"binary(4) as text", column(MYSQL_TYPE_STRING, B, 63), "\x00\x01\x02\x00"s, true, VT_BYTE_ARRAY,
     L"0x00010200"},
};

INSTANTIATE_TEST_SUITE_P(All, CellValue, ::testing::ValuesIn(cell_cases),
                         [](const auto& info) { return test_names::ident(info.param.what); });

// Decimal texts of every shape the server sends and some it does not: the
// value is the general reader's (or the text when that is not exact).
TEST(CellValue, DecimalTextsReadLikeTheGeneralReader) {
    std::vector<std::string> texts = {"0", "-0", "0.00", "-0.00", "00012.50", "-.5", "5.", ".", "-", "",
                                      "1..2", "+1.5", " 1.5", "1e2", "9999999999999999999", "-9999999999999999999",
                                      "18446744073709551615", "1844674407370955161.5", "0.0000000000000000001",
                                      "999999999999999999.9", "99999999999999999999.0",
                                      "79228162514264337593543950335", "79228162514264337593543950336",
                                      "0.000000000000000000000000000001", "12345678901234567890123456789.5"};
    std::mt19937 rng(515);
    for (int i = 0; i < 20000; ++i) {
        std::string t = rng() % 3 == 0 ? "-" : "";
        const int whole = static_cast<int>(rng() % 24), frac = static_cast<int>(rng() % 32);
        for (int k = 0; k < whole; ++k) t += static_cast<char>('0' + (rng() % 4 ? rng() % 10 : 0));
        if (frac > 0 || rng() % 8 == 0) t += '.';
        for (int k = 0; k < frac; ++k) t += static_cast<char>('0' + (rng() % 3 ? rng() % 10 : 0));
        texts.push_back(t);
    }
    sql_column_rule rule;
    rule.vartype = VT_DECIMAL;
    rule.kind = sql_cell_kind::decimal;
    for (const std::string& t : texts) {
        ole_variant v;
        sql_cell_to_value(rule, t.data(), static_cast<unsigned long>(t.size()), v);
        plat::decimal want;
        bool inexact = false;
        if (SUCCEEDED(plat::dec_from_text(t, want, &inexact)) && !inexact) {
            ASSERT_EQ(v.type(), VT_DECIMAL) << t;
            const plat::decimal got = v.get_decimal();
            ASSERT_EQ(got.lo64, want.lo64) << t;
            ASSERT_EQ(got.hi32, want.hi32) << t;
            ASSERT_EQ(got.scale, want.scale) << t;
            ASSERT_EQ(got.sign, want.sign) << t;
        } else {
            ASSERT_EQ(v.type(), VT_BSTR) << t;
            ASSERT_EQ(v.to_string(), t);
        }
    }
}

TEST(CellValue, NullCellIsEmptyForEveryKind) {
    const MYSQL_FIELD fields[] = {
        column(MYSQL_TYPE_LONG, 0, 63),     column(MYSQL_TYPE_BIT, U, 63, 1),
        column(MYSQL_TYPE_BLOB, B, 63),     column(MYSQL_TYPE_VAR_STRING, 0, 45),
        column(MYSQL_TYPE_DATETIME, B, 63), column(MYSQL_TYPE_NEWDECIMAL, 0, 63),
    };
    for (const MYSQL_FIELD& f : fields) {
        for (bool b2t : {false, true}) {
            ole_variant v(std::wstring(L"old"));
            sql_cell_to_value(sql_column_rule_for(f, b2t), nullptr, 0, v);
            EXPECT_EQ(v.type(), VT_EMPTY) << "type " << f.type;
        }
    }
}

TEST(CellValue, TextIsReadByLengthWithZeroCharacters) {
    const ole_variant v = read_cell(column(MYSQL_TYPE_BLOB, 16, 45), std::string("a\0b", 3));
    ASSERT_EQ(v.type(), VT_BSTR);
    EXPECT_EQ(v.get_bstr(), L"a\0b"s);
}

TEST(CellValue, BinaryKeepsEveryByte) {
    const std::string raw = "\x00\x01\x02\x00\xFF"s;
    const ole_variant v = read_cell(column(MYSQL_TYPE_VAR_STRING, B, 63), raw);
    ASSERT_EQ(v.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(bytes_of(v), (std::vector<uint8_t>{0, 1, 2, 0, 0xFF}));
}

TEST(CellValue, ReusedValueTakesTheNextCellWhole) {
    // One value object, cells of several kinds in turn (as a record's field
    // row after row): nothing of the previous cell remains.
    ole_variant v;
    const sql_column_rule text = sql_column_rule_for(column(MYSQL_TYPE_VAR_STRING, 0, 45), false);
    const sql_column_rule bytes = sql_column_rule_for(column(MYSQL_TYPE_BLOB, B, 63), false);
    sql_cell_to_value(text, "long text value", 15, v);
    sql_cell_to_value(text, "ab", 2, v);
    EXPECT_EQ(v.get_bstr(), L"ab");
    sql_cell_to_value(bytes, "\x01\x02\x03", 3, v);
    sql_cell_to_value(bytes, "\x09", 1, v);
    EXPECT_EQ(bytes_of(v), std::vector<uint8_t>{9});
    sql_cell_to_value(text, nullptr, 0, v);
    EXPECT_EQ(v.type(), VT_EMPTY);
}

TEST(CellValue, NumbersIgnoreTheLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const ole_variant d = read_cell(column(MYSQL_TYPE_DOUBLE, 0, 63), "2.25");
    const ole_variant f = read_cell(column(MYSQL_TYPE_FLOAT, 0, 63), "-1.5");
    const ole_variant dec = read_cell(column(MYSQL_TYPE_NEWDECIMAL, 0, 63), "12.50");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(d.to_double(), 2.25);
    EXPECT_EQ(f.to_double(), -1.5);
    EXPECT_EQ(dec.to_wstring(), L"12.5");
}

TEST(CellValue, DefaultTextsByType) {
    EXPECT_TRUE(get_variant(VT_BOOL, std::wstring(L"\x01")).to_bool());
    EXPECT_FALSE(get_variant(VT_BOOL, std::wstring(1, L'\0')).to_bool());
    EXPECT_EQ(get_variant(VT_I4, std::wstring(L"42")).to_long(), 42);
    EXPECT_EQ(get_variant(VT_BSTR, std::wstring(L"abc")).to_wstring(), L"abc");
}

// --- Records ------------------------------------------------------------------

// --- The plan of binary cells against the general rules --------------------

namespace plan_check {

using sql_test::bytes;
using sql_test::real;

// Everything a field holds: type, declared size, text form, the value's
// fields, its date, its held text and its file text.
void expect_same(const sql_field& got, const sql_field& want, const std::string& what) {
    ASSERT_EQ(got.type(), want.type()) << what;
    EXPECT_EQ(got.get_declared_size(), want.get_declared_size()) << what;
    EXPECT_TRUE(got.text_form() == want.text_form()) << what;
    EXPECT_EQ(got.held_utf8(), want.held_utf8()) << what;
    const plat::variant& g = got.raw();
    const plat::variant& w = want.raw();
    EXPECT_EQ(g.vt, w.vt) << what;
    EXPECT_EQ(g.llVal, w.llVal) << what;
    EXPECT_EQ(g.decVal.lo64, w.decVal.lo64) << what;
    EXPECT_EQ(g.decVal.hi32, w.decVal.hi32) << what;
    EXPECT_EQ(g.decVal.scale, w.decVal.scale) << what;
    EXPECT_EQ(g.decVal.sign, w.decVal.sign) << what;
    EXPECT_EQ(g.bstrVal, w.bstrVal) << what;
    EXPECT_EQ(g.parray.data, w.parray.data) << what;
    EXPECT_EQ(g.parray.dims, w.parray.dims) << what;
    if (got.type() == VT_DATE) {
        EXPECT_TRUE(got.get_date() == want.get_date()) << what;
        EXPECT_EQ(got.get_date().negative, want.get_date().negative) << what;
    }
    std::string g_text, w_text;
    got.append_utf8_cell(g_text);
    want.append_utf8_cell(w_text);
    EXPECT_EQ(g_text, w_text) << what;
}

struct plan_case {
    const char* what;
    MYSQL_FIELD field;
    sql_cell_plan plan;
    std::vector<sql_cell> cells;
};

}  // namespace plan_check

namespace {

// The server's decimal text read digit by digit: [-] digits with at most
// one point, 1 to 20 bytes after the sign, at most 19 digits.
bool reference_decimal(const std::string& text, plat::decimal& out) {
    size_t at = 0;
    const bool neg = !text.empty() && text[0] == '-';
    if (neg) at = 1;
    const size_t n = text.size() - at;
    if (n == 0 || n > 20) return false;
    uint64_t m = 0;
    int digits = 0, scale = -1;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && scale < 0) {
            scale = 0;
        } else if (c >= '0' && c <= '9') {
            m = m * 10 + static_cast<unsigned>(c - '0');
            ++digits;
            if (scale >= 0) ++scale;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 19) return false;
    plat::decimal d;
    if (m != 0) {
        d.lo64 = m;
        d.scale = static_cast<uint8_t>(scale < 0 ? 0 : scale);
        d.sign = neg ? plat::DECIMAL_NEG : 0;
    }
    out = d;
    return true;
}

}  // namespace

// Texts of every length up to 22, of digits, points, signs and the bytes
// next to them, and numbers as the server writes them.
TEST(PlainDecimal, ReadsWhatTheDigitByDigitReadingReads) {
    std::vector<std::string> texts = {"", "-", ".", "-.", "0", "-0", "5.", ".5", "-.5", "0.00", "-0.00", "..",
                                      "1..2", "12.3.4", "00000000", "99999999", "-99999999", "9999.999",
                                      "1234567.", ".1234567", "-1234567.", "12345678.", "1234.5678",
                                      "9999999999999999999", "-9999999999999999999", "99999999999999999999",
                                      "999999999999999999.9", "1844674407370955161.5", "12\0345"};
    texts.push_back(std::string("12\0" "4.5", 5));
    // Digits, points, signs, a zero byte, and bytes a bit away from '.' and the digits.
    const std::string alphabet("0159.-/:+ e\0\xAE\xFF\x10\x3A\xB9\xB0", 18);
    std::mt19937 rng(777);
    for (int i = 0; i < 50000; ++i) {
        const size_t n = rng() % 11;
        std::string t;
        const bool digits_only = rng() % 2 == 0;
        for (size_t k = 0; k < n; ++k) {
            if (digits_only && rng() % 6 != 0) t += static_cast<char>('0' + rng() % 10);
            else t += alphabet[rng() % alphabet.size()];
        }
        if (digits_only && n > 1 && rng() % 2 == 0) t[rng() % n] = '.';
        if (rng() % 4 == 0) t.insert(0, "-");
        texts.push_back(t);
    }
    for (int i = 0; i < 20000; ++i) {
        std::string t = rng() % 2 ? "-" : "";
        const int whole = static_cast<int>(rng() % 21), frac = static_cast<int>(rng() % 8);
        for (int k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
        if (frac > 0 || rng() % 4 == 0) t += '.';
        for (int k = 0; k < frac; ++k) t += static_cast<char>('0' + rng() % 10);
        texts.push_back(t);
    }
    size_t read = 0;
    for (const std::string& t : texts) {
        plat::decimal want, got;
        want.hi32 = got.hi32 = 7;  // untouched when false
        const bool w = reference_decimal(t, want);
        const bool g = sql_cell_read::plain_decimal(t.data(), t.size(), got);
        ASSERT_EQ(g, w) << "'" << t << "'";
        EXPECT_EQ(got.lo64, want.lo64) << t;
        EXPECT_EQ(got.hi32, want.hi32) << t;
        EXPECT_EQ(got.scale, want.scale) << t;
        EXPECT_EQ(got.sign, want.sign) << t;
        read += w;
    }
    EXPECT_GT(read, 15000u);
}

// Each column's plan gives every cell the value, size and text form the
// general rules give, in fields reused cell after cell and column after
// column (the cells the plan does not take included).
TEST(CellPlan, GivesWhatTheGeneralRulesGive) {
    using namespace plan_check;
    std::vector<std::string> texts = {"", "0", "-0", "0.00", "-0.00", "12.50", "-.5", "5.", ".", "-", "1..2",
                                      "+1.5", "1e2", " 1", "9999999999999999999", "99999999999999999999",
                                      "-9999999999999999999.0", "1844674407370955161.5", "a", "abc",
                                      std::string(25, 'x'), "\xC3\xA4\xE2\x82\xAC", "\xFF\xFE", "a\0b"s,
                                      "0x41", std::string(300, 'q')};
    std::mt19937 rng(4242);
    for (int i = 0; i < 3000; ++i) {
        std::string t = rng() % 3 == 0 ? "-" : "";
        const int whole = static_cast<int>(rng() % 22), frac = static_cast<int>(rng() % 6);
        for (int k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
        if (frac > 0 || rng() % 8 == 0) t += '.';
        for (int k = 0; k < frac; ++k) t += static_cast<char>('0' + rng() % 10);
        texts.push_back(t);
    }
    std::vector<sql_cell> any;
    any.push_back(sql_cell());  // null
    for (const std::string& t : texts) any.push_back(bytes(t));
    for (int64_t v : {int64_t{0}, int64_t{-1}, int64_t{1}, int64_t{INT8_MIN} - 1, int64_t{INT8_MIN}, int64_t{INT8_MAX},
                      int64_t{INT8_MAX} + 1, int64_t{INT16_MIN} - 1, int64_t{INT16_MIN}, int64_t{INT16_MAX},
                      int64_t{INT16_MAX} + 1, int64_t{UINT16_MAX} + 1, int64_t{INT32_MIN} - 1, int64_t{INT32_MIN},
                      int64_t{INT32_MAX}, int64_t{INT32_MAX} + 1, int64_t{UINT32_MAX} + 1, INT64_MIN, INT64_MAX})
        any.push_back(sql_test::integer(v));
    for (uint64_t v : {uint64_t{0}, uint64_t{1}, uint64_t{UINT8_MAX}, uint64_t{UINT8_MAX} + 1, uint64_t{UINT16_MAX},
                       uint64_t{UINT16_MAX} + 1, uint64_t{UINT32_MAX}, uint64_t{UINT32_MAX} + 1,
                       uint64_t{INT64_MAX}, uint64_t{INT64_MAX} + 1, UINT64_MAX})
        any.push_back(sql_test::unsigned_integer(v));
    for (double v : {0.0, -0.0, 0.1, -2.5, 1e300, 5e-324, 123456789.0})
        any.push_back(real(v));
    // Doubles with the digits that print them: any bits, short decimals,
    // both notations.
    for (double v : {0.0, -0.0, 0.1, -2.5, 1e300, 5e-324, 123456789.0, 1e21, 1.5e-8, -0.000123, 4503599627370495.5})
        any.push_back(sql_test::real_with_digits(v));
    for (int i = 0; i < 2000; ++i) {
        const uint64_t bits = (uint64_t{rng()} << 32) | rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        any.push_back(sql_test::real_with_digits(i % 2 ? v : static_cast<double>(static_cast<int32_t>(rng())) / 1000.0));
    }
    // The values of floats, as FLOAT cells come.
    for (float v : {63.067f, -1.5e-45f, 1.17549435e-38f, 3.40282347e38f, -16777216.0f, 1e15f, 0.3f})
        any.push_back(real(v));
    for (int i = 0; i < 2000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float v;
        std::memcpy(&v, &bits, sizeof v);
        any.push_back(real(v));
    }

    // Dates and times around every limit the plan checks.
    std::vector<MYSQL_TIME> times;
    for (unsigned y : {0u, 1u, 99u, 100u, 2000u, 2024u, 9999u, 10000u})
        for (unsigned mo : {0u, 1u, 2u, 4u, 12u, 13u, 100u})
            for (unsigned d : {0u, 1u, 28u, 29u, 30u, 31u, 32u, 100u})
                for (unsigned h : {0u, 23u, 24u, 100u, 838u})
                    for (unsigned mi : {0u, 59u, 60u, 100u})
                        for (unsigned sec : {0u, 59u, 61u}) {
                            times.push_back(sql_test::make_time(
                                y, mo, d, h, mi, sec, (y + d + sec) % 3 == 0 ? 0 : (y % 2 ? 999999 : 123456),
                                (mo + h) % 5 == 0, MYSQL_TIMESTAMP_DATE));
                        }
    auto temporal_cells = [&](enum_field_types type, unsigned decimals) {
        std::vector<sql_cell> cells = any;
        for (const MYSQL_TIME& t : times) {
            sql_cell c;
            c.kind = sql_cell::temporal;
            c.time = &t;
            c.time_type = type;
            c.decimals = decimals;
            cells.push_back(c);
        }
        return cells;
    };
    auto timed = [](enum_field_types type, unsigned decimals) {
        MYSQL_FIELD f = column(type, B, 63);
        f.decimals = decimals;
        return f;
    };

    const std::vector<plan_case> cases = {
        {"TINYINT", column(MYSQL_TYPE_TINY), sql_cell_plan::i1, any},
        {"SMALLINT", column(MYSQL_TYPE_SHORT), sql_cell_plan::i2, any},
        {"INT", column(MYSQL_TYPE_LONG), sql_cell_plan::i4, any},
        {"MEDIUMINT UNSIGNED", column(MYSQL_TYPE_INT24, U), sql_cell_plan::i4, any},
        {"BIGINT", column(MYSQL_TYPE_LONGLONG), sql_cell_plan::i8, any},
        {"TINYINT UNSIGNED", column(MYSQL_TYPE_TINY, U), sql_cell_plan::ui1, any},
        {"YEAR", column(MYSQL_TYPE_YEAR, U), sql_cell_plan::ui2, any},
        {"INT UNSIGNED", column(MYSQL_TYPE_LONG, U), sql_cell_plan::ui4, any},
        {"BIGINT UNSIGNED", column(MYSQL_TYPE_LONGLONG, U), sql_cell_plan::ui8, any},
        {"DOUBLE", column(MYSQL_TYPE_DOUBLE), sql_cell_plan::real8, any},
        {"FLOAT", column(MYSQL_TYPE_FLOAT), sql_cell_plan::real4, any},
        {"DECIMAL(15,2)", decimal_column(17, 2), sql_cell_plan::decimal, any},
        {"DECIMAL(20,0) UNSIGNED", decimal_column(20, 0, U), sql_cell_plan::decimal, any},
        {"DECIMAL(65,30)", decimal_column(67, 30), sql_cell_plan::text, any},
        {"VARCHAR", column(MYSQL_TYPE_VAR_STRING), sql_cell_plan::text, any},
        {"BLOB", column(MYSQL_TYPE_BLOB, B, 63), sql_cell_plan::bytes, any},
        {"BIT(1)", column(MYSQL_TYPE_BIT, U, 63, 1), sql_cell_plan::general, any},
        {"BIT(12)", column(MYSQL_TYPE_BIT, U, 63, 12), sql_cell_plan::bits, any},
        {"BIT(5)", column(MYSQL_TYPE_BIT, U, 63, 5), sql_cell_plan::bits, any},
        {"BIT(64)", column(MYSQL_TYPE_BIT, U, 63, 64), sql_cell_plan::bits, any},
        {"DATE", timed(MYSQL_TYPE_DATE, 0), sql_cell_plan::temporal, temporal_cells(MYSQL_TYPE_DATE, 0)},
        {"DATETIME(6)", timed(MYSQL_TYPE_DATETIME, 6), sql_cell_plan::temporal,
         temporal_cells(MYSQL_TYPE_DATETIME, 6)},
        {"TIMESTAMP(2)", timed(MYSQL_TYPE_TIMESTAMP, 2), sql_cell_plan::temporal,
         temporal_cells(MYSQL_TYPE_TIMESTAMP, 2)},
        {"TIME(3)", timed(MYSQL_TYPE_TIME, 3), sql_cell_plan::temporal, temporal_cells(MYSQL_TYPE_TIME, 3)},
        {"TIME", timed(MYSQL_TYPE_TIME, 0), sql_cell_plan::temporal, temporal_cells(MYSQL_TYPE_TIME, 0)},
    };
    // One pair of fields for every column in turn, one pair per column.
    sql_field shared_got(L"c"), shared_want(L"c");
    for (const plan_case& c : cases) {
        const sql_column_rule rule = sql_column_rule_for(c.field, false);
        ASSERT_EQ(rule.plan, c.plan) << c.what;
        sql_column_rule general = rule;
        general.plan = sql_cell_plan::general;
        sql_field got(L"c"), want(L"c");
        for (size_t i = 0; i < c.cells.size(); ++i) {
            const std::string what = std::string(c.what) + " cell " + std::to_string(i);
            got.assign(rule, c.cells[i]);
            want.assign(general, c.cells[i]);
            ASSERT_NO_FATAL_FAILURE(expect_same(got, want, what));
            shared_got.assign(rule, c.cells[i]);
            shared_want.assign(general, c.cells[i]);
            ASSERT_NO_FATAL_FAILURE(expect_same(shared_got, shared_want, what + " (shared)"));
            // sql_cell_to_value takes the plan too.
            ole_variant v, w;
            sql_cell_to_value(rule, c.cells[i], v);
            sql_cell_to_value(general, c.cells[i], w);
            ASSERT_EQ(v.type(), w.type()) << what;
            EXPECT_EQ(v.to_string(), w.to_string()) << what;
        }
    }
}

TEST(SqlRecord, BuildsNamedFieldsFromColumnDescriptions) {
    MYSQL_FIELD f[2] = {column(MYSQL_TYPE_LONG, 0, 63), column(MYSQL_TYPE_VAR_STRING, 0, 45)};
    f[0].name = const_cast<char*>("id");
    f[0].name_length = 2;
    f[1].name = const_cast<char*>("n\xC3\xA4me");
    f[1].name_length = 5;
    char c0[] = "7";
    char c1[] = "x";
    char* cells[] = {c0, c1};
    unsigned long lengths[] = {1, 1};
    sql_record r(2, f, lengths, cells);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]->get_name(), L"id");
    EXPECT_EQ(r[0]->get_type(), VT_I4);
    EXPECT_EQ(r[1]->get_name(), L"n\u00E4me");
    EXPECT_EQ(r.get_field(L"N\u00C4ME").to_wstring(), L"x");
    EXPECT_EQ(r[1]->get_declared_size(), 1u);
}

// A record read row after row keeps its names while the serial says the
// columns are the same, and takes the names of other columns.
TEST(SqlRecord, NamesFollowTheColumnsOfEachSerial) {
    auto cols = [](std::vector<std::wstring> names) {
        sql_columns c;
        for (auto& n : names) {
            sql_column col;
            col.name = n;
            col.rule = sql_column_rule_for(column(MYSQL_TYPE_LONG, 0, 63), false);
            c.push_back(col);
        }
        return c;
    };
    const sql_columns ab = cols({L"a", L"b"}), cd = cols({L"c", L"d"}), abc = cols({L"a", L"b", L"c"});
    const uint64_t s1 = sql_record::new_names_serial(), s2 = sql_record::new_names_serial();
    EXPECT_NE(s1, 0u);
    EXPECT_NE(s1, s2);
    char one[] = "1", two[] = "2", three[] = "3";
    char* cells[] = {one, two, three};
    unsigned long lengths[] = {1, 1, 1};
    auto names = [](const sql_record& r) {
        std::vector<std::wstring> n;
        for (const udb_field* f : r) n.push_back(f->get_name());
        return n;
    };
    sql_record r;
    r.assign_row(ab, lengths, cells, s1);
    r.assign_row(ab, lengths, cells, s1);
    EXPECT_EQ(names(r), (std::vector<std::wstring>{L"a", L"b"}));
    r.assign_row(cd, lengths, cells, s2);
    EXPECT_EQ(names(r), (std::vector<std::wstring>{L"c", L"d"}));
    EXPECT_EQ(r[1]->to_wstring(), L"2");
    r.assign_row(ab, lengths, cells, s1);
    EXPECT_EQ(names(r), (std::vector<std::wstring>{L"a", L"b"}));
    r.assign_row(cd, lengths, cells);  // no serial: names compared
    EXPECT_EQ(names(r), (std::vector<std::wstring>{L"c", L"d"}));
    r.assign_row(abc, lengths, cells, s1);
    EXPECT_EQ(names(r), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(r[2]->to_wstring(), L"3");
}

// A copied record, by its own type or through its base, keeps fields of
// the MySQL kind with the same values, and reads later rows like the
// record it came from.
TEST(SqlRecord, CopiesKeepTheirFieldsKind) {
    sql_columns columns(2);
    columns[0].name = L"id";
    columns[0].rule = sql_column_rule_for(column(MYSQL_TYPE_LONG, 0, 63), false);
    columns[1].name = L"n";
    columns[1].rule = sql_column_rule_for(column(MYSQL_TYPE_VAR_STRING, 0, 33), false);
    char c0[] = "7", c1[] = "seven", d0[] = "8", d1[] = "eight";
    char* row[] = {c0, c1};
    char* next[] = {d0, d1};
    unsigned long lengths[] = {1, 5};
    const sql_record original(columns, lengths, row);
    sql_record copied(original);
    sql_record assigned;
    assigned.assign_row(columns, lengths, next);
    static_cast<udb_record&>(assigned) = original;
    for (sql_record* r : {&copied, &assigned}) {
        ASSERT_EQ(r->size(), 2u);
        for (size_t i = 0; i < r->size(); ++i) {
            EXPECT_NE(dynamic_cast<sql_field*>((*r)[i]), nullptr) << "field " << i;
            EXPECT_NE((*r)[i], original[i]);
            EXPECT_EQ((*r)[i]->get_name(), original[i]->get_name());
            EXPECT_EQ((*r)[i]->to_wstring(), original[i]->to_wstring());
            EXPECT_EQ((*r)[i]->get_type(), original[i]->get_type());
            EXPECT_EQ((*r)[i]->get_declared_size(), original[i]->get_declared_size());
        }
        unsigned long next_lengths[] = {1, 5};
        r->assign_row(columns, next_lengths, next);
        EXPECT_EQ((*r)[0]->to_wstring(), L"8");
        EXPECT_EQ((*r)[1]->to_wstring(), L"eight");
    }
    EXPECT_EQ(original[1]->to_wstring(), L"seven");
}

TEST(SqlRecord, NullDescriptionsAssert) {
    unsigned long lengths[] = {0};
    try {
        sql_record r(1, nullptr, lengths, nullptr);
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(std::string(e.what()), make_err_meggase("sql_rec", 20));
    }
}

// --- Names, versions, statements -------------------------------------------

struct name_case {
    std::wstring name;
    std::wstring quoted;
};

class SafeName : public ::testing::TestWithParam<name_case> {};

TEST_P(SafeName, AlwaysQuotedWithBackquotesDoubled) {
    EXPECT_EQ(sql_engine::get_safe_name(GetParam().name), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    All, SafeName,
    ::testing::Values(name_case{L"orders", L"`orders`"}, name_case{L"", L"``"},
                      name_case{L"a`b", L"`a``b`"}, name_case{L"`x`", L"```x```"},
                      name_case{L"x` ; DROP TABLE y; -- ", L"`x`` ; DROP TABLE y; -- `"},
                      name_case{std::wstring(65, L'n'), L"`" + std::wstring(65, L'n') + L"`"},
                      name_case{L"\u00E4\U0001F600", L"`\u00E4\U0001F600`"}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.name); });

struct version_case {
    const char* text;
    bool ok;
    uint32_t version;
};

class ServerVersion : public ::testing::TestWithParam<version_case> {};

TEST_P(ServerVersion, ReadsThreeNumbers) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(sql_engine::parse_server_version(GetParam().text, v), GetParam().ok) << GetParam().text;
    if (GetParam().ok) {
        EXPECT_EQ(v, GetParam().version) << GetParam().text;
    }
}

INSTANTIATE_TEST_SUITE_P(All, ServerVersion,
                         ::testing::Values(version_case{"5.7.44-log", true, 0x05072C},
                                           version_case{"10.11.6-MariaDB", true, 0x0A0B06},
                                           version_case{"5.5.5-10.11.6-MariaDB-0+deb12u1", true, 0x0A0B06},
                                           version_case{"4.1.0", true, 0x40100},
                                           version_case{"3.23.44-nt", true, 0x3172C},
                                           version_case{"5.5.5", true, 0x050505},
                                           version_case{"5", false, 0}, version_case{"5.1", false, 0},
                                           version_case{"", false, 0}, version_case{"x.y.z", false, 0}),
                         [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

struct strip_case {
    std::wstring query;
    std::wstring stripped;
};

class QueryEnd : public ::testing::TestWithParam<strip_case> {};

TEST_P(QueryEnd, TrailingSemicolonsGoCommentsStay) {
    EXPECT_EQ(sql_strip_query_end(GetParam().query), GetParam().stripped);
}

INSTANTIATE_TEST_SUITE_P(
    All, QueryEnd,
    ::testing::Values(strip_case{L"SELECT 1", L"SELECT 1"}, strip_case{L"SELECT 1;", L"SELECT 1"},
                      strip_case{L"SELECT 1 ; ;  \r\n\t", L"SELECT 1"},
                      strip_case{L"SELECT 1; -- done", L"SELECT 1 -- done"},
                      strip_case{L"SELECT 1 -- a; b", L"SELECT 1 -- a; b"},
                      strip_case{L"SELECT 1 # note;", L"SELECT 1 # note;"},
                      strip_case{L"SELECT 1 /* x; */ ;", L"SELECT 1 /* x; */"},
                      strip_case{L"SELECT ';'", L"SELECT ';'"}, strip_case{L"SELECT 'a\\';'", L"SELECT 'a\\';'"},
                      strip_case{L"SELECT `a;`", L"SELECT `a;`"}, strip_case{L"SELECT 5--1;", L"SELECT 5--1"}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.query); });

TEST(SelectStatement, SendsQueriesAsWrittenAndQuotesTables) {
    EXPECT_EQ(sql_select_statement(L"we`ird", false), L"SELECT * FROM `we``ird`");
    EXPECT_EQ(sql_select_statement(L"SELECT 1; -- x", true), L"SELECT 1 -- x");
}

// --- Exceptions ---------------------------------------------------------------

TEST(SqlExceptions, FixedTextsLevelsAndCodes) {
    sql_auth_not_supported_exception auth;
    EXPECT_STREQ(auth.what(),
                 "The program does not support authentication protocol requested by server. See "
                 "'Troubleshooting' article of the product documentation.");
    EXPECT_EQ(auth.level(), 1u);
    EXPECT_EQ(auth.code(), 0u);
    sql_prep_stmt_failed_exception prep;
    EXPECT_STREQ(prep.what(), "Failed to execute prepared statement");
    EXPECT_EQ(prep.level(), 1u);
    EXPECT_EQ(prep.code(), 4197305u);
    const sql_exception copy = sql_exception(std::string("boom"), 0x12345);
    EXPECT_EQ(copy.code(), 0x400000u | 0x2345u);
    EXPECT_EQ(copy.level(), 0u);
}

// Which failures mean that the server gave no answer, could not be reached,
// or that the connection is gone.
struct failure_kind_case {
    uint32_t number;
    bool mysql;  // carried as a MySQL error number
    bool no_answer;
    bool unreachable;
    bool lost;
};

// A failure of another part with the same code as a client error.
class coded_failure : public tk_exception {
public:
    explicit coded_failure(uint32_t code) : tk_exception(std::string("failure"), 0) { code_ = code; }
};

TEST(SqlExceptions, FailureKindsByNumber) {
    const failure_kind_case cases[] = {
        {CR_SERVER_LOST, true, true, false, true},
        {CR_SERVER_GONE_ERROR, true, true, false, true},
        {CR_SERVER_LOST_EXTENDED, true, true, false, true},
        {CR_CONNECTION_ERROR, true, false, true, false},
        {CR_CONN_HOST_ERROR, true, false, true, false},
        {CR_UNKNOWN_HOST, true, false, true, false},
        {ER_CONNECTION_KILLED, true, false, false, true},
        {ER_SERVER_SHUTDOWN, true, false, false, true},
        {ER_ACCESS_DENIED_ERROR, true, false, false, false},
        {CR_SERVER_LOST, false, false, false, false},
        {CR_CONNECTION_ERROR, false, false, false, false},
    };
    for (const failure_kind_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.number << (c.mysql ? " (MySQL)" : ""));
        const tk_exception e = c.mysql ? tk_exception(sql_exception(std::string("failure"), c.number))
                                       : tk_exception(coded_failure(c.number));
        EXPECT_EQ(sql_is_no_answer(e), c.no_answer);
        EXPECT_EQ(sql_is_unreachable(e), c.unreachable);
        EXPECT_EQ(sql_is_connection_lost(e), c.lost);
    }
}

TEST(SqlExceptions, WithoutEngineTheAccessorAsserts) {
    ASSERT_EQ(tk_singleton<sql_engine>::peek(), nullptr);
    try {
        sql_exception e;
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(std::string(e.what()), make_err_meggase(tk_singl_source, 71));
    }
}

}  // namespace
