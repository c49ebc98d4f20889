// The table's line: shown once, with the count when it is known, "?" only
// when it is not known by the time the line must come.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "conv_table_line.h"

namespace {

using outcome = sql_counter::outcome;

struct shown_line {
    std::string text;
    bool exact;
    uint64_t count;
    bool operator==(const shown_line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const shown_line& l) {
    return os << "(" << l.text << ", exact " << l.exact << ", " << l.count << ")";
}

// What the table does, step by step.
enum class step { poll, end_complete, end_failed };

struct line_case {
    const char* name;
    // The answers of the count beside the stream, one per poll (the last is
    // repeated); empty: no count beside the stream.
    std::vector<outcome> answers;
    std::vector<step> steps;
    std::vector<shown_line> expected;
    // How many steps had passed when the line was shown (-1: never).
    int shown_after;
};

class TableLine : public ::testing::TestWithParam<line_case> {};

TEST_P(TableLine, IsShownOnceAtItsTime) {
    const line_case& c = GetParam();
    std::vector<shown_line> lines;
    int steps_done = 0;
    int shown_after = -1;
    conv_table_line line([&](const std::string& text, bool exact, uint64_t count) {
        lines.push_back({text, exact, count});
        if (shown_after < 0) shown_after = steps_done;
    });
    size_t asked = 0;
    if (!c.answers.empty()) {
        line.count_beside([&](uint64_t& count) {
            const outcome answer = c.answers[std::min(asked, c.answers.size() - 1)];
            ++asked;
            if (answer == outcome::known) count = 42;
            return answer;
        });
    }
    const uint64_t records = 7;
    for (step s : c.steps) {
        ++steps_done;
        if (s == step::poll) line.poll();
        if (s == step::end_complete) line.at_end(true, records);
        if (s == step::end_failed) line.at_end(false, records);
    }
    EXPECT_EQ(lines, c.expected);
    EXPECT_EQ(shown_after, c.shown_after);
    EXPECT_EQ(line.shown(), !c.expected.empty());
}

const line_case line_cases[] = {
    // The count comes in while rows stream: shown then, not again at the end.
    {"count_known_while_streaming",
     {outcome::pending, outcome::known},
     {step::poll, step::poll, step::poll, step::end_complete},
     {{"42", true, 42}},
     2},
    // The stream ends before the count: the records received are the count
    // shown, but not the progress's (the count may still disagree).
    {"stream_ends_before_the_count",
     {outcome::pending},
     {step::poll, step::end_complete},
     {{"7", false, 7}},
     2},
    // A failure before the count is in: "?" before its report.
    {"failure_before_the_count",
     {outcome::pending},
     {step::poll, step::end_failed, step::end_failed},
     {{"?", false, 0}},
     2},
    // A count that fails shows "?" at once.
    {"count_fails",
     {outcome::unknown},
     {step::poll, step::end_complete},
     {{"?", false, 0}},
     1},
    // The count connection is gone: the table's end tells the exact count.
    {"count_connection_gone",
     {outcome::no_connection},
     {step::poll, step::poll, step::end_complete},
     {{"7", true, 7}},
     3},
    // A count that is in when the table fails is still shown with its number.
    {"count_in_at_a_failure",
     {outcome::pending, outcome::known},
     {step::poll, step::end_failed},
     {{"42", true, 42}},
     2},
    // No count beside the stream: the end of the table gives the count.
    {"not_counted",
     {},
     {step::poll, step::end_complete},
     {{"7", true, 7}},
     2},
};

INSTANTIATE_TEST_SUITE_P(Cases, TableLine, ::testing::ValuesIn(line_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TableLineBefore, ACountBeforeTheStreamIsShownAtOnceAndOnlyOnce) {
    std::vector<shown_line> lines;
    conv_table_line line([&](const std::string& text, bool exact, uint64_t count) {
        lines.push_back({text, exact, count});
    });
    line.counted_before(true, 5);
    line.poll();
    line.at_end(true, 5);
    EXPECT_EQ(lines, (std::vector<shown_line>{{"5", true, 5}}));

    lines.clear();
    conv_table_line unknown([&](const std::string& text, bool exact, uint64_t count) {
        lines.push_back({text, exact, count});
    });
    unknown.counted_before(false, 0);
    unknown.at_end(false, 0);
    EXPECT_EQ(lines, (std::vector<shown_line>{{"?", false, 0}}));
}

}  // namespace
