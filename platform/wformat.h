// printf-style formatting with the conventions the system's format strings use:
// in a wide format "%s" / "%c" take wide arguments; "%I64d" / "%I64u" / "%I64x"
// take 64-bit integers. Formats are translated for the C library first.
#pragma once
#include <cstdarg>
#include <string>

namespace plat {

// Narrow format: "%I64d" etc. become the 64-bit conversions; "%s" stays narrow.
std::string translate_format(const char* fmt);
// Wide format: "%s" -> "%ls", "%c" -> "%lc", "%I64d" -> 64-bit.
std::wstring translate_wformat(const wchar_t* fmt);

std::string vformat(const char* fmt, va_list ap);
std::wstring vwformat(const wchar_t* fmt, va_list ap);
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::wstring wformat(const wchar_t* fmt, ...);

}  // namespace plat
