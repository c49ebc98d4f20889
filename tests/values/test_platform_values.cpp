// The variant layer underneath the field values: decimals, currency,
// dates as numbers and the general conversion.
#include <gtest/gtest.h>

#include <cmath>

#include "currency.h"
#include "decimal.h"
#include "utf8.h"
#include "vardate.h"
#include "variant.h"

namespace {

struct dec_text_case {
    const char* text;
    HRESULT hr;
    const char* printed;
    bool inexact;
};

TEST(Decimal, FromTextAndBack) {
    const dec_text_case cases[] = {
        {"0", S_OK, "0", false},
        {"-0.0", S_OK, "0", false},
        {"+12.340", S_OK, "12.34", false},
        {" 7 ", S_OK, "7", false},
        {".5", S_OK, "0.5", false},
        {"5.", S_OK, "5", false},
        {"1.5e3", S_OK, "1500", false},
        {"-25E-3", S_OK, "-0.025", false},
        {"79228162514264337593543950335", S_OK, "79228162514264337593543950335", false},
        {"79228162514264337593543950336", DISP_E_OVERFLOW, nullptr, false},
        {"1e29", DISP_E_OVERFLOW, nullptr, false},
        {"7.9228162514264337593543950335", S_OK, "7.9228162514264337593543950335", false},
        {"0.00000000000000000000000000015", S_OK, "0.0000000000000000000000000002", true},
        {"0.00000000000000000000000000025", S_OK, "0.0000000000000000000000000002", true},
        {"1.23456789012345678901234567894", S_OK, "1.2345678901234567890123456789", true},
        {"12.3456789012345678901234567890000", S_OK, "12.345678901234567890123456789", false},
        {"1.0000000000000000000000000000000000001", S_OK, "1", true},
        {"1.00000000000000000000000000000000000000", S_OK, "1", false},
        {"abc", DISP_E_TYPEMISMATCH, nullptr, false},
        {"1.2.3", DISP_E_TYPEMISMATCH, nullptr, false},
        {"1e", DISP_E_TYPEMISMATCH, nullptr, false},
        {"", DISP_E_TYPEMISMATCH, nullptr, false},
        {"1,5", DISP_E_TYPEMISMATCH, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        plat::decimal d;
        bool inexact = true;
        EXPECT_EQ(plat::dec_from_text(c.text, d, &inexact), c.hr);
        if (c.printed) {
            EXPECT_EQ(plat::dec_to_text(d), c.printed);
            EXPECT_EQ(inexact, c.inexact);
        }
    }
}

TEST(Decimal, Conversions) {
    plat::decimal d;
    int64_t i = 0;
    uint64_t u = 0;
    ASSERT_EQ(plat::dec_from_text("2.5", d), S_OK);
    EXPECT_EQ(plat::dec_to_i64(d, i), S_OK);
    EXPECT_EQ(i, 2);
    ASSERT_EQ(plat::dec_from_text("-3.5", d), S_OK);
    EXPECT_EQ(plat::dec_to_i64(d, i), S_OK);
    EXPECT_EQ(i, -4);
    EXPECT_EQ(plat::dec_to_u64(d, u), DISP_E_OVERFLOW);
    ASSERT_EQ(plat::dec_from_text("9223372036854775808", d), S_OK);
    EXPECT_EQ(plat::dec_to_i64(d, i), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::dec_to_u64(d, u), S_OK);
    EXPECT_EQ(u, 9223372036854775808ULL);
    EXPECT_EQ(plat::dec_to_text(plat::dec_from_i64(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(plat::dec_to_text(plat::dec_from_u64(UINT64_MAX)), "18446744073709551615");
    EXPECT_EQ(plat::dec_to_text(plat::dec_from_cy(plat::currency{-15})), "-0.0015");
    ASSERT_EQ(plat::dec_from_r8(0.1, d), S_OK);
    EXPECT_EQ(plat::dec_to_text(d), "0.1");
    EXPECT_DOUBLE_EQ(plat::dec_to_r8(d), 0.1);
    EXPECT_EQ(plat::dec_from_r8(1e30, d), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::dec_from_r8(std::nan(""), d), DISP_E_OVERFLOW);
    plat::currency c;
    ASSERT_EQ(plat::dec_from_text("1.00005", d), S_OK);
    EXPECT_EQ(plat::dec_to_cy(d, c), S_OK);
    EXPECT_EQ(c.int64, 10000);  // half to even
    ASSERT_EQ(plat::dec_from_text("1.00015", d), S_OK);
    EXPECT_EQ(plat::dec_to_cy(d, c), S_OK);
    EXPECT_EQ(c.int64, 10002);
}

TEST(Decimal, Compare) {
    plat::decimal a, b;
    plat::dec_from_text("1.50", a);
    plat::dec_from_text("1.5", b);
    EXPECT_EQ(plat::dec_compare(a, b), 0);
    plat::dec_from_text("-2", b);
    EXPECT_EQ(plat::dec_compare(a, b), 1);
    EXPECT_EQ(plat::dec_compare(b, a), -1);
    plat::dec_from_text("79228162514264337593543950335", a);
    plat::dec_from_text("0.0000000000000000000000000001", b);
    EXPECT_EQ(plat::dec_compare(a, b), 1);
    EXPECT_EQ(plat::dec_compare(b, a), -1);
}

TEST(Currency, TextAndNumbers) {
    plat::currency c;
    EXPECT_EQ(plat::cy_from_text("12.34567", c), S_OK);
    EXPECT_EQ(c.int64, 123457);
    EXPECT_EQ(plat::cy_to_text(c), "12.3457");
    EXPECT_EQ(plat::cy_from_text("922337203685477.5808", c), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::cy_from_text("-922337203685477.5808", c), S_OK);
    EXPECT_EQ(c.int64, INT64_MIN);
    EXPECT_EQ(plat::cy_from_text("x", c), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(plat::cy_from_r8(0.00025, c), S_OK);
    EXPECT_EQ(c.int64, 2);  // 2.5 ten-thousandths, half to even
    EXPECT_EQ(plat::cy_from_r8(1e15, c), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::cy_from_i64(922337203685478, c), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::cy_from_i64(-922337203685477, c), S_OK);
    EXPECT_EQ(plat::cy_to_i64(plat::currency{-25000}), -2);
    EXPECT_EQ(plat::cy_to_i64(plat::currency{-35000}), -4);
    EXPECT_EQ(plat::cy_to_i64(plat::currency{15001}), 2);
    EXPECT_DOUBLE_EQ(plat::cy_to_r8(plat::currency{-12345}), -1.2345);
}

TEST(VarDate, SystemTimeToNumber) {
    struct c_t { uint16_t y, m, d, h, mi, s, ms; double n; };
    const c_t cases[] = {
        {1899, 12, 30, 0, 0, 0, 0, 0.0},
        {1899, 12, 29, 6, 0, 0, 0, -1.25},
        {1900, 1, 1, 0, 0, 0, 0, 2.0},
        {2020, 1, 31, 18, 0, 0, 0, 43861.75},
        {9999, 12, 31, 0, 0, 0, 0, 2958465.0},
        {100, 1, 1, 0, 0, 0, 0, -657434.0},
    };
    for (const auto& c : cases) {
        plat::systemtime st;
        st.year = c.y; st.month = c.m; st.day = c.d; st.hour = c.h; st.minute = c.mi; st.second = c.s;
        st.milliseconds = c.ms;
        double n = 99;
        ASSERT_TRUE(plat::system_time_to_variant_time(st, n)) << c.y;
        EXPECT_DOUBLE_EQ(n, c.n);
        plat::systemtime back;
        ASSERT_TRUE(plat::variant_time_to_system_time(n, back));
        EXPECT_EQ(back.year, c.y);
        EXPECT_EQ(back.month, c.m);
        EXPECT_EQ(back.day, c.d);
        EXPECT_EQ(back.hour, c.h);
    }
    plat::systemtime bad;
    bad.year = 2021; bad.month = 2; bad.day = 29;
    double n;
    EXPECT_FALSE(plat::system_time_to_variant_time(bad, n));
    plat::systemtime st;
    ASSERT_TRUE(plat::variant_time_to_system_time(43861.5 + 0.5 / 86400000.0 * 0.4, st));
    EXPECT_EQ(st.hour, 12);
    EXPECT_EQ(st.milliseconds, 0);
    EXPECT_EQ(st.day_of_week, 5);  // 2020-01-31 was a Friday
    EXPECT_FALSE(plat::variant_time_to_system_time(3e6, st));
}

TEST(VarDate, FreeFormText) {
    struct c_t { const wchar_t* text; HRESULT hr; double n; };
    const c_t cases[] = {
        {L"1/31/2020", S_OK, 43861.0},
        {L"31/1/2020", S_OK, 43861.0},
        {L"2020-01-31 18:00", S_OK, 43861.75},
        {L"Jan 31, 2020 6 PM", S_OK, 43861.75},
        {L"Friday, January 31, 2020", S_OK, 43861.0},
        {L"12:00 AM", S_OK, 0.0},
        {L"6:00:00", S_OK, 0.25},
        {L"Foo 31 2020", DISP_E_TYPEMISMATCH, 0},
        {L"2/30/2020", DISP_E_TYPEMISMATCH, 0},
        {L"13 PM", DISP_E_TYPEMISMATCH, 0},
        {L"", DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        double n = -1;
        EXPECT_EQ(plat::date_from_text(c.text, n), c.hr) << plat::utf8_encode(c.text);
        if (c.hr == S_OK) {
            EXPECT_DOUBLE_EQ(n, c.n) << plat::utf8_encode(c.text);
        }
    }
}

plat::variant text(const wchar_t* t) {
    plat::variant v;
    v.vt = VT_BSTR;
    v.bstrVal = t;
    return v;
}

TEST(Variant, GeneralConversion) {
    plat::variant v;
    v.vt = VT_R8;
    v.dblVal = 2.5;
    EXPECT_EQ(plat::variant_change_type(v, VT_I4), S_OK);
    EXPECT_EQ(v.lVal, 2);  // half to even
    v.vt = VT_R8;
    v.dblVal = 255.5;
    EXPECT_EQ(plat::variant_change_type(v, VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(v.vt, VT_R8);
    v.vt = VT_I4;
    v.lVal = -1;
    EXPECT_EQ(plat::variant_change_type(v, VT_UI4), DISP_E_OVERFLOW);
    EXPECT_EQ(plat::variant_change_type(v, VT_BOOL), S_OK);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);
    EXPECT_EQ(plat::variant_change_type(v, VT_I2), S_OK);
    EXPECT_EQ(v.iVal, -1);

    plat::variant s = text(L" 1.5 ");
    EXPECT_EQ(plat::variant_change_type(s, VT_I4), S_OK);
    EXPECT_EQ(s.lVal, 2);
    s = text(L"abc");
    EXPECT_EQ(plat::variant_change_type(s, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(s.vt, VT_BSTR);
    s = text(L"FALSE");
    EXPECT_EQ(plat::variant_change_type(s, VT_BOOL), S_OK);
    EXPECT_EQ(s.boolVal, VARIANT_FALSE);
    s = text(L"1e300");
    EXPECT_EQ(plat::variant_change_type(s, VT_R8), S_OK);
    EXPECT_DOUBLE_EQ(s.dblVal, 1e300);
    s = text(L"1e300");
    EXPECT_EQ(plat::variant_change_type(s, VT_I8), DISP_E_OVERFLOW);

    plat::variant c;
    c.vt = VT_CY;
    c.cyVal.int64 = 15000;
    EXPECT_EQ(plat::variant_change_type(c, VT_DECIMAL), S_OK);
    EXPECT_EQ(plat::dec_to_text(c.decVal), "1.5");
    EXPECT_EQ(plat::variant_change_type(c, VT_BSTR), S_OK);
    EXPECT_EQ(c.bstrVal, L"1.5");

    plat::variant d;
    d.vt = VT_DATE;
    d.date = 43861.75;
    EXPECT_EQ(plat::variant_change_type(d, VT_BSTR), S_OK);
    EXPECT_EQ(d.bstrVal, L"2020-01-31 18:00:00");
    EXPECT_EQ(plat::variant_change_type(d, VT_DATE), S_OK);
    EXPECT_DOUBLE_EQ(d.date, 43861.75);

    plat::variant n;
    n.vt = VT_NULL;
    EXPECT_EQ(plat::variant_change_type(n, VT_I4), DISP_E_TYPEMISMATCH);
    plat::variant e;
    EXPECT_EQ(plat::variant_change_type(e, VT_I4), S_OK);
    EXPECT_EQ(e.lVal, 0);
    plat::variant b;
    b.vt = VT_BYTE_ARRAY;
    EXPECT_EQ(plat::variant_change_type(b, VT_I4), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyAndClearKeepCapacity) {
    plat::variant a = text(L"some text that lives on the heap for sure");
    plat::variant b;
    plat::variant_copy(b, a);
    EXPECT_EQ(b.bstrVal, a.bstrVal);
    size_t cap = b.bstrVal.capacity();
    plat::variant_clear(b);
    EXPECT_EQ(b.vt, VT_EMPTY);
    EXPECT_TRUE(b.bstrVal.empty());
    EXPECT_EQ(b.bstrVal.capacity(), cap);
}

}  // namespace
