#include "utf8.h"

namespace plat {

void utf8_append(std::string& out, char32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement_char;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void utf8_encode_append(std::string& out, std::wstring_view text) {
    out.reserve(out.size() + text.size());
    for (wchar_t c : text) {
        auto cp = static_cast<char32_t>(c);
        if (cp < 0x80) out.push_back(static_cast<char>(cp));
        else utf8_append(out, cp);
    }
}

std::string utf8_encode(std::wstring_view text) {
    std::string out;
    utf8_encode_append(out, text);
    return out;
}

namespace {

// Decodes one sequence starting at p (p < end); advances p past it.
// Returns U+FFFD for an ill-formed sequence (consuming its maximal prefix).
char32_t decode_one(const unsigned char*& p, const unsigned char* end) {
    unsigned char b0 = *p++;
    if (b0 < 0x80) return b0;
    int need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2; cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3; cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return replacement_char;
    }
    for (int i = 0; i < need; ++i) {
        if (p == end) return replacement_char;
        unsigned char b = *p;
        if (b < lo || b > hi) return replacement_char;
        lo = 0x80; hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        ++p;
    }
    return cp;
}

}  // namespace

void utf8_decode_append(std::wstring& out, std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    auto end = p + bytes.size();
    out.reserve(out.size() + bytes.size());
    while (p < end) {
        if (*p < 0x80) { out.push_back(static_cast<wchar_t>(*p++)); continue; }
        out.push_back(static_cast<wchar_t>(decode_one(p, end)));
    }
}

std::wstring utf8_decode(std::string_view bytes) {
    std::wstring out;
    utf8_decode_append(out, bytes);
    return out;
}

bool utf8_valid(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    auto end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) { ++p; continue; }
        const unsigned char* start = p;
        char32_t cp = decode_one(p, end);
        if (cp == replacement_char) {
            // A literal U+FFFD (EF BF BD) is valid; anything else decoded to it is not.
            if (!(p - start == 3 && start[0] == 0xEF && start[1] == 0xBF && start[2] == 0xBD))
                return false;
        }
    }
    return true;
}

}  // namespace plat
