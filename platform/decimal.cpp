#include "decimal.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "numbers.h"
#include "real_text.h"

namespace plat {

namespace {

using u128 = unsigned __int128;

const u128 max96 = (static_cast<u128>(1) << 96) - 1;

u128 pow10_128(int n) {
    u128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

u128 mantissa(const decimal& d) { return (static_cast<u128>(d.hi32) << 64) | d.lo64; }

void set_mantissa(decimal& d, u128 m) {
    d.hi32 = static_cast<uint32_t>(m >> 64);
    d.lo64 = static_cast<uint64_t>(m);
}

// Digits of m, most significant first, into buf (at least 40 bytes); returns the count.
int mantissa_digits(u128 m, char* buf) {
    char tmp[40];
    int n = 0;
    while (m > UINT64_MAX) {
        tmp[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    }
    // The leading part fits 64 bits.
    char* lead = std::to_chars(buf, buf + 20, static_cast<uint64_t>(m)).ptr;
    for (int i = 0; i < n; ++i) *lead++ = tmp[n - 1 - i];
    return static_cast<int>(lead - buf);
}

// Divides m by 10^n rounding half to even.
u128 div_round_even(u128 m, int n) {
    if (n <= 0) return m;
    if (n > 38) return 0;
    u128 p = pow10_128(n);
    u128 q = m / p, r = m % p;
    u128 half = p / 2;
    if (r > half || (r == half && (q & 1))) ++q;
    return q;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void dec_append_text(std::string& out, const decimal& v) {
    char digits[40];
    u128 m = mantissa(v);
    int n = mantissa_digits(m, digits);
    int scale = v.scale > DECIMAL_MAX_SCALE ? DECIMAL_MAX_SCALE : v.scale;
    // Drop trailing fractional zeros.
    while (scale > 0 && n > 1 && digits[n - 1] == '0') { --n; --scale; }
    if (scale > 0 && n == 1 && digits[0] == '0') scale = 0;
    if (m != 0 && (v.sign & DECIMAL_NEG)) out += '-';
    if (scale == 0) {
        out.append(digits, static_cast<size_t>(n));
    } else if (n > scale) {
        out.append(digits, static_cast<size_t>(n - scale));
        out += '.';
        out.append(digits + (n - scale), static_cast<size_t>(scale));
    } else {
        out += "0.";
        out.append(static_cast<size_t>(scale - n), '0');
        out.append(digits, static_cast<size_t>(n));
    }
}

void dec_append_fixed(std::string& out, const decimal& v, unsigned places) {
    // A 64-bit mantissa with no more decimals than asked for: its digits with
    // the point put in and the zeros added, which is what dropping trailing
    // zeros and padding again gives.
    char buf[64];
    if (const char* end = dec_put_fixed(buf, v, places)) {
        out.append(buf, static_cast<size_t>(end - buf));
        return;
    }
    const size_t start = out.size();
    dec_append_text(out, v);
    const size_t point = out.find('.', start);
    const size_t have = point == std::string::npos ? 0 : out.size() - point - 1;
    if (have < places) {
        if (point == std::string::npos) out += '.';
        out.append(places - have, '0');
    }
}

namespace {

// dec_put_fixed for any mantissa and scale it takes.
[[gnu::noinline]] char* put_fixed_wide(char* out, const decimal& v, unsigned places) {
    const unsigned scale = v.scale;
    const uint64_t m = v.lo64;
    char* o = out;
    if (m != 0 && (v.sign & DECIMAL_NEG)) *o++ = '-';
    const unsigned n = decimal_digit_count(m);
    if (n > scale) {
        // The whole part's digits, the point, the fraction's (scale below 20).
        const uint64_t unit = powers_of_ten[scale];
        const uint64_t whole = m / unit;
        o = put_digits(o, whole, n - scale);
        if (places > 0) *o++ = '.';
        o = put_digits(o, m - whole * unit, scale);
    } else {
        // No whole part: "0." and the digits in scale places, zeros first.
        *o++ = '0';
        *o++ = '.';
        unsigned width = scale;
        for (; width > 20; --width) *o++ = '0';
        o = put_digits(o, m, width);
    }
    // The zeros up to places: a word of them does for a few (there is room).
    if (const unsigned zeros = places - scale) {
        if (zeros <= 8) std::memcpy(o, "00000000", 8);
        else std::memset(o, '0', zeros);
        o += zeros;
    }
    return o;
}

}  // namespace

char* dec_put_fixed(char* out, const decimal& v, unsigned places) {
    const unsigned scale = v.scale;
    const uint64_t m = v.lo64;
    if (v.hi32 != 0 || scale > places) return nullptr;
    if (m > UINT32_MAX || places > 8) {
        if (scale > DECIMAL_MAX_SCALE || places > 40) return nullptr;
        return put_fixed_wide(out, v, places);
    }
    // The usual column: 32-bit digits, at most 8 places.
    const auto u = static_cast<uint32_t>(m);
    char* o = out;
    if (u != 0 && (v.sign & DECIMAL_NEG)) *o++ = '-';
    const unsigned n = decimal_digit_count(u);
    if (n > scale) {
        const auto unit = static_cast<uint32_t>(powers_of_ten[scale]);
        const uint32_t whole = u / unit;
        o = put_digits32(o, whole, n - scale);
        if (places > 0) *o++ = '.';
        o = put_digits32(o, u - whole * unit, scale);
    } else {
        o[0] = '0';
        o[1] = '.';
        o = put_digits32(o + 2, u, scale);
    }
    std::memcpy(o, "00000000", 8);
    return o + (places - scale);
}

std::string dec_to_text(const decimal& v) {
    std::string s;
    dec_append_text(s, v);
    return s;
}

namespace {

// Plain digits with at most one point, up to 19 significant digits and 28
// after the point: exact in 64 bits. False for anything else (left to the
// general reader, which gives the same value for what is taken here).
bool small_plain_number(std::string_view body, bool neg, decimal& out) {
    uint64_t m = 0;
    int significant = 0, frac = 0;
    bool point = false, any = false;
    for (char c : body) {
        if (c >= '0' && c <= '9') {
            any = true;
            if (point) ++frac;
            if (m != 0 || c != '0') {
                if (++significant > 19) return false;
                m = m * 10 + static_cast<unsigned>(c - '0');
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!any || frac > DECIMAL_MAX_SCALE) return false;
    decimal d;
    if (m != 0) {
        d.lo64 = m;
        d.scale = static_cast<uint8_t>(frac);
        d.sign = neg ? DECIMAL_NEG : 0;
    }
    out = d;
    return true;
}

}  // namespace

HRESULT dec_from_text(std::string_view text, decimal& out, bool* inexact) {
    if (inexact) *inexact = false;
    size_t i = 0, n = text.size();
    while (i < n && is_blank(text[i])) ++i;
    while (n > i && is_blank(text[n - 1])) --n;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) { neg = text[i] == '-'; ++i; }
    if (small_plain_number(text.substr(i, n - i), neg, out)) return S_OK;
    // Significant digits (leading zeros skipped) and the power of ten of the last one.
    std::string_view body = text.substr(i, n - i);
    size_t first_sig = std::string_view::npos;
    size_t digit_count = 0;
    long frac_digits = 0;
    bool seen_point = false, any_digit = false;
    size_t k = 0;
    // The first significant digits; beyond them only whether any is non-zero.
    constexpr size_t sig_cap = 32;
    char sig[sig_cap];
    bool tail_nonzero = false;
    for (; k < body.size(); ++k) {
        char c = body[k];
        if (c >= '0' && c <= '9') {
            any_digit = true;
            if (seen_point) ++frac_digits;
            if (c != '0' || first_sig != std::string_view::npos) {
                if (first_sig == std::string_view::npos) first_sig = k;
                if (digit_count < sig_cap) sig[digit_count] = c;
                else if (c != '0') tail_nonzero = true;
                ++digit_count;
            }
        } else if (c == '.' && !seen_point) {
            seen_point = true;
        } else {
            break;
        }
    }
    if (!any_digit) return DISP_E_TYPEMISMATCH;
    long exp10 = 0;
    if (k < body.size()) {
        if (body[k] != 'e' && body[k] != 'E') return DISP_E_TYPEMISMATCH;
        ++k;
        bool eneg = false;
        if (k < body.size() && (body[k] == '+' || body[k] == '-')) { eneg = body[k] == '-'; ++k; }
        if (k >= body.size()) return DISP_E_TYPEMISMATCH;
        for (; k < body.size(); ++k) {
            char c = body[k];
            if (c < '0' || c > '9') return DISP_E_TYPEMISMATCH;
            if (exp10 < 100000) exp10 = exp10 * 10 + (c - '0');
        }
        if (eneg) exp10 = -exp10;
    }
    decimal d;
    if (digit_count == 0) {  // zero
        out = d;
        return S_OK;
    }
    // value = sig x 10^e
    long e = exp10 - frac_digits;
    long nd = static_cast<long>(digit_count);
    if (e >= 0) {
        if (nd + e > 29) return DISP_E_OVERFLOW;
        u128 m = 0;
        for (long j = 0; j < nd; ++j) m = m * 10 + static_cast<unsigned>(sig[j] - '0');  // nd <= 29
        for (long j = 0; j < e; ++j) m *= 10;
        if (m > max96) return DISP_E_OVERFLOW;
        set_mantissa(d, m);
        d.sign = neg ? DECIMAL_NEG : 0;
        out = d;
        return S_OK;
    }
    long scale = -e;
    // Digits to drop from the end: the scale may not exceed 28 and at most 29 digits fit.
    long drop = scale > DECIMAL_MAX_SCALE ? scale - DECIMAL_MAX_SCALE : 0;
    if (nd - drop > 29) drop = nd - 29;
    for (;; ++drop) {
        if (drop > scale) return DISP_E_OVERFLOW;
        u128 m = 0;
        long keep = nd - drop;
        for (long j = 0; j < keep; ++j) m = m * 10 + static_cast<unsigned>(sig[j] - '0');
        bool lost = false;
        if (drop > 0) {
            // Round half to even on the dropped digits.
            int first = keep >= 0 ? sig[keep] - '0' : 0;
            bool rest_nonzero = false;
            long from = keep >= 0 ? keep + 1 : 0;
            if (keep < 0) { first = 0; rest_nonzero = true; }
            for (long j = from; j < nd && j < static_cast<long>(sig_cap) && !rest_nonzero; ++j)
                rest_nonzero = sig[j] != '0';
            if (tail_nonzero) rest_nonzero = true;
            lost = first != 0 || rest_nonzero;
            if (first > 5 || (first == 5 && (rest_nonzero || (m & 1)))) ++m;
        }
        if (m > max96) continue;
        set_mantissa(d, m);
        d.scale = static_cast<uint8_t>(scale - drop);
        d.sign = (neg && m != 0) ? DECIMAL_NEG : 0;
        if (inexact && lost) *inexact = true;
        out = d;
        return S_OK;
    }
}

decimal dec_from_i64(int64_t v) {
    decimal d;
    uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    d.lo64 = mag;
    d.sign = v < 0 ? DECIMAL_NEG : 0;
    return d;
}

decimal dec_from_u64(uint64_t v) {
    decimal d;
    d.lo64 = v;
    return d;
}

decimal dec_from_cy(currency v) {
    decimal d = dec_from_i64(v.int64);
    d.scale = 4;
    return d;
}

HRESULT dec_from_r8(double v, decimal& out) {
    if (!std::isfinite(v)) return DISP_E_OVERFLOW;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    HRESULT hr = dec_from_text(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), out);
    return hr == DISP_E_TYPEMISMATCH ? DISP_E_OVERFLOW : hr;
}

double dec_to_r8(const decimal& v) {
    std::string s;
    dec_append_text(s, v);
    double d = 0;
    std::from_chars(s.data(), s.data() + s.size(), d);
    return d;
}

HRESULT dec_to_i64(const decimal& v, int64_t& out) {
    u128 q = div_round_even(mantissa(v), v.scale);
    bool neg = (v.sign & DECIMAL_NEG) != 0;
    if (neg) {
        if (q > static_cast<u128>(INT64_MAX) + 1) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(0 - static_cast<uint64_t>(q));
    } else {
        if (q > static_cast<u128>(INT64_MAX)) return DISP_E_OVERFLOW;
        out = static_cast<int64_t>(q);
    }
    return S_OK;
}

HRESULT dec_to_u64(const decimal& v, uint64_t& out) {
    u128 q = div_round_even(mantissa(v), v.scale);
    if ((v.sign & DECIMAL_NEG) && q != 0) return DISP_E_OVERFLOW;
    if (q > static_cast<u128>(UINT64_MAX)) return DISP_E_OVERFLOW;
    out = static_cast<uint64_t>(q);
    return S_OK;
}

HRESULT dec_to_cy(const decimal& v, currency& out) {
    u128 m = mantissa(v);
    u128 q;
    if (v.scale <= 4) {
        q = m * pow10_128(4 - v.scale);  // m < 2^96, x 10^4 fits
    } else {
        q = div_round_even(m, v.scale - 4);
    }
    bool neg = (v.sign & DECIMAL_NEG) != 0;
    if (neg) {
        if (q > static_cast<u128>(INT64_MAX) + 1) return DISP_E_OVERFLOW;
        out.int64 = static_cast<int64_t>(0 - static_cast<uint64_t>(q));
    } else {
        if (q > static_cast<u128>(INT64_MAX)) return DISP_E_OVERFLOW;
        out.int64 = static_cast<int64_t>(q);
    }
    return S_OK;
}

int dec_compare(const decimal& a, const decimal& b) {
    u128 ma = mantissa(a), mb = mantissa(b);
    bool na = (a.sign & DECIMAL_NEG) && ma != 0;
    bool nb = (b.sign & DECIMAL_NEG) && mb != 0;
    if (na != nb) return na ? -1 : 1;
    // Compare magnitudes after bringing both to the larger scale.
    int cmp;
    const u128 limit = static_cast<u128>(-1) / 2;
    auto scaled_gt = [&](u128 m, int by, u128 other) {
        // true when m x 10^by > other; 0 when equal, -1 smaller
        u128 x = m;
        for (int i = 0; i < by; ++i) {
            if (x > limit / 10) return 1;  // surely larger than any 96-bit value
            x *= 10;
        }
        return x > other ? 1 : (x == other ? 0 : -1);
    };
    if (a.scale <= b.scale) cmp = scaled_gt(ma, b.scale - a.scale, mb);
    else cmp = -scaled_gt(mb, a.scale - b.scale, ma);
    return na ? -cmp : cmp;
}

}  // namespace plat
