// The CSV format of the system: byte-order mark, delimiter table, file
// extension and the field rule (quoting) that writer and reader share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
