#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>

#include "numbers.h"
#include "text.h"
#include "wformat.h"

namespace {

TEST(WideFormat, TranslatesWindowsConventions) {
    EXPECT_EQ(plat::translate_wformat(L"%s|%c|%5.2f|%I64d|%I64u|%%s|%-10s"),
              L"%ls|%lc|%5.2f|%ld|%lu|%%s|%-10ls");
    EXPECT_EQ(plat::translate_format("%s %I64d %02d"), "%s %ld %02d");
}

TEST(WideFormat, FormatsWideArgumentsAndGrowsForLongText) {
    std::wstring long_text(50000, L'x');
    std::wstring out = plat::wformat(L"[%s] %I64u %c", long_text.c_str(), static_cast<uint64_t>(18446744073709551615ull), L'\u00E9');
    EXPECT_EQ(out, L"[" + long_text + L"] 18446744073709551615 \u00E9");
    EXPECT_EQ(plat::wformat(L"%s", L"\U0001F600 \u20AC"), L"\U0001F600 \u20AC");
}

TEST(Numbers, TextIsLocaleFree) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    bool have_de = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(plat::double_to_text(2.5), "2.5");
    EXPECT_EQ(plat::double_to_text(0.1), "0.1");
    EXPECT_EQ(plat::double_to_fixed(12345.675, 2).find(','), std::string::npos);
    EXPECT_EQ(plat::double_to_general(0.5, 6), "0.5");
    ASSERT_TRUE(plat::text_to_double("3.25").has_value());
    EXPECT_DOUBLE_EQ(*plat::text_to_double(" 3.25 "), 3.25);
    EXPECT_FALSE(plat::text_to_double("3,25").has_value());
    EXPECT_EQ(plat::int64_to_text(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(plat::text_to_uint64("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(plat::text_to_uint64("-1").has_value());
    EXPECT_FALSE(plat::text_to_int64("12x").has_value());
    // Case folding and letter tests do not follow the process locale either.
    EXPECT_EQ(plat::fold_case(L'\u00C9'), L'\u00E9');
    EXPECT_EQ(plat::ascii_lower(L'\u00C9'), L'\u00C9');
    EXPECT_TRUE(plat::is_alnum(L'\u00E9'));
    EXPECT_FALSE(plat::is_alnum(L'-'));
    EXPECT_TRUE(plat::equal_nocase(L"TABLE.\u00C9", L"table.\u00E9"));
    std::setlocale(LC_ALL, saved.c_str());
    if (!have_de) GTEST_SKIP() << "de_DE.UTF-8 not installed; ran under the C locale only";
}

}  // namespace
