// Cells of the binary protocol made by hand.
#pragma once
#include <cstdint>
#include <string>

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

// Points into v, which must outlive the cell.
inline sql_cell bytes(const std::string& v) {
    sql_cell c;
    c.kind = sql_cell::bytes;
    c.data = v.data();
    c.length = static_cast<unsigned long>(v.size());
    return c;
}

}  // namespace sql_test
