// The cells of the binary protocol that a column's plan takes (sql_types.h,
// sql_cell_plan): read inline, row after row, by the record and by
// sql_cell_to_value. Only for the SQL back end's own sources.
#pragma once
#include <cstdint>
#include <limits>
#include <string_view>

#include "decimal.h"
#include "ole_date.h"
#include "sql_types.h"

namespace sql_cell_read {

// The server's DECIMAL text ("-123.45") of at most 19 digits: the value the
// general reader gives, read with 64-bit arithmetic. False for anything else.
inline bool plain_decimal(const char* cell, unsigned long length, plat::decimal& out) {
    const char* p = cell;
    const char* const end = cell + length;
    const bool neg = p != end && *p == '-';
    if (neg) ++p;
    const size_t n = static_cast<size_t>(end - p);
    if (n == 0 || n > 20) return false;
    uint64_t m = 0;
    for (; p != end; ++p) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned('0');
        if (d > 9) break;
        m = m * 10 + d;
    }
    unsigned scale = 0;
    if (p != end) {
        // One point, then digits only; at least one digit in all.
        if (*p != '.' || n == 1) return false;
        const char* const point = p++;
        for (; p != end; ++p) {
            const unsigned d = static_cast<unsigned char>(*p) - unsigned('0');
            if (d > 9) return false;
            m = m * 10 + d;
        }
        scale = static_cast<unsigned>(end - point - 1);
    } else if (n > 19) {
        return false;  // 19 digits fit 64 bits
    }
    plat::decimal d;
    if (m != 0) {
        d.lo64 = m;
        d.scale = static_cast<uint8_t>(scale);
        d.sign = neg ? plat::DECIMAL_NEG : 0;
    }
    out = d;
    return true;
}


// What the text reader makes of sql_temporal_text of t; false when that
// text would not be read as a date (a field wider than its digits).
inline bool date_of_time(sql_cell_kind kind, const MYSQL_TIME& t, unsigned int decimals, ole_date& d) {
    if (t.minute > 99 || t.second > 99) return false;
    switch (kind) {
    case sql_cell_kind::date:
    case sql_cell_kind::datetime:
        if (t.year > 9999 || t.month > 99 || t.day > 99) return false;
        d.time.year = static_cast<uint16_t>(t.year);
        d.time.month = static_cast<uint16_t>(t.month);
        d.time.day = static_cast<uint16_t>(t.day);
        if (kind == sql_cell_kind::date) {
            d.kind = ole_date::date_only;
            return true;
        }
        if (t.hour > 99) return false;
        d.kind = ole_date::date_time;
        break;
    case sql_cell_kind::time:
        if (t.hour > 9999) return false;
        d.kind = ole_date::time_only;
        d.negative = t.neg != 0;
        break;
    default:
        return false;
    }
    d.time.hour = static_cast<uint16_t>(t.hour);
    d.time.minute = static_cast<uint16_t>(t.minute);
    d.time.second = static_cast<uint16_t>(t.second);
    if (decimals > 0) {
        uint32_t scale = 1;
        for (unsigned int i = decimals < 6 ? decimals : 6; i < 6; ++i) scale *= 10;
        const uint32_t us = static_cast<uint32_t>(t.second_part % 1000000) / scale * scale;
        d.microseconds = us;
        d.time.milliseconds = static_cast<uint16_t>(us / 1000);
    }
    return true;
}

// A value read by date_of_time that is valid and has a date number (so
// set_date has nothing to report): a time of day, or a day of the years
// 100 to 9999 at a time of day. False for the rest, which the general rules
// take.
inline bool has_date_number(const ole_date& d) {
    const plat::systemtime& t = d.time;
    if (d.negative || t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    if (d.kind == ole_date::time_only) return t.year == 0 && t.month == 0 && t.day == 0;
    return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           (t.day <= 28 || t.day <= ole_date::days_in_month(t.year, t.month));
}

// v in an unsigned type (an integer's or BIT bytes' rule); false when it
// does not fit or the type is no unsigned one.
inline bool set_unsigned(ole_variant& out, VARTYPE vartype, uint64_t v) {
    switch (vartype) {
    case VT_UI1:
        if (v > UINT8_MAX) return false;
        out.set_ui1(static_cast<uint8_t>(v));
        return true;
    case VT_UI2:
        if (v > UINT16_MAX) return false;
        out.set_ui2(static_cast<uint16_t>(v));
        return true;
    case VT_UI4:
        if (v > UINT32_MAX) return false;
        out.set_ui4(static_cast<uint32_t>(v));
        return true;
    case VT_UI8:
        out.set_ui8(v);
        return true;
    default:
        return false;
    }
}

template <class T, class U>
inline bool fits(U v) {
    return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
}


}  // namespace sql_cell_read

// The cell by the rule's plan, and null cells, as sql_cell_to_value gives
// them: true with out and size (the length of a cell's bytes, the size of a
// number's value type, 0 for a null) set; false, with nothing changed, for a
// cell the plan does not take.
[[gnu::always_inline]] inline bool sql_cell_by_plan(const sql_column_rule& rule, const sql_cell& cell, ole_variant& out, uint32_t& size) {
    using namespace sql_cell_read;
    // A null cell is of no plan's kind: it is taken after the switch.
    switch (rule.plan) {
    case sql_cell_plan::general:
        break;
    case sql_cell_plan::i1:
        if (cell.kind != sql_cell::int64 || !fits<int8_t>(cell.i)) break;
        out.set_i1(static_cast<int8_t>(cell.i));
        size = 1;
        return true;
    case sql_cell_plan::i2:
        if (cell.kind != sql_cell::int64 || !fits<int16_t>(cell.i)) break;
        out.set_i2(static_cast<int16_t>(cell.i));
        size = 2;
        return true;
    case sql_cell_plan::i4:
        if (cell.kind != sql_cell::int64 || !fits<int32_t>(cell.i)) break;
        out.set_i4(static_cast<int32_t>(cell.i));
        size = 4;
        return true;
    case sql_cell_plan::i8:
        if (cell.kind != sql_cell::int64) break;
        out.set_i8(cell.i);
        size = 8;
        return true;
    case sql_cell_plan::ui1:
        if (cell.kind != sql_cell::uint64 || cell.u > UINT8_MAX) break;
        out.set_ui1(static_cast<uint8_t>(cell.u));
        size = 1;
        return true;
    case sql_cell_plan::ui2:
        if (cell.kind != sql_cell::uint64 || cell.u > UINT16_MAX) break;
        out.set_ui2(static_cast<uint16_t>(cell.u));
        size = 2;
        return true;
    case sql_cell_plan::ui4:
        if (cell.kind != sql_cell::uint64 || cell.u > UINT32_MAX) break;
        out.set_ui4(static_cast<uint32_t>(cell.u));
        size = 4;
        return true;
    case sql_cell_plan::ui8:
        if (cell.kind != sql_cell::uint64) break;
        out.set_ui8(cell.u);
        size = 8;
        return true;
    case sql_cell_plan::real4:
        // A float's own value (not a NaN).
        if (cell.kind != sql_cell::real8 || static_cast<double>(static_cast<float>(cell.d)) != cell.d) break;
        out.set_r4(static_cast<float>(cell.d));
        size = 4;
        return true;
    case sql_cell_plan::real8:
        if (cell.kind != sql_cell::real8) break;
        if (cell.point != sql_cell::no_point) out.set_r8_digits(cell.d, cell.digits, static_cast<int>(cell.point));
        else out.set_r8(cell.d);
        size = 8;
        return true;
    case sql_cell_plan::decimal: {
        plat::decimal d;
        if (cell.kind != sql_cell::bytes || !plain_decimal(cell.data ? cell.data : "", cell.length, d)) break;
        out.set_decimal(d);
        size = static_cast<uint32_t>(cell.length);
        return true;
    }
    case sql_cell_plan::bits: {
        // Big-endian bytes, at most eight.
        if (cell.kind != sql_cell::bytes || cell.length > 8 || cell.text_owner || cell.bytes_owner) break;
        const auto* b = reinterpret_cast<const unsigned char*>(cell.data);
        uint64_t v = 0;
        for (unsigned long k = 0; k < cell.length; ++k) v = (v << 8) | b[k];
        if (!set_unsigned(out, rule.vartype, v)) break;
        size = static_cast<uint32_t>(cell.length);
        return true;
    }
    case sql_cell_plan::text:
        if (cell.kind != sql_cell::bytes || cell.text_owner) break;
        out.set_utf8_text(std::string_view(cell.data ? cell.data : "", cell.length));
        size = static_cast<uint32_t>(cell.length);
        return true;
    case sql_cell_plan::bytes:
        if (cell.kind != sql_cell::bytes || cell.bytes_owner) break;
        out.set_binary(reinterpret_cast<const uint8_t*>(cell.data ? cell.data : ""), cell.length);
        size = static_cast<uint32_t>(cell.length);
        return true;
    case sql_cell_plan::temporal: {
        ole_date d;
        if (cell.kind != sql_cell::temporal || !date_of_time(rule.kind, *cell.time, cell.decimals, d) ||
            !has_date_number(d))
            break;
        out.set_numbered_date(d);
        size = 8;
        return true;
    }
    default:
        // A plan is one of the above (sql_column_rule_for).
        __builtin_unreachable();
    }
    if (cell.kind == sql_cell::null) {
        out.clear();
        size = 0;
        return true;
    }
    return false;
}
