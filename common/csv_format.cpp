#include "csv_format.h"

#include <cstring>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tk_excep.h"
#include "utf8.h"

const wchar_t* const csv_delimiters[csv_delimiter_count] = {L"|+", L";", L","};

bool csv_is_delimiter_index(int64_t index) { return index >= 0 && index < static_cast<int64_t>(csv_delimiter_count); }

const wchar_t* csv_get_delimiter(int64_t index) {
    if (!csv_is_delimiter_index(index)) throw tk_exception(std::string("Invalid CSV delimiter"), 1);
    return csv_delimiters[index];
}

bool csv_plain_text_is_safe(std::string_view delim) {
    if (delim.empty()) return true;
    const char c = delim[0];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return !alnum && c != '+' && c != '-' && c != '.' && c != ':' && c != ' ' && c != '"' && c != '\r' &&
           c != '\n';
}

namespace {

// Quotes the field out[start..]: quotes around it, its quotes (that many) doubled.
void quote_in_place(std::string& out, size_t start, size_t quotes) {
    const size_t end = out.size();
    // Moved right in pieces from the end: each piece between two quotes
    // moves as a block, and each quote becomes two.
    const size_t new_end = end + quotes + 2;
    out.resize(new_end);
    char* q = out.data();
    size_t src = end;          // the text not moved yet is [start, src)
    size_t dst = new_end - 1;  // it goes before dst
    q[dst] = '"';
    for (;;) {
        const void* found = ::memrchr(q + start, '"', src - start);
        const size_t piece = found ? static_cast<size_t>(static_cast<const char*>(found) - q) + 1 : start;
        dst -= src - piece;
        std::memmove(q + dst, q + piece, src - piece);
        if (!found) break;
        q[--dst] = '"';
        q[--dst] = '"';
        src = piece - 1;
    }
    q[start] = '"';
}

}  // namespace

void csv_quote_field(std::string& out, size_t start, std::string_view delim) {
    const size_t end = out.size();
    if (start >= end) return;
    // UTF-8 multi-byte sequences hold no ASCII bytes, so matching bytes
    // matches characters; the delimiter is matched over its whole length.
    // Without a delimiter a double quote stands in for its first byte.
    const char d0 = delim.empty() ? '"' : delim[0];
    const char* const p = out.data();
    size_t quotes = 0;
    bool need = false;
    // A byte that may matter: a double quote, CR, LF or the delimiter's first byte.
    auto visit = [&](size_t i) {
        const char c = p[i];
        if (c == '"') {
            ++quotes;
            need = true;
        } else if (c == '\r' || c == '\n') {
            need = true;
        } else if (!need && end - i >= delim.size() && std::memcmp(p + i, delim.data(), delim.size()) == 0) {
            need = true;
        }
    };
    size_t i = start;
#if defined(__SSE2__)
    // Sixteen bytes at a time; the last block may read past the text into
    // the string's own spare room, and those bytes are masked off.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i dl = _mm_set1_epi8(d0);
    const size_t readable = out.capacity();
    for (; i < end && i + 16 <= readable; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, cr)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, dl)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (end - i < 16) mask &= (1u << (end - i)) - 1;
        for (; mask; mask &= mask - 1) visit(i + static_cast<size_t>(__builtin_ctz(mask)));
    }
#endif
    for (; i < end; ++i) {
        const char c = p[i];
        if (c == '"' || c == '\r' || c == '\n' || c == d0) visit(i);
    }
    if (!need) return;
    quote_in_place(out, start, quotes);
}

bool csv_append_checked_field(std::string& out, std::string_view value, std::string_view delim) {
    const size_t start = out.size();
    const size_t n = value.size();
    if (n == 0) return true;
    out.resize(start + n);
    char* const dst = out.data() + start;
    const auto* const src = reinterpret_cast<const unsigned char*>(value.data());
    const unsigned char d0 = static_cast<unsigned char>(delim.empty() ? '"' : delim[0]);
    size_t quotes = 0;
    bool need = false;
    size_t i = 0;
    // The byte at i is a double quote, CR, LF, the delimiter's first byte
    // or starts a multi-byte character: it is copied and judged; false when
    // it starts no well-formed character.
    auto one = [&]() {
        const unsigned char c = src[i];
        if (c < 0x80) {
            dst[i] = static_cast<char>(c);
            if (c == '"') {
                ++quotes;
                need = true;
            } else if (c == '\r' || c == '\n') {
                need = true;
            } else if (c == d0 && !need && n - i >= delim.size() &&
                       std::memcmp(src + i, delim.data(), delim.size()) == 0) {
                need = true;
            }
            ++i;
            return true;
        }
        const size_t len = plat::utf8_sequence_length(src + i, src + n);
        if (len == 0) return false;
        for (size_t k = 0; k < len; ++k) dst[i + k] = static_cast<char>(src[i + k]);
        i += len;
        return true;
    };
#if defined(__SSE2__)
    // Sixteen bytes at a time, copied whole; the bytes that matter (a mask
    // of them, non-ASCII ones included) are then judged in order. Bytes of
    // a character already taken are passed over.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i dl = _mm_set1_epi8(static_cast<char>(d0));
    auto mask_of = [&](__m128i v) {
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, cr)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, dl)));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(hit, v)));
    };
    auto judge = [&](size_t base, unsigned mask) {
        for (; mask; mask &= mask - 1) {
            const size_t at = base + static_cast<size_t>(__builtin_ctz(mask));
            if (at < i) continue;
            i = at;
            if (!one()) return false;
        }
        return true;
    };
    while (n - i >= 16) {
        const size_t base = i;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + base));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + base), v);
        const unsigned mask = mask_of(v);
        if (mask != 0 && !judge(base, mask)) {
            out.resize(start);
            return false;
        }
        if (i < base + 16) i = base + 16;
    }
    if (i < n) {
        // The last bytes through a zeroed block (a zero byte matters to nothing).
        const size_t base = i;
        const size_t rest = n - base;
        alignas(16) unsigned char tail[16] = {};
        std::memcpy(tail, src + base, rest);
        std::memcpy(dst + base, tail, rest);
        const unsigned mask = mask_of(_mm_load_si128(reinterpret_cast<const __m128i*>(tail))) & ((1u << rest) - 1);
        if (mask != 0 && !judge(base, mask)) {
            out.resize(start);
            return false;
        }
        i = n;
    }
#else
    while (i < n) {
        const unsigned char c = src[i];
        if (c < 0x80 && c != '"' && c != '\r' && c != '\n' && c != d0) {
            dst[i] = static_cast<char>(c);
            ++i;
            continue;
        }
        if (!one()) {
            out.resize(start);
            return false;
        }
    }
#endif
    if (need) quote_in_place(out, start, quotes);
    return true;
}

bool csv_needs_quotes(std::string_view value, std::string_view delim) {
    return value.find('"') != std::string_view::npos || value.find('\r') != std::string_view::npos ||
           value.find('\n') != std::string_view::npos ||
           (!delim.empty() && value.find(delim) != std::string_view::npos);
}

void csv_append_field(std::string& out, std::wstring_view value, std::string_view delim) {
    const size_t start = out.size();
    plat::utf8_encode_append(out, value);
    csv_quote_field(out, start, delim);
}

void csv_append_field_utf8(std::string& out, std::string_view value, std::string_view delim) {
    const size_t start = out.size();
    out.append(value);
    csv_quote_field(out, start, delim);
}
