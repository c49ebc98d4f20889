#include "csv_vali.h"

#include "csv_format.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "wformat.h"

namespace {

bool is_name_char(wchar_t c) { return c == L'_' || c == L'-' || plat::is_alnum(c); }

// UTF-8 length of one code point as our codec writes it (U+FFFD for invalid ones).
size_t utf8_size(wchar_t c) {
    auto cp = static_cast<uint32_t>(c);
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000 || cp > 0x10FFFF) return 3;
    return 4;
}

size_t utf8_size(const std::wstring& s) {
    size_t n = 0;
    for (wchar_t c : s) n += utf8_size(c);
    return n;
}

// Longest name whose file name (with `reserve` more bytes and the extension) fits.
void cut_to_fit(std::wstring& s, size_t reserve) {
    const size_t limit = csv_validator::max_file_name_bytes - csv_extension_len - reserve;
    size_t n = 0, i = 0;
    for (; i < s.size(); ++i) {
        n += utf8_size(s[i]);
        if (n > limit) break;
    }
    s.resize(i);
}

}  // namespace

csv_validator::csv_validator(const std::wstring& folder) : udb_validator(0), folder_(folder) {
    if (tk_log_wants(2)) tk_wlog(2, L"csv_validator::ctor(%s)", folder_.c_str());
}

bool csv_validator::is_acceptable(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_validator::is_acceptable(%s)", name.c_str());
    if (!udb_validator::is_acceptable(name)) return false;
    if (name.empty()) return false;
    for (wchar_t c : name)
        if (!is_name_char(c)) return false;
    return utf8_size(name) + csv_extension_len <= max_file_name_bytes;
}

std::wstring csv_validator::get_safe_name(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"csv_validator::get_safe_name(%s)", name.c_str());
    std::wstring s = name;
    for (auto& c : s)
        if (!is_name_char(c)) c = L'_';
    cut_to_fit(s, 0);
    if (is_acceptable(s) && !is_duplicated(s)) return s;

    cut_to_fit(s, 3);
    std::wstring candidate;
    for (int n = 0; n <= 999; ++n) {
        candidate = plat::wformat(L"%s%03d", s.c_str(), n);
        if (is_acceptable(candidate) && !is_duplicated(candidate)) return candidate;
    }
    // Every numbered name is taken: this entry gets no file, the run goes on.
    throw tk_exception(L"No file name is left for this entry: the names " + s + L" and " + s + L"000 to " + s +
                           L"999 are all taken",
                       0);
}
