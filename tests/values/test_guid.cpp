// GUIDs found in texts.
#include <gtest/gtest.h>

#include "ole_guid.h"

namespace {

struct guid_case {
    const char* name;
    const wchar_t* text;
    const wchar_t* guid;  // empty: none
};

const guid_case guid_cases[] = {
    {"plain", L"01234567-89ab-cdef-0123-456789ABCDEF", L"01234567-89ab-cdef-0123-456789ABCDEF"},
    {"plain_with_g", L"01234567-89ab-cdef-0123-456789abcdeg", L""},
    {"hyphens_misplaced", L"0123456789ab-cdef-0123-456789abcd-ef", L""},
    {"only_hyphens_and_digits", L"------------------------------------", L""},
    {"braces", L"{01234567-89ab-cdef-0123-456789abcdef}", L"01234567-89ab-cdef-0123-456789abcdef"},
    {"braces_bad_inside", L"{01234567-89ab-cdef-0123+456789abcdef}", L""},
    {"blanks_ignored", L"   {01234567-89ab-cdef-0123-456789abcdef}  ", L"01234567-89ab-cdef-0123-456789abcdef"},
    {"after_word", L"guid={01234567-89ab-cdef-0123-456789abcdef}", L"01234567-89ab-cdef-0123-456789abcdef"},
    {"after_capital_word", L"GUID {01234567-89ab-cdef-0123-456789abcdef}", L"01234567-89ab-cdef-0123-456789abcdef"},
    {"after_word_no_closing_brace", L"guid={01234567-89ab-cdef-0123-456789abcdef", L""},
    {"after_word_35_characters", L"guid={01234567-89ab-cdef-0123-456789abcde}", L""},
    {"after_word_not_hex", L"guid={01234567-89ab-cdef-0123-456789abcdez}", L""},
    {"no_word", L"id = {01234567-89ab-cdef-0123-456789abcdef}", L""},
    {"too_short", L"01234567-89ab-cdef-0123-456789abcde", L""},
    {"46_characters", L"guid = {01234567-89ab-cdef-0123-456789abcdef} x", L""},
};

class Guid : public ::testing::TestWithParam<guid_case> {};

TEST_P(Guid, Extraction) {
    const auto& c = GetParam();
    ole_guid_extractor w{std::wstring(c.text)};
    EXPECT_EQ(w.to_wstring(), c.guid);
    EXPECT_EQ(w.is_valid(), std::wstring(c.guid).size() == 36);
    std::wstring t = c.text;
    ole_guid_extractor n{std::string(t.begin(), t.end())};
    std::wstring g = c.guid;
    EXPECT_EQ(n.to_string(), std::string(g.begin(), g.end()));
}

INSTANTIATE_TEST_SUITE_P(Values, Guid, ::testing::ValuesIn(guid_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GuidExtra, NinetyCharactersAreRefusedBeforeTrimming) {
    std::wstring padded = std::wstring(30, L' ') + L"01234567-89ab-cdef-0123-456789abcdef" + std::wstring(24, L' ');
    ASSERT_EQ(padded.size(), 90u);
    EXPECT_EQ(ole_guid_extractor(padded).to_wstring(), L"01234567-89ab-cdef-0123-456789abcdef");
    padded += L' ';
    EXPECT_EQ(ole_guid_extractor(padded).to_wstring(), L"");
}

}  // namespace
