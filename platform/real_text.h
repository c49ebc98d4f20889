// Text of doubles and floats for values: locale-free, no digits lost.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Whole numbers below 1e21 in magnitude print as plain integers
// ("3000000000", "-0" prints "0"); other values print the shortest text that
// reads back to the same number, in plain notation when the decimal exponent
// is between -7 and 20 ("2.5", "0.1", "12345.67"), otherwise scientific
// ("1e+300", "1.5e-08"). Infinities "inf"/"-inf", NaN "nan".
void append_double(std::string& out, double v);
void append_float(std::string& out, float v);  // the same rules for single precision
// The same texts written to out, which has room for real_text_room bytes;
// the end is returned.
inline constexpr size_t real_text_room = 64;
char* put_double(char* out, double v);
char* put_float(char* out, float v);

// The shortest digits (no trailing zero) that read back as v, and the
// power of ten of the first (0.0125: 125 and -2), for a value that
// append_double prints from them: false for NaN, infinities, zero and whole
// numbers below 1e21.
bool shortest_digits(double v, uint64_t& digits, int& point);
// Writes what put_double(v) writes, from the digits shortest_digits gave
// for v.
char* put_double_digits(char* out, double v, uint64_t digits, int point);

// The longest prefix of text (after blanks) that is a decimal number, as
// strtod reads it in the "C" locale; 0 when there is none. Out-of-range
// values give an infinity or zero.
double parse_double_prefix(std::string_view text);
float parse_float_prefix(std::string_view text);

}  // namespace plat
