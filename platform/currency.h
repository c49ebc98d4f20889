// The currency number: a 64-bit integer counting ten-thousandths.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "vartypes.h"

namespace plat {

struct currency {
    int64_t int64 = 0;  // value x 10 000
};

constexpr int64_t currency_scale = 10000;

// Decimal text with a point ("12.5", "-0.0001", "3"); no trailing fractional zeros.
void cy_append_text(std::string& out, currency v);
std::string cy_to_text(currency v);
// Plain decimal text (blanks around, sign, digits, optional point and
// fraction, optional exponent); digits past the fourth decimal round half
// to even. DISP_E_TYPEMISMATCH for other text, DISP_E_OVERFLOW out of range.
HRESULT cy_from_text(std::string_view text, currency& out);

HRESULT cy_from_i64(int64_t v, currency& out);
HRESULT cy_from_u64(uint64_t v, currency& out);
HRESULT cy_from_r8(double v, currency& out);  // rounds half to even
double cy_to_r8(currency v);
// Whole number, half to even (as the Automation integer conversions do).
int64_t cy_to_i64(currency v);

}  // namespace plat
