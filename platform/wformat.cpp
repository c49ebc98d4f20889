#include "wformat.h"

#include <cinttypes>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace plat {

namespace {

template <class Ch>
std::basic_string<Ch> translate(const Ch* fmt, bool wide) {
    std::basic_string<Ch> out;
    if (!fmt) return out;
    for (const Ch* p = fmt; *p; ++p) {
        out.push_back(*p);
        if (*p != '%') continue;
        ++p;
        if (*p == '%') { out.push_back(*p); continue; }
        // flags, width, precision
        while (*p && (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0' ||
                      *p == '*' || *p == '.' || (*p >= '1' && *p <= '9'))) {
            out.push_back(*p++);
        }
        if (!*p) break;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            // 64-bit integer: int64_t is long here
            out.push_back('l');
            p += 3;
            if (!*p) break;
            out.push_back(*p);
            continue;
        }
        if (wide && (*p == 's' || *p == 'c')) {
            out.push_back('l');
            out.push_back(*p);
            continue;
        }
        if (wide && (*p == 'S' || *p == 'C')) {
            // narrow argument in a wide format
            out.push_back(*p == 'S' ? 's' : 'c');
            continue;
        }
        out.push_back(*p);
    }
    return out;
}

}  // namespace

std::string translate_format(const char* fmt) { return translate<char>(fmt, false); }
std::wstring translate_wformat(const wchar_t* fmt) { return translate<wchar_t>(fmt, true); }

std::string vformat(const char* fmt, va_list ap) {
    std::string f = translate_format(fmt);
    char small[512];
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(small, sizeof small, f.c_str(), ap2);
    va_end(ap2);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n), '\0');
    va_copy(ap2, ap);
    std::vsnprintf(out.data(), out.size() + 1, f.c_str(), ap2);
    va_end(ap2);
    return out;
}

std::wstring vwformat(const wchar_t* fmt, va_list ap) {
    std::wstring f = translate_wformat(fmt);
    // vswprintf reports only failure when the buffer is small: grow until it fits.
    size_t cap = 256;
    std::vector<wchar_t> buf;
    for (;;) {
        buf.resize(cap);
        va_list ap2;
        va_copy(ap2, ap);
        int n = std::vswprintf(buf.data(), cap, f.c_str(), ap2);
        va_end(ap2);
        if (n >= 0 && static_cast<size_t>(n) < cap) return std::wstring(buf.data(), static_cast<size_t>(n));
        if (cap > (size_t(1) << 28)) return {};
        cap *= 4;
    }
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    return s;
}

std::wstring wformat(const wchar_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::wstring s = vwformat(fmt, ap);
    va_end(ap);
    return s;
}

}  // namespace plat
