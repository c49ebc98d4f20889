#include <gtest/gtest.h>

#include <cerrno>

#include "last_error.h"
#include "tk_excep.h"

namespace {

TEST(Exceptions, TextsCodesAndLevels) {
    tk_exception empty(std::string(), 1);
    EXPECT_STREQ(empty.what(), "Unknown exception");
    EXPECT_EQ(empty.level(), 1u);

    tk_exception by_level(2u);
    EXPECT_STREQ(by_level.what(), "Unknown exception");
    EXPECT_EQ(by_level.code(), 0u);
    EXPECT_EQ(by_level.level(), 2u);

    tk_exception wide(std::wstring(L"Caf\u00E9 \U0001F600"), 0);
    EXPECT_STREQ(wide.what(), "Caf\xC3\xA9 \xF0\x9F\x98\x80");
    tk_exception wide_empty(std::wstring(), 0);
    EXPECT_STREQ(wide_empty.what(), "Unknown exception");

    EXPECT_STREQ(ole_cast_exception().what(), "Cannot cast from source type to destination type");
    EXPECT_EQ(ole_cast_exception().level(), 0u);
    EXPECT_STREQ(ole_type_exception().what(), "The operating type is not supported yet");
    EXPECT_EQ(ole_type_exception().level(), 1u);
}

TEST(Exceptions, ExCarriesSystemTextAndLastErrorCode) {
    plat::set_last_error(ENOENT);
    tk_exception_ex with_prefix("Cannot convert to UTF8 string: ", 0);
    EXPECT_EQ(with_prefix.code(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(with_prefix.level(), 0u);
    EXPECT_EQ(std::string(with_prefix.what()), "Cannot convert to UTF8 string: " + plat::system_error_text(ENOENT));

    plat::set_last_error(EACCES);
    tk_exception_ex bare;
    EXPECT_EQ(bare.level(), 1u);
    EXPECT_EQ(std::string(bare.what()), plat::system_error_text(EACCES));

    // No system text for the code: the message stays, the code is kept.
    plat::set_last_error(0x400000 | 1045);
    tk_exception_ex unknown("prefix: ", 1);
    EXPECT_STREQ(unknown.what(), "Unknown exception");
    EXPECT_EQ(unknown.code(), 0x400000u | 1045u);
}

TEST(Exceptions, AssertionEncodesFileAndLineAsLowerHex) {
    tk_mail_assertion a("x.c", 5);
    EXPECT_EQ(a.level(), 2u);
    EXPECT_EQ(a.code(), 0u);
    EXPECT_STREQ(a.what(), "Internal error: \ncode=782e635c35");

    // Bytes above 0x7F give two digits each, never sign-extended.
    EXPECT_EQ(make_err_meggase("\xE9", 903), "Internal error: \ncode=e95c393033");
}

TEST(Exceptions, FinalExceptionIsOutsideTheFamily) {
    bool caught_as_tk = false, caught_as_std = false;
    try {
        try {
            throw tk_final_exception();
        } catch (const tk_exception&) {
            caught_as_tk = true;
        }
    } catch (const std::exception&) {
        caught_as_std = true;
    }
    EXPECT_FALSE(caught_as_tk);
    EXPECT_TRUE(caught_as_std);

    EXPECT_THROW(throw tk_mail_assertion("f", 1), tk_exception);
}

}  // namespace
