// White space of view texts and the two-argument test of function calls.
#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>

#include "param_names.h"
#include "sql_view_text.h"

namespace {

struct space_case {
    const wchar_t* text;
    const wchar_t* expected;
};

void PrintTo(const space_case& c, std::ostream* os) { *os << "text of " << std::wcslen(c.text) << " characters"; }

class CollapseWhiteSpace : public ::testing::TestWithParam<space_case> {};

TEST_P(CollapseWhiteSpace, OutsideQuotes) {
    EXPECT_EQ(sql_collapse_white_space(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CollapseWhiteSpace,
    ::testing::Values(space_case{L"a\r\n\tb", L"a b"},
                      space_case{L"  select  ", L" select "},
                      space_case{L"select\n*\n\nfrom t", L"select * from t"},
                      space_case{L"'a   b'", L"'a   b'"},
                      space_case{L"\"a \t b\"", L"\"a \t b\""},
                      space_case{L"x  'it''s  here'  y", L"x 'it''s  here' y"},
                      space_case{L"\"it's  \"  z", L"\"it's  \" z"},
                      space_case{L"'a \"  b'  c", L"'a \"  b' c"},
                      space_case{L"", L""},
                      space_case{L"\r\n", L" "},
                      space_case{L"a\u00A0\u00A0b", L"a\u00A0\u00A0b"},
                      space_case{L"from t -- every row\n  where id = 2", L"from t -- every row\nwhere id = 2"},
                      space_case{L"from t # it's\n\twhere id = 2", L"from t # it's\nwhere id = 2"},
                      space_case{L"a /* it's   \n x */  b", L"a /* it's   \n x */ b"},
                      space_case{L"a /*/ x   */  b", L"a /*/ x   */ b"},
                      space_case{L"'a\\'b   c'  d", L"'a\\'b   c' d"},
                      space_case{L"\"a\\\"b   c\"  d", L"\"a\\\"b   c\" d"},
                      space_case{L"1--1   x", L"1--1 x"},
                      space_case{L"x  --", L"x --"}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

struct isnull_case {
    const wchar_t* text;
    int32_t pos;
    bool expected;
};

void PrintTo(const isnull_case& c, std::ostream* os) { *os << "position " << c.pos; }

class IsnullForReplace : public ::testing::TestWithParam<isnull_case> {};

TEST_P(IsnullForReplace, CountsTheArguments) {
    EXPECT_EQ(sql_view_converter::check_isnull_for_replace(GetParam().text, GetParam().pos), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, IsnullForReplace,
    ::testing::Values(isnull_case{L"isnull(a,b)", 0, true},
                      isnull_case{L"isnull(a,f(b,c))", 0, false},
                      isnull_case{L"isnull(a)", 0, false},
                      isnull_case{L"isnull(a,b)", -1, false},
                      isnull_case{L"isnull(a,b)", 11, false},
                      isnull_case{L"isnull", 0, false},
                      isnull_case{L"select isnull(x, 0), y, z", 7, true},
                      isnull_case{L"isnull(f(a),b)", 0, true},
                      isnull_case{L"isnull(a,b), c", 0, true},
                      isnull_case{L"isnull (a,b", 0, true},
                      isnull_case{L"isnull(a,b,c)", 0, false}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

}  // namespace
