#include "ole_guid.h"

#include "tk_log.h"
#include "utf8.h"

namespace {

bool is_hex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

std::wstring trim_blanks(std::wstring_view s) {
    while (!s.empty() && s.front() == L' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == L' ') s.remove_suffix(1);
    return std::wstring(s);
}

// Position of "guid" in any letter case, or npos.
size_t find_guid_word(const std::wstring& s) {
    for (size_t i = 0; i + 4 <= s.size(); ++i) {
        bool match = true;
        for (size_t k = 0; k < 4 && match; ++k) {
            wchar_t c = s[i + k];
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
            match = c == L"guid"[k];
        }
        if (match) return i;
    }
    return std::wstring::npos;
}

}  // namespace

bool ole_guid_extractor::is_guid_pattern(std::wstring_view t) {
    if (t.size() != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? t[i] != L'-' : !is_hex(t[i])) return false;
    }
    return true;
}

ole_guid_extractor::ole_guid_extractor(std::wstring_view text) {
    text_ = std::wstring(text);
    recognise();
}

ole_guid_extractor::ole_guid_extractor(std::string_view text) {
    plat::utf8_decode_append(text_, text);
    recognise();
}

void ole_guid_extractor::recognise() {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_wlog(1, L"ole_guid_extractor::ctor(%s)", text_.c_str());
    if (text_.size() >= 91) {
        if (log1) tk_log(1, "Text is too long for GUID(1)");
        text_.clear();
        return;
    }
    text_ = trim_blanks(text_);
    const size_t n = text_.size();
    if (n < 36) {
        if (log1) tk_log(1, "Text is too short for GUID");
        return;
    }
    if (n >= 46) {
        if (log1) tk_log(1, "Text is too long for GUID(2)");
        return;
    }
    if (n == 36) {
        if (log1) tk_log(1, "Checking simple form (1)");
        valid_ = is_guid_pattern(text_);
        if (!valid_ && log1) tk_log(1, "Simple form (1) of GUID is NOT valid");
        return;
    }
    if (n == 38 && text_.front() == L'{' && text_.back() == L'}') {
        if (log1) tk_log(1, "Checking simple form (2)");
        valid_ = is_guid_pattern(std::wstring_view(text_).substr(1, 36));
        if (!valid_ && log1) tk_log(1, "Simple form (2) of GUID is NOT valid");
        position_ = 1;
        return;
    }
    size_t g = find_guid_word(text_);
    if (log1) tk_log(1, "Locating 'guid' (%d : %d)", g == std::wstring::npos ? -1 : static_cast<int>(g), -1);
    if (g == std::wstring::npos || g + 40 > n) return;
    size_t p = text_.find(L'{', g + 4);
    // A whole GUID and its closing brace must follow the opening one.
    if (p == std::wstring::npos || p + 38 > n) return;
    if (text_[p + 37] != L'}' || !is_guid_pattern(std::wstring_view(text_).substr(p + 1, 36))) return;
    if (log1) tk_log(1, "GUID is valid");
    valid_ = true;
    position_ = static_cast<int>(p + 1);
}

std::wstring ole_guid_extractor::to_wstring() const {
    if (!valid_) return std::wstring();
    if (text_.size() == 36) return text_;
    return text_.substr(static_cast<size_t>(position_), 36);
}

std::string ole_guid_extractor::to_string() const { return plat::utf8_encode(to_wstring()); }
