#include <gtest/gtest.h>

#include "tk_singl.h"

namespace {

struct widget : tk_singleton<widget> {
    explicit widget(int v) : value(v) {}
    int value;
};

TEST(Singleton, SecondRegistrationIsAnInternalError) {
    EXPECT_THROW(widget::ptr(), tk_mail_assertion);
    {
        widget first(1);
        EXPECT_EQ(widget::ptr(), &first);
        try {
            widget second(2);
            FAIL() << "a second object was registered silently";
        } catch (const tk_mail_assertion& e) {
            EXPECT_EQ(e.level(), 2u);
            EXPECT_STREQ(e.what(), make_err_meggase("..\\TK/tk_singl", 57).c_str());
        }
        // The refused object leaves the first one registered.
        EXPECT_EQ(widget::instance(), &first);
        EXPECT_EQ(widget::instance()->value, 1);
    }
    EXPECT_EQ(widget::peek(), nullptr);
    // Once the first is gone, a new one registers.
    {
        widget again(3);
        EXPECT_EQ(widget::ptr(), &again);
    }
    try {
        widget::instance();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_STREQ(e.what(), make_err_meggase("..\\TK/tk_singl", 71).c_str());
    }
}

}  // namespace
