// Helpers shared by the source files of ole_variant (not for other users).
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

#include "ole_var.h"

namespace {

constexpr uint32_t binary_text_cap = 120000000;  // bytes of a binary value in text forms
constexpr char hex_upper[] = "0123456789ABCDEF";

inline bool ms_bool_mode() {
    ole_settings* s = ole_settings::peek();
    return s && s->mode == 1;
}

// Binary kinds for type changes (0x2011, 65, 70).
inline bool binary_kind(VARTYPE vt) { return plat::is_binary_type(vt); }

inline bool nocase_equal(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != b[i]) return false;
    }
    return true;
}

// 1 true word, 0 false word, -1 neither.
inline int bool_word(std::string_view t) {
    if (nocase_equal(t, "yes") || nocase_equal(t, "t") || nocase_equal(t, "true")) return 1;
    if (nocase_equal(t, "no") || nocase_equal(t, "f") || nocase_equal(t, "false")) return 0;
    return -1;
}

}  // namespace
