// Cells of the binary protocol made by hand.
#pragma once
#include <cstdint>
#include <string>

#include "real_text.h"
#include "sql_types.h"

namespace sql_test {

inline sql_cell integer(int64_t v) {
    sql_cell c;
    c.kind = sql_cell::int64;
    c.i = v;
    return c;
}

inline sql_cell unsigned_integer(uint64_t v) {
    sql_cell c;
    c.kind = sql_cell::uint64;
    c.u = v;
    return c;
}

inline sql_cell real(double v) {
    sql_cell c;
    c.kind = sql_cell::real8;
    c.d = v;
    return c;
}

// A double with its shortest digits, as the receiving thread packs it.
inline sql_cell real_with_digits(double v) {
    sql_cell c = real(v);
    uint64_t digits = 0;
    int point = 0;
    if (plat::shortest_digits(v, digits, point)) {
        c.digits = digits;
        c.point = point;
    }
    return c;
}

// Points into v, which must outlive the cell.
inline sql_cell bytes(const std::string& v) {
    sql_cell c;
    c.kind = sql_cell::bytes;
    c.data = v.data();
    c.length = static_cast<unsigned long>(v.size());
    return c;
}

inline MYSQL_TIME make_time(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s,
                            unsigned long frac, bool neg, enum_mysql_timestamp_type type) {
    MYSQL_TIME t{};
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    t.second_part = frac;
    t.neg = neg;
    t.time_type = type;
    return t;
}

}  // namespace sql_test
