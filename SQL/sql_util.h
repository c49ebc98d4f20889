// Field values and column descriptors as MySQL SQL text (the writing side):
// literals, the value text of one field of a row, column types and DEFAULT
// expressions.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "vartypes.h"

class udb_field;
struct t_ftd;

// A field larger than this (bytes, or characters of a text) is sent as a
// placeholder of a prepared statement when placeholders are allowed.
inline constexpr uint32_t sql_placeholder_threshold = 0x100000;

// VT_DATE and VT_BSTR: their literals stand in single quotes.
bool sql_is_quoted_type(VARTYPE vt);
// VT_I2 to VT_CY, VT_BOOL, VT_DECIMAL, VT_I1 to VT_UINT.
bool sql_is_numeric_type(VARTYPE vt);
// The binary kinds: VT_BLOB, VT_BLOB_OBJECT and byte arrays.
bool sql_is_blob_type(VARTYPE vt);

// True when the whole text is a number the server reads as a literal:
// [+-] digits [. digits] [e [+-] digits] (a point alone is no number).
bool sql_is_numeric_literal(std::wstring_view text);

// A column that holds GUIDs: text with the server type "uuid". Only values
// bound for such a column are reduced to the GUID they carry.
bool sql_is_guid_column(const t_ftd& d);

// The text for inside a single-quoted literal, escaped the way the engine's
// connection reads it (its SQL mode decides: backslash escapes, or doubled
// quotes under NO_BACKSLASH_ESCAPES). Without a connection: a backslash
// before every backslash and every single quote, U+0000 written as \0.
void sql_escape_append(std::string& out, std::string_view text);
void sql_escape_append(std::wstring& out, std::wstring_view text);
std::string sql_escape(std::string_view text);
std::wstring sql_escape(std::wstring_view text);

// The literal of a text of the given type (UTF-8 in and out): NULL for
// VT_EMPTY and VT_NULL; '' for an empty text; dates in the date printer's
// form; numbers bare when they are numbers, every other text quoted and
// escaped; binary values bare when they are decimal or 0x-hexadecimal
// literals. guid_column: a text carrying a GUID becomes the GUID.
std::string to_mysql_str(const std::string& text, VARTYPE vt, bool guid_column = false);
std::wstring to_mysql_wstr(const std::wstring& text, VARTYPE vt, bool guid_column = false);
// The literal of a field: byte arrays as 0x and hexadecimal digits (NULL when
// empty), dates and times from the value, other values through their text;
// a floating-point NaN or infinity is refused. A null field is an internal error.
std::string to_mysql_str(const udb_field* field);

// Refuses (tk_exception, level 0, naming the field) NaN and infinity, which
// the server would store as some other number or read as a name.
void sql_check_finite(double v, const std::wstring& name);

// A single's exact value as a number literal: a FLOAT column that holds the
// single compares equal with it (its shortest text may not).
std::string sql_float_key_literal(float v);

// The value text of one field for an INSERT or UPDATE into a column of
// descriptor d: a literal, NULL, the column default, or "?" for a field above
// the placeholder threshold when placeholders are allowed.
std::string get_fld_append_str(const udb_field* field, const t_ftd* d, bool placeholders);

// The MySQL column type of a descriptor; bare leaves out every length,
// precision or "(1)" suffix. An unsupported value type is an internal error.
std::wstring get_sql_native_type2(const t_ftd* d, bool bare);

// The text after DEFAULT for a descriptor's default value; empty when the
// column gets no default (none, unsupported, or one the server would refuse).
std::wstring make_mysql_def_val(const t_ftd* d);

// The column kind get_sql_native_type2 chooses, for size estimates: a type
// index of sql_tnames.h (sql_t_geometry for geometry, sql_t_unsupported for
// value types without a column type) with its length or precision and scale.
inline constexpr int32_t sql_t_geometry = -1;
inline constexpr int32_t sql_t_unsupported = -2;
struct sql_column_type {
    int32_t index = sql_t_unsupported;
    uint32_t length = 0;     // CHAR, VARCHAR, VARBINARY
    int32_t precision = 0;   // DECIMAL; fractional-second digits of DATETIME and TIME
    int32_t scale = 0;
};
sql_column_type sql_column_type_of(const t_ftd& d);
