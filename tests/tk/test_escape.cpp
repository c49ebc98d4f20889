// Control characters of names and inputs shown escaped on the console.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tk_escape.h"

namespace {

struct escape_case {
    const char* what;
    std::string in;
    bool keep_line_feeds;
    std::string out;
};

TEST(escape_controls, by_the_rules) {
    const std::vector<escape_case> cases = {
        {"plain text stays", "orders_2024 x.csv", false, "orders_2024 x.csv"},
        {"escape sequences of a hostile name", "a\x1b[2J\x1b]0;x\x07" "b", false, "a\\x1b[2J\\x1b]0;x\\x07b"},
        {"line feed, CR, tab, NUL", std::string("1\n2\r3\t4\0005", 9), false, "1\\x0a2\\x0d3\\x094\\x005"},
        {"DEL", "a\x7f" "b", false, "a\\x7fb"},
        {"line feeds kept when asked", "one\ntwo\x1b", true, "one\ntwo\\x1b"},
        {"C1 controls in UTF-8", "a\xC2\x9B" "1m\xC2\x80", false, "a\\u009b1m\\u0080"},
        {"other UTF-8 stays", "caf\xC3\xA9 \xC2\xA0 \xF0\x9F\x98\x80", false, "caf\xC3\xA9 \xC2\xA0 \xF0\x9F\x98\x80"},
        {"lone lead byte at the end", "x\xC2", false, "x\\xc2"},
        {"Latin-1 bytes of a path", "B\xFC" "cher/\xE4", false, "B\\xfccher/\\xe4"},
        {"overlong and surrogate forms", "\xC0\xAF\xED\xA0\x80", false, "\\xc0\\xaf\\xed\\xa0\\x80"},
        {"stray continuation byte", "a\x80" "b", false, "a\\x80b"},
        {"direction overrides and isolates", "a\xE2\x80\xAE" "b\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9", false,
         "a\\u202eb\\u202a\\u2066\\u2069"},
        {"neighbours of the direction controls stay", "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", false,
         "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const escape_case& c : cases) EXPECT_EQ(tk_escape_controls(c.in, c.keep_line_feeds), c.out) << c.what;
}

}  // namespace
