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

// The shortest digits of a finite, non-zero T, as shortest_digits gives
// them.
template <class T>
void digits_of(T v, uint64_t& digits, int& point) {
    uint64_t m = 0;
    int k = 0;
    if (few_digit_text(std::fabs(v), m, k)) {
        digits = m;
        point = static_cast<int>(decimal_digit_count(m)) - 1 - k;
        return;
    }
    // "[-]d[.ddd]e(+|-)xx": the exponent has two or three digits.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const char* p = buf + (v < 0);
    const char* e = r.ptr - 4;
    if (*e != 'e') --e;
    m = static_cast<uint64_t>(*p - '0');
    for (p += 2; p < e; ++p) m = m * 10 + static_cast<uint64_t>(*p - '0');
    int exp10 = 0;
    for (p = e + 2; p < r.ptr; ++p) exp10 = exp10 * 10 + (*p - '0');
    digits = m;
    point = e[1] == '-' ? -exp10 : exp10;
}

// Whole numbers below 1e21 print their exact digits; NaN, infinities and
// zero their words.
template <class T>
bool prints_by_digits(T v) {
    return std::isfinite(v) && v != 0 && !(std::fabs(v) < static_cast<T>(1e21) && std::trunc(v) == v);
}

// The text of a value that prints by its digits.
char* put_digits_text(char* o, bool negative, uint64_t digits, int point) {
    if (negative) *o++ = '-';
    const unsigned n = decimal_digit_count(digits);
    if (point >= -7 && point < 21) {
        // Plain: the value is no whole number, so there are digits after
        // the point (at most 7 leading zeros, or 21 whole digits).
        const auto places = static_cast<unsigned>(static_cast<int>(n) - 1 - point);
        if (point >= 0) {
            const uint64_t whole = digits / powers_of_ten[places];
            o = put_digits(o, whole, static_cast<unsigned>(point) + 1);
            *o++ = '.';
            return put_digits(o, digits - whole * powers_of_ten[places], places);
        }
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > point; --i) *o++ = '0';
        return put_digits(o, digits, n);
    }
    // Scientific, as to_chars writes it: "d[.ddd]e(+|-)xx".
    const uint64_t first = digits / powers_of_ten[n - 1];
    *o++ = static_cast<char>('0' + first);
    if (n > 1) {
        *o++ = '.';
        o = put_digits(o, digits - first * powers_of_ten[n - 1], n - 1);
    }
    *o++ = 'e';
    *o++ = point < 0 ? '-' : '+';
    const unsigned e = static_cast<unsigned>(point < 0 ? -point : point);
    return put_digits(o, e, e >= 100 ? 3 : 2);
}

char* put_word(char* o, const char* word) {
    const size_t n = std::strlen(word);
    std::memcpy(o, word, n);
    return o + n;
}

template <class T>
char* put_real(char* o, T v) {
    if (std::isnan(v)) return put_word(o, "nan");
    if (std::isinf(v)) return put_word(o, v < 0 ? "-inf" : "inf");
    if (v == 0) {
        *o = '0';
        return o + 1;
    }
    T mag = std::fabs(v);
    if (mag < static_cast<T>(1e21) && std::trunc(v) == v) {
        // A whole number: its exact digits.
        if (mag < static_cast<T>(9.2e18)) return std::to_chars(o, o + real_text_room, static_cast<int64_t>(v)).ptr;
        return std::to_chars(o, o + real_text_room, v, std::chars_format::fixed).ptr;
    }
    uint64_t digits = 0;
    int point = 0;
    digits_of(v, digits, point);
    return put_digits_text(o, v < 0, digits, point);
}

template <class T>
void append_real(std::string& out, T v) {
    char buf[real_text_room];
    out.append(buf, put_real(buf, v));
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
char* put_double(char* out, double v) { return put_real(out, v); }
char* put_float(char* out, float v) { return put_real(out, v); }

bool shortest_digits(double v, uint64_t& digits, int& point) {
    if (!prints_by_digits(v)) return false;
    digits_of(v, digits, point);
    return true;
}

char* put_double_digits(char* out, double v, uint64_t digits, int point) {
    return put_digits_text(out, v < 0, digits, point);
}

double parse_double_prefix(std::string_view text) { return parse_prefix<double>(text); }
float parse_float_prefix(std::string_view text) { return parse_prefix<float>(text); }

}  // namespace plat
