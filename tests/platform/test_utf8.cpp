#include <gtest/gtest.h>

#include "utf8.h"

namespace {

struct decode_case {
    const char* name;
    std::string bytes;
    std::wstring text;
};

class Utf8Decode : public ::testing::TestWithParam<decode_case> {};

TEST_P(Utf8Decode, GivesCodePointsAndReplacesBadSequences) {
    const auto& c = GetParam();
    EXPECT_EQ(plat::utf8_decode(c.bytes), c.text) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    ::testing::Values(
        decode_case{"ascii", "abc", L"abc"},
        decode_case{"two bytes", "\xC3\xA9", L"\u00E9"},
        decode_case{"three bytes", "\xE2\x82\xAC", L"\u20AC"},
        decode_case{"four bytes", "\xF0\x9F\x98\x80", L"\U0001F600"},
        decode_case{"lone continuation", "a\x80z", L"a\uFFFDz"},
        decode_case{"truncated at end", "a\xE2\x82", L"a\uFFFD"},
        decode_case{"overlong", "\xC0\xAF", L"\uFFFD\uFFFD"},
        decode_case{"surrogate encoded", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
        decode_case{"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        decode_case{"embedded zero kept", std::string("a\0b", 3), std::wstring(L"a\0b", 3)}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (auto& ch : n) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(Utf8Encode, RoundTripsEveryPlaneAndReplacesInvalidCodePoints) {
    std::wstring text = L"a\u00E9\u20AC\U0001F600\U0010FFFF";
    EXPECT_EQ(plat::utf8_decode(plat::utf8_encode(text)), text);
    EXPECT_EQ(plat::utf8_encode(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(plat::utf8_encode(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(Utf8Valid, AcceptsWellFormedOnly) {
    EXPECT_TRUE(plat::utf8_valid("plain \xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD"));
    EXPECT_FALSE(plat::utf8_valid("\xFF"));
    EXPECT_FALSE(plat::utf8_valid("\xC3"));
    EXPECT_FALSE(plat::utf8_valid("\xED\xA0\x80"));
}

}  // namespace
