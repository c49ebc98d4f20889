#include <gtest/gtest.h>

#include "tk_errco.h"
#include "tk_excep.h"

namespace {

TEST(ErrorConverter, FirstRowOfACodeWinsAndMissingCodesGiveEmptyText) {
    const tk_error_row rows[] = {
        {0x400000u | 1045u, "Access denied"},
        {0x400000u | 2003u, "Cannot connect"},
        {0x400000u | 1045u, "second text for 1045"},
        {13u, "Permission denied"},
    };
    tk_error_converter conv(4, rows);
    EXPECT_EQ(conv.convert(0x400000u | 1045u), "Access denied");
    EXPECT_EQ(conv.convert(0x400000u | 2003u), "Cannot connect");
    EXPECT_EQ(conv.convert(13u), "Permission denied");
    EXPECT_EQ(conv.convert(1045u), "");
    EXPECT_EQ(conv.convert(0u), "");

    // A later load adds codes but keeps the texts already there.
    const tk_error_row more[] = {{13u, "other"}, {2u, "No such file"}};
    conv.load_map(2, more);
    EXPECT_EQ(conv.convert(13u), "Permission denied");
    EXPECT_EQ(conv.convert(2u), "No such file");
}

TEST(ErrorConverter, CountLimitsTheRowsRead) {
    const tk_error_row rows[] = {{1u, "one"}, {2u, "two"}};
    tk_error_converter none(0, rows);
    EXPECT_EQ(none.convert(1u), "");
    tk_error_converter first(1, rows);
    EXPECT_EQ(first.convert(1u), "one");
    EXPECT_EQ(first.convert(2u), "");
}

TEST(ErrorConverter, NullTableIsAnInternalError) {
    try {
        tk_error_converter conv(3, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("tk_errco", 43));
    }
}

}  // namespace
