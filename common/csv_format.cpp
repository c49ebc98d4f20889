#include "csv_format.h"

#include <cstring>

#include "tk_excep.h"
#include "utf8.h"

const wchar_t* const csv_delimiters[csv_delimiter_count] = {L"|+", L";", L","};

bool csv_is_delimiter_index(int64_t index) { return index >= 0 && index < static_cast<int64_t>(csv_delimiter_count); }

const wchar_t* csv_get_delimiter(int64_t index) {
    if (!csv_is_delimiter_index(index)) throw tk_exception(std::string("Invalid CSV delimiter"), 1);
    return csv_delimiters[index];
}

namespace {

// Bytes that can make a field quoted: the quote, CR, LF and the first
// characters of the table's delimiters.
struct byte_table {
    bool t[256] = {};
    constexpr byte_table() {
        for (unsigned char c : {'"', '\r', '\n', '|', ';', ','}) t[c] = true;
    }
    constexpr bool operator[](unsigned char c) const { return t[c]; }
};
constexpr byte_table may_matter;

}  // namespace

void csv_quote_field(std::string& out, size_t start, std::string_view delim) {
    const size_t end = out.size();
    if (start >= end) return;
    // UTF-8 multi-byte sequences hold no ASCII bytes, so matching bytes
    // matches characters; the delimiter is matched over its whole length.
    const char d0 = delim.empty() ? '\0' : delim[0];
    const bool has_d0 = !delim.empty();
    size_t quotes = 0;
    bool need = false;
    const char* p = out.data();
    for (size_t i = start; i < end; ++i) {
        const char c = p[i];
        if (!may_matter[static_cast<unsigned char>(c)] && c != d0) continue;
        if (c == '"') {
            ++quotes;
            need = true;
        } else if (c == '\r' || c == '\n') {
            need = true;
        } else if (has_d0 && end - i >= delim.size() && std::memcmp(p + i, delim.data(), delim.size()) == 0) {
            need = true;
        }
    }
    if (!need) return;
    const size_t new_end = end + quotes + 2;
    out.resize(new_end);
    char* q = out.data();
    size_t j = new_end - 1;
    q[j] = '"';
    for (size_t i = end; i-- > start;) {
        const char c = q[i];
        q[--j] = c;
        if (c == '"') q[--j] = '"';
    }
    q[start] = '"';
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
