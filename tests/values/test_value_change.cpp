// In-place type changes, construction, copies and the byte-array form.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ole_var.h"
#include "tk_excep.h"
#include "values_test_util.h"

namespace {

ole_variant with(std::function<void(ole_variant&)> set) {
    ole_variant v;
    set(v);
    return v;
}

ole_variant bytes(std::vector<uint8_t> b) { return ole_variant(b); }

struct change_case {
    const char* name;
    std::function<ole_variant()> make;
    VARTYPE to;
    bool throws;
    VARTYPE result_type;  // when not thrown
    const char* result_text;
};

const change_case change_cases[] = {
    {"array_to_blob_synonym", [] { return bytes({1, 2}); }, VT_BLOB, false, VT_BLOB, "0x0102"},
    {"blob_to_array_synonym", [] { return ole_variant::from_string("0102", VT_BLOB); }, VT_BYTE_ARRAY, false,
     VT_BYTE_ARRAY, "0x0102"},
    // 9 is no byte array: the change is refused and the value stays.
    {"array_to_dispatch_refused", [] { return bytes({1, 2}); }, VT_DISPATCH, true, VT_BYTE_ARRAY, "0x0102"},
    {"array_to_blob_object_unchanged", [] { return bytes({1}); }, VT_BLOB_OBJECT, false, VT_BYTE_ARRAY, "0x01"},
    {"empty_stays_empty", [] { return ole_variant(); }, VT_I4, false, VT_EMPTY, ""},
    {"null_stays_null", [] { return with([](ole_variant& v) { v.set_null(); }); }, VT_BSTR, false, VT_NULL, ""},
    {"text_true_to_bool", [] { return ole_variant(std::wstring(L"True")); }, VT_BOOL, false, VT_BOOL, "1"},
    {"text_f_to_bool", [] { return ole_variant(std::wstring(L"F")); }, VT_BOOL, false, VT_BOOL, "0"},
    {"text_maybe_to_bool", [] { return ole_variant(std::wstring(L"maybe")); }, VT_BOOL, true, VT_BSTR, "maybe"},
    {"r8_minus_2_5_to_i4", [] { return ole_variant(-2.5); }, VT_I4, false, VT_I4, "-3"},
    {"r8_2_5_to_i4", [] { return ole_variant(2.5); }, VT_I4, false, VT_I4, "3"},
    {"r8_2_5_to_ui2", [] { return ole_variant(2.5); }, VT_UI2, false, VT_UI2, "3"},
    {"r8_out_of_i4_range", [] { return ole_variant(3e9); }, VT_I4, true, VT_R8, "3000000000"},
    {"r8_negative_to_ui4", [] { return ole_variant(-1.0); }, VT_UI4, true, VT_R8, "-1"},
    {"r8_nan_to_i2", [] { return ole_variant(std::nan("")); }, VT_I2, true, VT_R8, "0"},
    {"r8_to_i1_general", [] { return ole_variant(2.5); }, VT_I1, false, VT_I1, "2"},
    {"r8_to_i1_out_of_range", [] { return ole_variant(200.0); }, VT_I1, true, VT_R8, "200"},
    {"i8_to_i2_in_range", [] { return with([](ole_variant& v) { v.set_i8(-300); }); }, VT_I2, false, VT_I2, "-300"},
    {"i8_to_i2_out_of_range", [] { return with([](ole_variant& v) { v.set_i8(70000); }); }, VT_I2, true, VT_I8,
     "70000"},
    {"i8_to_i4_out_of_range", [] { return with([](ole_variant& v) { v.set_i8(1LL << 32); }); }, VT_I4, true,
     VT_I8, "4294967296"},
    {"i8_to_ui1_negative", [] { return with([](ole_variant& v) { v.set_i8(-1); }); }, VT_UI1, true, VT_I8, "-1"},
    {"i8_to_bool_nonzero", [] { return with([](ole_variant& v) { v.set_i8(65536); }); }, VT_BOOL, false, VT_BOOL,
     "1"},
    {"i8_to_ui8_negative", [] { return with([](ole_variant& v) { v.set_i8(-1); }); }, VT_UI8, true, VT_I8, "-1"},
    {"i8_to_ui8", [] { return with([](ole_variant& v) { v.set_i8(5); }); }, VT_UI8, false, VT_UI8, "5"},
    {"i8_to_cy", [] { return with([](ole_variant& v) { v.set_i8(1234); }); }, VT_CY, false, VT_CY, "1234"},
    {"i8_to_cy_overflow", [] { return with([](ole_variant& v) { v.set_i8(INT64_MAX); }); }, VT_CY, true, VT_I8,
     "9223372036854775807"},
    {"i8_to_decimal", [] { return with([](ole_variant& v) { v.set_i8(INT64_MIN); }); }, VT_DECIMAL, false,
     VT_DECIMAL, "-9223372036854775808"},
    {"i8_to_bstr", [] { return with([](ole_variant& v) { v.set_i8(-5); }); }, VT_BSTR, false, VT_BSTR, "-5"},
    {"i8_to_r8", [] { return with([](ole_variant& v) { v.set_i8(1LL << 40); }); }, VT_R8, false, VT_R8,
     "1099511627776"},
    {"ui8_to_i8_too_large", [] { return with([](ole_variant& v) { v.set_ui8(1ULL << 63); }); }, VT_I8, true, VT_UI8,
     "9223372036854775808"},
    {"ui8_to_ui4", [] { return with([](ole_variant& v) { v.set_ui8(4294967295ULL); }); }, VT_UI4, false, VT_UI4,
     "4294967295"},
    {"ui8_to_bstr", [] { return with([](ole_variant& v) { v.set_ui8(UINT64_MAX); }); }, VT_BSTR, false, VT_BSTR,
     "18446744073709551615"},
    {"bool_to_i8_sign_extends", [] { return ole_variant(true); }, VT_I8, false, VT_I8, "-1"},
    {"bool_to_ui8_refused", [] { return ole_variant(true); }, VT_UI8, true, VT_BOOL, "1"},
    {"r8_to_i8_half_even", [] { return ole_variant(2.5); }, VT_I8, false, VT_I8, "2"},
    {"r8_to_i8_half_even_up", [] { return ole_variant(3.5); }, VT_I8, false, VT_I8, "4"},
    {"r8_to_i8_overflow", [] { return ole_variant(1e19); }, VT_I8, true, VT_R8, "10000000000000000000"},
    {"r8_to_ui8", [] { return ole_variant(1e19); }, VT_UI8, false, VT_UI8, "10000000000000000000"},
    {"cy_to_i8_half_even", [] { return make_cy(25000); }, VT_I8, false, VT_I8, "2"},
    {"decimal_to_i8", [] { return make_decimal("-12.5"); }, VT_I8, false, VT_I8, "-12"},
    {"decimal_to_ui8_negative", [] { return make_decimal("-1"); }, VT_UI8, true, VT_DECIMAL, "-1"},
    {"decimal_to_i4", [] { return make_decimal("13.5"); }, VT_I4, false, VT_I4, "14"},
    {"decimal_to_i2_overflow", [] { return make_decimal("40000"); }, VT_I2, true, VT_DECIMAL, "40000"},
    {"bstr_to_i8_refused", [] { return ole_variant(std::wstring(L"12")); }, VT_I8, true, VT_BSTR, "12"},
    // Changes the rules leave open go through the general conversion.
    {"i4_to_i2_general", [] { return with([](ole_variant& v) { v.set_i4(123); }); }, VT_I2, false, VT_I2, "123"},
    {"i4_to_i2_general_overflow", [] { return with([](ole_variant& v) { v.set_i4(70000); }); }, VT_I2, true,
     VT_I4, "70000"},
    {"bstr_to_i4_general", [] { return ole_variant(std::wstring(L"123")); }, VT_I4, false, VT_I4, "123"},
    {"bstr_to_i4_not_a_number", [] { return ole_variant(std::wstring(L"12a")); }, VT_I4, true, VT_BSTR, "12a"},
    {"bstr_to_r8_general", [] { return ole_variant(std::wstring(L"2.25")); }, VT_R8, false, VT_R8, "2.25"},
    {"i4_to_decimal_general", [] { return with([](ole_variant& v) { v.set_i4(-7); }); }, VT_DECIMAL, false,
     VT_DECIMAL, "-7"},
    {"r8_to_cy_general", [] { return ole_variant(1.23456); }, VT_CY, false, VT_CY, "1.2346"},
    {"bool_to_bstr", [] { return ole_variant(true); }, VT_BSTR, false, VT_BSTR, "1"},
    {"r8_to_bstr", [] { return ole_variant(0.1); }, VT_BSTR, false, VT_BSTR, "0.1"},
    {"bstr_to_date", [] { return ole_variant(std::wstring(L"2020-01-31 10:20:30")); }, VT_DATE, false, VT_DATE,
     "2020-01-31 10:20:30"},
    {"bad_bstr_to_date", [] { return ole_variant(std::wstring(L"not a date")); }, VT_DATE, true, VT_BSTR,
     "not a date"},
    {"i4_to_date_refused", [] { return with([](ole_variant& v) { v.set_i4(1); }); }, VT_DATE, true, VT_I4, "1"},
    {"date_to_bstr", [] { return make_date("12:34:56.789"); }, VT_BSTR, false, VT_BSTR, "12:34:56.789000"},
    {"date_to_i4_refused", [] { return make_date("2020-01-31"); }, VT_I4, true, VT_DATE, "2020-01-31"},
    {"i4_to_bytes", [] { return with([](ole_variant& v) { v.set_i4(0x01020304); }); }, VT_BYTE_ARRAY, false,
     VT_BYTE_ARRAY, "0x04030201"},
    {"i2_to_blob", [] { return with([](ole_variant& v) { v.set_i2(-2); }); }, VT_BLOB, false, VT_BLOB, "0xFEFF"},
    {"i8_to_bytes", [] { return with([](ole_variant& v) { v.set_i8(1); }); }, VT_BYTE_ARRAY, false,
     VT_BYTE_ARRAY, "0x0100000000000000"},
    {"bstr_to_bytes", [] { return ole_variant(std::wstring(L"A\u00FC")); }, VT_BYTE_ARRAY, false,
     VT_BYTE_ARRAY, "0x41C3BC"},
    {"bytes_to_bstr_stops_at_zero", [] { return bytes({0x41, 0x42, 0x00, 0x43}); }, VT_BSTR, false, VT_BSTR,
     "AB"},
    {"bytes_to_i4_refused", [] { return bytes({1, 2, 3, 4}); }, VT_I4, true, VT_BYTE_ARRAY, "0x01020304"},
};

class ChangeType : public ::testing::TestWithParam<change_case> {};

TEST_P(ChangeType, Result) {
    const auto& c = GetParam();
    ole_variant v = c.make();
    if (c.throws) {
        EXPECT_THROW(v.change_type(c.to), ole_cast_exception);
    } else {
        EXPECT_NO_THROW(v.change_type(c.to));
    }
    EXPECT_EQ(v.type(), c.result_type);
    EXPECT_EQ(v.to_string(), c.result_text);
}

INSTANTIATE_TEST_SUITE_P(Values, ChangeType, ::testing::ValuesIn(change_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChangeTypeExtra, DateImageIs32Bytes) {
    ole_variant v = make_date("2020-01-31 10:20:30");
    v.change_type(VT_BYTE_ARRAY);
    EXPECT_EQ(v.binary_size(), 32u);
    ole_variant d = make_decimal("1.5");
    d.change_type(VT_BLOB);
    EXPECT_EQ(d.binary_size(), 16u);
}

TEST(Construction, BoolStoresMinusOne) {
    ole_variant t(true);
    EXPECT_EQ(t.type(), VT_BOOL);
    EXPECT_EQ(t.raw().boolVal, -1);
    EXPECT_EQ(t.to_long(), 1);
    EXPECT_EQ(t.to_string(), "1");
}

TEST(Construction, EmptyByteVectorGivesArrayWithoutElements) {
    ole_variant v{std::vector<uint8_t>{}};
    EXPECT_EQ(v.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(v.binary_size(), 0u);
    ole_variant w(2.0);
    w = std::vector<uint8_t>{};
    EXPECT_EQ(w.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(w.binary_size(), 0u);
}

TEST(Construction, WideTextKeepsEmbeddedZeros) {
    ole_variant v(std::wstring(L"a\0b", 3));
    EXPECT_EQ(v.get_bstr().size(), 3u);
    ole_variant p(L"xy");
    EXPECT_EQ(p.get_bstr(), L"xy");
}

TEST(Copy, DateCopyKeepsMicroseconds) {
    ole_variant a = make_date("2020-01-31 10:20:30.123456");
    ole_variant b(a);
    ole_variant c;
    c = a;
    EXPECT_EQ(b.to_string(), "2020-01-31 10:20:30.123456");
    EXPECT_EQ(c.to_string(), "2020-01-31 10:20:30.123456");
    EXPECT_TRUE(b.get_date() == a.get_date());
    EXPECT_DOUBLE_EQ(b.raw().date, a.raw().date);
}

TEST(Copy, SideFieldsAndContainersAreCopied) {
    ole_variant a;
    a.set_i8(INT64_MIN);
    ole_variant b(a);
    EXPECT_EQ(b.get_i8(), INT64_MIN);
    ole_variant s(std::wstring(L"a long text that does not fit in the small buffer"));
    ole_variant t;
    t = s;
    EXPECT_EQ(t.get_bstr(), s.get_bstr());
    ole_variant x(std::vector<uint8_t>{9, 8, 7});
    t = x;
    EXPECT_EQ(t.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(t.to_string(), "0x090807");
    EXPECT_TRUE(t.get_bstr().empty());
}

TEST(Copy, MoveLeavesSourceEmpty) {
    ole_variant s(std::wstring(L"moved text, long enough to be on the heap"));
    ole_variant t(std::move(s));
    EXPECT_EQ(t.to_string(), "moved text, long enough to be on the heap");
    EXPECT_EQ(s.type(), VT_EMPTY);
    ole_variant u;
    u = std::move(t);
    EXPECT_EQ(u.type(), VT_BSTR);
    EXPECT_EQ(t.type(), VT_EMPTY);
}

TEST(ByteArray, AllocateKeepsArrayOfSameSize) {
    ole_variant v(std::vector<uint8_t>{1, 2, 3});
    const uint8_t* before = v.binary_data();
    v.allocate_safe_array(3);
    EXPECT_EQ(v.binary_data(), before);
    EXPECT_EQ(v.to_string(), "0x010203");
    v.allocate_safe_array(4);
    EXPECT_EQ(v.to_string(), "0x01020300");
    ole_variant n(1.0);
    n.allocate_safe_array(2);
    EXPECT_EQ(n.type(), VT_BYTE_ARRAY);
    EXPECT_EQ(n.to_string(), "0x0000");
}

TEST(ByteArray, SizeAndConversionHelpers) {
    plat::byte_array a;
    a.data = {1, 2, 3};
    EXPECT_EQ(ole_variant::get_safe_array_size(&a), 3u);
    a.dims = 2;
    EXPECT_EQ(ole_variant::get_safe_array_size(&a), 0u);
    std::vector<uint8_t> out{7, 7, 7, 7, 7};
    const char src[] = "ab";
    ole_variant::convert_to_byte_array(src, 2, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b'}));
}

TEST(TypeSets, NumericAndDateOrString) {
    for (VARTYPE t : {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,
                      VT_UI8, VT_INT, VT_UINT})
        EXPECT_TRUE(ole_variant::is_numeric_type(t)) << t;
    for (VARTYPE t : {VT_EMPTY, VT_NULL, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_VARIANT, VT_UNKNOWN,
                      VARTYPE(15), VARTYPE(24), VT_BLOB, VT_BYTE_ARRAY})
        EXPECT_FALSE(ole_variant::is_numeric_type(t)) << t;
    EXPECT_TRUE(ole_variant::is_date_or_string_type(VT_DATE));
    EXPECT_TRUE(ole_variant::is_date_or_string_type(VT_BSTR));
    EXPECT_FALSE(ole_variant::is_date_or_string_type(VT_I4));
}

}  // namespace
