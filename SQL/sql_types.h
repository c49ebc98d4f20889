// How each MySQL column becomes field values: one rule per column, decided
// once from the column's description, then applied to every cell.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <mysql.h>

#include "ole_var.h"

// The character set number of binary strings and BLOBs.
inline constexpr unsigned int sql_binary_charset = 63;
// The decimals of a floating-point column without fixed decimals (31 and up).
inline constexpr unsigned int sql_no_fixed_decimals = 31;

// How the bytes of a cell are read.
enum class sql_cell_kind : uint8_t {
    text,            // UTF-8 text, whole length (zero characters kept)
    bytes,           // every byte, as a byte array
    bytes_or_text,   // text when valid UTF-8 without zero bytes, else a byte array
    boolean,         // BIT(1): the first byte is not zero
    bits,            // BIT(n>1): big-endian unsigned integer of all bytes
    int_signed,      // decimal text of a signed integer, stored as the rule's type
    int_unsigned,    // decimal text of an unsigned integer
    real4,
    real8,
    decimal,         // exact; text when the value does not fit the decimal type
    date,            // YYYY-MM-DD
    time,            // [-]H...H:MM:SS[.f]
    datetime,        // YYYY-MM-DD HH:MM:SS[.f]
};

// What a binary protocol cell of the column's usual kind becomes, without
// going through the general rules: an integer of the rule's type (range
// checked), a double, a decimal text, a text, bytes, or a date or time that
// has a date number. Any other cell (a null, another kind, a value out of
// range or not read at once) takes the general rules. A FLOAT cell comes as
// the real8 cell of its float.
enum class sql_cell_plan : uint8_t {
    general,
    i1, i2, i4, i8,      // int64 cell
    ui1, ui2, ui4, ui8,  // uint64 cell
    real4,               // real8 cell of a float's value
    real8,               // real8 cell
    decimal,             // bytes cell of a decimal's digits
    bits,                // bytes cell of a BIT(2) or wider value
    text,                // bytes cell, copied
    bytes,               // bytes cell, copied
    temporal,            // temporal cell
};

struct sql_column_rule {
    VARTYPE vartype = VT_BSTR;  // the column's value type (schema descriptor)
    sql_cell_kind kind = sql_cell_kind::text;
    // Decided with the rule (sql_column_rule_for); general: every cell by the
    // general rules.
    sql_cell_plan plan = sql_cell_plan::general;
    // How the cells are written to files: the server's text form of the
    // column's type (dates, times, decimals with the column's digits).
    ole_text_form form;
};

// The integer column types: the buffer the binary protocol fills in the
// column's own width (YEAR comes as 16 bits), and the value type of a signed
// and of an unsigned column (24 bits fit a signed 32-bit value either way;
// YEAR is read unsigned).
struct sql_integer_type {
    enum_field_types type;
    enum_field_types buffer_type;
    VARTYPE signed_vartype;
    VARTYPE unsigned_vartype;
};
// The entry of an integer column type; null for every other type.
const sql_integer_type* sql_integer_type_of(enum_field_types type);

// True for the types that carry strings or BLOBs (VAR_STRING, STRING, VARCHAR,
// the BLOB types, JSON, ENUM, SET, GEOMETRY).
bool sql_is_string_type(enum_field_types type);
// A binary string or BLOB column: known by its binary character set, not by the
// binary flag (a _bin collation is text).
bool sql_is_binary_column(const MYSQL_FIELD& field);

// The number of digits of a DECIMAL column (its length less sign and point).
uint32_t sql_decimal_precision(const MYSQL_FIELD& field);

// The rule for a column. blob_to_text: binary cells that are valid UTF-8
// without zero bytes become text, unless the text itself reads as the hex
// form of bytes ("0x" and hex digits only); the others stay bytes (their text
// form is "0x" and hexadecimal digits).
sql_column_rule sql_column_rule_for(const MYSQL_FIELD& field, bool blob_to_text);
// The plan that gives the same values as the general rules of vartype and kind.
sql_cell_plan sql_cell_plan_of(VARTYPE vartype, sql_cell_kind kind);

// The value of one cell (null cell: VT_EMPTY). The value object is reused:
// its buffers keep their capacity.
void sql_cell_to_value(const sql_column_rule& rule, const char* cell, unsigned long length,
                       ole_variant& out);

// One cell as the binary protocol delivers it: the bytes the text protocol
// sends for it, or a number whose decimal text (shortest round-trip text
// for a double) is what the text protocol sends.
struct sql_cell {
    // temporal: a date or time whose text is sql_temporal_text of it.
    enum kind_t : uint8_t { null, bytes, int64, uint64, real8, temporal };
    kind_t kind = null;
    const char* data = nullptr;  // bytes
    unsigned long length = 0;
    int64_t i = 0;               // int64
    uint64_t u = 0;              // uint64
    double d = 0;                // real8
    // real8: the shortest digits of d (plat::shortest_digits) when the
    // receiving thread worked them out; point is no_point when not.
    static constexpr int64_t no_point = INT64_MIN;
    uint64_t digits = 0;
    int64_t point = no_point;
    const MYSQL_TIME* time = nullptr;  // temporal, with its column's type and fraction digits
    enum_field_types time_type = MYSQL_TYPE_NULL;
    unsigned int decimals = 0;
    // bytes: a buffer that holds the whole value (data points into it) and
    // that a text or binary value takes instead of copying; null: copied.
    // For a column whose binary cells may be text, the owner's kind is what
    // the cell reads as.
    std::string* text_owner = nullptr;
    std::vector<uint8_t>* bytes_owner = nullptr;
};

// The value the text rules give for the cell's text.
void sql_cell_to_value(const sql_column_rule& rule, const sql_cell& cell, ole_variant& out);

// The number the text rules read from a FLOAT (single) or DOUBLE cell's
// text: a float's value is widened.
double sql_real_of_text(bool single, const char* text, size_t length);

// True when the binary protocol gives a column's cells exactly as the text
// rules read them: integers, DOUBLE without fixed decimals (the server's
// text is the shortest text that reads back the same), FLOAT and
// fixed-decimal DOUBLE (their text rebuilt by sql_float_text and
// sql_fixed_text), DECIMAL and BIT (both protocols send the same bytes,
// ZEROFILL digits too), strings, BLOBs and GEOMETRY, dates and times with up
// to 6 fraction digits (rebuilt as the server writes them), and NULL. Not
// dates or times of other fraction digits, nor types not known here.
bool sql_binary_protocol_fits(const MYSQL_FIELD& field);

// The server's text of a DATE, DATETIME, TIMESTAMP or TIME value with that
// many fraction digits (0 to 6): "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS[.f]",
// "[-]HH:MM:SS[.f]" (hours may have more digits). out holds 48 bytes; the
// length is returned.
size_t sql_temporal_text(enum_field_types type, unsigned int decimals, const MYSQL_TIME& time, char* out);

// The server's text of a FLOAT value: six significant digits, without
// trailing zeros, in fixed form while the point stays within 15 places of
// the first digit ("1e15", "1.4013e-45" beyond). out holds 32 bytes; the
// length is returned.
size_t sql_float_text(float value, char* out);

// The server's text of a DOUBLE or FLOAT value with fixed decimals (0 to
// 30): the shortest text that reads back the same, padded with zeros to the
// decimals, or the value rounded to them when that text has more. A zero
// has no sign. out holds sql_fixed_text_bytes; the length is returned.
inline constexpr size_t sql_fixed_text_bytes = 400;
size_t sql_fixed_text(double value, unsigned int decimals, char* out);

// A ZEROFILL column's text: zeros put before the text of that length until it
// is width long (longer texts stay). The buffer holds width bytes; the new
// length is returned.
size_t sql_zero_fill(char* text, size_t length, size_t width);

// The value of a text of a known variant type (defaults from SHOW COLUMNS and
// the like): VT_BOOL is true when the first character is not zero (or the
// text is a true word); other types parse as ole_variant::from_wstring does.
ole_variant get_variant(VARTYPE vartype, const std::wstring& text);
ole_variant get_variant(VARTYPE vartype, std::string_view text);
