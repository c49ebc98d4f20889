// Numeric reads of values, slices and raw bytes.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ole_var.h"
#include "real_text.h"
#include "tk_excep.h"
#include "values_test_util.h"

namespace {

struct number_case {
    const char* name;
    std::function<ole_variant()> make;
    int32_t as_long;
    bool as_bool;
    double as_double;
};

ole_variant set(std::function<void(ole_variant&)> f) {
    ole_variant v;
    f(v);
    return v;
}

const double nan_marker = -12345.678;  // "to_double gives NaN"

const number_case number_cases[] = {
    {"empty", [] { return ole_variant(); }, 0, false, 0.0},
    {"r8_truncates", [] { return ole_variant(2.9); }, 2, true, 2.9},
    {"r8_negative_truncates", [] { return ole_variant(-2.9); }, -2, true, -2.9},
    {"r8_above_32_bits", [] { return ole_variant(3e9); }, INT32_MIN, true, 3e9},
    {"r8_below_32_bits", [] { return ole_variant(-3e9); }, INT32_MIN, true, -3e9},
    {"r8_nan", [] { return ole_variant(std::nan("")); }, INT32_MIN, true, nan_marker},
    {"r8_edge", [] { return ole_variant(2147483647.9); }, 2147483647, true, 2147483647.9},
    {"r8_zero", [] { return ole_variant(0.0); }, 0, false, 0.0},
    {"bool_true", [] { return ole_variant(true); }, 1, true, 1.0},
    {"bool_false", [] { return ole_variant(false); }, 0, false, 0.0},
    {"cy_half_even_down", [] { return make_cy(25000); }, 2, true, 2.5},
    {"cy_half_even_up", [] { return make_cy(35000); }, 4, true, 3.5},
    {"cy_out_of_range", [] { return make_cy(INT64_MAX); }, 0, false, 922337203685477.5807},
    {"dec", [] { return make_decimal("-7.5"); }, -8, true, -7.5},
    {"dec_out_of_range", [] { return make_decimal("1e20"); }, 0, false, 1e20},
    {"i8_low_bits", [] { return set([](ole_variant& v) { v.set_i8(-1); }); }, -1, true, -1.0},
    {"ui8", [] { return set([](ole_variant& v) { v.set_ui8(UINT64_MAX); }); }, -1, true, 18446744073709551615.0},
    {"ui4", [] { return set([](ole_variant& v) { v.set_ui4(7); }); }, 7, true, 7.0},
    {"i1", [] { return set([](ole_variant& v) { v.set_i1(-3); }); }, -3, true, -3.0},
    {"r4", [] { return set([](ole_variant& v) { v.set_r4(-1.5f); }); }, -1, true, -1.5},
};

class Numbers : public ::testing::TestWithParam<number_case> {};

TEST_P(Numbers, Reads) {
    const auto& c = GetParam();
    ole_variant v = c.make();
    EXPECT_EQ(v.to_long(), c.as_long);
    EXPECT_EQ(v.to_bool(), c.as_bool);
    if (c.as_double == nan_marker) {
        EXPECT_TRUE(std::isnan(v.to_double()));
        EXPECT_TRUE(std::isnan(v.to_float()));
    } else {
        EXPECT_DOUBLE_EQ(v.to_double(), c.as_double);
        EXPECT_FLOAT_EQ(v.to_float(), static_cast<float>(c.as_double));
    }
}

INSTANTIATE_TEST_SUITE_P(Values, Numbers, ::testing::ValuesIn(number_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NumbersExtra, TextAndDatesHaveNoNumber) {
    ole_variant s(std::wstring(L"12"));
    EXPECT_EQ(s.to_long(), 0);
    EXPECT_FALSE(s.to_bool());
    try {
        s.to_double();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(std::string(e.what()), make_err_meggase("ole_var", 940));
    }
    ole_variant d = make_date("2020-01-31");
    try {
        d.to_float();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(std::string(e.what()), make_err_meggase("ole_var", 800));
    }
}

TEST(NumbersExtra, HugeDoubleToFloatIsInfinite) {
    ole_variant v(1e300);
    EXPECT_TRUE(std::isinf(v.to_float()));
}

TEST(Slices, TextSlicesAreUtf8) {
    ole_variant v(std::wstring(L"h\u00E9llo"));
    char buf[64];
    int n = v.get_at(buf, 1, 3);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::string(buf, 4), "\xC3\xA9ll");
    EXPECT_EQ(v.get_at(buf, 5, 3), 0);
    n = v.get_at(buf, 3, 100);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "lo");
}

TEST(Slices, BinarySlicesAreHex) {
    ole_variant v(std::vector<uint8_t>{0x00, 0xAB, 0x10, 0xFF});
    char buf[64];
    int n = v.get_at(buf, 1, 2);
    EXPECT_EQ(n, 2);
    EXPECT_STREQ(buf, "AB10");
    n = v.get_at(buf, 2, 10);
    EXPECT_EQ(n, 2);
    EXPECT_STREQ(buf, "10FF");
    EXPECT_EQ(v.get_at(buf, 4, 1), 0);
    ole_variant i(1.0);
    EXPECT_EQ(i.get_at(buf, 0, 1), 0);
}

TEST(RawBytes, TextBinaryEmptyAndOthers) {
    std::string holder;
    const uint8_t* p = nullptr;
    ole_variant s(std::wstring(L"\u00FCber"));
    EXPECT_EQ(s.get_bytes1(&p, holder), 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(p), "\xC3\xBC" "ber");
    ole_variant b(std::vector<uint8_t>{1, 0, 2});
    EXPECT_EQ(b.get_bytes1(&p, holder), 3);
    EXPECT_EQ(p, b.binary_data());
    ole_variant e;
    EXPECT_EQ(e.get_bytes1(&p, holder), 0);
    ole_variant n(2.0);
    EXPECT_THROW(n.get_bytes1(&p, holder), tk_mail_assertion);
}

TEST(BoolMode, RegisteredMsModePrintsMinusOne) {
    ole_variant t(true);
    {
        ole_settings ms(1);
        EXPECT_EQ(t.to_string(), "-1");
        EXPECT_EQ(t.to_long(), -1);
        EXPECT_DOUBLE_EQ(t.to_double(), -1.0);
    }
    EXPECT_EQ(t.to_string(), "1");
}

}  // namespace

namespace {

// The text of every integer type against the standard conversion, on
// the extremes, the powers of ten around them and random values.
template <class T, class Set>
void check_integer_texts(Set set, std::mt19937_64& rng) {
    std::vector<T> values = {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), T(0), T(1), T(9),
                             T(10), T(99), T(100)};
    for (T p = 1; p <= std::numeric_limits<T>::max() / 10; p = static_cast<T>(p * 10)) {
        values.push_back(p);
        values.push_back(static_cast<T>(p - 1));
        if (std::numeric_limits<T>::is_signed) values.push_back(static_cast<T>(-p));
    }
    for (int i = 0; i < 2000; ++i) values.push_back(static_cast<T>(rng()));
    for (T v : values) {
        ole_variant x;
        set(x, v);
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        ASSERT_EQ(x.to_string(), std::string(buf, r.ptr)) << "type " << x.type();
    }
}

TEST(IntegerText, EveryTypeWritesItsDecimalDigits) {
    std::mt19937_64 rng(77);
    check_integer_texts<int8_t>([](ole_variant& x, int8_t v) { x.set_i1(v); }, rng);
    check_integer_texts<uint8_t>([](ole_variant& x, uint8_t v) { x.set_ui1(v); }, rng);
    check_integer_texts<int16_t>([](ole_variant& x, int16_t v) { x.set_i2(v); }, rng);
    check_integer_texts<uint16_t>([](ole_variant& x, uint16_t v) { x.set_ui2(v); }, rng);
    check_integer_texts<int32_t>([](ole_variant& x, int32_t v) { x.set_i4(v); }, rng);
    check_integer_texts<int32_t>([](ole_variant& x, int32_t v) { x.set_int(v); }, rng);
    check_integer_texts<uint32_t>([](ole_variant& x, uint32_t v) { x.set_ui4(v); }, rng);
    check_integer_texts<uint32_t>([](ole_variant& x, uint32_t v) { x.set_uint(v); }, rng);
    check_integer_texts<int64_t>([](ole_variant& x, int64_t v) { x.set_i8(v); }, rng);
    check_integer_texts<uint64_t>([](ole_variant& x, uint64_t v) { x.set_ui8(v); }, rng);
}

}  // namespace

// A setter gives the same value whatever the value held before (a value of
// the same type keeps its type and takes only the new value).
namespace {

struct setter_case {
    const char* name;
    std::function<void(ole_variant&)> set;
};

const setter_case earlier_values[] = {
    {"empty", [](ole_variant&) {}},
    {"null", [](ole_variant& v) { v.set_null(); }},
    {"i1", [](ole_variant& v) { v.set_i1(-100); }},
    {"i2", [](ole_variant& v) { v.set_i2(-30000); }},
    {"i4", [](ole_variant& v) { v.set_i4(-2000000000); }},
    {"ui4", [](ole_variant& v) { v.set_ui4(4000000000u); }},
    {"i8", [](ole_variant& v) { v.set_i8(INT64_MIN); }},
    {"ui8", [](ole_variant& v) { v.set_ui8(UINT64_MAX); }},
    {"r8", [](ole_variant& v) { v.set_r8(-1e300); }},
    {"cy", [](ole_variant& v) { v.set_cy(plat::currency{-5}); }},
    {"decimal", [](ole_variant& v) { v = make_decimal("-123456789012.345"); }},
    {"date", [](ole_variant& v) { v.set_numbered_date(ole_date("2020-02-29 23:59:58")); }},
    {"held_text", [](ole_variant& v) { v.set_utf8_text("some text held as bytes"); }},
    {"wide_text", [](ole_variant& v) { v.attach_wstring(L"wide text"); }},
    {"binary", [](ole_variant& v) { v.set_binary(reinterpret_cast<const uint8_t*>("\x01\x02\x03"), 3); }},
    {"text_changed_to_i4", [](ole_variant& v) {
         v.attach_wstring(L"77");
         v.change_type(VT_I4);
     }},
    {"text_changed_to_r8", [](ole_variant& v) {
         v.attach_wstring(L"2.5");
         v.change_type(VT_R8);
     }},
    {"i8_changed_to_i4", [](ole_variant& v) {
         v.set_i8(-5);
         v.change_type(VT_I4);
     }},
};

const setter_case new_values[] = {
    {"i1", [](ole_variant& v) { v.set_i1(7); }},
    {"i2", [](ole_variant& v) { v.set_i2(-7); }},
    {"i4", [](ole_variant& v) { v.set_i4(123456); }},
    {"int", [](ole_variant& v) { v.set_int(-9); }},
    {"ui1", [](ole_variant& v) { v.set_ui1(200); }},
    {"ui2", [](ole_variant& v) { v.set_ui2(60000); }},
    {"ui4", [](ole_variant& v) { v.set_ui4(3); }},
    {"uint", [](ole_variant& v) { v.set_uint(4); }},
    {"i8", [](ole_variant& v) { v.set_i8(-9000000000LL); }},
    {"ui8", [](ole_variant& v) { v.set_ui8(9000000000ULL); }},
    {"r4", [](ole_variant& v) { v.set_r4(0.5f); }},
    {"r8", [](ole_variant& v) { v.set_r8(0.25); }},
    {"cy", [](ole_variant& v) { v.set_cy(plat::currency{12345}); }},
    {"decimal", [](ole_variant& v) { v = make_decimal("42.10"); }},
    {"decimal_set", [](ole_variant& v) {
         plat::decimal d;
         d.lo64 = 4210;
         d.scale = 2;
         v.set_decimal(d);
     }},
    {"date", [](ole_variant& v) { v.set_numbered_date(ole_date("1999-12-31")); }},
};

TEST(Setters, GiveTheSameValueWhateverWasHeldBefore) {
    for (const setter_case& before : earlier_values) {
        for (const setter_case& now : new_values) {
            SCOPED_TRACE(std::string(before.name) + " then " + now.name);
            ole_variant fresh;
            now.set(fresh);
            ole_variant v;
            before.set(v);
            now.set(v);
            // Twice in a row, as a field is set row after row.
            now.set(v);
            const plat::variant& r = v.raw();
            const plat::variant& f = fresh.raw();
            EXPECT_EQ(r.vt, f.vt);
            EXPECT_EQ(r.llVal, f.llVal);
            if (r.vt == VT_DECIMAL) {
                EXPECT_EQ(std::memcmp(&r.decVal, &f.decVal, sizeof r.decVal), 0);
            }
            EXPECT_TRUE(r.bstrVal.empty());
            EXPECT_TRUE(r.parray.data.empty());
            EXPECT_EQ(r.parray.dims, f.parray.dims);
            EXPECT_EQ(r.parray.lower_bound, f.parray.lower_bound);
            if (r.vt == VT_I8) {
                EXPECT_EQ(v.get_i8(), fresh.get_i8());
            }
            if (r.vt == VT_UI8) {
                EXPECT_EQ(v.get_ui8(), fresh.get_ui8());
            }
            EXPECT_EQ(v.to_string(), fresh.to_string());
            EXPECT_TRUE(v.held_utf8().data() == nullptr);
            if (r.vt == VT_DATE) {
                EXPECT_TRUE(v.get_date() == fresh.get_date());
            }
        }
    }
}

}  // namespace

// A double set with its digits prints from them only while it keeps that
// value, however the value changes afterwards.
TEST(RealDigits, TextFollowsTheValueWhateverSetIt) {
    auto with_digits = [](ole_variant& v, double d) {
        uint64_t digits = 0;
        int point = 0;
        ASSERT_TRUE(plat::shortest_digits(d, digits, point));
        v.set_r8_digits(d, digits, point);
    };
    auto text = [](const ole_variant& v) {
        std::string s;
        v.append_utf8_text(s);
        return s;
    };
    ole_variant v;
    with_digits(v, -0.000125);
    EXPECT_EQ(text(v), "-0.000125");
    v.set_r8(2.5);
    EXPECT_EQ(text(v), "2.5");
    v.raw().dblVal = 1e-300;
    EXPECT_EQ(text(v), "1e-300");
    v.assign_from_string("0.1", VT_R8);
    EXPECT_EQ(text(v), "0.1");
    v.set_r8(-0.000125);  // the digits still held are this value's
    EXPECT_EQ(text(v), "-0.000125");
    v.set_r8(0.0);
    EXPECT_EQ(text(v), "0");
    with_digits(v, 1.5e21);
    const ole_variant copy(v);
    ole_variant moved(std::move(v));
    EXPECT_EQ(text(copy), "1.5e+21");
    EXPECT_EQ(text(moved), "1.5e+21");
    moved.set_i8(7);
    EXPECT_EQ(text(moved), "7");
}
