// Strings with helpers, and conversions between wide text, the ANSI code page
// and UTF-8 (the ANSI code page is UTF-8 on this platform).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* tk_utils_source = "tk_utils";

class tk_string : public std::string {
public:
    tk_string() = default;
    tk_string(const std::string& s) : std::string(s) {}
    std::string replace_all(const std::string& from, const std::string& to);
};

class tk_wstring : public std::wstring {
public:
    tk_wstring() = default;
    tk_wstring(const std::wstring& s) : std::wstring(s) {}
    std::wstring replace_all(const std::wstring& from, const std::wstring& to);
    // A to Z only.
    std::wstring to_lower();
};

std::string tk_trim(const std::string& text);
std::wstring tk_trim(const std::wstring& text);
std::string tk_trim_right(const std::string& text);
std::wstring tk_trim_right(const std::wstring& text);
std::vector<std::string> tk_split(const std::string& text, char delimiter);
int tk_ends_with(const std::wstring& text, const std::wstring& suffix, bool exact);

// Two upper-case hex digits per byte and a terminating zero; out holds 2*count+1.
void tk_bytes_to_hex(uint32_t count, const unsigned char* bytes, char* out);
void tk_bytes_to_hex(uint32_t count, const unsigned char* bytes, wchar_t* out);

inline constexpr uint32_t tk_cp_ansi = 0xFFFFFFFF;

std::string tk_to_utf8(const std::wstring& text);
std::wstring tk_from_utf8(const std::string& text);
std::string tk_to_ansi(const std::wstring& text, uint32_t code_page);

// Raw-buffer forms; *out is freed (delete[]) and replaced; the caller owns it.
bool tk_ansi_to_unicode(const char* text, wchar_t** out);
// Writes into the caller's buffer of out_size bytes; false when it does not fit.
bool tk_unicode_to_ansi1(const wchar_t* text, char* out, size_t out_size);
bool tk_unicode_to_ansi2(const wchar_t* text, char** out);
bool tk_unicode_to_ansi3(const wchar_t* text, std::string& out);
