#include "real_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

#include "numbers.h"

namespace plat {

namespace {

// Powers of ten that a double holds exactly (10^22 is the last).
constexpr double exact_tens[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Significant digits below which two texts of that many digits never read
// as one value (the rounding interval is narrower than their spacing), and
// the fraction digits whose power of ten the type holds exactly.
template <class T>
struct few_digits;
template <>
struct few_digits<double> {
    static constexpr double limit = 1e15;
    static constexpr int max_fraction = 22;
};
template <>
struct few_digits<float> {
    static constexpr double limit = 1e6;
    static constexpr int max_fraction = 10;
};

// The shortest digits m (over 10^k) of mag, a positive value that is no
// whole number, when they are few: the first k whose m / 10^k reads back
// as mag gives them, as no other text of so few digits reads back the same.
// The division of two exact numbers rounds as reading the text does.
// False when the digits are more.
template <class T>
bool few_digit_text(T mag, uint64_t& m, int& k) {
    const double a = mag;
    for (int f = 1; f <= few_digits<T>::max_fraction; ++f) {
        const double x = a * exact_tens[f];
        if (x >= few_digits<T>::limit) return false;
        const auto n = static_cast<int64_t>(x + 0.5);  // x is within 0.25 of the digits sought
        if (static_cast<T>(n) / static_cast<T>(exact_tens[f]) == mag) {
            m = static_cast<uint64_t>(n);
            k = f;
            return true;
        }
    }
    return false;
}

// Plain notation of the digits m over 10^k (m has no trailing zero and more
// than k digits, or at most 7 leading zeros after the point).
char* put_plain(char* o, uint64_t m, int k) {
    const unsigned nd = decimal_digit_count(m);
    const auto places = static_cast<unsigned>(k);
    if (nd > places) {
        const uint64_t whole = m / powers_of_ten[places];
        o = put_unsigned(o, whole);
        *o++ = '.';
        return put_digits(o, m - whole * powers_of_ten[places], places);
    }
    *o++ = '0';
    *o++ = '.';
    for (unsigned i = nd; i < places; ++i) *o++ = '0';
    return put_digits(o, m, nd);
}

template <class T>
void append_real(std::string& out, T v) {
    if (std::isnan(v)) { out += "nan"; return; }
    if (std::isinf(v)) { out += v < 0 ? "-inf" : "inf"; return; }
    if (v == 0) { out += '0'; return; }
    char buf[64];
    T mag = std::fabs(v);
    if (mag < static_cast<T>(1e21) && std::trunc(v) == v) {
        // A whole number: its exact digits.
        if (mag < static_cast<T>(9.2e18)) {
            auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v));
            out.append(buf, r.ptr);
            return;
        }
        auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        out.append(buf, r.ptr);
        return;
    }
    char* o = buf;
    if (v < 0) *o++ = '-';
    uint64_t m = 0;
    int k = 0;
    // Few digits, in plain notation (the first digit at 10^-7 or above).
    if (few_digit_text(mag, m, k) && (k <= 7 || m >= powers_of_ten[k - 7])) {
        out.append(buf, put_plain(o, m, k));
        return;
    }
    // The shortest digits that read back the same, as "[-]d[.ddd]e(+|-)xx".
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    // The exponent has two or three digits.
    const char* e = r.ptr - 4;
    if (*e != 'e') --e;
    int exp10 = 0;
    for (const char* p = e + 2; p < r.ptr; ++p) exp10 = exp10 * 10 + (*p - '0');
    if (e[1] == '-') exp10 = -exp10;
    if (exp10 < -7 || exp10 >= 21) {
        out.append(buf, r.ptr);
        return;
    }
    // Plain notation from the same digits. The value is no whole number, so
    // its digits reach beyond the point: at most 7 leading zeros or 21
    // integer digits plus 17 significant digits.
    const char* p = o;  // the first digit, then "." and the others
    char digits[32];
    int n = 0;
    digits[n++] = *p;
    for (p += 2; p < e; ++p) digits[n++] = *p;
    if (exp10 >= 0 && exp10 + 1 >= n) {
        // Not reached for a value that is no whole number; kept for safety.
        auto f = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        out.append(buf, f.ptr);
        return;
    }
    char plain[64];
    char* q = plain;
    if (v < 0) *q++ = '-';
    if (exp10 >= 0) {
        const int whole = exp10 + 1;  // < n: there are fraction digits
        std::memcpy(q, digits, static_cast<size_t>(whole));
        q += whole;
        *q++ = '.';
        std::memcpy(q, digits + whole, static_cast<size_t>(n - whole));
        q += n - whole;
    } else {
        *q++ = '0';
        *q++ = '.';
        for (int i = -1; i > exp10; --i) *q++ = '0';
        std::memcpy(q, digits, static_cast<size_t>(n));
        q += n;
    }
    out.append(plain, q);
}

locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

// Skips blanks and an optional '+', which from_chars does not take.
std::string_view number_start(std::string_view s, bool& plus) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                            s[i] == '\f' || s[i] == '\v'))
        ++i;
    plus = false;
    if (i < s.size() && s[i] == '+') { plus = true; ++i; }
    return s.substr(i);
}

template <class T>
T parse_prefix(std::string_view text) {
    bool plus;
    std::string_view s = number_start(text, plus);
    if (s.empty() || (plus && s[0] == '-')) return 0;
    T v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc()) return v;
    if (r.ec == std::errc::result_out_of_range) {
        // strtod gives the infinity or the zero that the C library expects.
        std::string copy(s.substr(0, static_cast<size_t>(r.ptr - s.data())));
        double d = strtod_l(copy.c_str(), nullptr, c_locale());
        if (std::fabs(d) > static_cast<double>(std::numeric_limits<T>::max()))
            return d < 0 ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
        return static_cast<T>(d);
    }
    return 0;
}

}  // namespace

void append_double(std::string& out, double v) { append_real(out, v); }
void append_float(std::string& out, float v) { append_real(out, v); }

double parse_double_prefix(std::string_view text) { return parse_prefix<double>(text); }
float parse_float_prefix(std::string_view text) { return parse_prefix<float>(text); }

}  // namespace plat
