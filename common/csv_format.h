// The CSV format of the system: byte-order mark, delimiter table, file
// extension and the field rule (quoting) that writer and reader share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr wchar_t csv_extension[] = L".csv";
inline constexpr size_t csv_extension_len = 4;

inline constexpr char csv_bom[] = "\xEF\xBB\xBF";
inline constexpr size_t csv_bom_len = 3;

// Record end written after every line.
inline constexpr char csv_line_end[] = "\r\n";

// The delimiter table: 0 "|+", 1 ";", 2 ",".
inline constexpr uint32_t csv_delimiter_count = 3;
inline constexpr uint32_t csv_default_delimiter = 1;
extern const wchar_t* const csv_delimiters[csv_delimiter_count];

bool csv_is_delimiter_index(int64_t index);
// The table entry at index; throws tk_exception (level 1) "Invalid CSV delimiter"
// for an index outside the table.
const wchar_t* csv_get_delimiter(int64_t index);

// Appends value as one field: quoted when it holds a double quote, CR, LF or
// the whole delimiter, with every double quote doubled; bare otherwise (an
// empty value appends nothing). The value is written exactly as it is, line
// breaks included. Output is UTF-8; `delim` is the delimiter's UTF-8 form.
void csv_append_field(std::string& out, std::wstring_view value, std::string_view delim);
void csv_append_field_utf8(std::string& out, std::string_view value, std::string_view delim);
// True when no text of a number, date, boolean or binary value (digits,
// letters, '+', '-', '.', ':' and blanks) can need quotes with this
// delimiter: its first byte is none of those.
bool csv_plain_text_is_safe(std::string_view delim);
// The field rule applied in place to the UTF-8 text out[start..] that a
// caller has just appended: one scan decides; only a field that needs quotes
// is rewritten (one backward pass doubling its quotes).
void csv_quote_field(std::string& out, size_t start, std::string_view delim);
// Appends value as one field (csv_append_field_utf8) in one pass that also
// checks that it is well-formed UTF-8; false, with out as it was, when it is
// not. The delimiter is ASCII.
bool csv_append_checked_field(std::string& out, std::string_view value, std::string_view delim);
// The field rule's verdict on value: true when it needs quotes.
bool csv_needs_quotes(std::string_view value, std::string_view delim);

// Copies value (not empty) to dst, which has room for its bytes, when it is
// plain: ASCII with no double quote, CR, LF or byte d0 (the delimiter's
// first). False when it is not; dst then holds any bytes. Such a text is
// its own field, as csv_append_checked_field writes it.
inline bool csv_copy_plain(char* dst, std::string_view value, char d0) {
    const char* const src = value.data();
    const size_t n = value.size();
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i dl = _mm_set1_epi8(d0);
    // Any byte that matters, non-ASCII ones included.
    auto matters = [&](__m128i v) {
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, cr)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, dl)));
        return _mm_movemask_epi8(_mm_or_si128(hit, v)) != 0;
    };
    // Loads stay inside the text: a short one is read as two overlapping
    // halves, a long one by blocks and a last block that ends with it.
    if (n >= 16) {
        size_t i = 0;
        for (; i + 16 < n; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            if (matters(v)) return false;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
        }
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16));
        if (matters(v)) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), v);
        return true;
    }
    if (n >= 8) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + n - 8, 8);
        if (matters(_mm_set_epi64x(static_cast<long long>(b), static_cast<long long>(a)))) return false;
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + n - 8, &b, 8);
        return true;
    }
    if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + n - 4, 4);
        if (matters(_mm_set_epi32(0, 0, static_cast<int>(b), static_cast<int>(a)))) return false;
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + n - 4, &b, 4);
        return true;
    }
    // One to three bytes, one by one: below '#' only a double quote, CR and
    // LF matter, besides the delimiter and non-ASCII bytes.
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(src[i]);
        if (c >= 0x80 || c == static_cast<unsigned char>(d0) || (c <= '"' && (c == '"' || c == '\r' || c == '\n')))
            return false;
        dst[i] = static_cast<char>(c);
    }
    return true;
#else
    for (size_t i = 0; i < n; ++i) {
        const char c = src[i];
        if (static_cast<unsigned char>(c) >= 0x80 || c == '"' || c == '\r' || c == '\n' || c == d0) return false;
        dst[i] = c;
    }
    return true;
#endif
}
