#include <gtest/gtest.h>

#include "tk_singl.h"

namespace {

struct widget : tk_singleton<widget> {
    explicit widget(int v) : value(v) {}
    int value;
};

TEST(Singleton, FirstRegisteredWinsAndOnlyItClearsRegistration) {
    EXPECT_THROW(widget::ptr(), tk_mail_assertion);
    {
        widget first(1);
        EXPECT_EQ(widget::ptr(), &first);
        {
            widget second(2);
            EXPECT_EQ(widget::instance(), &first);
        }
        // Destroying the unregistered second object leaves the first reachable.
        EXPECT_EQ(widget::ptr(), &first);
    }
    EXPECT_EQ(widget::peek(), nullptr);
    try {
        widget::instance();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_STREQ(e.what(), make_err_meggase("..\\TK/tk_singl", 71).c_str());
    }
}

}  // namespace
