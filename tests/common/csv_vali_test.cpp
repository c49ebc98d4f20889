#include <gtest/gtest.h>

#include <string>

#include "csv_vali.h"
#include "tk_excep.h"
#include "udb_vali.h"

namespace {

struct accept_case {
    const wchar_t* name;
    bool acceptable;
};

TEST(CsvValidator, AcceptsLettersDigitsUnderscoreHyphenOfAnyScript) {
    const accept_case cases[] = {
        {L"order_items", true}, {L"Order-2024", true}, {L"\u00c4rger", true},
        {L"\u0437\u0430\u043a\u0430\u0437\u044b", true}, {L"\u8868", true}, {L"123", true},
        {L"order items", false}, {L"dbo.orders", false}, {L"a/b", false}, {L"..", false},
        {L"tab\tname", false}, {L"x\u00a0y", false}, {L"emoji\U0001F600", false},
        {L"", false},  // an empty name gives no file name
    };
    csv_validator v(L"/tmp");
    for (const auto& c : cases) EXPECT_EQ(v.is_acceptable(c.name), c.acceptable) << "name: " << testing::PrintToString(std::wstring(c.name));
}

TEST(CsvValidator, SafeNameReplacesOtherCharactersAndKeepsCase) {
    csv_validator v(L"/tmp");
    EXPECT_EQ(v.get_safe_name(L"My Table"), L"My_Table");
    EXPECT_EQ(v.get_safe_name(L"dbo.orders (old)"), L"dbo_orders__old_");
    EXPECT_EQ(v.get_safe_name(L"\u00c4rger \u00fcber"), L"\u00c4rger_\u00fcber");
}

TEST(CsvValidator, TakenNamesGetNumbers) {
    csv_validator v(L"/tmp");
    EXPECT_EQ(v.get_safe_name(L"order items"), L"order_items");
    v.add_existing_name(L"order_items");
    EXPECT_EQ(v.get_safe_name(L"order items"), L"order_items000");
    v.add_existing_name(L"order_items000");
    EXPECT_EQ(v.get_safe_name(L"order items"), L"order_items001");
    // Duplicates are found ignoring case.
    v.add_existing_name(L"ORDERS000");
    EXPECT_TRUE(v.is_duplicated(L"orders000"));
    EXPECT_FALSE(v.is_duplicated(L"orders001"));
}

TEST(CsvValidator, RestrictedNamesAreRefusedIgnoringCase) {
    csv_validator v(L"/tmp");
    v.add_restricted_name(L"Orders");
    EXPECT_FALSE(v.is_acceptable(L"ORDERS"));
    EXPECT_FALSE(v.is_acceptable(L"orders"));
    EXPECT_EQ(v.get_safe_name(L"orders"), L"orders000");
}

TEST(CsvValidator, EmptyNameGetsANumberedName) {
    csv_validator v(L"/tmp");
    EXPECT_EQ(v.get_safe_name(L""), L"000");
    v.add_existing_name(L"000");
    EXPECT_EQ(v.get_safe_name(L""), L"001");
}

TEST(CsvValidator, NamesStayWithinTheFileSystemLimit) {
    csv_validator v(L"/tmp");
    const std::wstring longest(csv_validator::max_file_name_bytes - 4, L'a');
    EXPECT_TRUE(v.is_acceptable(longest));
    EXPECT_FALSE(v.is_acceptable(longest + L"a"));
    std::wstring safe = v.get_safe_name(std::wstring(400, L'b'));
    EXPECT_EQ(safe, std::wstring(csv_validator::max_file_name_bytes - 4, L'b'));
    v.add_existing_name(safe);
    std::wstring numbered = v.get_safe_name(std::wstring(400, L'b'));
    EXPECT_EQ(numbered, std::wstring(csv_validator::max_file_name_bytes - 7, L'b') + L"000");
    // Four-byte letters count four bytes each; no character is cut in half.
    std::wstring wide_safe = v.get_safe_name(std::wstring(100, L'\U00020000'));
    EXPECT_EQ(wide_safe, std::wstring((csv_validator::max_file_name_bytes - 4) / 4, L'\U00020000'));
}

TEST(CsvValidator, ThousandsOfTablesAndExhaustion) {
    csv_validator v(L"/tmp");
    // 1000 tables of the same name: the first keeps it, the rest are numbered.
    for (int i = 0; i < 1001; ++i) {
        std::wstring name = v.get_safe_name(L"t t");
        if (i == 0)
            EXPECT_EQ(name, L"t_t");
        else
            EXPECT_EQ(name, L"t_t" + std::wstring(i - 1 < 10 ? L"00" : i - 1 < 100 ? L"0" : L"") + std::to_wstring(i - 1));
        v.add_existing_name(name);
    }
    try {
        v.get_safe_name(L"t t");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        // An ordinary error of this one entry, not an internal one.
        EXPECT_EQ(e.level(), 0u);
        EXPECT_EQ(std::string(e.what()),
                  "No file name is left for this entry: the names t_t and t_t000 to t_t999 are all taken");
    }
}

class plain_validator : public udb_validator {
public:
    explicit plain_validator(uint32_t m) : udb_validator(m) {}
};

TEST(UdbValidator, BaseRules) {
    plain_validator v(10);
    EXPECT_TRUE(v.is_acceptable(L"abcdefghij"));
    EXPECT_FALSE(v.is_acceptable(L"abcdefghijk"));
    v.add_illegal_char(L'+');
    EXPECT_FALSE(v.is_acceptable(L"a+b"));
    v.add_restricted_name(L"select");
    EXPECT_FALSE(v.is_acceptable(L"SeLeCt"));
    EXPECT_TRUE(v.is_acceptable(L"selects"));
    EXPECT_EQ(v.get_safe_name(L"A+B"), L"a_b");
}

TEST(UdbValidator, SafeNameCutsAndNumbers) {
    plain_validator v(10);
    EXPECT_EQ(v.get_safe_name(L"VeryLongTableName"), L"verylongt");
    v.add_existing_name(L"verylongt");
    EXPECT_EQ(v.get_safe_name(L"VeryLongTableName"), L"very00000");
    v.add_existing_name(L"VERY00000");
    EXPECT_EQ(v.get_safe_name(L"VeryLongTableName"), L"very00001");
}

TEST(UdbValidator, ExhaustionRaisesTheAssertion) {
    plain_validator v(0);
    v.add_existing_name(L"x");
    for (int n = 0; n <= 99999; ++n) {
        wchar_t buf[16];
        swprintf(buf, 16, L"x%05d", n);
        v.add_existing_name(buf);
    }
    try {
        v.get_safe_name(L"X");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("udb_vali", 55));
    }
}

}  // namespace
