// The quick paths of the text codecs and number printers give exactly what
// the plain algorithms give.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decimal.h"
#include "decimal_text.h"
#include "numbers.h"
#include "real_text.h"
#include "utf8.h"

namespace {

// Well-formed exactly when decoding and encoding again gives the same bytes
// (every ill-formed sequence becomes U+FFFD, which is three other bytes).
void expect_valid_iff_round_trip(const std::string& b) {
    const bool round_trip = plat::utf8_encode(plat::utf8_decode(b)) == b;
    ASSERT_EQ(plat::utf8_valid(b), round_trip) << "bytes " << ::testing::PrintToString(b);
    // The one-pass check agrees, and finds the first zero byte of valid text.
    size_t zero = 0;
    ASSERT_EQ(plat::utf8_valid_find_zero(b, zero), round_trip) << "bytes " << ::testing::PrintToString(b);
    if (round_trip) {
        ASSERT_EQ(zero, b.find('\0')) << "bytes " << ::testing::PrintToString(b);
    }
}

TEST(Utf8ValidFast, AgreesWithTheCodecOnEveryShortSequence) {
    for (unsigned a = 0; a < 256; ++a) {
        expect_valid_iff_round_trip(std::string(1, static_cast<char>(a)));
        for (unsigned b = 0; b < 256; ++b) {
            const std::string two{static_cast<char>(a), static_cast<char>(b)};
            expect_valid_iff_round_trip(two);
            if (a >= 0xE0) {
                // Three bytes: every third byte class (continuation or not).
                for (unsigned c : {0x00u, 0x41u, 0x80u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u}) {
                    expect_valid_iff_round_trip(two + static_cast<char>(c));
                    if (a >= 0xF0)
                        for (unsigned d : {0x7Fu, 0x80u, 0xBFu, 0xC0u})
                            expect_valid_iff_round_trip(two + static_cast<char>(c) + static_cast<char>(d));
                }
            }
        }
    }
}

TEST(Utf8ValidFast, AgreesWithTheCodecOnLongMixedText) {
    std::mt19937 rng(12345);
    const std::string pieces[] = {"a",          "0123456789abcdef", "\xC3\xA9",   "\xE2\x82\xAC",
                                  "\xF0\x9F\x98\x80", "\x80",             "\xE2\x82",   "\xFF",
                                  std::string(1, '\0'), "\xED\x9F\xBF",       "\xF4\x8F\xBF\xBF"};
    for (int round = 0; round < 4000; ++round) {
        std::string s;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) {
            // Mostly runs of ASCII of every length, so that the eight-byte
            // steps end at every offset.
            if (rng() % 3) s.append(rng() % 20, static_cast<char>('a' + rng() % 26));
            else s += pieces[rng() % (round % 7 == 0 ? 11 : 5)];
        }
        expect_valid_iff_round_trip(s);
    }
}

TEST(Utf8ValidFast, FindsTheFirstZeroAtEveryOffset) {
    // Zero bytes at every place of the eight-byte steps, after ASCII and
    // after multi-byte characters, and a second zero that must not count.
    for (size_t at = 0; at < 24; ++at)
        for (const std::string& before : {std::string("x"), std::string("\xC3\xA9"), std::string("\xF0\x9F\x98\x80")}) {
            std::string s;
            while (s.size() < at) s += before;
            s += '\0';
            s += "abc";
            s += '\0';
            s += std::string(at, 'y');
            expect_valid_iff_round_trip(s);
            expect_valid_iff_round_trip(s + "\xC3");  // ill-formed after the zero
        }
}

// The printer as it was written first: the shortest digits in scientific
// form, then plain notation by to_chars when the exponent is in range.
template <class T>
std::string reference_real(T v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    if (v == 0) return "0";
    char buf[128];
    if (std::fabs(v) < static_cast<T>(1e21) && std::trunc(v) == v) {
        auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        return std::string(buf, r.ptr);
    }
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<size_t>(r.ptr - buf)));
    int exp10 = 0;
    std::from_chars(e + 1 + (e[1] == '+'), r.ptr, exp10);
    if (exp10 >= -7 && exp10 < 21) {
        auto f = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        return std::string(buf, f.ptr);
    }
    return std::string(buf, r.ptr);
}

template <class T>
std::string printed(T v) {
    std::string s = "#";
    if constexpr (sizeof(T) == sizeof(double)) {
        plat::append_double(s, v);
        // The same text from the digits worked out apart, for the values
        // printed by their digits.
        uint64_t digits = 0;
        int point = 0;
        const bool by_digits = plat::shortest_digits(v, digits, point);
        EXPECT_EQ(by_digits, std::isfinite(v) && v != 0 && !(std::fabs(v) < 1e21 && std::trunc(v) == v)) << v;
        if (by_digits) {
            char t[plat::real_text_room];
            EXPECT_EQ("#" + std::string(t, plat::put_double_digits(t, v, digits, point)), s) << v;
            EXPECT_NE(digits % 10, 0u) << v;
        }
        char t[plat::real_text_room];
        EXPECT_EQ("#" + std::string(t, plat::put_double(t, v)), s) << v;
    } else {
        plat::append_float(s, v);
        char t[plat::real_text_room];
        EXPECT_EQ("#" + std::string(t, plat::put_float(t, v)), s) << v;
    }
    return s.substr(1);
}

template <class T, class Bits>
void check_reals(std::mt19937_64& rng) {
    for (int i = 0; i < 200000; ++i) {
        T v;
        switch (i % 5) {
        case 0: {  // any bit pattern
            Bits bits = static_cast<Bits>(rng());
            std::memcpy(&v, &bits, sizeof v);
            break;
        }
        case 1:  // decimal fractions of every size
            v = static_cast<T>(static_cast<double>(static_cast<int64_t>(rng() % 2000000001) - 1000000000) /
                               std::pow(10.0, static_cast<double>(rng() % 30)));
            break;
        case 2:  // near the plain/scientific and whole-number borders
            v = static_cast<T>(std::ldexp(1.0 + static_cast<double>(rng() % 1000) / 1000.0,
                                          static_cast<int>(rng() % 160) - 80));
            break;
        case 3: {  // 1 to 17 digits over a power of ten, as reading their text gives them
            const int digits = 1 + static_cast<int>(rng() % 17);
            const uint64_t m = rng() % plat::powers_of_ten[digits];
            if constexpr (sizeof(T) == sizeof(double)) {
                v = static_cast<double>(m) / std::pow(10.0, static_cast<double>(rng() % 23));
            } else {
                // Floats of up to 8 digits over at most 10^10: both exact.
                v = static_cast<float>(m % 100000000) / static_cast<float>(std::pow(10.0, static_cast<double>(rng() % 11)));
            }
            break;
        }
        default:  // whole numbers near 2^53, 2^63 and 1e21
            v = static_cast<T>((rng() % 2 ? 1e21 : std::ldexp(1.0, rng() % 2 ? 53 : 63)) *
                               (0.9 + static_cast<double>(rng() % 200) / 1000.0));
            break;
        }
        if (rng() % 2) v = -v;
        ASSERT_EQ(printed(v), reference_real(v)) << std::hexfloat << static_cast<double>(v);
    }
}

TEST(RealTextFast, PrintsLikeThePlainAlgorithm) {
    std::mt19937_64 rng(987654321);
    check_reals<double, uint64_t>(rng);
    check_reals<float, uint32_t>(rng);
    for (double v : {0.1, 1e-7, 1.5e-7, 9.999999e-8, 123456789012345.6, 1e21, 9.2e18, 9.3e18, 4.5, -0.0,
                     5e-324, 1.7976931348623157e308, 0.1 + 0.2, 1.0000000000000002, 999999999999999.9,
                     99999999999999.99, 0.000000123456789012345, 1.00000000000001e-7, 2.5e-7})
        EXPECT_EQ(printed(v), reference_real(v)) << v;
    for (float v : {0.1f, 1e-7f, 1.5e-5f, 16777216.5f, 8388607.5f, 0.3f, 123456.7f, 1.234567e-4f, 3.4028235e38f})
        EXPECT_EQ(printed(v), reference_real(v)) << v;
}

TEST(RealTextFast, PrintsTheSameUnderAGermanLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(printed(12345.67), "12345.67");
    EXPECT_EQ(printed(-0.015625f), "-0.015625");
    std::setlocale(LC_ALL, saved.c_str());
}

// The reader of short plain numbers against the general one: an exponent of
// zero sends the same text down the general path.
TEST(DecimalTextFast, ReadsLikeTheGeneralReader) {
    std::mt19937 rng(4242);
    for (int i = 0; i < 100000; ++i) {
        std::string t;
        if (rng() % 4 == 0) t += rng() % 2 ? "-" : "+";
        const int whole = static_cast<int>(rng() % 22), frac = static_cast<int>(rng() % 32);
        if (rng() % 3 == 0) t.append(rng() % 4, '0');
        for (int k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
        if (frac > 0 || rng() % 5 == 0) t += '.';
        for (int k = 0; k < frac; ++k) t += static_cast<char>('0' + (rng() % 3 ? rng() % 10 : 0));
        const bool blanks = rng() % 10 == 0;
        const std::string plain = blanks ? " " + t + "\t" : t;
        const std::string with_exponent = blanks ? " " + t + "e0\t" : t + "e0";
        plat::decimal fast, general;
        bool fast_inexact = true, general_inexact = true;
        const HRESULT a = plat::dec_from_text(plain, fast, &fast_inexact);
        const HRESULT b = plat::dec_from_text(with_exponent, general, &general_inexact);
        ASSERT_EQ(a, b) << t;
        if (FAILED(a)) continue;
        ASSERT_EQ(fast.scale, general.scale) << t;
        ASSERT_EQ(fast.sign, general.sign) << t;
        ASSERT_EQ(fast.hi32, general.hi32) << t;
        ASSERT_EQ(fast.lo64, general.lo64) << t;
        ASSERT_EQ(fast_inexact, general_inexact) << t;
    }
}

TEST(DecimalTextFast, PrintsMantissasOnBothSidesOf64Bits) {
    const char* texts[] = {"18446744073709551615", "18446744073709551616", "-18446744073709551617.5",
                           "79228162514264337593543950335", "0.0000000000000000000000000001",
                           "1844674407370955161.6", "9999999999999999999", "10000000000000000000.01"};
    for (const char* t : texts) {
        plat::decimal d;
        ASSERT_EQ(plat::dec_from_text(t, d), S_OK) << t;
        EXPECT_EQ(plat::dec_to_text(d), t);
    }
}

}  // namespace

namespace {

TEST(DecimalTextFast, ColumnFormLikeThePaddedText) {
    const uint64_t mantissas[] = {0, 1, 5, 9, 10, 11, 99, 100, 101, 1000, 12345, 1234500, 999999999999999,
                                  1000000000000000, 9999999999999999999ull, 10000000000000000000ull,
                                  18446744073709551615ull};
    std::mt19937_64 rng(77);
    std::vector<plat::decimal> values;
    // Every power of ten of 64 bits and its neighbours: each digit count.
    std::vector<uint64_t> edges(std::begin(mantissas), std::end(mantissas));
    for (uint64_t p = 10; p <= 10000000000000000000ull; p *= 10) {
        edges.insert(edges.end(), {p - 1, p, p + 1});
        if (p == 10000000000000000000ull) break;
    }
    for (int round = 0; round < 2; ++round) {
        for (uint64_t m : edges) {
            for (uint32_t hi : {0u, 1u, 0xFFFFFFFFu}) {
                for (int scale = 0; scale <= 30; ++scale) {
                    for (uint8_t sign : {uint8_t(0), plat::DECIMAL_NEG}) {
                        plat::decimal d;
                        d.lo64 = round ? rng() >> (rng() % 64) : m;
                        d.hi32 = hi;
                        d.scale = static_cast<uint8_t>(scale);
                        d.sign = sign;
                        values.push_back(d);
                    }
                }
            }
        }
    }
    for (const plat::decimal& d : values) {
        for (unsigned places = 0; places <= 42; ++places) {
            std::string fast = "x";
            plat::dec_append_fixed(fast, d, places);
            ASSERT_EQ(fast, "x" + fennrow_test::decimal_padded_text(d, places))
                << "mantissa " << d.lo64 << " hi " << d.hi32 << " scale " << int(d.scale) << " sign "
                << int(d.sign) << " places " << places;
        }
    }
    // Server texts of DECIMAL(15,2) and the like come back as they were.
    for (const char* t : {"0.00", "-0.00", "12.50", "-12.05", "0.01", "9999999999999.99", "100", "-1"}) {
        plat::decimal d;
        ASSERT_EQ(plat::dec_from_text(t, d), S_OK) << t;
        const std::string text(t);
        const size_t point = text.find('.');
        const unsigned places = point == std::string::npos ? 0 : static_cast<unsigned>(text.size() - point - 1);
        std::string out;
        plat::dec_append_fixed(out, d, places);
        EXPECT_EQ(out, text == "-0.00" ? "0.00" : text);
    }
}

}  // namespace

namespace {

// Digits of v in exactly n places the plain way, zeros first.
std::string digits_printed(uint64_t v, unsigned n) {
    std::string s = std::to_string(v);
    return std::string(n > s.size() ? n - s.size() : 0, '0') + s;
}

// Every power of ten and of two below 2^64 with its neighbours, and a sweep.
std::vector<uint64_t> digit_edges() {
    std::vector<uint64_t> vs = {0, UINT32_MAX, uint64_t(UINT32_MAX) + 1, UINT64_MAX};
    for (uint64_t p = 1;; p *= 10) {
        vs.insert(vs.end(), {p - 1, p, p + 1});
        if (p > UINT64_MAX / 10) break;
    }
    for (int b = 0; b < 64; ++b) {
        const uint64_t p = uint64_t(1) << b;
        vs.insert(vs.end(), {p - 1, p, p + 1});
    }
    std::mt19937_64 rng(91);
    for (int i = 0; i < 200000; ++i) vs.push_back(rng() >> (rng() % 64));
    return vs;
}

TEST(DigitWriters, CountAndDigitsLikeThePlainText) {
    for (uint64_t v : digit_edges()) {
        const std::string text = std::to_string(v);
        ASSERT_EQ(plat::decimal_digit_count(v), text.size()) << v;
        char buf[32];
        std::fill(buf, buf + sizeof buf, '#');
        ASSERT_EQ(std::string(buf, plat::put_unsigned(buf, v)), text) << v;
        ASSERT_EQ(buf[text.size()], '#') << v;
        // Zeros first up to 20 places.
        for (unsigned n = static_cast<unsigned>(text.size()); n <= 20; ++n) {
            std::fill(buf, buf + sizeof buf, '#');
            ASSERT_EQ(plat::put_digits(buf, v, n), buf + n);
            ASSERT_EQ(std::string(buf, n), digits_printed(v, n)) << v << " in " << n;
            ASSERT_EQ(buf[n], '#');
        }
        if (v > UINT32_MAX) continue;
        const auto u = static_cast<uint32_t>(v);
        std::fill(buf, buf + sizeof buf, '#');
        ASSERT_EQ(std::string(buf, plat::put_unsigned32(buf, u)), text) << v;
        ASSERT_EQ(buf[text.size()], '#') << v;
        for (unsigned n = static_cast<unsigned>(text.size()); n <= 10; ++n) {
            std::fill(buf, buf + sizeof buf, '#');
            ASSERT_EQ(plat::put_digits32(buf, u, n), buf + n);
            ASSERT_EQ(std::string(buf, n), digits_printed(v, n)) << v << " in " << n;
            ASSERT_EQ(buf[n], '#');
        }
    }
}

// The column form written in place: taken for every 64-bit mantissa with no
// more decimals than the column's, both signs, each scale and digit count.
TEST(DecimalTextFast, ColumnFormInPlaceForEvery64BitMantissa) {
    std::vector<uint64_t> mantissas;
    for (uint64_t p = 1;; p *= 10) {
        mantissas.insert(mantissas.end(), {p - 1, p, p + 1});
        if (p > UINT64_MAX / 10) break;
    }
    mantissas.insert(mantissas.end(), {uint64_t(UINT32_MAX), uint64_t(UINT32_MAX) + 1, UINT64_MAX - 1, UINT64_MAX});
    for (uint64_t m : mantissas) {
        for (int scale = 0; scale <= 30; ++scale) {
            for (uint8_t sign : {uint8_t(0), plat::DECIMAL_NEG}) {
                plat::decimal d;
                d.lo64 = m;
                d.scale = static_cast<uint8_t>(scale);
                d.sign = sign;
                for (unsigned places = 0; places <= 42; ++places) {
                    char buf[65];
                    std::fill(buf, buf + sizeof buf, '#');
                    const char* end = plat::dec_put_fixed(buf, d, places);
                    const bool taken = scale <= plat::DECIMAL_MAX_SCALE && unsigned(scale) <= places && places <= 40;
                    ASSERT_EQ(end != nullptr, taken) << m << " scale " << scale << " places " << places;
                    if (!end) continue;
                    ASSERT_EQ(std::string(static_cast<const char*>(buf), end),
                              fennrow_test::decimal_padded_text(d, places))
                        << m << " scale " << scale << " sign " << int(sign) << " places " << places;
                    ASSERT_EQ(buf[64], '#');
                }
            }
        }
    }
}

}  // namespace
