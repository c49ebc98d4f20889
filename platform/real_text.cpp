#include "real_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

namespace plat {

namespace {

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
    // The shortest digits that read back the same, as "[-]d[.ddd]e(+|-)xx".
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<size_t>(r.ptr - buf)));
    int exp10 = 0;  // buf is not terminated: read the exponent within [e, r.ptr) only
    if (e) std::from_chars(e + 1 + (e[1] == '+'), r.ptr, exp10);
    if (!e || exp10 < -7 || exp10 >= 21) {
        out.append(buf, r.ptr);
        return;
    }
    // Plain notation from the same digits. The value is no whole number, so
    // its digits reach beyond the point: at most 7 leading zeros or 21
    // integer digits plus 17 significant digits.
    const char* p = buf;
    char plain[64];
    char* o = plain;
    if (*p == '-') *o++ = *p++;
    char digits[32];
    int n = 0;
    for (; p < e; ++p)
        if (*p != '.') digits[n++] = *p;
    if (exp10 >= 0 && exp10 + 1 >= n) {
        // Not reached for a value that is no whole number; kept for safety.
        auto f = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        out.append(buf, f.ptr);
        return;
    }
    if (exp10 >= 0) {
        const int whole = exp10 + 1;  // < n: there are fraction digits
        std::memcpy(o, digits, static_cast<size_t>(whole));
        o += whole;
        *o++ = '.';
        std::memcpy(o, digits + whole, static_cast<size_t>(n - whole));
        o += n - whole;
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > exp10; --i) *o++ = '0';
        std::memcpy(o, digits, static_cast<size_t>(n));
        o += n;
    }
    out.append(plain, o);
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
