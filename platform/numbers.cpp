#include "numbers.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <type_traits>

namespace plat {

namespace {

locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

std::string_view strip_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string double_to_text(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// conversion is 'f' or 'g'; the formats stay literals so that they are checked.
static int print_c(char* buf, size_t size, char conversion, int precision, double v) {
    return conversion == 'f' ? std::snprintf(buf, size, "%.*f", precision, v)
                             : std::snprintf(buf, size, "%.*g", precision, v);
}

static std::string printf_c(char conversion, int precision, double v) {
    locale_t old = uselocale(c_locale());
    char buf[512];
    int n = print_c(buf, sizeof buf, conversion, precision, v);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof buf) {
        out.assign(buf, static_cast<size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<size_t>(n));
        print_c(out.data(), out.size() + 1, conversion, precision, v);
    }
    uselocale(old);
    return out;
}

std::string double_to_fixed(double v, int precision) { return printf_c('f', precision, v); }
std::string double_to_general(double v, int precision) { return printf_c('g', precision, v); }

void append_int64(std::string& out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void append_uint64(std::string& out, uint64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string int64_to_text(int64_t v) { std::string s; append_int64(s, v); return s; }
std::string uint64_to_text(uint64_t v) { std::string s; append_uint64(s, v); return s; }

namespace {

// The whole text (blanks around it and one leading '+' allowed) as a number
// of type T.
template <class T>
std::optional<T> whole_number(std::string_view s) {
    s = strip_blanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    if (std::is_unsigned_v<T> && s.front() == '-') return std::nullopt;
    T v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::optional<double> text_to_double(std::string_view s) { return whole_number<double>(s); }
std::optional<int64_t> text_to_int64(std::string_view s) { return whole_number<int64_t>(s); }
std::optional<uint64_t> text_to_uint64(std::string_view s) { return whole_number<uint64_t>(s); }

// Out of line: the callers' 32-bit cases stay small. The last 8 digits at a time.
char* put_digits_wide(char* out, uint64_t v, unsigned n) {
    char* const end = out + n;
    uint64_t high = v / 100000000;
    put_digits32(end - 8, static_cast<uint32_t>(v - high * 100000000), 8);
    n -= 8;
    if (high > UINT32_MAX || n > 10) {
        const uint64_t top = high / 100000000;
        put_digits32(out + n - 8, static_cast<uint32_t>(high - top * 100000000), 8);
        n -= 8;
        high = top;
    }
    put_digits32(out, static_cast<uint32_t>(high), n);
    return end;
}

}  // namespace plat
