// MySQL literals, value texts of row fields, column types and DEFAULT
// expressions, and the server reading each literal back unchanged.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ole_guid.h"
#include "sql_sch.h"
#include "sql_tnames.h"
#include "sql_util.h"
#include "sql_write_test_util.h"
#include "test_server.h"
#include "udb_rule.h"

using namespace sql_write_test;
using namespace std::string_literals;

namespace {

std::string case_name(const char* what) {
    std::string s;
    for (const char* p = what; *p; ++p) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return s;
}

template <class T>
std::string param_name(const ::testing::TestParamInfo<T>& info) {
    return case_name(info.param.what);
}

// --- Literals -------------------------------------------------------------------

struct literal_case {
    const char* what;
    std::string text;
    VARTYPE vt;
    bool guid_column;
    std::string expected;
};

void PrintTo(const literal_case& c, std::ostream* os) { *os << c.what; }

class Literal : public ::testing::TestWithParam<literal_case> {};

TEST_P(Literal, NarrowAndWide) {
    const auto& c = GetParam();
    in_locales([&] {
        EXPECT_EQ(to_mysql_str(c.text, c.vt, c.guid_column), c.expected);
        EXPECT_EQ(u8(to_mysql_wstr(w(c.text), c.vt, c.guid_column)), c.expected);
    });
}

const std::string guid = "01234567-89ab-cdef-0123-456789abcdef";

INSTANTIATE_TEST_SUITE_P(
    Texts, Literal,
    ::testing::Values(
        literal_case{"empty type", "x", VT_EMPTY, false, "NULL"},
        literal_case{"null type", "x", VT_NULL, false, "NULL"},
        literal_case{"empty text", "", VT_BSTR, false, "''"},
        literal_case{"empty number", "", VT_I4, false, "''"},
        literal_case{"quote", "O'Brien", VT_BSTR, false, "'O\\'Brien'"},
        literal_case{"backslash", "a\\b", VT_BSTR, false, "'a\\\\b'"},
        literal_case{"backslash before quote", "\\'", VT_BSTR, false, "'\\\\\\''"},
        literal_case{"double quote stays", "say \"hi\"", VT_BSTR, false, "'say \"hi\"'"},
        literal_case{"zero character", "a\0b"s, VT_BSTR, false, "'a\\0b'"},
        literal_case{"non-ASCII", "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", VT_BSTR, false,
                     "'\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80'"},
        literal_case{"integer", "42", VT_I4, false, "42"},
        literal_case{"negative real", "-1.5e3", VT_R8, false, "-1.5e3"},
        literal_case{"decimal", "123.4500", VT_DECIMAL, false, "123.4500"},
        literal_case{"boolean", "1", VT_BOOL, false, "1"},
        literal_case{"text for a number is quoted", "O'Brien", VT_I4, false, "'O\\'Brien'"},
        literal_case{"statement for a number is quoted", "1); DROP TABLE t; --", VT_I4, false,
                     "'1); DROP TABLE t; --'"},
        literal_case{"infinity for a number is quoted", "inf", VT_R8, false, "'inf'"},
        literal_case{"text of another type is quoted", "a b", VT_ERROR, false, "'a b'"},
        literal_case{"hexadecimal blob", "0x1f", VT_BLOB, false, "0x1f"},
        literal_case{"decimal blob", "12345", VT_BLOB_OBJECT, false, "12345"},
        literal_case{"short blob", "12", VT_BYTE_ARRAY, false, "12"},
        literal_case{"0x without digits is text", "0x", VT_BLOB, false, "'0x'"},
        literal_case{"bad hex blob", "0xZZ", VT_BLOB, false, "'0xZZ'"},
        literal_case{"1x00 blob", "1x00", VT_BLOB, false, "'1x00'"},
        literal_case{"x blob", "x", VT_BLOB, false, "'x'"},
        literal_case{"ab blob", "ab", VT_BLOB, false, "'ab'"},
        literal_case{"blob text is escaped", "a'b\\", VT_BLOB, false, "'a\\'b\\\\'"},
        literal_case{"GUID text of an ordinary column is kept", "{" + guid + "}", VT_BSTR, false,
                     "'{" + guid + "}'"},
        literal_case{"GUID in braces for a GUID column", "{" + guid + "}", VT_BSTR, true, "'" + guid + "'"},
        literal_case{"GUID after the word guid", "guid={" + guid + "}", VT_BSTR, true, "'" + guid + "'"},
        literal_case{"no GUID in a GUID column", "it's no guid", VT_BSTR, true, "'it\\'s no guid'"},
        literal_case{"date and time", "2020-01-02 03:04:05", VT_DATE, false, "'2020-01-02 03:04:05'"},
        literal_case{"date with microseconds", "2020-01-02 03:04:05.123456", VT_DATE, false,
                     "'2020-01-02 03:04:05.123456'"},
        literal_case{"compact date", "20200102", VT_DATE, false, "'2020-01-02'"},
        literal_case{"not a date is kept", "no date at all", VT_DATE, false, "'no date at all'"}),
    param_name<literal_case>);

// A TIME literal keeps its sign and its hours beyond a day.
TEST(Literal, TimesAreWrittenWithoutADate) {
    struct time_case {
        const char* text;
        const char* literal;
    };
    const time_case cases[] = {{"12:34:56", "'12:34:56'"},     {"838:59:59", "'838:59:59'"},
                               {"-838:59:59", "'-838:59:59'"}, {"24:00:00", "'24:00:00'"},
                               {"-00:00:01.5", "'-00:00:01.500000'"}, {"00:00:00.000001", "'00:00:00.000001'"}};
    for (const time_case& c : cases) {
        EXPECT_EQ(to_mysql_str(c.text, VT_DATE), c.literal) << c.text;
        EXPECT_EQ(u8(to_mysql_wstr(w(c.text), VT_DATE)), c.literal) << c.text;
    }
}

// A time value's literal comes from the value: its text form carries a zero
// date, which servers with NO_ZERO_IN_DATE refuse.
TEST(Literal, TimeFieldsAreWrittenWithoutADate) {
    struct time_case {
        const char* text;
        const char* literal;
    };
    const time_case cases[] = {{"12:34:56.789012", "'12:34:56.789012'"},
                               {"-838:59:59", "'-838:59:59'"},
                               {"2024-02-29 23:59:59.5", "'2024-02-29 23:59:59.500000'"},
                               {"2024-02-29", "'2024-02-29'"}};
    for (const time_case& c : cases) {
        ole_variant v;
        v.set_date(ole_date(c.text));
        ASSERT_TRUE(v.get_date().is_valid()) << c.text;
        const udb_field f(L"t", 0, v);
        EXPECT_EQ(to_mysql_str(&f), c.literal) << c.text;
        const t_ftd d = column(L"t", VT_DATE, 0, 3);
        EXPECT_EQ(get_fld_append_str(&f, &d, false), c.literal) << c.text;
    }
}

// NaN and infinity have no literal: the field is refused, naming it, instead
// of being written as 0 or as the word inf.
TEST(Literal, NonFiniteFloatsAreRefused) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    for (bool single : {false, true}) {
        for (double value : {nan, inf, -inf}) {
            ole_variant v;
            if (single)
                v.set_r4(static_cast<float>(value));
            else
                v.set_r8(value);
            const udb_field f(L"ratio", 8, v);
            const t_ftd d = column(L"ratio", single ? VT_R4 : VT_R8, 8);
            for (int call = 0; call < 2; ++call) {
                try {
                    if (call == 0)
                        to_mysql_str(&f);
                    else
                        get_fld_append_str(&f, &d, false);
                    ADD_FAILURE() << "no refusal of " << value << (single ? " as FLOAT" : " as DOUBLE");
                } catch (const tk_exception& e) {
                    EXPECT_EQ(e.level(), 0u);
                    EXPECT_NE(std::string(e.what()).find("'ratio'"), std::string::npos) << e.what();
                }
            }
        }
    }
    ole_variant fine;
    fine.set_r8(1.5);
    const udb_field f(L"ratio", 8, fine);
    EXPECT_EQ(to_mysql_str(&f), "1.5");
}

// A single's literal reads back as that single and never beyond the largest
// one (the server refuses such a number for a FLOAT column).
TEST(Literal, FloatsReadBackAsTheSameSingle) {
    struct float_case {
        float value;
        const char* literal;
    };
    const float_case cases[] = {{FLT_MAX, "3.40282346e+38"}, {-FLT_MAX, "-3.40282346e+38"},
                                {1.5f, "1.5"},               {0.1f, "0.1"},
                                {FLT_MIN, "1.1754944e-38"},  {16777216.0f, "16777216"}};
    for (const float_case& c : cases) {
        ole_variant v;
        v.set_r4(c.value);
        const udb_field f(L"f", 4, v);
        const std::string text = to_mysql_str(&f);
        EXPECT_EQ(text, c.literal);
        const double read = std::strtod(text.c_str(), nullptr);
        EXPECT_LE(std::fabs(read), static_cast<double>(FLT_MAX)) << text;
        EXPECT_EQ(static_cast<float>(read), c.value) << text;
    }
    EXPECT_EQ(sql_float_key_literal(1.1f), "1.100000023841858");
}

// Without a connection: backslash escapes; a zero character travels whole.
TEST(Literal, TextsWithZeroCharactersGoWhole) {
    engine_at e(new_server);
    const udb_field f(L"t", 10, ole_variant(std::wstring(L"a'b\0c\\", 6)));
    const t_ftd d = column(L"t", VT_BSTR, 10);
    EXPECT_EQ(get_fld_append_str(&f, &d, false), std::string("'a\\'b\\0c\\\\'"));
}

TEST(Literal, MasksAreLogged) {
    log_capture log;
    to_mysql_str("a'b", VT_BSTR);
    EXPECT_TRUE(log.has_line("to_mysql_str(a'b)"));
    EXPECT_TRUE(log.has_line("Got symbol to mask (2): '"));
    to_mysql_wstr(L"c\\d", VT_BSTR);
    EXPECT_TRUE(log.has_line("to_mysql_wstr(c\\d)"));
    EXPECT_TRUE(log.has_line("Got symbol to mask (1): \\"));
    to_mysql_str("", VT_NULL);
    EXPECT_TRUE(log.has_line("******* NULL VALUE ******"));
}

TEST(Literal, OfFields) {
    const udb_field bytes(L"b", 0, ole_variant(std::vector<uint8_t>{0, 171}));
    EXPECT_EQ(to_mysql_str(&bytes), "0x00AB");
    const udb_field empty_bytes(L"b", 0, ole_variant(std::vector<uint8_t>{}));
    EXPECT_EQ(to_mysql_str(&empty_bytes), "NULL");
    ole_variant i4;
    i4.set_i4(-7);
    const udb_field number(L"n", 4, i4);
    EXPECT_EQ(to_mysql_str(&number), "-7");
    const udb_field text(L"t", 10, ole_variant(L"it's"));
    EXPECT_EQ(to_mysql_str(&text), "'it\\'s'");
    const udb_field nothing(L"e", 10, ole_variant());
    EXPECT_EQ(to_mysql_str(&nothing), "NULL");
    expect_assertion([] { to_mysql_str(static_cast<const udb_field*>(nullptr)); }, "sql_util", 907);
}

// --- Value texts of row fields ------------------------------------------------------

struct append_case {
    const char* what;
    ole_variant value;
    t_ftd column;
    bool placeholders;
    std::string expected;
};

void PrintTo(const append_case& c, std::ostream* os) { *os << c.what; }

t_ftd not_null(t_ftd d, const ole_variant& def = ole_variant()) {
    d.b_not_null = true;
    d.def_value = def;
    return d;
}

t_ftd with_native(t_ftd d, const std::wstring& native) {
    d.native_type = native;
    return d;
}

ole_variant i4(int32_t v) {
    ole_variant x;
    x.set_i4(v);
    return x;
}

ole_variant null_value() {
    ole_variant x;
    x.set_null();
    return x;
}

class AppendText : public ::testing::TestWithParam<append_case> {};

TEST_P(AppendText, ForOneField) {
    const auto& c = GetParam();
    const udb_field f(c.column.name, c.column.size, c.value);
    in_locales([&] { EXPECT_EQ(get_fld_append_str(&f, &c.column, c.placeholders), c.expected); });
}

INSTANTIATE_TEST_SUITE_P(
    Fields, AppendText,
    ::testing::Values(
        append_case{"text", ole_variant(L"O'Brien"), column(L"c", VT_BSTR, 20), false, "'O\\'Brien'"},
        append_case{"empty text is empty", ole_variant(L""), column(L"c", VT_BSTR, 20), false, "''"},
        append_case{"no value for text", ole_variant(), column(L"c", VT_BSTR, 20), false, "NULL"},
        append_case{"geometry", ole_variant(L"POINT(1 2)"), column(L"g", VT_BSTR, 0, 2), false,
                    "ST_GeomFromText('POINT(1 2)')"},
        append_case{"geometry text is escaped", ole_variant(L"POINT(1 2)') , ('x"), column(L"g", VT_BSTR, 0, 8),
                    false, "ST_GeomFromText('POINT(1 2)\\') , (\\'x')"},
        append_case{"no geometry", ole_variant(), column(L"g", VT_BSTR, 0, 2), false, "NULL"},
        append_case{"GUID column", ole_variant(L"{01234567-89ab-cdef-0123-456789abcdef}"),
                    with_native(column(L"g", VT_BSTR, 36), L"uuid"), false,
                    "'01234567-89ab-cdef-0123-456789abcdef'"},
        append_case{"GUID text of a text column", ole_variant(L"{01234567-89ab-cdef-0123-456789abcdef}"),
                    column(L"g", VT_BSTR, 40), false, "'{01234567-89ab-cdef-0123-456789abcdef}'"},
        append_case{"number", i4(42), column(L"n", VT_I4), false, "42"},
        append_case{"number for a text column keeps its text", ole_variant(2.5e-7), column(L"t", VT_BSTR, 30), false,
                    "'" + u8(ole_variant(2.5e-7).to_wstring()) + "'"},
        append_case{"number text for a number", ole_variant(L"42"), column(L"n", VT_I4), false, "42"},
        append_case{"other text for a number", ole_variant(L"4 2"), column(L"n", VT_I4), false, "'4 2'"},
        append_case{"nullable number without value", ole_variant(), column(L"n", VT_I4), false, "NULL"},
        append_case{"NULL for a nullable number", null_value(), column(L"n", VT_I4), false, "NULL"},
        append_case{"NOT NULL number without value or default", ole_variant(), not_null(column(L"n", VT_I4)), false,
                    "0"},
        append_case{"NOT NULL number with empty text", ole_variant(L""), not_null(column(L"n", VT_R8)), false, "0"},
        append_case{"NOT NULL number with a default", ole_variant(), not_null(column(L"n", VT_I4), i4(7)), false,
                    "7"},
        append_case{"NOT NULL text default", ole_variant(), not_null(column(L"d", VT_DATE, 0, 1),
                                                                     ole_variant(L"2020-01-02 03:04:05")),
                    false, "'2020-01-02 03:04:05'"},
        append_case{"NOT NULL date computed by the server", ole_variant(),
                    not_null(column(L"d", VT_DATE, 0, 9), ole_variant(L"CURRENT_TIMESTAMP")), false, "DEFAULT"},
        append_case{"byte array", ole_variant(std::vector<uint8_t>{0xDE, 0xAD}), column(L"b", VT_BYTE_ARRAY, 10),
                    false, "0xDEAD"},
        append_case{"no bytes", ole_variant(), not_null(column(L"b", VT_BLOB, 10)), false, "NULL"},
        append_case{"date", ole_variant(L"2021-12-31 23:59:58"), column(L"d", VT_DATE, 0, 1), false,
                    "'2021-12-31 23:59:58'"}),
    param_name<append_case>);

TEST(AppendText, PlaceholderAboveTheThreshold) {
    const t_ftd text = column(L"t", VT_BSTR, 0);
    const udb_field big(L"t", 0, ole_variant(std::wstring(sql_placeholder_threshold + 1, L'a')));
    const udb_field limit(L"t", 0, ole_variant(std::wstring(sql_placeholder_threshold, L'a')));
    EXPECT_EQ(get_fld_append_str(&big, &text, true), "?");
    EXPECT_EQ(get_fld_append_str(&limit, &text, true).size(), sql_placeholder_threshold + 2);
    EXPECT_EQ(get_fld_append_str(&big, &text, false).size(), sql_placeholder_threshold + 3);

    const t_ftd blob = column(L"b", VT_BLOB, 0);
    const udb_field bytes(L"b", 0, ole_variant(std::vector<uint8_t>(sql_placeholder_threshold + 1, 1)));
    EXPECT_EQ(get_fld_append_str(&bytes, &blob, true), "?");
}

// Takes integer values only and writes them through a function.
class hex_rule : public udb_rule {
public:
    bool is_acceptable(const ole_variant& v) const override { return v.type() == VT_I4; }
    bool is_acceptable(const t_ftd&) const override { return false; }
    std::wstring handle(const ole_variant& v) const override { return L"HEX(" + v.to_wstring() + L")"; }
    std::wstring handle(const t_ftd&) const override { return {}; }
};

TEST(AppendText, CustomConversionRuleWritesTheValue) {
    const t_ftd d = column(L"c", VT_BSTR, 10);
    const udb_field number(L"c", 4, i4(255));
    const udb_field text(L"c", 4, ole_variant(L"x"));
    EXPECT_EQ(get_fld_append_str(&number, &d, false), "'255'");
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<hex_rule>());
    EXPECT_EQ(get_fld_append_str(&number, &d, false), "HEX(255)");
    EXPECT_EQ(get_fld_append_str(&text, &d, false), "'x'");
}

TEST(AppendText, NullArgumentsAreInternalErrors) {
    const t_ftd d = column(L"c", VT_I4);
    const udb_field f(L"c", 4, i4(1));
    expect_assertion([&] { get_fld_append_str(nullptr, &d, false); }, "sql_util", 1138);
    expect_assertion([&] { get_fld_append_str(&f, nullptr, false); }, "sql_util", 1139);
}

// --- Column types ---------------------------------------------------------------------

struct type_case {
    const char* what;
    t_ftd column;
    std::wstring type;
    std::wstring bare;
    std::wstring new_type = {};  // on servers that keep fractions of seconds, when it differs
};

void PrintTo(const type_case& c, std::ostream* os) { *os << c.what; }

t_ftd decimal(int32_t precision, int32_t scale) {
    t_ftd d = column(L"d", VT_DECIMAL);
    d.precision = precision;
    d.scale = scale;
    return d;
}

t_ftd date_with_default(const std::wstring& def, uint32_t reserved = 1) {
    t_ftd d = column(L"d", VT_DATE, 0, reserved);
    d.def_value = ole_variant(def);
    return d;
}

const std::vector<type_case>& type_cases() {
    static const std::vector<type_case> cases = {
        {"I2", column(L"c", VT_I2), L"SMALLINT", L"SMALLINT"},
        {"I4", column(L"c", VT_I4), L"INT", L"INT"},
        {"INT", column(L"c", VT_INT), L"INT", L"INT"},
        {"R4", column(L"c", VT_R4), L"FLOAT", L"FLOAT"},
        {"R8", column(L"c", VT_R8), L"DOUBLE", L"DOUBLE"},
        {"CY", column(L"c", VT_CY), L"DECIMAL(19,4)", L"DECIMAL"},
        {"BOOL", column(L"c", VT_BOOL), L"TINYINT(1)", L"TINYINT"},
        {"DECIMAL", decimal(10, 2), L"DECIMAL(10,2)", L"DECIMAL"},
        {"DECIMAL without precision", decimal(0, 0), L"DOUBLE", L"DOUBLE"},
        {"DECIMAL beyond the server", decimal(70, 2), L"DOUBLE", L"DOUBLE"},
        {"DECIMAL scale above precision", decimal(5, 6), L"DOUBLE", L"DOUBLE"},
        {"DECIMAL widest", decimal(65, 30), L"DECIMAL(65,30)", L"DECIMAL"},
        {"I1", column(L"c", VT_I1), L"TINYINT", L"TINYINT"},
        {"UI1", column(L"c", VT_UI1), L"TINYINT UNSIGNED", L"TINYINT UNSIGNED"},
        {"UI2", column(L"c", VT_UI2), L"SMALLINT UNSIGNED", L"SMALLINT UNSIGNED"},
        {"UI4", column(L"c", VT_UI4), L"INT UNSIGNED", L"INT UNSIGNED"},
        {"UINT", column(L"c", VT_UINT), L"INT UNSIGNED", L"INT UNSIGNED"},
        {"I8", column(L"c", VT_I8), L"BIGINT", L"BIGINT"},
        {"UI8", column(L"c", VT_UI8), L"BIGINT UNSIGNED", L"BIGINT UNSIGNED"},
        {"blob 0", column(L"c", VT_BLOB, 0), L"LONGBLOB", L"LONGBLOB"},
        {"blob 1", column(L"c", VT_BLOB, 1), L"VARBINARY(1)", L"VARBINARY"},
        {"blob 255", column(L"c", VT_BYTE_ARRAY, 255), L"VARBINARY(255)", L"VARBINARY"},
        {"blob 256", column(L"c", VT_BLOB, 256), L"BLOB", L"BLOB"},
        {"blob 65535", column(L"c", VT_BLOB, 65535), L"BLOB", L"BLOB"},
        {"blob 65536", column(L"c", VT_BLOB, 65536), L"MEDIUMBLOB", L"MEDIUMBLOB"},
        {"blob 16777215", column(L"c", VT_BYTE_ARRAY, 16777215), L"MEDIUMBLOB", L"MEDIUMBLOB"},
        {"blob 16777216", column(L"c", VT_BLOB, 16777216), L"LONGBLOB", L"LONGBLOB"},
        {"text 1", column(L"c", VT_BSTR, 1), L"VARCHAR(1)", L"VARCHAR"},
        {"text 21844", column(L"c", VT_BSTR, 21844), L"VARCHAR(21844)", L"VARCHAR"},
        {"text 21845 is a large string", column(L"c", VT_BSTR, 21845), L"MEDIUMTEXT", L"MEDIUMTEXT"},
        {"text 21846", column(L"c", VT_BSTR, 21846), L"MEDIUMTEXT", L"MEDIUMTEXT"},
        {"text 5592405", column(L"c", VT_BSTR, 5592405), L"MEDIUMTEXT", L"MEDIUMTEXT"},
        {"text 5592406", column(L"c", VT_BSTR, 5592406), L"LONGTEXT", L"LONGTEXT"},
        {"text 0", column(L"c", VT_BSTR, 0), L"LONGTEXT", L"LONGTEXT"},
        {"fixed width", column(L"c", VT_BSTR, 10, 16), L"CHAR(10)", L"CHAR"},
        {"fixed width beyond CHAR", column(L"c", VT_BSTR, 300, 16), L"VARCHAR(300)", L"VARCHAR"},
        {"fixed width without size", column(L"c", VT_BSTR, 0, 16), L"LONGTEXT", L"LONGTEXT"},
        {"geometry 2", column(L"c", VT_BSTR, 0, 2), L"geometry", L"geometry"},
        {"geometry 8", column(L"c", VT_BSTR, 100, 8), L"geometry", L"geometry"},
        {"date as text", column(L"c", VT_DATE, 0, 0), L"CHAR(19)", L"CHAR"},
        {"date and time", column(L"c", VT_DATE, 0, 1), L"DATETIME", L"DATETIME", L"DATETIME(6)"},
        {"pure date", column(L"c", VT_DATE, 0, 2), L"DATE", L"DATE"},
        {"pure time", column(L"c", VT_DATE, 0, 3), L"TIME", L"TIME", L"TIME(6)"},
        {"current timestamp", column(L"c", VT_DATE, 0, 9), L"TIMESTAMP", L"TIMESTAMP"},
        {"current date", column(L"c", VT_DATE, 0, 10), L"DATE", L"DATE"},
        {"current time", column(L"c", VT_DATE, 0, 11), L"TIME", L"TIME", L"TIME(6)"},
        {"getutcdate default", date_with_default(L"GETUTCDATE()"), L"TIMESTAMP", L"TIMESTAMP"},
        {"now default", date_with_default(L"now()", 2), L"TIMESTAMP", L"TIMESTAMP"},
        {"sysdate default", date_with_default(L"SysDate", 3), L"TIMESTAMP", L"TIMESTAMP"},
        {"date() default", date_with_default(L"DATE()", 1), L"DATE", L"DATE"},
    };
    return cases;
}

class ColumnType : public ::testing::TestWithParam<type_case> {};

TEST_P(ColumnType, FullAndBareOnNewAndOldServers) {
    const auto& c = GetParam();
    for (uint32_t version : {new_server, old_server}) {
        engine_at e(version);
        SCOPED_TRACE(version);
        const bool fractions = version == new_server && !c.new_type.empty();
        EXPECT_EQ(get_sql_native_type2(&c.column, false), fractions ? c.new_type : c.type);
        EXPECT_EQ(get_sql_native_type2(&c.column, true), c.bare);
    }
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ColumnType, ::testing::ValuesIn(type_cases()), param_name<type_case>);

TEST(ColumnTypeErrors, UnsupportedTypesAreInternalErrors) {
    engine_at e(new_server);
    for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_DISPATCH, VT_ERROR, VT_VARIANT, VT_UNKNOWN, VT_VOID, VT_BLOB_OBJECT,
                       static_cast<VARTYPE>(64), static_cast<VARTYPE>(66), static_cast<VARTYPE>(VT_ARRAY | VT_I4)}) {
        const t_ftd d = column(L"c", vt);
        expect_assertion([&] { get_sql_native_type2(&d, false); }, "sql_util", 604);
    }
    expect_assertion([] { get_sql_native_type2(nullptr, false); }, "sql_util", 604);
}

TEST(ColumnTypeErrors, DatesNeedTheEngine) {
    ASSERT_EQ(sql_engine::peek(), nullptr);
    const t_ftd dt = column(L"c", VT_DATE, 0, 1);
    expect_assertion([&] { get_sql_native_type2(&dt, false); }, tk_singl_source, 64);
    const t_ftd d = column(L"c", VT_DATE, 0, 2);
    EXPECT_EQ(get_sql_native_type2(&d, false), L"DATE");
}

// --- Defaults -----------------------------------------------------------------------------

struct default_case {
    const char* what;
    t_ftd column;
    std::wstring expected;
};

void PrintTo(const default_case& c, std::ostream* os) { *os << c.what; }

t_ftd with_default(t_ftd d, const wchar_t* def) {
    d.def_value = ole_variant(def);
    return d;
}

t_ftd with_default(t_ftd d, const ole_variant& def) {
    d.def_value = def;
    return d;
}

t_ftd decimal_default(int32_t precision, int32_t scale, const wchar_t* def) {
    return with_default(decimal(precision, scale), def);
}

const std::vector<default_case>& default_cases() {
    static const std::vector<default_case> cases = {
        {"oracle timestamp text", with_default(column(L"c", VT_BSTR, 30), L"to_char(sysdate,'yyyy-mm-dd hh24:mi:ss')"),
         L""},
        {"current timestamp", column(L"c", VT_DATE, 0, 9), L"CURRENT_TIMESTAMP"},
        {"current date", column(L"c", VT_DATE, 0, 10), L"CURRENT_DATE()"},
        {"current time", column(L"c", VT_DATE, 0, 11), L"CURRENT_TIME()"},
        {"text", with_default(column(L"c", VT_BSTR, 20), L"it's"), L"'it\\'s'"},
        {"text with backslash", with_default(column(L"c", VT_BSTR, 20), L"C:\\dir"), L"'C:\\\\dir'"},
        {"text longer than the column", with_default(column(L"c", VT_BSTR, 3), L"abcd"), L""},
        {"geometry", with_default(column(L"c", VT_BSTR, 0, 2), L"POINT(1 2)"), L""},
        {"text as long as the column", with_default(column(L"c", VT_BSTR, 4), L"abcd"), L"'abcd'"},
        {"no default", column(L"c", VT_I4), L""},
        {"newid", with_default(column(L"c", VT_I4), L"NEWID()"), L""},
        {"integer", with_default(column(L"c", VT_I4), L"7"), L"7"},
        {"negative integer", with_default(column(L"c", VT_I2), L"-5"), L"-5"},
        {"leading zeros", with_default(column(L"c", VT_I4), L"007"), L""},
        {"plus sign", with_default(column(L"c", VT_I4), L"+5"), L""},
        {"trailing text", with_default(column(L"c", VT_I4), L"5,0"), L""},
        {"INT range", with_default(column(L"c", VT_I4), L"3000000000"), L""},
        {"INT UNSIGNED range", with_default(column(L"c", VT_UI4), L"3000000000"), L"3000000000"},
        {"TINYINT UNSIGNED range", with_default(column(L"c", VT_UI1), L"256"), L""},
        {"TINYINT UNSIGNED top", with_default(column(L"c", VT_UI1), L"255"), L"255"},
        {"unsigned negative", with_default(column(L"c", VT_UI2), L"-1"), L""},
        {"boolean true", with_default(column(L"c", VT_BOOL), ole_variant(true)), L"1"},
        {"BIGINT lowest", with_default(column(L"c", VT_I8), L"-9223372036854775808"), L"-9223372036854775808"},
        {"BIGINT UNSIGNED top", with_default(column(L"c", VT_UI8), L"18446744073709551615"),
         L"18446744073709551615"},
        {"BIGINT UNSIGNED negative", with_default(column(L"c", VT_UI8), L"-1"), L""},
        {"real", with_default(column(L"c", VT_R8), L"1.5"), L"1.5"},
        {"real zero", with_default(column(L"c", VT_R8), L"0"), L"0"},
        {"real zero with point", with_default(column(L"c", VT_R4), L"0.0"), L"0.0"},
        {"real exponent", with_default(column(L"c", VT_R8), L"-2.5e-3"), L"-2.5e-3"},
        {"real with trailing text", with_default(column(L"c", VT_R8), L"1.5abc"), L""},
        {"real zero with comma", with_default(column(L"c", VT_R8), L"0,0"), L""},
        {"real text", with_default(column(L"c", VT_R8), L"abc"), L""},
        {"FLOAT range", with_default(column(L"c", VT_R4), L"1e300"), L""},
        {"currency", with_default(column(L"c", VT_CY), L"12.5"), L"12.5"},
        {"decimal in range", decimal_default(5, 2, L"999.99"), L"999.99"},
        {"decimal out of range", decimal_default(5, 2, L"12345"), L""},
        {"getdate", with_default(column(L"c", VT_DATE, 0, 1), L"GetDate()"), L"CURRENT_TIMESTAMP"},
        {"sysdate", with_default(column(L"c", VT_DATE, 0, 1), L"SYSDATE"), L"CURRENT_TIMESTAMP"},
        {"getutcdate is no listed spelling", with_default(column(L"c", VT_DATE, 0, 1), L"getutcdate()"), L""},
        {"date and time", with_default(column(L"c", VT_DATE, 0, 1), L"2020-01-02 03:04:05"),
         L"'2020-01-02 03:04:05'"},
        {"pure date of a date and time", with_default(column(L"c", VT_DATE, 0, 2), L"2020-01-02 03:04:05"),
         L"'2020-01-02'"},
        {"pure time", with_default(column(L"c", VT_DATE, 0, 3), L"12:34:56"), L"'12:34:56'"},
        {"long negative time", with_default(column(L"c", VT_DATE, 0, 3), L"-838:59:59"), L"'-838:59:59'"},
        {"date as text has no fraction", with_default(column(L"c", VT_DATE, 0, 0), L"2020-01-02 03:04:05.250"),
         L"'2020-01-02 03:04:05'"},
        {"not a date", with_default(column(L"c", VT_DATE, 0, 1), L"soon"), L""},
        {"blob", with_default(column(L"c", VT_BLOB, 10), L"x"), L""},
    };
    return cases;
}

class DefaultText : public ::testing::TestWithParam<default_case> {};

TEST_P(DefaultText, OfDescriptor) {
    const auto& c = GetParam();
    in_locales([&] { EXPECT_EQ(make_mysql_def_val(&c.column), c.expected); });
}

INSTANTIATE_TEST_SUITE_P(Descriptors, DefaultText, ::testing::ValuesIn(default_cases()), param_name<default_case>);

TEST(DefaultTextErrors, NullDescriptor) { expect_assertion([] { make_mysql_def_val(nullptr); }, "sql_util", 53); }

// --- On the server ---------------------------------------------------------------------------

std::string type_of(const t_ftd& d) { return u8(get_sql_native_type2(&d, false)); }

// The checking session reads SQL text as the engine's session does (texts
// built without a connection carry backslash escapes).
void read_as_the_engine(fennrow_test::test_database& db) {
    const std::string own = db.conn().scalar("SELECT @@SESSION.sql_mode").value_or("");
    db.conn().exec("SET SESSION sql_mode = '" + sql_engine::session_sql_mode(own) + "'");
}

// The column as table creation gives it: through the schema that keeps the
// row within the server's limits.
t_ftd as_created(const t_ftd& d) {
    sql_schema schema;
    schema.push_back(d);
    return *schema[0];
}

FENNROW_SERVER_TESTS(TypesOnServer);

TEST(TypesOnServer, EveryColumnTypeAndDefaultIsAccepted) {
    engine_at e(new_server);
    fennrow_test::test_database db("types");
    read_as_the_engine(db);
    int n = 0;
    for (const auto& c : type_cases()) {
        SCOPED_TRACE(c.what);
        std::string error;
        const std::string sql = "CREATE TABLE t" + std::to_string(n++) + " (c " + type_of(as_created(c.column)) + ")";
        EXPECT_EQ(db.conn().try_exec(sql, &error), 0u) << sql << ": " << error;
    }
    for (const auto& c : default_cases()) {
        const std::wstring def = make_mysql_def_val(&c.column);
        if (def.empty()) continue;
        SCOPED_TRACE(c.what);
        std::string error;
        const std::string sql = "CREATE TABLE t" + std::to_string(n++) + " (c " + type_of(c.column) + " DEFAULT " +
                                u8(def) + ")";
        EXPECT_EQ(db.conn().try_exec(sql, &error), 0u) << sql << ": " << error;
    }
}

TEST(TypesOnServer, DefaultsReadBack) {
    engine_at e(new_server);
    fennrow_test::test_database db("defaults");
    read_as_the_engine(db);
    struct read_case {
        t_ftd column;
        std::string expected;
    };
    const std::vector<read_case> cases = {
        {with_default(column(L"c", VT_BSTR, 20), L"it's \\ \"x\""), "it's \\ \"x\""},
        {with_default(column(L"c", VT_I4), L"-7"), "-7"},
        {with_default(column(L"c", VT_R8), L"-2.5e-3"), "-0.0025"},
        {decimal_default(5, 2, L"999.99"), "999.99"},
        {with_default(column(L"c", VT_DATE, 0, 1), L"2020-01-02 03:04:05"), "2020-01-02 03:04:05.000000"},
        {with_default(column(L"c", VT_DATE, 0, 3), L"12:34:56"), "12:34:56.000000"},
        {with_default(column(L"c", VT_DATE, 0, 0), L"2020-01-02 03:04:05.250"), "2020-01-02 03:04:05"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string table = "d" + std::to_string(n++);
        db.conn().exec("CREATE TABLE " + table + " (id INT, c " + type_of(c.column) + " DEFAULT " +
                       u8(make_mysql_def_val(&c.column)) + ")");
        db.conn().exec("INSERT INTO " + table + " (id) VALUES (1)");
        EXPECT_EQ(db.conn().scalar("SELECT c FROM " + table), c.expected) << table;
    }
}

// Every literal goes into a column of its type and comes back unchanged.
struct round_trip {
    const char* what;
    std::string literal;
    std::string column_type;
    std::string read;  // the SELECT expression of column c
    std::optional<std::string> expected;
};

FENNROW_SERVER_TESTS(LiteralsOnServer);

TEST(LiteralsOnServer, ReadBackUnchanged) {
    engine_at e(new_server);
    fennrow_test::test_database db("literals");
    read_as_the_engine(db);
    const udb_field bytes(L"b", 0, ole_variant(std::vector<uint8_t>{0, 171, '\'', '\\', 0}));
    std::vector<round_trip> cases = {
        {"quote", to_mysql_str("O'Brien", VT_BSTR), "VARCHAR(100)", "c", "O'Brien"},
        {"backslashes and quotes", to_mysql_str("\\'\"x\\", VT_BSTR), "VARCHAR(100)", "c", "\\'\"x\\"},
        {"backslash zero text", to_mysql_str("\\0 and \\n", VT_BSTR), "VARCHAR(100)", "c", "\\0 and \\n"},
        {"zero character", to_mysql_str("a\0b"s, VT_BSTR), "VARCHAR(100)", "HEX(c)", "610062"},
        {"non-ASCII", u8(to_mysql_wstr(L"\u00FC\u20AC\U0001F600", VT_BSTR)), "VARCHAR(100)", "c",
         "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"line breaks and blanks", to_mysql_str("  a\r\nb\t ", VT_BSTR), "VARCHAR(100)", "c", "  a\r\nb\t "},
        {"percent and underscore", to_mysql_str("%_", VT_BSTR), "VARCHAR(100)", "c", "%_"},
        {"integer", to_mysql_str("-42", VT_I4), "INT", "c", "-42"},
        {"real", to_mysql_str("-1.5e3", VT_R8), "DOUBLE", "c", "-1500"},
        {"decimal", to_mysql_str("123.4500", VT_DECIMAL), "DECIMAL(10,4)", "c", "123.4500"},
        {"hex blob", to_mysql_str("0x1f", VT_BLOB), "BLOB", "HEX(c)", "1F"},
        {"decimal blob", to_mysql_str("12345", VT_BLOB), "BLOB", "c", "12345"},
        {"text blob", to_mysql_str("a'b\\", VT_BLOB), "BLOB", "c", "a'b\\"},
        {"0x blob", to_mysql_str("0x", VT_BLOB), "BLOB", "c", "0x"},
        {"byte array", to_mysql_str(&bytes), "BLOB", "HEX(c)", "00AB275C00"},
        {"date and time", to_mysql_str("2020-01-02 03:04:05", VT_DATE), "DATETIME", "c", "2020-01-02 03:04:05"},
        {"microseconds", to_mysql_str("2020-01-02 03:04:05.123456", VT_DATE), "DATETIME(6)", "c",
         "2020-01-02 03:04:05.123456"},
        {"pure date", to_mysql_str("2020-01-02", VT_DATE), "DATE", "c", "2020-01-02"},
        {"pure time", to_mysql_str("12:34:56", VT_DATE), "TIME", "c", "12:34:56"},
        {"null", to_mysql_str("x", VT_NULL), "INT", "c", std::nullopt},
        {"empty text", to_mysql_str("", VT_BSTR), "VARCHAR(10)", "c", ""},
    };
    const t_ftd geometry = column(L"g", VT_BSTR, 0, 2);
    const udb_field point(L"g", 0, ole_variant(L"POINT(1 2)"));
    cases.push_back({"geometry", get_fld_append_str(&point, &geometry, false), "GEOMETRY", "ST_AsText(c)",
                     "POINT(1 2)"});
    const t_ftd uuid = with_native(column(L"u", VT_BSTR, 36), L"uuid");
    const udb_field braced(L"u", 0, ole_variant(L"{01234567-89ab-cdef-8123-456789abcdef}"));
    cases.push_back({"GUID", get_fld_append_str(&braced, &uuid, false), "UUID", "c",
                     "01234567-89ab-cdef-8123-456789abcdef"});

    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.literal);
        const std::string table = "l" + std::to_string(n++);
        db.conn().exec("CREATE TABLE " + table + " (c " + c.column_type + ")");
        std::string error;
        ASSERT_EQ(db.conn().try_exec("INSERT INTO " + table + " (c) VALUES (" + c.literal + ")", &error), 0u)
            << error;
        EXPECT_EQ(db.conn().scalar("SELECT " + c.read + " FROM " + table), c.expected);
    }
}

TEST(LiteralsOnServer, TextForANumberIsRefusedNotRun) {
    fennrow_test::test_database db("inject");
    read_as_the_engine(db);
    db.conn().exec("CREATE TABLE t (n INT)");
    const std::string literal = to_mysql_str("1); DROP TABLE t; --", VT_I4);
    const udb_field f(L"n", 0, ole_variant(L"2), (3"));
    const t_ftd n = column(L"n", VT_I4);
    for (const std::string& value : {literal, get_fld_append_str(&f, &n, false)}) {
        std::string error;
        EXPECT_NE(db.conn().try_exec("INSERT INTO t (n) VALUES (" + value + ")", &error), 0u) << value;
    }
    EXPECT_EQ(db.conn().scalar("SELECT COUNT(*) FROM t"), "0");
}

TEST(LiteralsOnServer, RowTextsOfAllFieldsInOneInsert) {
    fennrow_test::test_database db("append");
    read_as_the_engine(db);
    db.conn().exec(
        "CREATE TABLE t (a INT NOT NULL, b VARCHAR(20), c DOUBLE NOT NULL DEFAULT 5, d DATETIME, e BLOB, f INT)");
    std::vector<t_ftd> columns = {not_null(column(L"a", VT_I4)), column(L"b", VT_BSTR, 20),
                                  not_null(column(L"c", VT_R8), ole_variant(L"2.5")), column(L"d", VT_DATE, 0, 1),
                                  column(L"e", VT_BLOB, 100), column(L"f", VT_I4)};
    std::vector<udb_field> fields = {udb_field(L"a", 0, ole_variant()),
                                     udb_field(L"b", 0, ole_variant(L"x'y")),
                                     udb_field(L"c", 0, ole_variant(L"")),
                                     udb_field(L"d", 0, ole_variant(L"2001-02-03 04:05:06")),
                                     udb_field(L"e", 0, ole_variant(std::vector<uint8_t>{1, 2})),
                                     udb_field(L"f", 0, ole_variant())};
    std::string values;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) values += ", ";
        values += get_fld_append_str(&fields[i], &columns[i], false);
    }
    db.conn().exec("INSERT INTO t VALUES (" + values + ")");
    const auto rows = db.conn().rows("SELECT a, b, c, d, HEX(e), f FROM t");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "0");
    EXPECT_EQ(rows[0][1], "x'y");
    EXPECT_EQ(rows[0][2], "2.5");
    EXPECT_EQ(rows[0][3], "2001-02-03 04:05:06");
    EXPECT_EQ(rows[0][4], "0102");
    EXPECT_FALSE(rows[0][5].has_value());
}

}  // namespace
