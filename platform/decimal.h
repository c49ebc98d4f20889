// The 96-bit decimal: value = (-1)^sign * mantissa / 10^scale, scale 0..28.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "currency.h"
#include "vartypes.h"

namespace plat {

constexpr uint8_t DECIMAL_NEG = 0x80;
constexpr uint8_t DECIMAL_MAX_SCALE = 28;

struct decimal {
    uint16_t reserved = 0;  // holds the variant type when overlaid
    uint8_t scale = 0;
    uint8_t sign = 0;       // 0 or DECIMAL_NEG
    uint32_t hi32 = 0;
    uint64_t lo64 = 0;

    bool is_zero() const { return hi32 == 0 && lo64 == 0; }
};

// Exact decimal text, point as separator, no trailing fractional zeros
// ("12.345", "-0.5", "0").
void dec_append_text(std::string& out, const decimal& v);
std::string dec_to_text(const decimal& v);
// The exact text with at least `places` digits after the point, zeros added
// ("12.50" for 12.5 and 2 places; a point only when a digit follows it).
void dec_append_fixed(std::string& out, const decimal& v, unsigned places);
// The same text written to out (room for 64 bytes) for a 64-bit mantissa
// with no more decimals than places (at most 40); returns its end. Null,
// with nothing written, for any other value.
char* dec_put_fixed(char* out, const decimal& v, unsigned places);

// Plain decimal text (blanks around, sign, digits with an optional point,
// optional exponent). Digits that do not fit are rounded half to even and
// *inexact is set (when given); DISP_E_OVERFLOW when the integer part does
// not fit 96 bits, DISP_E_TYPEMISMATCH for text that is not a number.
HRESULT dec_from_text(std::string_view text, decimal& out, bool* inexact = nullptr);

decimal dec_from_i64(int64_t v);
decimal dec_from_u64(uint64_t v);
decimal dec_from_cy(currency v);
// The double's shortest round-trip digits; DISP_E_OVERFLOW for NaN,
// infinities and magnitudes beyond the 96-bit range.
HRESULT dec_from_r8(double v, decimal& out);

double dec_to_r8(const decimal& v);
// Whole numbers round half to even; DISP_E_OVERFLOW out of range.
HRESULT dec_to_i64(const decimal& v, int64_t& out);
HRESULT dec_to_u64(const decimal& v, uint64_t& out);
HRESULT dec_to_cy(const decimal& v, currency& out);

// Numeric comparison (-1, 0, 1); 0 and -0 are equal, trailing zeros ignored.
int dec_compare(const decimal& a, const decimal& b);

}  // namespace plat
