// UTF-8 <-> wide text (one code point per wchar_t). Decoding never fails:
// every ill-formed sequence becomes U+FFFD; so does encoding a lone
// surrogate or a value above U+10FFFF.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

constexpr wchar_t replacement_char = 0xFFFD;

// Appends the UTF-8 form of one code point to out.
void utf8_append(std::string& out, char32_t cp);

// Appends the UTF-8 form of text to out (out is not cleared).
void utf8_encode_append(std::string& out, std::wstring_view text);
std::string utf8_encode(std::wstring_view text);

// Appends the decoded form of bytes to out (out is not cleared).
void utf8_decode_append(std::wstring& out, std::string_view bytes);
std::wstring utf8_decode(std::string_view bytes);

// True when bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool utf8_valid(std::string_view bytes);
// The same in the same pass, and where the first zero byte is (npos: none).
bool utf8_valid_find_zero(std::string_view bytes, size_t& first_zero);

}  // namespace plat
