#include "udb_vali.h"

#include <algorithm>

#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "wformat.h"

udb_validator::udb_validator(uint32_t max_length) : max_length_(max_length) {
    tk_log(2, "udb_validator::ctor");
}

udb_validator::~udb_validator() = default;

std::wstring udb_validator::fold_name(std::wstring_view name) {
    std::wstring key(name);
    for (auto& c : key) c = plat::fold_case(c);
    return key;
}

bool udb_validator::is_acceptable(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_validator::is_acceptable(%s)", name.c_str());
    if (max_length_ != 0 && name.size() > max_length_) {
        tk_log(1, "The name is too long");
        return false;
    }
    if (!restricted_keys_.empty() && restricted_keys_.count(fold_name(name))) {
        tk_log(2, "The name is restricted");
        return false;
    }
    for (wchar_t c : illegal_chars_) {
        if (name.find(c) != std::wstring::npos) {
            if (tk_log_wants(2)) tk_wlog(2, L"The name contains illegal: %c", c);
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_validator::is_duplicated(%s)", name.c_str());
    if (!in_use_keys_.empty() && in_use_keys_.count(fold_name(name))) {
        tk_log(2, "Name is duplicated");
        return true;
    }
    return false;
}

std::wstring udb_validator::get_safe_name(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_validator::get_safe_name(%s)", name.c_str());
    const size_t m = max_length_;
    std::wstring s = tk_wstring(name).to_lower();
    if (m != 0 && s.size() > m) s.resize(m - 1);
    for (wchar_t c : illegal_chars_) std::replace(s.begin(), s.end(), c, L'_');
    if (is_acceptable(s) && !is_duplicated(s)) return s;

    if (m != 0 && s.size() + 5 > m) s.resize(m > 6 ? m - 6 : 0);
    std::wstring candidate;
    for (int n = 0; n <= 99999; ++n) {
        candidate = plat::wformat(L"%s%05d", s.c_str(), n);
        if (is_acceptable(candidate) && !is_duplicated(candidate)) return candidate;
    }
    throw tk_mail_assertion("udb_vali", 55);
}

void udb_validator::add_existing_name(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_validator::add_existing_name(%s)", name.c_str());
    names_in_use_.push_back(name);
    in_use_keys_.insert(fold_name(name));
}

void udb_validator::add_restricted_name(const std::wstring& name) {
    restricted_names_.push_back(name);
    restricted_keys_.insert(fold_name(name));
}

void udb_validator::add_illegal_char(wchar_t c) { illegal_chars_.push_back(c); }
