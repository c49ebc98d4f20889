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

// Whole text must be a number (leading/trailing blanks allowed).
std::optional<double> text_to_double(std::string_view s);
std::optional<int64_t> text_to_int64(std::string_view s);
std::optional<uint64_t> text_to_uint64(std::string_view s);

}  // namespace plat
