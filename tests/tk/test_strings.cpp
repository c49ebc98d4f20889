#include <gtest/gtest.h>

#include <clocale>

#include "tk_excep.h"
#include "tk_utils.h"

namespace {

TEST(Strings, ReplaceAllNeverRescansInsertedText) {
    tk_string s(std::string("it's a 'quote'"));
    EXPECT_EQ(s.replace_all("'", "''"), "it''s a ''quote''");
    EXPECT_EQ(s, "it''s a ''quote''");
    tk_string unchanged(std::string("abc"));
    EXPECT_EQ(unchanged.replace_all("x", "y"), "abc");
    tk_wstring w(std::wstring(L"a.b.c"));
    EXPECT_EQ(w.replace_all(L".", L".."), L"a..b..c");
    tk_wstring e(std::wstring(L"abc"));
    EXPECT_EQ(e.replace_all(L"", L"x"), L"abc");  // ends, changes nothing
}

TEST(Strings, ToLowerChangesAToZOnly) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // whatever the process locale
    tk_wstring w(std::wstring(L"ABC \u00C9t\u00C9 Z"));
    EXPECT_EQ(w.to_lower(), L"abc \u00C9t\u00C9 z");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Strings, TrimSplitEndsWith) {
    EXPECT_EQ(tk_trim(std::string("   ")), "");
    EXPECT_EQ(tk_trim(std::string("  a b  ")), "a b");
    EXPECT_EQ(tk_trim(std::string("\ta ")), "\ta");
    EXPECT_EQ(tk_trim_right(std::wstring(L"  x  ")), L"  x");
    EXPECT_EQ(tk_trim(std::wstring(L"")), L"");

    using V = std::vector<std::string>;
    EXPECT_EQ(tk_split("", ';'), V{});
    EXPECT_EQ(tk_split("a;;b", ';'), (V{"a", "", "b"}));
    EXPECT_EQ(tk_split("a;", ';'), (V{"a", ""}));
    EXPECT_EQ(tk_split(";a", ';'), (V{"", "a"}));

    EXPECT_EQ(tk_ends_with(L"table.CSV", L".csv", false), 1);
    EXPECT_EQ(tk_ends_with(L"table.CSV", L".csv", true), 0);
    EXPECT_EQ(tk_ends_with(L"x", L"", true), 1);
    EXPECT_EQ(tk_ends_with(L"v", L"csv", false), 0);
    EXPECT_EQ(tk_ends_with(L"T\u00C9.CSV", L"t\u00E9.csv", false), 1);
}

TEST(Strings, BytesToHex) {
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0xE9};
    char out[9];
    tk_bytes_to_hex(4, bytes, out);
    EXPECT_STREQ(out, "0AFF00E9");
    wchar_t wout[3];
    tk_bytes_to_hex(1, bytes + 1, wout);
    EXPECT_STREQ(wout, L"FF");
    char none[1] = {'x'};
    tk_bytes_to_hex(0, bytes, none);
    EXPECT_STREQ(none, "");
    EXPECT_THROW(tk_bytes_to_hex(1, bytes, static_cast<char*>(nullptr)), tk_mail_assertion);
}

TEST(Strings, Conversions) {
    std::wstring text = L"Stra\u00DFe \u20AC \U0001F600";
    std::string utf8 = "Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(tk_to_utf8(text), utf8);
    EXPECT_EQ(tk_from_utf8(utf8), text);
    EXPECT_EQ(tk_to_ansi(text, tk_cp_ansi), utf8);
    EXPECT_EQ(tk_to_utf8(L""), "");
    EXPECT_EQ(tk_from_utf8(""), L"");
    EXPECT_EQ(tk_to_utf8(std::wstring(L"ab\0cd", 5)), "ab");
    // Bad input never throws: it becomes U+FFFD.
    EXPECT_EQ(tk_from_utf8("a\xFF" "b"), L"a\uFFFDb");

    wchar_t* wide = new wchar_t[1]{L'x'};
    EXPECT_TRUE(tk_ansi_to_unicode(utf8.c_str(), &wide));
    EXPECT_EQ(std::wstring(wide), text);
    delete[] wide;
    EXPECT_FALSE(tk_ansi_to_unicode(nullptr, &wide));

    char buf[8];
    EXPECT_TRUE(tk_unicode_to_ansi1(L"\u00E9\u00E9\u00E9", buf, sizeof buf));  // 6 bytes + NUL
    EXPECT_STREQ(buf, "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_FALSE(tk_unicode_to_ansi1(L"\U0001F600\U0001F600", buf, sizeof buf));  // 8 bytes + NUL
    EXPECT_TRUE(tk_unicode_to_ansi1(L"", buf, sizeof buf));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(tk_unicode_to_ansi1(nullptr, buf, sizeof buf));

    char* narrow = nullptr;
    EXPECT_TRUE(tk_unicode_to_ansi2(L"\U0001F600\U0001F600\U0001F600", &narrow));
    EXPECT_STREQ(narrow, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    delete[] narrow;

    std::string s3;
    EXPECT_TRUE(tk_unicode_to_ansi3(L"\u20AC", s3));
    EXPECT_EQ(s3, "\xE2\x82\xAC");
    EXPECT_FALSE(tk_unicode_to_ansi3(nullptr, s3));
}

}  // namespace
