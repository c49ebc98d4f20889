// Names for the cases of parameterised tests: GoogleTest takes only
// [A-Za-z0-9_], and CTest shows the name, so it has to be short and stable.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace test_names {

namespace detail {

inline bool plain(unsigned c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Appends one character: letters and digits as they are, any other ASCII as
// one '_' per run, anything else as its hexadecimal number ("u00E4").
inline void put(std::string& out, unsigned c) {
    if (plain(c)) {
        out.push_back(static_cast<char>(c));
        return;
    }
    if (out.empty() || out.back() != '_') out.push_back('_');
    if (c < 0x80) return;
    char hex[16];
    std::snprintf(hex, sizeof hex, "u%04X_", c);
    out += hex;
}

inline std::string finish(std::string out, std::size_t max_length) {
    if (out.size() > max_length) out.resize(max_length);
    while (!out.empty() && out.back() == '_') out.pop_back();
    std::size_t lead = 0;
    while (lead < out.size() && out[lead] == '_') ++lead;
    out.erase(0, lead);
    return out.empty() ? "empty" : out;
}

}  // namespace detail

constexpr std::size_t default_length = 48;

// A readable identifier for narrow text: UTF-8 sequences are shown by their
// code point ("u00E4"), other bytes outside ASCII by their value ("xFF").
inline std::string ident(std::string_view text, std::size_t max_length = default_length) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80             ? 1
                                   : (c & 0xE0) == 0xC0 ? 2
                                   : (c & 0xF0) == 0xE0 ? 3
                                   : (c & 0xF8) == 0xF0 ? 4
                                                        : 0;
        unsigned code = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
        bool whole = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const unsigned next = static_cast<unsigned char>(text[i + k]);
            whole = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (whole) {
            detail::put(out, code);
            i += length;
            continue;
        }
        if (out.empty() || out.back() != '_') out.push_back('_');
        char hex[8];
        std::snprintf(hex, sizeof hex, "x%02X_", c);
        out += hex;
        ++i;
    }
    return detail::finish(std::move(out), max_length);
}

inline std::string ident(const char* text, std::size_t max_length = default_length) {
    return ident(std::string_view(text ? text : "null"), max_length);
}

inline std::string ident(std::wstring_view text, std::size_t max_length = default_length) {
    std::string out;
    for (wchar_t ch : text) detail::put(out, static_cast<unsigned>(ch));
    return detail::finish(std::move(out), max_length);
}

inline std::string ident(const wchar_t* text, std::size_t max_length = default_length) {
    return text ? ident(std::wstring_view(text), max_length) : std::string("null");
}

// "c<index>_<text>": unique through the index, readable through the text.
template <class Text>
std::string indexed(std::size_t index, const Text& text) {
    return "c" + std::to_string(index) + "_" + ident(text);
}

}  // namespace test_names
