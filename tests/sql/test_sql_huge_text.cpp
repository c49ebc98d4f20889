// Whether a huge binary value reads as text, read piece by piece (no server).
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "sql_huge_text.h"

namespace {

// The pieces of a value held in memory; counts the bytes asked for.
struct held_value final : sql_value_pieces {
    explicit held_value(std::string v) : value(std::move(v)) {}
    void read(char* buffer, size_t n, size_t offset) override {
        if (n > sql_huge_text_piece || offset + n > value.size()) throw std::out_of_range("beyond the value");
        std::memcpy(buffer, value.data() + offset, n);
        asked += n;
    }
    std::string value;
    size_t asked = 0;
};

struct huge_case {
    const char* name;
    std::string value;
    bool text;
};

class HugeText : public ::testing::TestWithParam<huge_case> {};

// Each piece boundary is crossed: a character cut by one goes on in the next.
TEST_P(HugeText, ReadsAsTextByTheRule) {
    held_value v(GetParam().value);
    EXPECT_EQ(sql_huge_reads_as_text(v.value.size(), v), GetParam().text);
    if (GetParam().text) {
        EXPECT_EQ(v.asked, v.value.size());
    }
}

const size_t piece = sql_huge_text_piece;
const std::string euro = "\xE2\x82\xAC";

INSTANTIATE_TEST_SUITE_P(
    Values, HugeText,
    ::testing::Values(
        huge_case{"ascii", std::string(3 * piece + 5, 'a'), true},
        huge_case{"character_across_pieces", std::string(piece - 1, 'a') + euro + std::string(piece, 'b'), true},
        huge_case{"character_after_a_cut_one", std::string(piece - 2, 'a') + euro + euro + std::string(10, 'b'),
                  true},
        huge_case{"zero_byte_in_a_later_piece", std::string(piece + 10, 'a') + '\0' + "a", false},
        huge_case{"invalid_utf8", std::string(piece, 'a') + "\xC3" + "a", false},
        huge_case{"cut_character_at_the_end", std::string(piece + 3, 'a') + "\xE2\x82", false},
        huge_case{"hex_digits", "0x" + std::string(2 * piece, 'F'), false},
        huge_case{"hex_digits_upper_x", "0X" + std::string(piece, '0') + "abcdef", false},
        huge_case{"hex_then_other", "0x" + std::string(2 * piece, 'f') + "g", true},
        huge_case{"zero_then_other", "0y" + std::string(piece, '1'), true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
