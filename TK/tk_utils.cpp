#include "tk_utils.h"

#include <cstring>
#include <cwchar>

#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

template <class S>
void replace_all_in(S& s, const S& from, const S& to) {
    if (from.empty()) return;
    typename S::size_type pos = 0;
    while ((pos = s.find(from, pos)) != S::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
}

template <class S>
S trim_right_impl(const S& text) {
    S s = text;
    if (s.empty()) return s;
    auto end = s.find_last_not_of(static_cast<typename S::value_type>(' '));
    if (end == S::npos) {
        tk_log(1, "Special processing for all-spaces-string");
        return S();
    }
    s.erase(end + 1);
    return s;
}

template <class S>
S trim_impl(const S& text) {
    S s = trim_right_impl(text);
    auto start = s.find_first_not_of(static_cast<typename S::value_type>(' '));
    if (start == S::npos) return S();
    return s.substr(start);
}

template <class Ch>
void bytes_to_hex(uint32_t count, const unsigned char* bytes, Ch* out) {
    static const char digits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < count; ++i) {
        *out++ = static_cast<Ch>(digits[bytes[i] >> 4]);
        *out++ = static_cast<Ch>(digits[bytes[i] & 0x0F]);
    }
    *out = 0;
}

// Text up to the first zero character, as the system's conversions of a
// NUL-terminated text give it.
std::wstring_view before_nul(const std::wstring& text) {
    auto n = text.find(L'\0');
    return std::wstring_view(text.data(), n == std::wstring::npos ? text.size() : n);
}
std::string_view before_nul(const std::string& text) {
    auto n = text.find('\0');
    return std::string_view(text.data(), n == std::string::npos ? text.size() : n);
}

}  // namespace

std::string tk_string::replace_all(const std::string& from, const std::string& to) {
    tk_log(1, "tk_string::replace_all('%s','%s')", from.c_str(), to.c_str());
    replace_all_in<std::string>(*this, from, to);
    return *this;
}

std::wstring tk_wstring::replace_all(const std::wstring& from, const std::wstring& to) {
    if (tk_log_wants(1)) tk_wlog(1, L"tk_wstring::replace_all(%s,%s)", from.c_str(), to.c_str());
    replace_all_in<std::wstring>(*this, from, to);
    return *this;
}

std::wstring tk_wstring::to_lower() {
    if (tk_log_wants(1)) tk_wlog(1, L"tk_wstring::to_lower(%s)", c_str());
    for (auto& c : *this) c = plat::ascii_lower(c);
    return *this;
}

std::string tk_trim(const std::string& text) { return trim_impl(text); }
std::wstring tk_trim(const std::wstring& text) { return trim_impl(text); }
std::string tk_trim_right(const std::string& text) { return trim_right_impl(text); }
std::wstring tk_trim_right(const std::wstring& text) { return trim_right_impl(text); }

std::vector<std::string> tk_split(const std::string& text, char delimiter) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    std::string::size_type start = 0;
    for (;;) {
        auto pos = text.find(delimiter, start);
        if (pos == std::string::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

int tk_ends_with(const std::wstring& text, const std::wstring& suffix, bool exact) {
    if (suffix.empty()) return 1;
    if (suffix.size() > text.size()) return 0;
    std::wstring_view tail(text.data() + text.size() - suffix.size(), suffix.size());
    if (exact) return tail == suffix ? 1 : 0;
    return plat::equal_nocase(tail, suffix) ? 1 : 0;
}

void tk_bytes_to_hex(uint32_t count, const unsigned char* bytes, char* out) {
    if (!out) throw tk_mail_assertion(tk_utils_source, 903);
    bytes_to_hex(count, bytes, out);
}

void tk_bytes_to_hex(uint32_t count, const unsigned char* bytes, wchar_t* out) {
    if (!out) throw tk_mail_assertion(tk_utils_source, 917);
    bytes_to_hex(count, bytes, out);
}

// Our codec cannot fail: bad input becomes U+FFFD. The failure texts of the
// system conversions therefore never arise here.
std::string tk_to_utf8(const std::wstring& text) { return plat::utf8_encode(before_nul(text)); }
std::wstring tk_from_utf8(const std::string& text) { return plat::utf8_decode(before_nul(text)); }
std::string tk_to_ansi(const std::wstring& text, uint32_t) { return plat::utf8_encode(before_nul(text)); }

bool tk_ansi_to_unicode(const char* text, wchar_t** out) {
    if (!text || !out) return false;
    std::wstring w = plat::utf8_decode(text);
    delete[] *out;
    *out = new wchar_t[w.size() + 1];
    std::wmemcpy(*out, w.c_str(), w.size() + 1);
    return true;
}

bool tk_unicode_to_ansi1(const wchar_t* text, char* out, size_t out_size) {
    if (!text || !out) return false;
    tk_log(1, "tk_unicode_to_ansi1");
    std::string s = plat::utf8_encode(text);
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(out_size), static_cast<int>(std::wcslen(text) + 1));
    if (s.size() + 1 > out_size) return false;
    std::memcpy(out, s.c_str(), s.size() + 1);
    return true;
}

bool tk_unicode_to_ansi2(const wchar_t* text, char** out) {
    if (!text || !out) return false;
    tk_log(1, "tk_unicode_to_ansi2");
    std::string s = plat::utf8_encode(text);
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(s.size() + 1), static_cast<int>(std::wcslen(text) + 1));
    delete[] *out;
    *out = new char[s.size() + 1];
    std::memcpy(*out, s.c_str(), s.size() + 1);
    return true;
}

bool tk_unicode_to_ansi3(const wchar_t* text, std::string& out) {
    if (!text) {
        tk_log(1, "tk_unicode_to_ansi3 - return false");
        return false;
    }
    out = plat::utf8_encode(text);
    tk_log(1, "tk_unicode_to_ansi3 - return true");
    return true;
}
