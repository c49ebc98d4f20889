// A text read from UTF-8 is kept as its bytes and widened on demand: every
// way of reading or changing it gives what the same text held wide gives.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ole_var.h"
#include "tk_excep.h"
#include "utf8.h"
#include "values_test_util.h"

using namespace std::string_literals;

namespace {

struct held_case {
    const char* name;
    std::string bytes;
};

const held_case held_cases[] = {
    {"empty", ""},
    {"ascii", "plain ascii text"},
    {"two_byte", "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln"},
    {"three_byte", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x80\x93 dash"},
    {"four_byte", "emoji \xF0\x9F\x98\x80\xF0\x9F\x9A\x80 outside the BMP"},
    {"literal_replacement_char", "a\xEF\xBF\xBD" "b"},
    {"zero_inside", "ab\0cd"s},
    {"zero_first", "\0x"s},
    {"quotes_and_breaks", "say \"hi\"\r\nnext;line"},
    {"long_mixed", std::string(100, 'x') + "\xD0\x9A" + std::string(40, 'y')},
    // Ill-formed input: decoded at once, replacement characters and all.
    {"lone_continuation", "a\x80z"},
    {"truncated_sequence", "ab\xE6\x97"},
    {"overlong", "\xC0\xAF"},
    {"surrogate", "\xED\xA0\x80"},
    {"beyond_unicode", "\xF4\x90\x80\x80"},
    {"invalid_after_long_ascii", std::string(37, 'q') + "\xFF"},
};

// The same text, held wide from the start.
ole_variant wide_twin(const std::string& bytes) {
    ole_variant v;
    v.attach_wstring(plat::utf8_decode(bytes));
    return v;
}

// How a value comes to hold the bytes: checked at once, or as a stream's
// cell is received (copied or taken over, checked when first read).
enum class hold_way { attach, received, taken };

ole_variant held(const std::string& bytes, hold_way way = hold_way::attach) {
    ole_variant v;
    switch (way) {
    case hold_way::attach:
        v.attach_string(bytes);
        break;
    case hold_way::received:
        v.set_utf8_text(bytes);
        break;
    case hold_way::taken: {
        std::string owned = bytes;
        v.take_utf8_text(std::move(owned));
        EXPECT_TRUE(owned.empty());
        break;
    }
    }
    return v;
}

void expect_same_text(const ole_variant& a, const ole_variant& b) {
    ASSERT_EQ(a.type(), VT_BSTR);
    ASSERT_EQ(b.type(), VT_BSTR);
    EXPECT_EQ(a.to_string(), b.to_string());
    EXPECT_EQ(a.to_wstring(), b.to_wstring());
    EXPECT_EQ(a.text_length(), b.text_length());
    EXPECT_EQ(a.get_bstr(), b.get_bstr());
    std::string ua = "<", ub = "<";
    a.append_utf8_text(ua);
    b.append_utf8_text(ub);
    EXPECT_EQ(ua, ub);
    std::wstring wa = L">", wb = L">";
    a.append_wtext(wa);
    b.append_wtext(wb);
    EXPECT_EQ(wa, wb);
}

class HeldText : public ::testing::TestWithParam<std::tuple<held_case, hold_way>> {
protected:
    hold_way way() const { return std::get<1>(GetParam()); }
};

TEST_P(HeldText, ReadsLikeTheWideText) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    const ole_variant wide = wide_twin(bytes);
    // Narrow reads first, then wide ones, on a fresh value...
    {
        const ole_variant v = held(bytes, way());
        EXPECT_EQ(v.to_string(), wide.to_string());
        EXPECT_EQ(v.text_length(), wide.get_bstr().size());
        expect_same_text(v, wide);
    }
    // ... and the wide form first on another.
    {
        const ole_variant v = held(bytes, way());
        EXPECT_EQ(v.get_bstr(), wide.get_bstr());
        EXPECT_EQ(v.to_string(), wide.to_string());
    }
    // The UTF-8 text stops at the first zero character; ill-formed bytes
    // come out as U+FFFD.
    const std::string to_zero = bytes.substr(0, bytes.find('\0'));
    if (plat::utf8_valid(bytes)) EXPECT_EQ(held(bytes, way()).to_string(), to_zero);
    else EXPECT_NE(held(bytes, way()).to_string().find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_P(HeldText, SlicesAndBytesLikeTheWideText) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    const ole_variant wide = wide_twin(bytes);
    const ole_variant v = held(bytes, way());
    for (uint32_t pos : {0u, 1u, 3u}) {
        char a[256] = {}, b[256] = {};
        EXPECT_EQ(v.get_at(a, pos, 5), wide.get_at(b, pos, 5)) << "pos " << pos;
        EXPECT_STREQ(a, b);
    }
    const uint8_t* pa = nullptr;
    const uint8_t* pb = nullptr;
    std::string ha, hb;
    const ole_variant fresh = held(bytes, way());
    EXPECT_EQ(fresh.get_bytes1(&pa, ha), wide.get_bytes1(&pb, hb));
    EXPECT_EQ(ha, hb);
}

TEST_P(HeldText, CopiesAndMovesKeepTheText) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    const ole_variant wide = wide_twin(bytes);
    const ole_variant source = held(bytes, way());
    ole_variant copy(source);
    expect_same_text(copy, wide);
    ole_variant assigned;
    assigned.set_i4(7);
    assigned = source;
    expect_same_text(assigned, wide);
    // A copy of a text whose wide form was already made.
    ole_variant widened = held(bytes, way());
    (void)widened.get_bstr();
    ole_variant copy2(widened);
    expect_same_text(copy2, wide);

    ole_variant moved_from = held(bytes, way());
    ole_variant moved(std::move(moved_from));
    expect_same_text(moved, wide);
    EXPECT_EQ(moved_from.type(), VT_EMPTY);
    EXPECT_EQ(moved_from.to_string(), "");
    ole_variant move_assigned;
    move_assigned.attach_wstring(L"old text");
    ole_variant other = held(bytes, way());
    move_assigned = std::move(other);
    expect_same_text(move_assigned, wide);
    // The source itself is untouched by all of this.
    expect_same_text(source, wide);
}

TEST_P(HeldText, NewValuesReplaceTheHeldText) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    ole_variant v = held(bytes, way());
    v.set_i4(42);
    EXPECT_EQ(v.to_string(), "42");
    v = held(bytes, way());
    v.attach_wstring(L"wide again");
    EXPECT_EQ(v.to_string(), "wide again");
    EXPECT_EQ(v.get_bstr(), L"wide again");
    EXPECT_EQ(v.text_length(), 10u);
    v = held(bytes, way());
    v.attach_string("second");
    EXPECT_EQ(v.get_bstr(), L"second");
    v.assign_utf8("third\0tail", 10);
    EXPECT_EQ(v.to_string(), "third");
    EXPECT_EQ(v.get_bstr(), L"third");
    v = held(bytes, way());
    v.clear();
    EXPECT_EQ(v.type(), VT_EMPTY);
    EXPECT_EQ(v.to_string(), "");
    EXPECT_EQ(v.text_length(), 0u);
}

TEST_P(HeldText, ReceivedTextReplacesAnyEarlierText) {
    // Shorter, as long and longer bytes than the text held, and its own.
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    for (const held_case& next : held_cases) {
        SCOPED_TRACE(next.name);
        ole_variant v = held(bytes, way());
        v.set_utf8_text(next.bytes);
        expect_same_text(v, wide_twin(next.bytes));
        v.set_utf8_text(bytes);
        expect_same_text(v, wide_twin(bytes));
    }
    for (size_t from : {size_t{0}, size_t{1}, bytes.size() / 2, bytes.size()}) {
        if (from > bytes.size()) continue;
        ole_variant v = held(bytes, hold_way::received);
        const std::string_view own = v.unchecked_utf8();
        ASSERT_EQ(own, bytes);
        v.set_utf8_text(own.substr(from));
        expect_same_text(v, wide_twin(bytes.substr(from)));
    }
}

TEST_P(HeldText, RawAccessSeesTheTextAndMayChangeIt) {
    const std::string& bytes = std::get<0>(GetParam()).bytes;
    const std::wstring wide = plat::utf8_decode(bytes);
    const ole_variant c = held(bytes, way());
    EXPECT_EQ(c.raw().bstrVal, wide);
    ole_variant v = held(bytes, way());
    v.raw().bstrVal = L"changed";
    EXPECT_EQ(v.to_string(), "changed");
    EXPECT_EQ(v.get_bstr(), L"changed");
    EXPECT_EQ(v.text_length(), 7u);
}

std::string held_text_name(const ::testing::TestParamInfo<std::tuple<held_case, hold_way>>& i) {
    static const char* const ways[] = {"", "_received", "_taken"};
    return std::string(std::get<0>(i.param).name) + ways[static_cast<int>(std::get<1>(i.param))];
}

INSTANTIATE_TEST_SUITE_P(Cases, HeldText,
                         ::testing::Combine(::testing::ValuesIn(held_cases),
                                            ::testing::Values(hold_way::attach, hold_way::received, hold_way::taken)),
                         held_text_name);

// Type changes read the text as the wide form would have been read.
struct change_case {
    const char* text;
    VARTYPE to;
};

const change_case change_cases[] = {
    {"42", VT_I4},           {" -17", VT_I2},       {"4000000000", VT_UI4}, {"yes", VT_BOOL},
    {"f", VT_BOOL},          {"2.5", VT_R8},        {"12.345", VT_DECIMAL}, {"2020-01-31 18:00:00", VT_DATE},
    {"K\xC3\xB6ln", VT_BYTE_ARRAY}, {"abc", VT_BSTR}, {"9223372036854775807", VT_I8}, {"12", VT_UI8},
    {"x", VT_I4},            {"maybe", VT_BOOL},    {"not a date", VT_DATE},
};

TEST(HeldTextChange, ChangesTypeLikeTheWideText) {
    for (const change_case& c : change_cases) {
        SCOPED_TRACE(std::string(c.text) + " to " + std::to_string(c.to));
        ole_variant a = held(c.text);
        ole_variant b = wide_twin(c.text);
        bool threw_a = false, threw_b = false;
        try { a.change_type(c.to); } catch (const ole_cast_exception&) { threw_a = true; }
        try { b.change_type(c.to); } catch (const ole_cast_exception&) { threw_b = true; }
        EXPECT_EQ(threw_a, threw_b);
        EXPECT_EQ(a.type(), b.type());
        EXPECT_EQ(a.to_string(), b.to_string());
        EXPECT_EQ(a.to_wstring(), b.to_wstring());
        if (threw_a) {
            // A failed change leaves the text as it was.
            EXPECT_EQ(a.type(), VT_BSTR);
            EXPECT_EQ(a.get_bstr(), plat::utf8_decode(c.text));
        }
    }
}

TEST(HeldTextChange, ParsedTextOfOtherTypesGoesThroughTheText) {
    // from_string's general path puts the text in first, then converts it.
    const ole_variant v = ole_variant::from_string("123", VT_INT);
    EXPECT_EQ(v.type(), VT_INT);
    EXPECT_EQ(v.to_string(), "123");
    EXPECT_THROW(ole_variant::from_string("zz", VT_INT), ole_type_exception);
    const ole_variant s = ole_variant::from_string("K\xC3\xB6ln", VT_BSTR);
    EXPECT_EQ(s.get_bstr(), L"K\u00F6ln");
    EXPECT_EQ(s.to_string(), "K\xC3\xB6ln");
}

TEST(HeldTextLocale, ReadsTheSameUnderAGermanLocale) {
    const bool ran = under_german_locale([] {
        for (const held_case& c : held_cases) {
            SCOPED_TRACE(c.name);
            expect_same_text(held(c.bytes), wide_twin(c.bytes));
        }
        ole_variant n = held("2.5");
        n.change_type(VT_R8);
        EXPECT_EQ(n.to_string(), "2.5");
    });
    if (!ran) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
}

// Dates: the date number is worked out when the raw value is read.
TEST(DateNumber, RawDateNumberOfASetDate) {
    ole_variant v;
    v.set_date(ole_date("2020-01-01 12:00:00"));
    const double number = v.raw().date;
    EXPECT_NEAR(number, 43831.5, 1e-9);
    ole_variant copy(v);
    EXPECT_DOUBLE_EQ(copy.raw().date, number);
    ole_variant moved_from;
    moved_from.set_date(ole_date("2020-01-01 12:00:00"));
    ole_variant moved(std::move(moved_from));
    EXPECT_DOUBLE_EQ(moved.raw().date, number);
    // A date without a date number keeps 0.
    ole_variant zero;
    zero.set_date(ole_date("0000-00-00"));
    if (zero.type() == VT_DATE) {
        EXPECT_EQ(zero.raw().date, 0.0);
    }
}

}  // namespace
