// Locale-free number text: a point is the decimal separator whatever the locale.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
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
inline char* put_two_digits(char* out, size_t v) {
    std::memcpy(out, digit_pairs + 2 * v, 2);
    return out + 2;
}

// 10^0 to 10^19: every power of ten below 2^64.
inline constexpr uint64_t powers_of_ten[20] = {1ull,
                                               10ull,
                                               100ull,
                                               1000ull,
                                               10000ull,
                                               100000ull,
                                               1000000ull,
                                               10000000ull,
                                               100000000ull,
                                               1000000000ull,
                                               10000000000ull,
                                               100000000000ull,
                                               1000000000000ull,
                                               10000000000000ull,
                                               100000000000000ull,
                                               1000000000000000ull,
                                               10000000000000000ull,
                                               100000000000000000ull,
                                               1000000000000000000ull,
                                               10000000000000000000ull};

// The count of decimal digits of v (1 for 0). From the bit width, t is the
// digit count less one or the count itself; one compare tells which
// (v | 1 has the digits of v, and of 1 for 0).
inline unsigned decimal_digit_count(uint64_t v) {
    v |= 1;
    const unsigned t = static_cast<unsigned>((64 - std::countl_zero(v)) * 1233) >> 12;
    return t + (v >= powers_of_ten[t]);
}

// 2^64 / 10^2, 10^4, 10^6, 10^8, rounded up: u times one of them is u / 10^e
// in 64.64 fixed point, its fraction too large by less than 2^-32, which
// for u below 2^32 and e at most 8 keeps every digit of the fraction exact.
inline constexpr uint64_t ten_power_fractions[4] = {184467440737095517ull, 1844674407370956ull, 18446744073710ull,
                                                    184467440738ull};

// Writes u in exactly n digits (zeros first; n at least its digit count and
// at most 10), the first one first; returns the end.
inline char* put_digits32(char* out, uint32_t u, unsigned n) {
    if (n <= 2) {
        if (n == 2) put_two_digits(out, u);
        else if (n == 1) *out = static_cast<char>('0' + u);
        return out + n;
    }
    using u128 = unsigned __int128;
    // One or two leading digits, then pairs out of the fraction.
    const unsigned e = (n - 1) & ~1u;
    u128 y = static_cast<u128>(u) * ten_power_fractions[e / 2 - 1];
    const size_t lead = static_cast<size_t>(y >> 64);
    if (n & 1) *out = static_cast<char>('0' + lead);
    else put_two_digits(out, lead);
    // e / 2 pairs follow (1 to 4), each at its place from the end: no loop.
    char* const end = out + n;
    auto pair = [&](unsigned from_end) {
        y = static_cast<u128>(static_cast<uint64_t>(y)) * 100;
        put_two_digits(end - 2 * from_end, static_cast<size_t>(y >> 64));
    };
    switch (e / 2) {
    case 4: pair(4); [[fallthrough]];
    case 3: pair(3); [[fallthrough]];
    case 2: pair(2); [[fallthrough]];
    default: pair(1);
    }
    return end;
}

// The same for any 64-bit v and n at most 20.
char* put_digits_wide(char* out, uint64_t v, unsigned n);
inline char* put_digits(char* out, uint64_t v, unsigned n) {
    if (v <= UINT32_MAX && n <= 10) return put_digits32(out, static_cast<uint32_t>(v), n);
    return put_digits_wide(out, v, n);
}

// Writes the digits of u (no sign); returns their end.
inline char* put_unsigned32(char* out, uint32_t u) { return put_digits32(out, u, decimal_digit_count(u)); }

// Writes the digits of v, a minus first when it is negative; returns their end.
inline char* put_signed32(char* out, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    if (v < 0) {
        *out++ = '-';
        u = 0 - u;
    }
    return put_unsigned32(out, u);
}

// Writes the digits of v (no sign); returns their end.
inline char* put_unsigned(char* out, uint64_t v) { return put_digits(out, v, decimal_digit_count(v)); }

// Whole text must be a number (leading/trailing blanks allowed).
std::optional<double> text_to_double(std::string_view s);
std::optional<int64_t> text_to_int64(std::string_view s);
std::optional<uint64_t> text_to_uint64(std::string_view s);

}  // namespace plat
