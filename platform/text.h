// Locale-independent character tests and case folding (a private C.UTF-8
// locale, so the locale a GUI toolkit sets at start-up changes nothing).
#pragma once
#include <string_view>

namespace plat {

wchar_t fold_case(wchar_t c);          // simple lower-case folding, all scripts
wchar_t ascii_lower(wchar_t c);        // A to Z only
bool is_alnum(wchar_t c);              // letters and digits of any script
// -1, 0, 1 comparing code point by code point after simple case folding.
int compare_nocase(std::wstring_view a, std::wstring_view b);
bool equal_nocase(std::wstring_view a, std::wstring_view b);

}  // namespace plat
