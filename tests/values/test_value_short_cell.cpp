// The short cell writer (put_short_cell) gives the text that append_utf8_cell
// gives, and both give the server's forms, over sweeps of every field's edges.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "decimal.h"
#include "decimal_text.h"
#include "ole_var.h"

namespace {

// The cell through put_short_cell (bytes after the text untouched) and
// through append_utf8_cell, which must agree.
std::string short_cell(const ole_variant& v, ole_text_form form) {
    char buf[ole_variant::short_cell_room + 1];
    std::fill(buf, buf + sizeof buf, '#');
    const char* end = v.put_short_cell(buf, form);
    EXPECT_NE(end, nullptr);
    if (!end) return "<null>";
    EXPECT_LE(end - buf, static_cast<long>(ole_variant::short_cell_room));
    EXPECT_EQ(buf[ole_variant::short_cell_room], '#');
    std::string s(static_cast<const char*>(buf), end);
    std::string appended = "x";
    v.append_utf8_cell(appended, form);
    EXPECT_EQ(appended, "x" + s);
    return s;
}

template <class T>
void expect_integer_edges(void (ole_variant::*set)(T)) {
    using L = std::numeric_limits<T>;
    std::vector<long long> vs = {0, 1, -1, 9, 10, 11, 99, 100, 101};
    // Every power of ten and its neighbours that the width holds.
    for (unsigned long long p = 10; p / 10 <= static_cast<unsigned long long>(L::max()); p *= 10) {
        for (long long d : {-1LL, 0LL, 1LL})
            if (p + d <= static_cast<unsigned long long>(L::max())) {
                vs.push_back(static_cast<long long>(p + d));
                vs.push_back(-static_cast<long long>(p + d));
            }
        if (p > std::numeric_limits<unsigned long long>::max() / 10) break;
    }
    for (long long v : vs) {
        if (v < static_cast<long long>(L::min()) || (v > 0 && static_cast<unsigned long long>(v) > L::max())) continue;
        ole_variant x;
        (x.*set)(static_cast<T>(v));
        EXPECT_EQ(short_cell(x, {}), std::to_string(static_cast<T>(v))) << v;
    }
    for (T v : {L::min(), static_cast<T>(L::min() + 1), static_cast<T>(L::max() - 1), L::max()}) {
        ole_variant x;
        (x.*set)(v);
        EXPECT_EQ(short_cell(x, {}), std::to_string(v));
    }
}

TEST(ShortCell, IntegersAtEveryWidthsEdges) {
    expect_integer_edges<int8_t>(&ole_variant::set_i1);
    expect_integer_edges<int16_t>(&ole_variant::set_i2);
    expect_integer_edges<int32_t>(&ole_variant::set_i4);
    expect_integer_edges<int32_t>(&ole_variant::set_int);
    expect_integer_edges<uint8_t>(&ole_variant::set_ui1);
    expect_integer_edges<uint16_t>(&ole_variant::set_ui2);
    expect_integer_edges<uint32_t>(&ole_variant::set_ui4);
    expect_integer_edges<uint32_t>(&ole_variant::set_uint);
    expect_integer_edges<int64_t>(&ole_variant::set_i8);
    expect_integer_edges<uint64_t>(&ole_variant::set_ui8);
}

TEST(ShortCell, EmptyValuesWriteNothingAndOtherValuesAreLeftToTheGeneralPath) {
    ole_variant empty, null;
    null.set_null();
    EXPECT_EQ(short_cell(empty, {}), "");
    EXPECT_EQ(short_cell(null, {}), "");
    char buf[ole_variant::short_cell_room];
    ole_variant r8(2.5), nan(std::numeric_limits<double>::quiet_NaN()), text(L"t");
    EXPECT_EQ(short_cell(r8, {}), "2.5");
    EXPECT_EQ(nan.put_short_cell(buf, {}), nullptr);  // written as 0, and logged
    EXPECT_EQ(text.put_short_cell(buf, {}), nullptr);
    ole_date d;
    d.kind = ole_date::date_only;
    d.time.year = 2024;
    d.time.month = 1;
    d.time.day = 2;
    ole_variant date;
    date.set_date(d);
    EXPECT_EQ(date.put_short_cell(buf, {}), nullptr);  // its own form
    plat::decimal big;
    big.hi32 = 1;
    ole_variant dec;
    dec.set_decimal(big);
    EXPECT_EQ(dec.put_short_cell(buf, {ole_text_form::decimal, 2}), nullptr);
    EXPECT_EQ(dec.put_short_cell(buf, {}), nullptr);
}

// The server forms printed the plain way.
std::string date_printed(unsigned y, unsigned m, unsigned d) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", y, m, d);
    return buf;
}

std::string clock_printed(unsigned h, unsigned mi, unsigned s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", h, mi, s);
    return buf;
}

std::string fraction(uint32_t micro, unsigned digits) {
    if (digits == 0) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06u", micro % 1000000);
    return "." + std::string(buf, digits > 6 ? 6 : digits);
}

TEST(ShortCell, DatesAndTimesAtEveryFieldsEdges) {
    const unsigned years[] = {0, 1, 9, 10, 99, 100, 101, 999, 1000, 1999, 2000, 9999, 10000, 65535};
    const unsigned days[] = {0, 1, 9, 10, 12, 28, 31, 99, 100, 999, 65535};
    const unsigned hours[] = {0, 1, 9, 10, 23, 24, 99, 100, 838, 65535};
    const uint32_t micros[] = {0, 1, 9, 10, 123456, 500000, 999999, 1000000, 4294967295u};
    for (unsigned y : years) {
        for (unsigned m : days) {
            for (unsigned dd : {0u, 1u, 10u, 31u, 99u, 100u}) {
                ole_date d;
                d.kind = ole_date::date_time;
                d.time.year = static_cast<uint16_t>(y);
                d.time.month = static_cast<uint16_t>(m);
                d.time.day = static_cast<uint16_t>(dd);
                ole_variant v;
                v.set_date(d);
                const std::string date = date_printed(y, m, dd);
                ASSERT_EQ(short_cell(v, {ole_text_form::date, 0}), date);
                ASSERT_EQ(short_cell(v, {ole_text_form::datetime, 0}), date + " 00:00:00");
            }
        }
    }
    for (unsigned h : hours) {
        for (unsigned mi : days) {
            for (uint32_t us : micros) {
                for (unsigned digits = 0; digits <= 7; ++digits) {
                    for (bool negative : {false, true}) {
                        ole_date d;
                        d.kind = ole_date::time_only;
                        d.time.hour = static_cast<uint16_t>(h);
                        d.time.minute = static_cast<uint16_t>(mi);
                        d.time.second = static_cast<uint16_t>(mi == 31 ? 59 : mi);
                        d.microseconds = us;
                        d.negative = negative;
                        ole_variant v;
                        v.set_date(d);
                        const std::string clock =
                            clock_printed(h, mi, mi == 31 ? 59 : mi) + fraction(us, digits);
                        const auto n = static_cast<uint8_t>(digits);
                        ASSERT_EQ(short_cell(v, {ole_text_form::time, n}), (negative ? "-" : "") + clock);
                        ASSERT_EQ(short_cell(v, {ole_text_form::datetime, n}), "0000-00-00 " + clock);
                    }
                }
            }
        }
    }
}

// Each power of two of the width and its neighbours, and a sweep of values
// of every digit count, as std::to_string prints them.
template <class T>
void expect_integer_sweep(void (ole_variant::*set)(T), std::mt19937_64& rng) {
    using U = std::make_unsigned_t<T>;
    std::vector<U> vs;
    for (unsigned b = 0; b < 8 * sizeof(T); ++b) {
        const U p = static_cast<U>(U(1) << b);
        vs.insert(vs.end(), {static_cast<U>(p - 1), p, static_cast<U>(p + 1)});
    }
    for (int i = 0; i < 20000; ++i) vs.push_back(static_cast<U>(rng() >> (rng() % 64)));
    for (U u : vs) {
        for (T v : {static_cast<T>(u), static_cast<T>(0 - u)}) {
            ole_variant x;
            (x.*set)(v);
            ASSERT_EQ(short_cell(x, {}), std::to_string(v));
        }
    }
}

TEST(ShortCell, IntegersOfEveryDigitCountAndBitWidth) {
    std::mt19937_64 rng(7);
    expect_integer_sweep<int8_t>(&ole_variant::set_i1, rng);
    expect_integer_sweep<int16_t>(&ole_variant::set_i2, rng);
    expect_integer_sweep<int32_t>(&ole_variant::set_i4, rng);
    expect_integer_sweep<int32_t>(&ole_variant::set_int, rng);
    expect_integer_sweep<uint8_t>(&ole_variant::set_ui1, rng);
    expect_integer_sweep<uint16_t>(&ole_variant::set_ui2, rng);
    expect_integer_sweep<uint32_t>(&ole_variant::set_ui4, rng);
    expect_integer_sweep<uint32_t>(&ole_variant::set_uint, rng);
    expect_integer_sweep<int64_t>(&ole_variant::set_i8, rng);
    expect_integer_sweep<uint64_t>(&ole_variant::set_ui8, rng);
}

// Decimals in their column's form: the exact text, zeros added to the scale.
TEST(ShortCell, DecimalsOfEveryScaleBothSignsAnd64BitEdges) {
    std::vector<uint64_t> mantissas = {uint64_t(UINT32_MAX), uint64_t(UINT32_MAX) + 1, UINT64_MAX - 1, UINT64_MAX};
    for (uint64_t p = 1;; p *= 10) {
        mantissas.insert(mantissas.end(), {p - 1, p, p + 1});
        if (p > UINT64_MAX / 10) break;
    }
    for (uint64_t m : mantissas) {
        for (unsigned scale = 0; scale <= plat::DECIMAL_MAX_SCALE; ++scale) {
            for (uint8_t sign : {uint8_t(0), plat::DECIMAL_NEG}) {
                plat::decimal d;
                d.lo64 = m;
                d.scale = static_cast<uint8_t>(scale);
                d.sign = sign;
                ole_variant v;
                v.set_decimal(d);
                for (unsigned places : {scale, scale + 1, 30u}) {
                    if (places < scale) continue;
                    ASSERT_EQ(short_cell(v, {ole_text_form::decimal, static_cast<uint8_t>(places)}),
                              fennrow_test::decimal_padded_text(d, places))
                        << m << " scale " << scale << " places " << places;
                }
            }
        }
    }
}

// Each clock field alone on both sides of two digits.
TEST(ShortCell, ClockFieldsWideOneAtATime) {
    const unsigned values[] = {0, 9, 10, 59, 99, 100, 65535};
    for (int field = 0; field < 3; ++field) {
        for (unsigned x : values) {
            ole_date d;
            d.kind = ole_date::time_only;
            d.time.hour = static_cast<uint16_t>(field == 0 ? x : 12);
            d.time.minute = static_cast<uint16_t>(field == 1 ? x : 34);
            d.time.second = static_cast<uint16_t>(field == 2 ? x : 56);
            ole_variant v;
            v.set_date(d);
            ASSERT_EQ(short_cell(v, {ole_text_form::time, 0}),
                      clock_printed(d.time.hour, d.time.minute, d.time.second));
        }
    }
}

}  // namespace
