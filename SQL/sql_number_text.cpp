#include <charconv>
#include <cstring>

#include "sql_types.h"

size_t sql_float_text(float value, char* out) {
    // Six significant digits, rounded half to even from the exact value.
    char sci[32];
    const std::to_chars_result r =
        std::to_chars(sci, sci + sizeof sci, static_cast<double>(value), std::chars_format::scientific, 5);
    const char* p = sci;
    char* o = out;
    // Zero of either sign is "0".
    if (value == 0) {
        *o++ = '0';
        return 1;
    }
    if (*p == '-') *o++ = *p++;
    char digits[6];
    digits[0] = *p++;
    ++p;  // the point
    for (int i = 1; i < 6; ++i) digits[i] = *p++;
    ++p;  // 'e'
    int exponent = 0;
    std::from_chars(p + (*p == '+' ? 1 : 0), r.ptr, exponent);
    int count = 6;
    while (count > 1 && digits[count - 1] == '0') --count;
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
    char* o = out;
    unsigned long long magnitude = units < 0 ? 0ULL - static_cast<unsigned long long>(units)
                                             : static_cast<unsigned long long>(units);
    if (units < 0) *o++ = '-';
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    // At least one digit before the point.
    while (count <= static_cast<int>(decimals)) digits[count++] = '0';
    for (int i = count - 1; i >= 0; --i) {
        *o++ = digits[i];
        if (i == static_cast<int>(decimals) && decimals > 0) *o++ = '.';
    }
    length = static_cast<size_t>(o - out);
    return true;
}

}  // namespace

size_t sql_fixed_text(double value, unsigned int decimals, char* out) {
    // The shortest digits that read back the same, placed by their exponent
    // and padded with zeros, when they have no more decimals than the
    // column; else the value rounded half to even.
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
