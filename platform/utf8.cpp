#include "utf8.h"

#include <cstdint>
#include <cstring>

namespace plat {

void utf8_encode_append(std::string& out, std::wstring_view text) {
    // Room for the longest form (4 bytes a character), cut back at the end.
    const size_t at = out.size();
    out.resize(at + 4 * text.size());
    char* o = out.data() + at;
    for (wchar_t c : text) {
        auto cp = static_cast<char32_t>(c);
        if (cp < 0x80) {
            *o++ = static_cast<char>(cp);
            continue;
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement_char;
        if (cp < 0x800) {
            *o++ = static_cast<char>(0xC0 | (cp >> 6));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (cp >> 12));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (cp >> 18));
            *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

std::string utf8_encode(std::wstring_view text) {
    std::string out;
    utf8_encode_append(out, text);
    return out;
}

namespace {

// Bytes from p on that are ASCII, eight at a time, up to end.
const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (w & 0x8080808080808080ull) break;
        p += 8;
    }
    while (p < end && *p < 0x80) ++p;
    return p;
}

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
    // At most one character a byte, cut back at the end.
    const size_t at = out.size();
    out.resize(at + bytes.size());
    wchar_t* o = out.data() + at;
    while (p < end) {
        if (*p < 0x80) { *o++ = static_cast<wchar_t>(*p++); continue; }
        *o++ = static_cast<wchar_t>(decode_one(p, end));
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

std::wstring utf8_decode(std::string_view bytes) {
    std::wstring out;
    utf8_decode_append(out, bytes);
    return out;
}

namespace {

// Bytes from p on that are ASCII and not zero, eight at a time, up to end.
const unsigned char* skip_ascii_nonzero(const unsigned char* p, const unsigned char* end) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        // A high bit, or a zero byte (its borrow sets a high bit).
        if ((w | ((w - ones) & ~w)) & highs) break;
        p += 8;
    }
    while (p < end && *p < 0x80 && *p != 0) ++p;
    return p;
}

// Well-formed UTF-8; with zero set, also where its first zero byte is.
template <bool find_zero>
bool utf8_check(std::string_view bytes, size_t* zero) {
    auto const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    auto p = begin;
    auto end = p + bytes.size();
    bool zero_seen = !find_zero;
    while (p < end) {
        const unsigned b0 = *p;
        if (b0 < 0x80) {
            if (zero_seen) {
                p = skip_ascii(p, end);
                continue;
            }
            p = skip_ascii_nonzero(p, end);
            if (p < end && *p == 0) {
                *zero = static_cast<size_t>(p - begin);
                zero_seen = true;
                ++p;
            }
            continue;
        }
        // The well-formed sequences: no overlongs, no surrogates, nothing
        // above U+10FFFF.
        const size_t length = utf8_sequence_length(p, end);
        if (length == 0) return false;
        p += length;
    }
    return true;
}

}  // namespace

bool utf8_valid(std::string_view bytes) { return utf8_check<false>(bytes, nullptr); }

bool utf8_valid_find_zero(std::string_view bytes, size_t& first_zero) {
    first_zero = std::string_view::npos;
    return utf8_check<true>(bytes, &first_zero);
}

}  // namespace plat
