#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sql_number_text.h"
#include "sql_types.h"

namespace {

// An infinity or NaN (never stored by the server) as printf writes it.
size_t non_finite_text(double value, char* out) {
    const char* text = std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return n;
}

// The text of a FLOAT from its significant digits (no trailing zeros, at
// least one) and the decimal exponent of the first.
size_t write_float(bool negative, const char* digits, int count, int exponent, char* out) {
    char* o = out;
    if (negative) *o++ = '-';
    // The place of the point after the first digit's place.
    const int point = exponent + 1;
    if (point < -14 || point > 15) {
        *o++ = digits[0];
        if (count > 1) {
            *o++ = '.';
            std::memcpy(o, digits + 1, static_cast<size_t>(count - 1));
            o += count - 1;
        }
        *o++ = 'e';
        o = std::to_chars(o, o + 8, exponent).ptr;
    } else if (point <= 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = point; i < 0; ++i) *o++ = '0';
        std::memcpy(o, digits, static_cast<size_t>(count));
        o += count;
    } else if (point >= count) {
        std::memcpy(o, digits, static_cast<size_t>(count));
        o += count;
        for (int i = count; i < point; ++i) *o++ = '0';
    } else {
        std::memcpy(o, digits, static_cast<size_t>(point));
        o += point;
        *o++ = '.';
        std::memcpy(o, digits + point, static_cast<size_t>(count - point));
        o += count - point;
    }
    return static_cast<size_t>(o - out);
}

// 10^k for k from -36 to 46, each the double nearest to it.
constexpr int float_scale_first = -36;
constexpr double float_scales[] = {
    1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22,
    1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
    1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13,
    1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31,
    1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46};

// The six significant digits of a normal float's magnitude x, rounded from
// its exact value, when a double product tells them for sure; false when the
// general way must decide.
//
// y = x * 10^k (k making y six digits before the point) is computed with two
// roundings at most (10^k and the product), so it is y' = y(1 + e) with
// |e| <= 2^-52 + 2^-106, and |y' - y| < 3e-10 as y < 10^6 (x and 10^k are
// positive, nothing overflows or becomes subnormal for a normal float). When
// y' is more than 1e-9 away from every half-integer, y is too (and is no tie),
// so both have the same nearest integer n: the rounding half to even of y.
// Near a power of ten the decade of y' may be one off that of y; the digits
// of either decade then round to that power of ten (n = 10^5 or 10^6, the
// latter carried into the exponent), so the result is the same.
bool float_digits(float magnitude, uint32_t& digits, int& exponent) {
    uint32_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int biased = static_cast<int>(bits >> 23);
    if (biased == 0 || biased == 255) return false;  // zero, subnormal, infinite, NaN
    const double x = magnitude;
    // floor(e2 * log10(2)) for the binary exponent: the decade of x or the one below.
    const int low_decade = ((biased - 127) * 1233) >> 12;
    int k = 5 - low_decade;
    double y = x * float_scales[k - float_scale_first];
    if (y >= 1e6) {
        --k;
        y = x * float_scales[k - float_scale_first];
    } else if (y < 1e5) {
        ++k;
        y = x * float_scales[k - float_scale_first];
    }
    if (!(y >= 99999.0 && y < 1e6)) return false;
    const uint32_t whole = static_cast<uint32_t>(y);
    const double fraction = y - whole;  // exact
    if (fraction > 0.5 - 1e-9 && fraction < 0.5 + 1e-9) return false;
    uint32_t n = whole + (fraction > 0.5 ? 1 : 0);
    if (n >= 1000000) {
        n /= 10;
        --k;
    }
    if (n < 100000) return false;
    digits = n;
    exponent = 5 - k;
    return true;
}

}  // namespace

size_t sql_float_text_general(float value, char* out) {
    if (!std::isfinite(value)) return non_finite_text(value, out);
    // Six significant digits, rounded half to even from the exact value.
    char sci[32];
    const std::to_chars_result r =
        std::to_chars(sci, sci + sizeof sci, static_cast<double>(value), std::chars_format::scientific, 5);
    const char* p = sci;
    // Zero of either sign is "0".
    if (value == 0) {
        out[0] = '0';
        return 1;
    }
    const bool negative = *p == '-';
    if (negative) ++p;
    char digits[6];
    digits[0] = *p++;
    ++p;  // the point
    for (int i = 1; i < 6; ++i) digits[i] = *p++;
    ++p;  // 'e'
    int exponent = 0;
    std::from_chars(p + (*p == '+' ? 1 : 0), r.ptr, exponent);
    int count = 6;
    while (count > 1 && digits[count - 1] == '0') --count;
    return write_float(negative, digits, count, exponent, out);
}

size_t sql_float_text(float value, char* out) {
    const bool negative = std::signbit(value);
    uint32_t n = 0;
    int exponent = 0;
    if (!float_digits(negative ? -value : value, n, exponent)) return sql_float_text_general(value, out);
    int count = 6;
    while (n % 10 == 0) {
        n /= 10;
        --count;
    }
    char digits[6];
    for (int i = count - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    return write_float(negative, digits, count, exponent, out);
}

size_t sql_zero_fill(char* text, size_t length, size_t width) {
    if (length >= width) return length;
    std::memmove(text + (width - length), text, length);
    std::memset(text, '0', width - length);
    return width;
}

namespace {

constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case at once: a value below 10^(15 - decimals) that is the
// double nearest to a number of that many decimals. No other number of that
// many decimals reads back as the same double then, so that number, padded,
// is the text of the shortest digits. False for any other value.
bool fixed_text_of_scaled(double value, unsigned int decimals, char* out, size_t& length) {
    if (decimals > 15) return false;
    const double scale = powers_of_ten[decimals];
    const double limit = powers_of_ten[15 - decimals];
    if (!(value > -limit && value < limit)) return false;
    const double scaled = value * scale;
    const long long units = static_cast<long long>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    if (static_cast<double>(units) / scale != value) return false;
    // Written from the end: the decimals, the point, the whole digits (at
    // least one), the sign.
    unsigned long long magnitude = units < 0 ? 0ULL - static_cast<unsigned long long>(units)
                                             : static_cast<unsigned long long>(units);
    char text[48];
    char* const end = text + sizeof text;
    char* p = end;
    if (decimals > 0) {
        for (unsigned int i = 0; i < decimals; ++i) {
            *--p = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        }
        *--p = '.';
    }
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (units < 0) *--p = '-';
    std::memcpy(out, p, static_cast<size_t>(end - p));
    length = static_cast<size_t>(end - p);
    return true;
}

}  // namespace

size_t sql_fixed_text(double value, unsigned int decimals, char* out) {
    // The shortest digits that read back the same, placed by their exponent
    // and padded with zeros, when they have no more decimals than the
    // column; else the value rounded half to even.
    if (!std::isfinite(value)) return non_finite_text(value, out);
    char* o = out;
    size_t length = 0;
    if (value != 0 && fixed_text_of_scaled(value, decimals, out, length)) return length;
    if (value == 0) {  // no sign on zero
        *o++ = '0';
    } else {
        char sci[40];
        const std::to_chars_result r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
        const char* p = sci;
        const bool negative = *p == '-';
        if (negative) ++p;
        char digits[20];
        int count = 0;
        for (; *p != 'e'; ++p)
            if (*p != '.') digits[count++] = *p;
        int exponent = 0;
        ++p;
        std::from_chars(p + (*p == '+' ? 1 : 0), r.ptr, exponent);
        const int point = exponent + 1;  // digits before the point
        if (count - point > static_cast<int>(decimals))
            return static_cast<size_t>(std::to_chars(out, out + sql_fixed_text_bytes, value, std::chars_format::fixed,
                                                     static_cast<int>(decimals)).ptr - out);
        if (negative) *o++ = '-';
        if (point <= 0) {
            *o++ = '0';
        } else {
            for (int i = 0; i < point; ++i) *o++ = i < count ? digits[i] : '0';
        }
        if (decimals > 0) {
            *o++ = '.';
            int placed = 0;
            for (int i = point; i < 0; ++i, ++placed) *o++ = '0';
            for (int i = point > 0 ? point : 0; i < count; ++i, ++placed) *o++ = digits[i];
            for (; placed < static_cast<int>(decimals); ++placed) *o++ = '0';
        }
        return static_cast<size_t>(o - out);
    }
    if (decimals > 0) {
        *o++ = '.';
        for (unsigned int i = 0; i < decimals; ++i) *o++ = '0';
    }
    return static_cast<size_t>(o - out);
}
