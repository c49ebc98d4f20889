#include "text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace plat {

namespace {
locale_t utf8_locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l) l = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}
}  // namespace

wchar_t fold_case(wchar_t c) {
    if (c < 0x80) return ascii_lower(c);
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), utf8_locale()));
}

wchar_t ascii_lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool is_alnum(wchar_t c) {
    if (c < 0x80) return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    return iswalnum_l(static_cast<wint_t>(c), utf8_locale()) != 0;
}

int compare_nocase(std::wstring_view a, std::wstring_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        wchar_t x = fold_case(a[i]), y = fold_case(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool equal_nocase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && compare_nocase(a, b) == 0;
}

}  // namespace plat
