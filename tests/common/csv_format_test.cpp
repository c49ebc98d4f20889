#include <gtest/gtest.h>

#include <string>

#include "csv_format.h"
#include "csv_parse.h"
#include "param_names.h"
#include "tk_excep.h"
#include "utf8.h"

namespace {

TEST(CsvDelimiters, TableAndRangeCheck) {
    EXPECT_STREQ(csv_get_delimiter(0), L"|+");
    EXPECT_STREQ(csv_get_delimiter(1), L";");
    EXPECT_STREQ(csv_get_delimiter(2), L",");
    EXPECT_EQ(csv_get_delimiter(csv_default_delimiter), csv_delimiters[1]);
    for (int64_t bad : {int64_t(-1), int64_t(3), int64_t(0x100000001LL)}) {
        EXPECT_FALSE(csv_is_delimiter_index(bad));
        try {
            csv_get_delimiter(bad);
            FAIL() << bad;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_STREQ(e.what(), "Invalid CSV delimiter");
        }
    }
}

struct field_case {
    const char* delim;
    const wchar_t* value;
    const char* bytes;  // the field as written
};

class CsvFieldRule : public testing::TestWithParam<field_case> {};

TEST_P(CsvFieldRule, WideAndUtf8FormsWriteTheSameBytes) {
    const auto& c = GetParam();
    std::string wide_out = "pre", utf8_out = "pre";
    csv_append_field(wide_out, c.value, c.delim);
    csv_append_field_utf8(utf8_out, plat::utf8_encode(c.value), c.delim);
    EXPECT_EQ(wide_out, std::string("pre") + c.bytes);
    EXPECT_EQ(utf8_out, std::string("pre") + c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CsvFieldRule,
    testing::Values(
        field_case{";", L"", ""},
        field_case{";", L"plain", "plain"},
        field_case{";", L"  blanks\tand tab ", "  blanks\tand tab "},
        field_case{";", L"a\"b", "\"a\"\"b\""},
        field_case{";", L"\"", "\"\"\"\""},
        field_case{";", L"\"\"x\"", "\"\"\"\"\"x\"\"\""},
        field_case{";", L"a;b", "\"a;b\""},
        field_case{";", L"a,b", "a,b"},
        field_case{",", L"a,b", "\"a,b\""},
        field_case{",", L"a;b", "a;b"},
        field_case{"|+", L"a|b", "a|b"},
        field_case{"|+", L"a+b|", "a+b|"},
        field_case{"|+", L"a|+b", "\"a|+b\""},
        field_case{"|+", L"|+", "\"|+\""},
        field_case{";", L"a\nb", "\"a\nb\""},          // a line break is kept as it is
        field_case{";", L"a\r\nb", "\"a\r\nb\""},
        field_case{";", L"a\rb", "\"a\rb\""},
        field_case{";", L"\u00e4\u20ac", "\xc3\xa4\xe2\x82\xac"},
        field_case{";", L"\U0001F600;", "\"\xf0\x9f\x98\x80;\""},
        field_case{";", L"x\"\u00e4\"", "\"x\"\"\xc3\xa4\"\"\""}),
    [](const testing::TestParamInfo<field_case>& info) {
        const std::string delim = info.param.delim;
        const char* delim_name = delim == ";"    ? "semicolon"
                                 : delim == ","  ? "comma"
                                 : delim == "|+" ? "pipe_plus"
                                                 : "other";
        return "c" + std::to_string(info.index) + "_" + delim_name + "_" + test_names::ident(info.param.value);
    });

struct split_case {
    const wchar_t* delim;
    const wchar_t* line;
    std::vector<std::wstring> fields;
};

std::vector<std::wstring> split(std::wstring_view line, std::wstring_view delim) {
    std::vector<std::wstring> out(1);
    csv_scan(line, delim, csv_state::field_start, [&](wchar_t c) { out.back().push_back(c); },
             [&] { out.emplace_back(); });
    return out;
}

TEST(CsvScan, SplitsFieldsByTheRfcRules) {
    const split_case cases[] = {
        {L";", L"a;b;c", {L"a", L"b", L"c"}},
        {L";", L"a;;", {L"a", L"", L""}},
        {L";", L"", {L""}},
        {L";", L"\"a;b\";c", {L"a;b", L"c"}},
        {L";", L"\"a\"\"b\"", {L"a\"b"}},
        {L";", L"\"\"\"\"", {L"\""}},
        {L";", L"\"\";x", {L"", L"x"}},
        {L";", L"\"a\nb\r\nc\"", {L"a\nb\r\nc"}},
        {L"|+", L"a|+b|c|+d", {L"a", L"b|c", L"d"}},
        {L"|+", L"a|++b", {L"a", L"+b"}},       // the whole delimiter is stepped over
        {L"|+", L"\"x|+y\"|+z", {L"x|+y", L"z"}},
        {L",", L"a\"b,c", {L"a\"b", L"c"}},     // a quote inside a bare field is data
        {L",", L"\"ab\"c,d", {L"abc", L"d"}},   // text after a closing quote is kept
    };
    for (const auto& c : cases) EXPECT_EQ(split(c.line, c.delim), c.fields) << testing::PrintToString(std::wstring(c.line));
}

TEST(CsvScan, StateTellsWhetherARecordGoesOn) {
    auto st = [](std::string_view text) { return csv_scan_state<char>(text, ";", csv_state::field_start); };
    EXPECT_EQ(st("a;\"open"), csv_state::quoted);
    EXPECT_EQ(st("a;\"closed\""), csv_state::quote_seen);
    EXPECT_EQ(st("\"a\"\""), csv_state::quoted);
    EXPECT_EQ(st("a\"b"), csv_state::bare);
    EXPECT_EQ(st("a;"), csv_state::field_start);
}

}  // namespace
