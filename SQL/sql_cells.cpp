#include "sql_types.h"
#include "sql_cell_read.h"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

#include "decimal.h"
#include "real_text.h"
#include "utf8.h"

using sql_cell_read::date_of_time;
using sql_cell_read::plain_decimal;
using sql_cell_read::set_unsigned;

namespace {

bool digits(const char*& p, const char* end, unsigned count, uint32_t& out) {
    out = 0;
    for (unsigned i = 0; i < count; ++i, ++p) {
        if (p == end || *p < '0' || *p > '9') return false;
        out = out * 10 + static_cast<uint32_t>(*p - '0');
    }
    return true;
}

bool expect(const char*& p, const char* end, char c) {
    if (p == end || *p != c) return false;
    ++p;
    return true;
}

// ".ffffff" (1 to 6 digits) or nothing.
bool fraction(const char*& p, const char* end, ole_date& d) {
    if (p == end) return true;
    if (*p != '.') return false;
    ++p;
    uint32_t us = 0;
    unsigned n = 0;
    for (; p != end && n < 6; ++p, ++n) {
        if (*p < '0' || *p > '9') return false;
        us = us * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (n == 0 || p != end) return false;
    for (; n < 6; ++n) us *= 10;
    d.microseconds = us;
    d.time.milliseconds = static_cast<uint16_t>(us / 1000);
    return true;
}

bool date_part(const char*& p, const char* end, ole_date& d) {
    uint32_t y, m, day;
    if (!digits(p, end, 4, y) || !expect(p, end, '-') || !digits(p, end, 2, m) ||
        !expect(p, end, '-') || !digits(p, end, 2, day))
        return false;
    d.time.year = static_cast<uint16_t>(y);
    d.time.month = static_cast<uint16_t>(m);
    d.time.day = static_cast<uint16_t>(day);
    return true;
}

bool clock_part(const char*& p, const char* end, ole_date& d, bool long_hours) {
    uint32_t h = 0, mi, s;
    if (long_hours) {
        unsigned n = 0;
        for (; p != end && *p >= '0' && *p <= '9' && n < 4; ++p, ++n)
            h = h * 10 + static_cast<uint32_t>(*p - '0');
        if (n == 0) return false;
    } else if (!digits(p, end, 2, h)) {
        return false;
    }
    if (!expect(p, end, ':') || !digits(p, end, 2, mi) || !expect(p, end, ':') ||
        !digits(p, end, 2, s))
        return false;
    d.time.hour = static_cast<uint16_t>(h);
    d.time.minute = static_cast<uint16_t>(mi);
    d.time.second = static_cast<uint16_t>(s);
    return fraction(p, end, d);
}

// n digits at p, which the caller has checked to be there.
bool fixed_digits(const char* p, unsigned n, uint32_t& out) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned digit = static_cast<unsigned char>(p[i]) - unsigned('0');
        if (digit > 9) return false;
        v = v * 10 + digit;
    }
    out = v;
    return true;
}

// "YYYY-MM-DD" at p (10 bytes there).
bool fixed_date(const char* p, ole_date& d) {
    uint32_t y, m, day;
    if (p[4] != '-' || p[7] != '-' || !fixed_digits(p, 4, y) || !fixed_digits(p + 5, 2, m) ||
        !fixed_digits(p + 8, 2, day))
        return false;
    d.time.year = static_cast<uint16_t>(y);
    d.time.month = static_cast<uint16_t>(m);
    d.time.day = static_cast<uint16_t>(day);
    return true;
}

// The server's fixed text forms; false for anything else.
bool parse_temporal(sql_cell_kind kind, const char* p, const char* end, ole_date& d) {
    // The usual lengths by position, the same rules as the readers below.
    const ptrdiff_t n = end - p;
    if (kind == sql_cell_kind::date && n == 10) {
        d.kind = ole_date::date_only;
        return fixed_date(p, d);
    }
    if (kind == sql_cell_kind::datetime && n >= 19 && p[10] == ' ' && p[13] == ':' && p[16] == ':') {
        d.kind = ole_date::date_time;
        uint32_t h, mi, sec;
        if (!fixed_date(p, d) || !fixed_digits(p + 11, 2, h) || !fixed_digits(p + 14, 2, mi) ||
            !fixed_digits(p + 17, 2, sec))
            return false;
        d.time.hour = static_cast<uint16_t>(h);
        d.time.minute = static_cast<uint16_t>(mi);
        d.time.second = static_cast<uint16_t>(sec);
        const char* f = p + 19;
        return fraction(f, end, d);
    }
    switch (kind) {
    case sql_cell_kind::date:
        d.kind = ole_date::date_only;
        return date_part(p, end, d) && p == end;
    case sql_cell_kind::datetime:
        d.kind = ole_date::date_time;
        return date_part(p, end, d) && expect(p, end, ' ') && clock_part(p, end, d, false);
    case sql_cell_kind::time:
        d.kind = ole_date::time_only;
        if (p != end && *p == '-') {
            d.negative = true;
            ++p;
        }
        return clock_part(p, end, d, true);
    default:
        return false;
    }
}

// The whole cell as from_chars reads a T.
template <class T>
bool parse_whole(const char* cell, unsigned long length, T& out) {
    const char* end = cell + length;
    auto r = std::from_chars(cell, end, out);
    return r.ec == std::errc() && r.ptr == end;
}

template <class T>
bool parse_int(const char* cell, unsigned long length, T& out) {
    // Up to 18 digits (and a minus for signed types) cannot overflow: read
    // them directly; anything else as from_chars reads it.
    const bool neg = std::is_signed_v<T> && length > 0 && cell[0] == '-';
    const unsigned long digits = length - (neg ? 1 : 0);
    if (digits > 0 && digits <= 18) {
        uint64_t v = 0;
        const char* p = cell + (neg ? 1 : 0);
        unsigned long i = 0;
        for (; i < digits; ++i) {
            const unsigned d = static_cast<unsigned char>(p[i]) - unsigned('0');
            if (d > 9) break;
            v = v * 10 + d;
        }
        if (i == digits) {
            out = neg ? static_cast<T>(0 - v) : static_cast<T>(v);
            return true;
        }
    }
    return parse_whole(cell, length, out);
}

bool set_signed(ole_variant& out, VARTYPE vt, int64_t v) {
    switch (vt) {
    case VT_I1:
        if (v < INT8_MIN || v > INT8_MAX) return false;
        out.set_i1(static_cast<int8_t>(v));
        return true;
    case VT_I2:
        if (v < INT16_MIN || v > INT16_MAX) return false;
        out.set_i2(static_cast<int16_t>(v));
        return true;
    case VT_I4:
        if (v < INT32_MIN || v > INT32_MAX) return false;
        out.set_i4(static_cast<int32_t>(v));
        return true;
    case VT_I8:
        out.set_i8(v);
        return true;
    default:
        return false;
    }
}

// "0x" (any case) followed by hex digits only: the text form of bytes.
bool reads_as_hex(std::string_view s) {
    if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
    for (size_t i = 2; i < s.size(); ++i) {
        const char c = s[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

void set_text(ole_variant& out, const char* cell, unsigned long length) {
    out.set_utf8_text(std::string_view(cell, length));
}

}  // namespace

void sql_cell_to_value(const sql_column_rule& rule, const char* cell, unsigned long length,
                       ole_variant& out) {
    if (!cell) {
        out.clear();
        return;
    }
    switch (rule.kind) {
    case sql_cell_kind::text:
        set_text(out, cell, length);
        return;
    case sql_cell_kind::bytes:
        out.set_binary(reinterpret_cast<const uint8_t*>(cell), length);
        return;
    case sql_cell_kind::bytes_or_text: {
        const std::string_view bytes(cell, length);
        size_t zero = 0;
        if (!reads_as_hex(bytes) && plat::utf8_valid_find_zero(bytes, zero) && zero == std::string_view::npos)
            out.set_utf8_text(bytes, true);
        else
            out.set_binary(reinterpret_cast<const uint8_t*>(cell), length);
        return;
    }
    case sql_cell_kind::boolean:
        out.set_bool(length > 0 && cell[0] != 0);
        return;
    case sql_cell_kind::bits: {
        uint64_t v = 0;
        for (unsigned long i = 0; i < length; ++i)
            v = (v << 8) | static_cast<unsigned char>(cell[i]);
        if (set_unsigned(out, rule.vartype, v)) return;
        out.set_ui8(v);
        return;
    }
    case sql_cell_kind::int_signed: {
        int64_t v = 0;
        if (parse_int(cell, length, v) && set_signed(out, rule.vartype, v)) return;
        break;
    }
    case sql_cell_kind::int_unsigned: {
        uint64_t v = 0;
        if (parse_int(cell, length, v) && set_unsigned(out, rule.vartype, v)) return;
        break;
    }
    case sql_cell_kind::real4: {
        float v = 0;
        if (parse_whole(cell, length, v)) {
            out.set_r4(v);
            return;
        }
        break;
    }
    case sql_cell_kind::real8: {
        double v = 0;
        if (parse_whole(cell, length, v)) {
            out.set_r8(v);
            return;
        }
        break;
    }
    case sql_cell_kind::decimal: {
        plat::decimal d;
        if (plain_decimal(cell, length, d)) {
            out.set_decimal(d);
            return;
        }
        bool inexact = false;
        if (SUCCEEDED(plat::dec_from_text(std::string_view(cell, length), d, &inexact)) &&
            !inexact) {
            out.set_decimal(d);
            return;
        }
        // Beyond the 96-bit decimal (DECIMAL(65,30) and the like): the exact
        // digits as the server sent them.
        set_text(out, cell, length);
        return;
    }
    case sql_cell_kind::date:
    case sql_cell_kind::time:
    case sql_cell_kind::datetime: {
        ole_date d;
        if (parse_temporal(rule.kind, cell, cell + length, d) && d.is_valid() && !d.negative &&
            d.time.hour < 24) {
            out.set_date(d);
            return;
        }
        // What a date value cannot hold (a day that does not exist, a time
        // span that is negative or of 24 hours or more): the server's text,
        // so that nothing is lost.
        set_text(out, cell, length);
        return;
    }
    }
    // Text the fast readers did not take: the general parser.
    out.assign_from_string(std::string_view(cell, length), rule.vartype);
}

double sql_real_of_text(bool single, const char* text, size_t length) {
    // As sql_cell_to_value reads it: the whole text, or what the general
    // parser makes of it.
    if (single) {
        float v = 0;
        if (parse_whole(text, length, v)) return v;
        return plat::parse_float_prefix(std::string_view(text, length));
    }
    double v = 0;
    if (parse_whole(text, length, v)) return v;
    return plat::parse_double_prefix(std::string_view(text, length));
}

void sql_cell_to_value(const sql_column_rule& rule, const sql_cell& cell, ole_variant& out) {
    uint32_t size = 0;
    if (sql_cell_by_plan(rule, cell, out, size)) return;
    switch (cell.kind) {
    case sql_cell::null:
        out.clear();
        return;
    case sql_cell::bytes:
        // A huge value changes hands: no second copy of it.
        // (A cell that may be text was read as what it is.)
        if (cell.text_owner && (rule.kind == sql_cell_kind::text || rule.kind == sql_cell_kind::bytes_or_text)) {
            out.take_utf8_text(std::move(*cell.text_owner));
            return;
        }
        if (cell.bytes_owner && (rule.kind == sql_cell_kind::bytes || rule.kind == sql_cell_kind::bytes_or_text)) {
            out.take_binary(std::move(*cell.bytes_owner));
            return;
        }
        sql_cell_to_value(rule, cell.data ? cell.data : "", cell.length, out);
        return;
    // A number the text rules would read at once: set directly.
    case sql_cell::int64:
        if (rule.kind == sql_cell_kind::int_signed && set_signed(out, rule.vartype, cell.i)) return;
        if (rule.kind == sql_cell_kind::int_unsigned && cell.i >= 0 &&
            set_unsigned(out, rule.vartype, static_cast<uint64_t>(cell.i)))
            return;
        break;
    case sql_cell::uint64:
        if (rule.kind == sql_cell_kind::int_unsigned && set_unsigned(out, rule.vartype, cell.u)) return;
        if (rule.kind == sql_cell_kind::int_signed && cell.u <= static_cast<uint64_t>(INT64_MAX) &&
            set_signed(out, rule.vartype, static_cast<int64_t>(cell.u)))
            return;
        break;
    case sql_cell::real8:
        if (rule.kind == sql_cell_kind::real8) {
            out.set_r8(cell.d);
            return;
        }
        break;
    case sql_cell::temporal: {
        // The fields that reading the text would give, and the same checks.
        ole_date d;
        if (date_of_time(rule.kind, *cell.time, cell.decimals, d) && d.is_valid() && !d.negative &&
            d.time.hour < 24) {
            out.set_date(d);
            return;
        }
        char text[48];
        const size_t n = sql_temporal_text(cell.time_type, cell.decimals, *cell.time, text);
        sql_cell_to_value(rule, text, static_cast<unsigned long>(n), out);
        return;
    }
    }
    // Anything else: the number's text, read by the text rules.
    char buf[40];
    std::to_chars_result r{};
    if (cell.kind == sql_cell::int64) r = std::to_chars(buf, buf + sizeof buf, cell.i);
    else if (cell.kind == sql_cell::uint64) r = std::to_chars(buf, buf + sizeof buf, cell.u);
    else r = std::to_chars(buf, buf + sizeof buf, cell.d);
    sql_cell_to_value(rule, buf, static_cast<unsigned long>(r.ptr - buf), out);
}
