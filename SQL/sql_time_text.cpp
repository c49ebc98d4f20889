#include "numbers.h"
#include "sql_types.h"

size_t sql_temporal_text(enum_field_types type, unsigned int decimals, const MYSQL_TIME& t, char* out) {
    char* o = out;
    const bool with_date = type != MYSQL_TYPE_TIME;
    if (with_date) {
        o = plat::put_zero_padded(o, t.year, 4);
        *o++ = '-';
        o = plat::put_zero_padded(o, t.month, 2);
        *o++ = '-';
        o = plat::put_zero_padded(o, t.day, 2);
        if (type == MYSQL_TYPE_DATE) return static_cast<size_t>(o - out);
        *o++ = ' ';
    } else if (t.neg) {
        *o++ = '-';
    }
    // A TIME's days are in its hours already (up to 838).
    o = plat::put_zero_padded(o, t.hour, 2);
    *o++ = ':';
    o = plat::put_zero_padded(o, t.minute, 2);
    *o++ = ':';
    o = plat::put_zero_padded(o, t.second, 2);
    if (decimals > 0) {
        if (decimals > 6) decimals = 6;
        unsigned long fraction = t.second_part % 1000000;
        for (unsigned i = decimals; i < 6; ++i) fraction /= 10;
        *o++ = '.';
        o = plat::put_zero_padded(o, static_cast<unsigned>(fraction), decimals);
    }
    return static_cast<size_t>(o - out);
}
