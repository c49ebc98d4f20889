// UTF-8 <-> wide text (one code point per wchar_t). Decoding never fails:
// every ill-formed sequence becomes U+FFFD; so does encoding a lone
// surrogate or a value above U+10FFFF.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

constexpr wchar_t replacement_char = 0xFFFD;

// Appends the UTF-8 form of text to out (out is not cleared).
void utf8_encode_append(std::string& out, std::wstring_view text);
std::string utf8_encode(std::wstring_view text);

// Appends the decoded form of bytes to out (out is not cleared).
void utf8_decode_append(std::wstring& out, std::string_view bytes);
std::wstring utf8_decode(std::string_view bytes);

// True when bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool utf8_valid(std::string_view bytes);
// The length of the well-formed sequence of two to four bytes at p (whose
// first byte is not ASCII), within end; 0 when ill-formed.
inline size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
    const unsigned b0 = *p;
    size_t need;
    unsigned lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) <= need) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i <= need; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return need + 1;
}
// The same in the same pass, and where the first zero byte is (npos: none).
bool utf8_valid_find_zero(std::string_view bytes, size_t& first_zero);

}  // namespace plat
