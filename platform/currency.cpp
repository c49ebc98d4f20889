#include "currency.h"

#include <cmath>

#include "decimal.h"

namespace plat {

void cy_append_text(std::string& out, currency v) {
    uint64_t mag = v.int64 < 0 ? 0 - static_cast<uint64_t>(v.int64) : static_cast<uint64_t>(v.int64);
    uint64_t whole = mag / currency_scale;
    unsigned frac = static_cast<unsigned>(mag % currency_scale);
    if (v.int64 < 0) out += '-';
    char buf[24];
    int n = 0;
    do { buf[n++] = static_cast<char>('0' + whole % 10); whole /= 10; } while (whole);
    while (n) out += buf[--n];
    if (frac) {
        char f[4];
        for (int i = 3; i >= 0; --i) { f[i] = static_cast<char>('0' + frac % 10); frac /= 10; }
        int len = 4;
        while (f[len - 1] == '0') --len;
        out += '.';
        out.append(f, static_cast<size_t>(len));
    }
}

std::string cy_to_text(currency v) {
    std::string s;
    cy_append_text(s, v);
    return s;
}

HRESULT cy_from_text(std::string_view text, currency& out) {
    decimal d;
    HRESULT hr = dec_from_text(text, d);
    if (FAILED(hr)) return hr;
    return dec_to_cy(d, out);
}

HRESULT cy_from_i64(int64_t v, currency& out) {
    if (v > INT64_MAX / currency_scale || v < INT64_MIN / currency_scale) return DISP_E_OVERFLOW;
    out.int64 = v * currency_scale;
    return S_OK;
}

HRESULT cy_from_u64(uint64_t v, currency& out) {
    if (v > static_cast<uint64_t>(INT64_MAX / currency_scale)) return DISP_E_OVERFLOW;
    out.int64 = static_cast<int64_t>(v) * currency_scale;
    return S_OK;
}

HRESULT cy_from_r8(double v, currency& out) {
    double x = v * static_cast<double>(currency_scale);
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return DISP_E_OVERFLOW;
    double r = std::nearbyint(x);  // the default rounding: half to even
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return DISP_E_OVERFLOW;
    out.int64 = static_cast<int64_t>(r);
    return S_OK;
}

double cy_to_r8(currency v) { return static_cast<double>(v.int64) / static_cast<double>(currency_scale); }

int64_t cy_to_i64(currency v) {
    int64_t q = v.int64 / currency_scale;
    int64_t r = v.int64 % currency_scale;
    int64_t ar = r < 0 ? -r : r;
    if (ar > currency_scale / 2 || (ar == currency_scale / 2 && (q & 1))) q += v.int64 < 0 ? -1 : 1;
    return q;
}

}  // namespace plat
