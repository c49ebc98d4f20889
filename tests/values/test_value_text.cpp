// Text forms of values, and values parsed from text, one table per direction.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "ole_var.h"
#include "tk_excep.h"
#include "utf8.h"
#include "values_test_util.h"

namespace {

struct to_text_case {
    const char* name;
    std::function<ole_variant()> make;
    const char* text;  // UTF-8 form (to_string, append_utf8_text)
};

ole_variant i1(int8_t v) { ole_variant x; x.set_i1(v); return x; }
ole_variant i2(int16_t v) { ole_variant x; x.set_i2(v); return x; }
ole_variant i4(int32_t v) { ole_variant x; x.set_i4(v); return x; }
ole_variant vint(int32_t v) { ole_variant x; x.set_int(v); return x; }
ole_variant ui1(uint8_t v) { ole_variant x; x.set_ui1(v); return x; }
ole_variant ui2(uint16_t v) { ole_variant x; x.set_ui2(v); return x; }
ole_variant ui4(uint32_t v) { ole_variant x; x.set_ui4(v); return x; }
ole_variant vuint(uint32_t v) { ole_variant x; x.set_uint(v); return x; }
ole_variant i8(int64_t v) { ole_variant x; x.set_i8(v); return x; }
ole_variant ui8(uint64_t v) { ole_variant x; x.set_ui8(v); return x; }
ole_variant r4(float v) { ole_variant x; x.set_r4(v); return x; }
ole_variant null_value() { ole_variant x; x.set_null(); return x; }

const to_text_case to_text_cases[] = {
    {"empty", [] { return ole_variant(); }, ""},
    {"null", [] { return null_value(); }, ""},
    {"bool_true", [] { return ole_variant(true); }, "1"},
    {"bool_false", [] { return ole_variant(false); }, "0"},
    {"i1", [] { return i1(-128); }, "-128"},
    {"i2", [] { return i2(-32768); }, "-32768"},
    {"i4", [] { return i4(INT32_MIN); }, "-2147483648"},
    {"int_like_i4", [] { return vint(-17); }, "-17"},
    {"ui1", [] { return ui1(255); }, "255"},
    {"ui2", [] { return ui2(65535); }, "65535"},
    {"ui4", [] { return ui4(4294967295u); }, "4294967295"},
    {"uint", [] { return vuint(7); }, "7"},
    {"i8", [] { return i8(INT64_MIN); }, "-9223372036854775808"},
    {"ui8", [] { return ui8(UINT64_MAX); }, "18446744073709551615"},
    // Doubles: whole values as integers, others the shortest round-trip text.
    {"r8_half", [] { return ole_variant(2.5); }, "2.5"},
    {"r8_tenth", [] { return ole_variant(0.1); }, "0.1"},
    {"r8_plain", [] { return ole_variant(12345.67); }, "12345.67"},
    {"r8_whole", [] { return ole_variant(3.0); }, "3"},
    {"r8_beyond_32_bits", [] { return ole_variant(3000000000.0); }, "3000000000"},
    {"r8_1e20", [] { return ole_variant(1e20); }, "100000000000000000000"},
    {"r8_many_digits", [] { return ole_variant(123456789.123); }, "123456789.123"},
    {"r8_third", [] { return ole_variant(1.0 / 3); }, "0.3333333333333333"},
    {"r8_negative_zero", [] { return ole_variant(-0.0); }, "0"},
    {"r8_tiny", [] { return ole_variant(1.5e-8); }, "1.5e-08"},
    {"r8_huge", [] { return ole_variant(1e300); }, "1e+300"},
    {"r8_nan", [] { return ole_variant(std::nan("")); }, "0"},
    {"r8_inf", [] { return ole_variant(-std::numeric_limits<double>::infinity()); }, "-inf"},
    {"r4_tenth", [] { return r4(0.1f); }, "0.1"},
    {"r4_half", [] { return r4(1.5f); }, "1.5"},
    {"r4_whole", [] { return r4(16777216.0f); }, "16777216"},
    // Currency and decimals: exact, no trailing fractional zeros.
    {"cy", [] { return make_cy(125000); }, "12.5"},
    {"cy_smallest", [] { return make_cy(-1); }, "-0.0001"},
    {"cy_whole", [] { return make_cy(30000); }, "3"},
    {"cy_min", [] { return make_cy(INT64_MIN); }, "-922337203685477.5808"},
    {"dec_trailing_zero", [] { return make_decimal("12.50"); }, "12.5"},
    {"dec_small", [] { return make_decimal("-0.001"); }, "-0.001"},
    {"dec_max", [] { return make_decimal("79228162514264337593543950335"); }, "79228162514264337593543950335"},
    {"dec_scale_28", [] { return make_decimal("0.0000000000000000000000000001"); }, "0.0000000000000000000000000001"},
    {"dec_zero", [] { return make_decimal("0.000"); }, "0"},
    {"bstr", [] { return ole_variant(std::wstring(L"Gr\u00FC\u00DFe")); }, "Gr\xC3\xBC\xC3\x9F" "e"},
    {"bstr_embedded_zero", [] { return ole_variant(std::wstring(L"abc\0def", 7)); }, "abc"},
    {"binary", [] { return ole_variant(std::vector<uint8_t>{0x0A, 0x0B, 0xFF}); }, "0x0A0BFF"},
    {"binary_empty", [] { return ole_variant(std::vector<uint8_t>{}); }, ""},
    {"date_time", [] { return make_date("2020-01-31 10:20:30"); }, "2020-01-31 10:20:30"},
    {"date_micro", [] { return make_date("2020-01-31 10:20:30.000123"); }, "2020-01-31 10:20:30.000123"},
};

class ValueToText : public ::testing::TestWithParam<to_text_case> {};

void check_to_text(const to_text_case& c) {
    ole_variant v = c.make();
    EXPECT_EQ(v.to_string(), c.text);
    EXPECT_EQ(v.to_wstring(), plat::utf8_decode(c.text));
    std::string out = "prefix;";
    v.append_utf8_text(out);
    EXPECT_EQ(out, std::string("prefix;") + c.text);
    std::wstring wout = L">";
    v.append_wtext(wout);
    EXPECT_EQ(wout, L">" + plat::utf8_decode(c.text));
}

TEST_P(ValueToText, Text) { check_to_text(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Values, ValueToText, ::testing::ValuesIn(to_text_cases),
                         [](const auto& info) { return std::string(info.param.name); });

struct from_text_case {
    const char* name;
    const char* text;
    VARTYPE type;
    VARTYPE result_type;
    const char* result_text;
};

const from_text_case from_text_cases[] = {
    {"empty_i4", "", VT_I4, VT_EMPTY, ""},
    {"empty_bstr", "", VT_BSTR, VT_BSTR, ""},
    {"i4", "42", VT_I4, VT_I4, "42"},
    {"i4_prefix_like_atoi", " -7xyz", VT_I4, VT_I4, "-7"},
    {"i4_not_a_number", "abc", VT_I4, VT_I4, "0"},
    {"i2", "-32768", VT_I2, VT_I2, "-32768"},
    {"ui2_year", "2024", VT_UI2, VT_UI2, "2024"},
    {"i1", "-1", VT_I1, VT_I1, "-1"},
    {"ui1", "200", VT_UI1, VT_UI1, "200"},
    {"ui4", "4294967295", VT_UI4, VT_UI4, "4294967295"},
    {"ui4_nothing_read", "x", VT_UI4, VT_UI4, "0"},
    {"i8", "-9223372036854775808", VT_I8, VT_I8, "-9223372036854775808"},
    {"ui8", "18446744073709551615", VT_UI8, VT_UI8, "18446744073709551615"},
    {"r8_comma", "1,5", VT_R8, VT_R8, "1.5"},
    {"r8", "2.5", VT_R8, VT_R8, "2.5"},
    {"r8_exponent", "-1.25e3", VT_R8, VT_R8, "-1250"},
    {"r8_beyond_range", "1e400", VT_R8, VT_R8, "inf"},
    {"r4", "0.1", VT_R4, VT_R4, "0.1"},
    {"cy", "12.345", VT_CY, VT_CY, "12.345"},
    {"cy_rounds_half_even", "0.00005", VT_CY, VT_CY, "0"},
    {"cy_rounds_up", "0.00015", VT_CY, VT_CY, "0.0002"},
    {"cy_bad", "abc", VT_CY, VT_EMPTY, ""},
    {"dec", "12.345", VT_DECIMAL, VT_DECIMAL, "12.345"},
    {"dec_trailing_zero", "12.50", VT_DECIMAL, VT_DECIMAL, "12.5"},
    {"dec_comma", "-0,5", VT_DECIMAL, VT_DECIMAL, "-0.5"},
    {"dec_not_a_number", "abc", VT_DECIMAL, VT_R8, "0"},
    // No digits lost: beyond the 96-bit decimal the exact text stays.
    {"dec_beyond_range_keeps_text", "1e400", VT_DECIMAL, VT_BSTR, "1e400"},
    {"dec_65_digits_keeps_text", "12345678901234567890123456789012345678901234567890123456789012345",
     VT_DECIMAL, VT_BSTR, "12345678901234567890123456789012345678901234567890123456789012345"},
    {"dec_30_decimals_keeps_text", "0.123456789012345678901234567891", VT_DECIMAL, VT_BSTR,
     "0.123456789012345678901234567891"},
    {"dec_digit_far_beyond_keeps_text", "1.0000000000000000000000000000000000001", VT_DECIMAL, VT_BSTR,
     "1.0000000000000000000000000000000000001"},
    {"dec_30_places_of_zeros_fit", "1.000000000000000000000000000000", VT_DECIMAL, VT_DECIMAL, "1"},
    {"bool_word", "TRUE", VT_BOOL, VT_BOOL, "1"},
    {"bool_by_atoi", "2", VT_BOOL, VT_BOOL, "1"},
    {"bool_other_text", "abc", VT_BOOL, VT_BOOL, "0"},
    {"bool_no", "No", VT_BOOL, VT_BOOL, "0"},
    {"bool_zero", "0", VT_BOOL, VT_BOOL, "0"},
    {"hex", "0x0A0b", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x0A0B"},
    {"hex_no_prefix", "ff00", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0xFF00"},
    {"hex_backslash_blob", "\\x01", VT_BLOB, VT_BLOB, "0x01"},
    {"hex_odd_length", "0A0", VT_BYTE_ARRAY, VT_EMPTY, ""},
    {"hex_non_digit_refused", "0A0G", VT_BYTE_ARRAY, VT_EMPTY, ""},
    {"hex_non_digit_after_prefix", "0xZZ", VT_BLOB, VT_EMPTY, ""},
    {"date", "2020-01-31", VT_DATE, VT_DATE, "2020-01-31"},
    {"date_bad", "garbage", VT_DATE, VT_EMPTY, ""},
    {"int_default_path", "17", VT_INT, VT_INT, "17"},
    {"bstr_utf8", "Gr\xC3\xBC\xC3\x9F" "e", VT_BSTR, VT_BSTR, "Gr\xC3\xBC\xC3\x9F" "e"},
};

class TextToValue : public ::testing::TestWithParam<from_text_case> {};

void check_from_text(const from_text_case& c) {
    ole_variant v = ole_variant::from_string(c.text, c.type);
    EXPECT_EQ(v.type(), c.result_type);
    EXPECT_EQ(v.to_string(), c.result_text);
    // The in-place form reuses a value of another type and gives the same.
    ole_variant w(std::wstring(L"previous contents, long enough to live on the heap"));
    w.assign_from_string(c.text, c.type);
    EXPECT_EQ(w.type(), c.result_type);
    EXPECT_EQ(w.to_string(), c.result_text);
    // The wide parser agrees.
    ole_variant x = ole_variant::from_wstring(plat::utf8_decode(c.text), c.type);
    EXPECT_EQ(x.type(), c.result_type);
    EXPECT_EQ(x.to_string(), c.result_text);
}

TEST_P(TextToValue, Value) { check_from_text(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Values, TextToValue, ::testing::ValuesIn(from_text_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextToValueExtra, BinaryValuesHoldTheBytes) {
    ole_variant v = ole_variant::from_string("0x0A0b", VT_BYTE_ARRAY);
    ASSERT_EQ(v.binary_size(), 2u);
    EXPECT_EQ(v.binary_data()[0], 0x0A);
    EXPECT_EQ(v.binary_data()[1], 0x0B);
    ole_variant e = ole_variant::from_string("0x", VT_BYTE_ARRAY);
    EXPECT_EQ(e.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(e.binary_size(), 0u);
}

TEST(TextToValueExtra, TypesWithoutTextFormThrow) {
    EXPECT_THROW(ole_variant::from_string("abc", VT_INT), ole_type_exception);
    EXPECT_THROW(ole_variant::from_string("x", VT_DISPATCH), ole_type_exception);
}

TEST(TextToValueExtra, WideTextStopsAtZeroCharacter) {
    ole_variant v = ole_variant::from_wstring(std::wstring_view(L"ab\0cd", 5), VT_BSTR);
    EXPECT_EQ(v.get_bstr(), L"ab");
}

TEST(TextToValueExtra, Utf8CellsStopAtZeroByte) {
    const char cell[] = {'G', 'r', '\xC3', '\xBC', '\0', 'x'};
    ole_variant v;
    v.set_i4(5);
    v.assign_utf8(cell, sizeof cell);
    EXPECT_EQ(v.type(), VT_BSTR);
    EXPECT_EQ(v.get_bstr(), L"Gr\u00FC");
    v.assign_utf8(nullptr, 0);
    EXPECT_EQ(v.type(), VT_BSTR);
    EXPECT_EQ(v.get_bstr(), L"");
}

TEST(TextToValueExtra, LargeDecimalKeepsExactTextInCsvForm) {
    // A MySQL DECIMAL(65,30) value reaches the writer digit for digit.
    const char* text = "99999999999999999999999999999999999.999999999999999999999999999999";
    ole_variant v = ole_variant::from_string(text, VT_DECIMAL);
    std::string out;
    v.append_utf8_text(out);
    EXPECT_EQ(out, text);
}

TEST(TextFormsUnderLocale, GermanLocaleChangesNothing) {
    bool ran = under_german_locale([] {
        for (const auto& c : to_text_cases) {
            SCOPED_TRACE(c.name);
            check_to_text(c);
        }
        for (const auto& c : from_text_cases) {
            SCOPED_TRACE(c.name);
            check_from_text(c);
        }
    });
    if (!ran) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
}

}  // namespace
