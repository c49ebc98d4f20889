// Locale-free number text: a point is the decimal separator whatever the locale.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Shortest text that reads back to the same double ("2.5", "0.1", "1e+300").
std::string double_to_text(double v);
// printf-style fixed/general formatting under the "C" rules ("%.*f", "%.*g").
std::string double_to_fixed(double v, int precision);
std::string double_to_general(double v, int precision);

std::string int64_to_text(int64_t v);
std::string uint64_to_text(uint64_t v);
// Appends without allocating beyond out's growth.
void append_int64(std::string& out, int64_t v);
void append_uint64(std::string& out, uint64_t v);

// Writes v in at least width decimal digits, zeros first (no terminator);
// returns the end of what was written.
inline char* put_zero_padded(char* out, unsigned v, unsigned width) {
    unsigned n = 1;
    for (unsigned t = v; t >= 10; t /= 10) ++n;
    char* const end = out + (n < width ? width : n);
    char* p = end;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (p > out) *--p = '0';
    return end;
}

// "00" to "99": the two digits of every value below 100.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the two digits of v (below 100); returns their end.
inline char* put_two_digits(char* out, unsigned v) {
    out[0] = digit_pairs[2 * v];
    out[1] = digit_pairs[2 * v + 1];
    return out + 2;
}

// The count of decimal digits of v (1 for 0).
inline unsigned decimal_digit_count(uint64_t v) {
    unsigned n = 1;
    for (;;) {
        if (v < 10) return n;
        if (v < 100) return n + 1;
        if (v < 1000) return n + 2;
        if (v < 10000) return n + 3;
        v /= 10000;
        n += 4;
    }
}

// Writes v in exactly n digits (zeros first; n at least its digit count),
// the last one first; returns the end.
inline char* put_digits(char* out, uint64_t v, unsigned n) {
    char* const end = out + n;
    char* p = end;
    while (v > UINT32_MAX) {
        p -= 2;
        put_two_digits(p, static_cast<unsigned>(v % 100));
        v /= 100;
    }
    uint32_t u = static_cast<uint32_t>(v);
    while (p - out >= 2) {
        p -= 2;
        put_two_digits(p, u % 100);
        u /= 100;
    }
    if (p != out) *--p = static_cast<char>('0' + u % 10);
    return end;
}

// Writes the digits of v (no sign); returns their end.
inline char* put_unsigned(char* out, uint64_t v) { return put_digits(out, v, decimal_digit_count(v)); }

// Whole text must be a number (leading/trailing blanks allowed).
std::optional<double> text_to_double(std::string_view s);
std::optional<int64_t> text_to_int64(std::string_view s);
std::optional<uint64_t> text_to_uint64(std::string_view s);

}  // namespace plat
