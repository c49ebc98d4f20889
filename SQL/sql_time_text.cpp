#include "sql_types.h"

namespace {

char* put_digits(char* o, unsigned v, int width) {
    char buf[12];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = n; i < width; ++i) *o++ = '0';
    while (n) *o++ = buf[--n];
    return o;
}

}  // namespace

size_t sql_temporal_text(enum_field_types type, unsigned int decimals, const MYSQL_TIME& t, char* out) {
    char* o = out;
    const bool with_date = type != MYSQL_TYPE_TIME;
    if (with_date) {
        o = put_digits(o, t.year, 4);
        *o++ = '-';
        o = put_digits(o, t.month, 2);
        *o++ = '-';
        o = put_digits(o, t.day, 2);
        if (type == MYSQL_TYPE_DATE) return static_cast<size_t>(o - out);
        *o++ = ' ';
    } else if (t.neg) {
        *o++ = '-';
    }
    // A TIME's days are in its hours already (up to 838).
    o = put_digits(o, t.hour, 2);
    *o++ = ':';
    o = put_digits(o, t.minute, 2);
    *o++ = ':';
    o = put_digits(o, t.second, 2);
    if (decimals > 0) {
        if (decimals > 6) decimals = 6;
        unsigned long fraction = t.second_part % 1000000;
        for (unsigned i = decimals; i < 6; ++i) fraction /= 10;
        *o++ = '.';
        o = put_digits(o, static_cast<unsigned>(fraction), static_cast<int>(decimals));
    }
    return static_cast<size_t>(o - out);
}
