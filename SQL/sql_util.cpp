#include "sql_util.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

#include <mysql.h>

#include "numbers.h"
#include "real_text.h"
#include "ole_date.h"
#include "ole_guid.h"
#include "sql_engi.h"
#include "sql_tnames.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_field.h"
#include "udb_rule.h"
#include "udb_schema.h"
#include "utf8.h"
#include "wformat.h"

namespace {

constexpr const char* util_source = "sql_util";

// Characters of text columns (three bytes each at most) that fit a row as
// VARCHAR, and the largest MEDIUMTEXT.
constexpr uint32_t max_varchar_chars = 21844;
constexpr uint32_t max_mediumtext_chars = 5592405;
// DECIMAL limits that every server version accepts.
constexpr int32_t max_decimal_precision = 65;
constexpr int32_t max_decimal_scale = 30;

template <class C>
bool is_digit(C c) {
    return c >= C('0') && c <= C('9');
}

template <class C>
bool is_hex_digit(C c) {
    return is_digit(c) || (c >= C('a') && c <= C('f')) || (c >= C('A') && c <= C('F'));
}

template <class C>
bool numeric_literal(std::basic_string_view<C> t) {
    size_t i = 0;
    const size_t n = t.size();
    if (i < n && (t[i] == C('+') || t[i] == C('-'))) ++i;
    size_t digits = 0;
    while (i < n && is_digit(t[i])) ++i, ++digits;
    if (i < n && t[i] == C('.')) {
        ++i;
        while (i < n && is_digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (t[i] == C('e') || t[i] == C('E'))) {
        ++i;
        if (i < n && (t[i] == C('+') || t[i] == C('-'))) ++i;
        size_t exp_digits = 0;
        while (i < n && is_digit(t[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == n;
}

// A binary value written as a literal of its own: decimal digits, or 0x and
// at least one hexadecimal digit (a bare 0x would name a column).
template <class C>
bool blob_literal(const std::basic_string<C>& t) {
    if (t.size() < 2 || !is_digit(t[0])) return false;
    if (t[1] == C('x') || t[1] == C('X')) {
        if (t[0] != C('0') || t.size() < 3) return false;
        for (size_t i = 2; i < t.size(); ++i)
            if (!is_hex_digit(t[i])) return false;
        return true;
    }
    if (!is_digit(t[1])) return false;
    for (size_t i = 2; i < t.size(); ++i)
        if (!is_digit(t[i])) return false;
    return true;
}

// Backslash escaping (the server's default mode), for text escaped while no
// connection is open.
void backslash_escape_append(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '\'') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\0') {
            out.push_back('\\');
            out.push_back('0');
        } else {
            out.push_back(c);
        }
    }
}

// The connection whose SQL mode escaping follows: the engine's, when it is
// connected.
MYSQL* escaping_connection() {
    sql_engine* engine = tk_singleton<sql_engine>::peek();
    return engine && engine->is_connected() ? engine->get_connection() : nullptr;
}

// Escapes UTF-8 text for inside a single-quoted literal the way the
// connection's SQL mode reads it (quotes doubled without backslash escapes).
void escape_utf8_append(std::string& out, std::string_view text) {
    MYSQL* connection = escaping_connection();
    if (!connection) {
        out.reserve(out.size() + text.size() + 2);
        backslash_escape_append(out, text);
        return;
    }
    const size_t start = out.size();
    out.resize(start + 2 * text.size() + 1);
    const unsigned long n =
        mysql_real_escape_string(connection, out.data() + start, text.data(), static_cast<unsigned long>(text.size()));
    out.resize(start + n);
}

template <class C>
void log_masks(std::basic_string_view<C> text, bool wide) {
    if (!tk_log_wants(1)) return;
    for (C c : text) {
        if (c != C('\\') && c != C('\'')) continue;
        if (wide)
            tk_wlog(1, L"Got symbol to mask (1): %c", static_cast<wchar_t>(c));
        else
            tk_log(1, "Got symbol to mask (2): %c", static_cast<char>(c));
    }
}

void escape_append(std::string& out, std::string_view text, bool) {
    log_masks(text, false);
    escape_utf8_append(out, text);
}

void escape_append(std::wstring& out, std::wstring_view text, bool) {
    log_masks(text, true);
    std::string escaped;
    escape_utf8_append(escaped, plat::utf8_encode(text));
    out += plat::utf8_decode(escaped);
}

template <class C>
std::basic_string<C> quoted(std::basic_string_view<C> text, bool wide) {
    std::basic_string<C> out;
    out.push_back(C('\''));
    escape_append(out, text, wide);
    out.push_back(C('\''));
    return out;
}

// Dates in the printer's form 6; a time alone as [-]H:MM:SS[.ffffff] with its
// hours unreduced (the TIME type spans -838:59:59 to 838:59:59).
template <class C>
std::basic_string<C> date_text(const ole_date& d) {
    std::string t;
    d.append_text(t, 6, d.kind == ole_date::time_only);
    return std::basic_string<C>(t.begin(), t.end());  // ASCII only
}
std::string guid_text(const ole_guid_extractor& g, const std::string&) { return g.to_string(); }
std::wstring guid_text(const ole_guid_extractor& g, const std::wstring&) { return g.to_wstring(); }

template <class C>
std::basic_string<C> to_literal(const std::basic_string<C>& text, VARTYPE vt, bool guid_column, bool wide) {
    using str = std::basic_string<C>;
    using view = std::basic_string_view<C>;
    if (vt < VT_I2) {
        tk_log(1, "******* NULL VALUE ******");
        return str{C('N'), C('U'), C('L'), C('L')};
    }
    if (text.empty()) return str(2, C('\''));

    if (vt == VT_DATE) {
        const ole_date date(text);
        if (date.is_valid()) {
            const str t = date_text<C>(date);
            return quoted<C>(view(t), wide);
        }
        // Not a date the printer can write: the server judges the text itself.
        tk_log(1, "Not a date/time text, kept unchanged");
        return quoted<C>(view(text), wide);
    }
    if (sql_is_blob_type(vt)) {
        tk_log(1, "GOT BLOB");
        if (blob_literal(text)) {
            tk_log(1, "BLOB IS VALID");
            return text;
        }
        return quoted<C>(view(text), wide);
    }
    if (vt == VT_BSTR && guid_column) {
        const ole_guid_extractor guid{view(text)};
        if (guid.is_valid()) {
            tk_log(1, "BSTR IS AN GUID");
            return quoted<C>(view(guid_text(guid, text)), wide);
        }
    }
    if (sql_is_quoted_type(vt) || !numeric_literal(view(text))) return quoted<C>(view(text), wide);
    return text;
}

// A FLOAT value as a literal that the server reads back to the same single.
// The server refuses a number above the largest single before rounding it,
// so a shortest form that reads as such a number is written with nine
// significant digits cut toward zero instead (they still round to the value).
std::string float_literal(float v) {
    std::string text;
    plat::append_float(text, v);
    if (!std::isfinite(v)) return text;
    const auto read = plat::text_to_double(text);
    if (!read || std::fabs(*read) <= FLT_MAX) return text;
    char buf[48];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::scientific, 8);
    std::string sci(buf, r.ptr);  // [-]d.dddddddde[+-]xx
    const size_t e = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (sci[i] != '.') digits.push_back(sci[i]);
    uint64_t m = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), m);
    const std::string exponent = sci.substr(e);
    for (;;) {
        const std::string mantissa = std::to_string(m);
        std::string candidate = negative ? "-" : "";
        candidate += mantissa.substr(0, 1);
        candidate += '.';
        candidate += std::string_view(mantissa).substr(1);
        candidate += exponent;
        const auto back = plat::text_to_double(candidate);
        if (back && std::fabs(*back) <= FLT_MAX) return candidate;
        --m;
    }
}

// A field's text; a text value whole, zero characters included (to_string
// ends at the first).
std::string whole_text(const udb_field& f) {
    if (f.get_type() == VT_BSTR) return plat::utf8_encode(f.get_bstr());
    return f.to_string();
}

// --- Column types --------------------------------------------------------------

bool equal_any_nocase(const std::wstring& text, std::initializer_list<const wchar_t*> words) {
    for (const wchar_t* w : words)
        if (plat::equal_nocase(text, w)) return true;
    return false;
}

bool is_now_default(const std::wstring& d) {
    return equal_any_nocase(d, {L"NOW()", L"sysdate", L"getdate()", L"getutcdate()", L"CURRENT_TIMESTAMP"});
}

bool valid_decimal(int32_t precision, int32_t scale) {
    return precision >= 1 && precision <= max_decimal_precision && scale >= 0 && scale <= max_decimal_scale &&
           scale <= precision;
}

// Fractional-second digits of new DATETIME and TIME columns: always 6 where
// the server keeps fractions (from 5.6.4 on), so that no value loses them.
int32_t fraction_digits() {
    const sql_engine* engine = tk_singleton<sql_engine>::peek();
    return engine && engine->get_server_version() >= 0x050604 ? 6 : 0;
}

sql_column_type classify(const t_ftd& d, bool log) {
    sql_column_type t;
    switch (d.vartype) {
    case VT_I2: t.index = sql_t_smallint; break;
    case VT_I4:
    case VT_INT: t.index = sql_t_int; break;
    case VT_R4: t.index = sql_t_float; break;
    case VT_R8: t.index = sql_t_double; break;
    case VT_CY:
        t.index = sql_t_decimal;
        t.precision = 19;
        t.scale = 4;
        break;
    case VT_BOOL:
        t.index = sql_t_tinyint;
        t.length = 1;
        break;
    case VT_DECIMAL:
        if (log) tk_log(1, "Scale/precision for decimal column: (%d, %d)", d.scale, d.precision);
        if (d.precision == 0) {
            t.index = sql_t_double;
        } else if (!valid_decimal(d.precision, d.scale)) {
            // Beyond what a DECIMAL column holds: the nearest type that takes every value.
            if (log) tk_log(2, "Precision/scale out of the server's range, DOUBLE used");
            t.index = sql_t_double;
        } else {
            t.index = sql_t_decimal;
            t.precision = d.precision;
            t.scale = d.scale;
        }
        break;
    case VT_I1: t.index = sql_t_tinyint; break;
    case VT_UI1: t.index = sql_t_tinyint_unsigned; break;
    case VT_UI2: t.index = sql_t_smallint_unsigned; break;
    case VT_UI4:
    case VT_UINT: t.index = sql_t_int_unsigned; break;
    case VT_I8: t.index = sql_t_bigint; break;
    case VT_UI8: t.index = sql_t_bigint_unsigned; break;
    case VT_BLOB:
    case VT_BYTE_ARRAY:
        if (log) tk_log(1, "process as blob");
        if (d.size == 0 || d.size > 16777215)
            t.index = sql_t_longblob;
        else if (d.size >= 65536)
            t.index = sql_t_mediumblob;
        else if (d.size >= 256)
            t.index = sql_t_blob;
        else {
            t.index = sql_t_varbinary;
            t.length = d.size;
        }
        break;
    case VT_BSTR:
        if (log) tk_log(1, "process as text");
        if (d.reserved == 2 || d.reserved == 8) {
            if (log) tk_log(1, "process VT_BSTR as geometry");
            t.index = sql_t_geometry;
        } else if (d.reserved == 16 && d.size >= 1 && d.size <= 255) {
            if (log) tk_log(1, "process VT_BSTR as fixed width CHAR");
            t.index = sql_t_char;
            t.length = d.size;
        } else if (d.size == 0 || d.size > max_mediumtext_chars) {
            t.index = sql_t_longtext;
        } else if (d.size > max_varchar_chars) {
            if (log) tk_log(1, "case insensitive MEDIUMTEXT");
            t.index = sql_t_mediumtext;
        } else {
            if (log) tk_log(1, "case insensitive VARCHAR");
            t.index = sql_t_varchar;
            t.length = d.size;
        }
        break;
    case VT_DATE: {
        const std::wstring def = d.def_value.to_wstring();
        if (log && tk_log_wants(1)) tk_wlog(1, L"Got date def.value: '%s'", def.c_str());
        const uint32_t kind = d.reserved & 3;
        if (d.reserved == 9 || is_now_default(def)) {
            if (log) tk_log(1, "Customize date type due to NOW() def.value");
            t.index = sql_t_timestamp;
        } else if (d.reserved == 10 || plat::equal_nocase(def, L"date()")) {
            if (log) tk_log(1, "Customize date type due to date() def.value");
            t.index = sql_t_date;
        } else if (kind == 0) {
            t.index = sql_t_char;
            t.length = 19;
        } else if (kind == 1) {
            if (log) {
                sql_engine::ptr();
                tk_log(1, "MySQL ver >= 5.6.4, modern datetime can be used");
            }
            t.index = sql_t_datetime;
            t.precision = fraction_digits();
        } else if (kind == 2) {
            if (log) tk_log(1, "Got pure date");
            t.index = sql_t_date;
        } else {
            if (log) {
                sql_engine::ptr();
                tk_log(1, "MySQL ver >= 5.6.4, modern time can be used");
            }
            t.index = sql_t_time;
            t.precision = fraction_digits();
        }
        break;
    }
    default: t.index = sql_t_unsupported; break;
    }
    return t;
}

// --- Defaults ---------------------------------------------------------------------

// The text as an integer of the column's range, printed back the same.
bool integer_default(const std::wstring& text, int64_t lo, int64_t hi) {
    const std::string s = plat::utf8_encode(text);
    int64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    return plat::int64_to_text(v) == s && v >= lo && v <= hi;
}

bool unsigned64_default(const std::wstring& text) {
    const std::string s = plat::utf8_encode(text);
    uint64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    return plat::uint64_to_text(v) == s;
}

// A number literal whose value fits the column.
bool real_default(const std::wstring& text, const t_ftd& d) {
    if (!numeric_literal(std::wstring_view(text))) return false;
    const auto value = plat::text_to_double(plat::utf8_encode(text));
    if (!value || !std::isfinite(*value)) return false;
    const double v = std::fabs(*value);
    const sql_column_type t = classify(d, false);
    if (t.index == sql_t_float) return v <= FLT_MAX;
    if (t.index == sql_t_decimal) {
        const double max = std::pow(10.0, t.precision - t.scale) - std::pow(10.0, -t.scale);
        return v <= max;
    }
    return true;
}

}  // namespace

// --- Type classes and escaping ------------------------------------------------------

bool sql_is_quoted_type(VARTYPE vt) { return vt == VT_DATE || vt == VT_BSTR; }

bool sql_is_numeric_type(VARTYPE vt) {
    return (vt >= VT_I2 && vt <= VT_CY) || vt == VT_BOOL || vt == VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UINT);
}

bool sql_is_blob_type(VARTYPE vt) { return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_BYTE_ARRAY; }

bool sql_is_numeric_literal(std::wstring_view text) { return numeric_literal(text); }

bool sql_is_guid_column(const t_ftd& d) { return d.vartype == VT_BSTR && plat::equal_nocase(d.native_type, L"uuid"); }

void sql_escape_append(std::string& out, std::string_view text) { escape_append(out, text, false); }
void sql_escape_append(std::wstring& out, std::wstring_view text) { escape_append(out, text, true); }

std::string sql_escape(std::string_view text) {
    std::string out;
    escape_append(out, text, false);
    return out;
}

std::wstring sql_escape(std::wstring_view text) {
    std::wstring out;
    escape_append(out, text, true);
    return out;
}

// --- Literals ---------------------------------------------------------------------------

std::string to_mysql_str(const std::string& text, VARTYPE vt, bool guid_column) {
    if (tk_log_wants(2)) tk_log(2, "to_mysql_str(%s)", text.c_str());
    return to_literal(text, vt, guid_column, false);
}

std::wstring to_mysql_wstr(const std::wstring& text, VARTYPE vt, bool guid_column) {
    if (tk_log_wants(2)) tk_wlog(2, L"to_mysql_wstr(%s)", text.c_str());
    return to_literal(text, vt, guid_column, true);
}

void sql_check_finite(double v, const std::wstring& name) {
    if (std::isfinite(v)) return;
    throw tk_exception("The value of field '" + plat::utf8_encode(name) + "' is " +
                           (std::isnan(v) ? "NaN" : v < 0 ? "-infinity" : "infinity") +
                           ", which no floating-point column holds",
                       0);
}

std::string to_mysql_str(const udb_field* field) {
    tk_log(2, "to_mysql_str");
    if (!field) throw tk_mail_assertion(util_source, 907);
    const VARTYPE type = field->get_type();
    if (type == VT_R4 || type == VT_R8) sql_check_finite(field->to_double(), field->get_name());
    if (type == VT_R4) return to_mysql_str(float_literal(static_cast<float>(field->to_double())), type);
    if (type == VT_DATE && field->get_date().is_valid()) {
        // From the value itself: its text form gives a time alone a zero date.
        const std::string t = date_text<char>(field->get_date());
        return quoted<char>(std::string_view(t), false);
    }
    if (type != VT_BYTE_ARRAY) return to_mysql_str(whole_text(*field), type);

    tk_log(1, "special processing for BLOBs");
    const uint32_t n = field->binary_size();
    if (n == 0) return "NULL";
    static const char hex[] = "0123456789ABCDEF";
    const uint8_t* bytes = field->binary_data();
    std::string out;
    out.reserve(2 + 2 * static_cast<size_t>(n));
    out += "0x";
    for (uint32_t i = 0; i < n; ++i) {
        out.push_back(hex[bytes[i] >> 4]);
        out.push_back(hex[bytes[i] & 15]);
    }
    tk_log(1, "to_mysql_str - at the END");
    return out;
}

std::string sql_float_key_literal(float v) {
    std::string text;
    plat::append_double(text, static_cast<double>(v));
    return text;
}

std::string get_fld_append_str(const udb_field* field, const t_ftd* d, bool placeholders) {
    tk_log(2, "get_fld_append_str");
    if (!field) throw tk_mail_assertion(util_source, 1138);
    if (!d) throw tk_mail_assertion(util_source, 1139);
    const VARTYPE type = field->get_type();

    if (placeholders && type != VT_EMPTY && field->get_size() > sql_placeholder_threshold) {
        tk_log(1, "fld->get_size()=%d", static_cast<int>(field->get_size()));
        tk_log(1, "Returns placeholder for prepared statement");
        return "?";
    }
    if (udb_custom_conversion::is_acceptable2(*field)) {
        tk_log(1, "udb_custom_conversion::is_acceptable");
        return plat::utf8_encode(udb_custom_conversion::handle2(*field));
    }
    if (d->vartype == VT_BSTR) {
        const std::wstring text = field->to_wstring();
        if (tk_log_wants(1)) tk_wlog(1, L"Got BSTR value: %s, flags=%d", text.c_str(), static_cast<int>(d->reserved));
        if (d->reserved == 2 || d->reserved == 8) {
            if (type < VT_I2) return "NULL";
            std::string out = "ST_GeomFromText('";
            sql_escape_append(out, plat::utf8_encode(text));
            out += "')";
            return out;
        }
        // A number bound for a text column keeps its own text.
        const VARTYPE as = sql_is_numeric_type(type) ? VT_BSTR : type;
        // Text goes whole, zero characters included (the wide form ends at the first).
        if (type == VT_BSTR) return to_mysql_str(whole_text(*field), as, sql_is_guid_column(*d));
        return plat::utf8_encode(to_mysql_wstr(text, as, sql_is_guid_column(*d)));
    }

    std::string s = to_mysql_str(field);
    if (sql_is_numeric_type(d->vartype) && !sql_is_numeric_type(type)) s = to_mysql_str(field->to_string(), d->vartype);
    if (tk_log_wants(1)) tk_log(1, "Got field: %s, type=%08X", s.c_str(), static_cast<unsigned>(type));
    if (type >= VT_I2 && !s.empty() && s != "''" && s != "\"\"") return s;

    // The field holds no value.
    if (d->vartype == VT_BLOB || d->vartype == VT_BYTE_ARRAY) return s;
    if (d->auto_increment) {
        // The server numbers the row (a 0 would be stored as 0).
        tk_log(1, "Put NULL-field");
        return "NULL";
    }
    if (!d->b_not_null) {
        tk_log(1, "Put NULL-field");
        return "NULL";
    }
    tk_log(1, "Put default value");
    const std::string def = d->def_value.to_string();
    if (!def.empty()) {
        // A default computed by the server is asked of the server.
        if (d->vartype == VT_DATE &&
            (d->reserved == 9 || d->reserved == 10 || d->reserved == 11 ||
             is_now_default(d->def_value.to_wstring()) ||
             equal_any_nocase(d->def_value.to_wstring(), {L"sysdate()", L"date()"})))
            return "DEFAULT";
        return to_mysql_str(def, d->vartype);
    }
    if (sql_is_numeric_type(type) || sql_is_numeric_type(d->vartype)) return "0";
    return s;
}

// --- Column types and defaults ----------------------------------------------------------

sql_column_type sql_column_type_of(const t_ftd& d) { return classify(d, false); }

std::wstring get_sql_native_type2(const t_ftd* d, bool bare) {
    if (!d) throw tk_mail_assertion(util_source, 604);
    if (tk_log_wants(2))
        tk_wlog(2, L"get_sql_native_type2: %s(%d,%d,%d)", d->name.c_str(), static_cast<int>(d->vartype),
                static_cast<int>(d->size), static_cast<int>(d->reserved));
    const sql_column_type t = classify(*d, true);
    if (t.index == sql_t_unsupported) throw tk_mail_assertion(util_source, 604);
    if (t.index == sql_t_geometry) return L"geometry";
    std::wstring text = get_sql_type_name(t.index);
    if (bare) return text;
    if (t.index == sql_t_decimal)
        text += plat::wformat(L"(%d,%d)", static_cast<int>(t.precision), static_cast<int>(t.scale));
    else if ((t.index == sql_t_datetime || t.index == sql_t_time) && t.precision != 0)
        text += plat::wformat(L"(%d)", static_cast<int>(t.precision));
    else if (t.length != 0)
        text += plat::wformat(L"(%d)", static_cast<int>(t.length));
    return text;
}

std::wstring make_mysql_def_val(const t_ftd* d) {
    if (!d) throw tk_mail_assertion(util_source, 53);
    const std::wstring def = d->def_value.to_wstring();
    if (tk_log_wants(2)) tk_wlog(2, L"make_mysql_def_val(%d,%s)", static_cast<int>(d->vartype), def.c_str());

    if (plat::equal_nocase(def, L"to_char(sysdate,'yyyy-mm-dd hh24:mi:ss')")) {
        tk_log(3, "Cannot set def.value as current timetsamp for varchar column");
        return {};
    }
    if (d->vartype == VT_DATE) {
        if (d->reserved == 9) {
            tk_log(1, "Got NOW() def.value");
            return L"CURRENT_TIMESTAMP";
        }
        if (d->reserved == 10) return L"CURRENT_DATE()";
        if (d->reserved == 11) return L"CURRENT_TIME()";
    }
    if (d->vartype == VT_BSTR && !def.empty()) {
        if (tk_log_wants(1)) tk_wlog(1, L"Got BSTR def value: %s", def.c_str());
        const sql_column_type t = classify(*d, false);
        if (t.index == sql_t_geometry) {
            tk_log(2, "Geometry columns take no default text");
            return {};
        }
        if ((t.index == sql_t_varchar || t.index == sql_t_char) && def.size() > t.length) {
            tk_log(2, "Default value is longer than the column, left out");
            return {};
        }
        return to_mysql_wstr(def, VT_BSTR, sql_is_guid_column(*d));
    }
    if (def.empty()) {
        tk_log(1, "Got empty def value");
        return {};
    }
    if (plat::equal_nocase(def, L"newid()")) {
        tk_log(1, "newid() is not supported");
        return {};
    }

    auto int_default = [&](int64_t lo, int64_t hi) -> std::wstring {
        if (!integer_default(def, lo, hi)) return {};
        tk_log(1, "Int/long default value is correct");
        return def;
    };
    switch (d->vartype) {
    case VT_I2: return int_default(INT16_MIN, INT16_MAX);
    case VT_I4:
    case VT_INT: return int_default(INT32_MIN, INT32_MAX);
    case VT_BOOL:
    case VT_I1: return int_default(INT8_MIN, INT8_MAX);
    case VT_UI1: return int_default(0, UINT8_MAX);
    case VT_UI2: return int_default(0, UINT16_MAX);
    case VT_UI4:
    case VT_UINT: return int_default(0, UINT32_MAX);
    case VT_I8:
        if (!integer_default(def, INT64_MIN, INT64_MAX)) return {};
        tk_log(1, "__int64 default value is correct");
        return def;
    case VT_UI8:
        if (!unsigned64_default(def)) return {};
        tk_log(1, "unsigned __int64 default value is correct");
        return def;
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL: return real_default(def, *d) ? def : std::wstring();
    case VT_DATE: {
        tk_log(1, "Got DATE def value");
        if (equal_any_nocase(def, {L"getdate()", L"sysdate()", L"sysdate"})) {
            tk_log(1, "Special processing for getdate()");
            return L"CURRENT_TIMESTAMP";
        }
        ole_date date(def);
        const uint32_t kind = d->reserved & 3;
        if (date.is_valid()) {
            if (kind == 2) date.kind = ole_date::date_only;
            if (kind == 3) date.kind = ole_date::time_only;
        }
        // A CHAR(19) column takes the text without fractions of a second.
        const std::wstring text = date.to_wstring(kind == 0 ? 0 : 6);
        if (tk_log_wants(2)) tk_wlog(2, L"After canonization: %s", text.c_str());
        if (text.empty()) return {};
        return L"'" + text + L"'";
    }
    default: return {};
    }
}
