#include "ole_var.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "numbers.h"
#include "ole_var_help.h"
#include "real_text.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

// The two upper-case hex digits of every byte value.
struct hex_pairs {
    char t[512];
    constexpr hex_pairs() : t() {
        for (int b = 0; b < 256; ++b) {
            t[2 * b] = hex_upper[b >> 4];
            t[2 * b + 1] = hex_upper[b & 0x0F];
        }
    }
};
constexpr hex_pairs byte_hex;

void append_hex_only(std::string& out, const uint8_t* p, size_t n) {
    const size_t at = out.size();
    out.resize(at + 2 * n);
    char* o = out.data() + at;
    for (size_t i = 0; i < n; ++i, o += 2) std::memcpy(o, byte_hex.t + 2 * p[i], 2);
}

void append_hex(std::string& out, const uint8_t* p, uint32_t n) {
    out += "0x";
    append_hex_only(out, p, n);
}

// Out of line: the short cases of put_short_cell keep no saved registers.
[[gnu::noinline]] char* put_unsigned64(char* o, uint64_t v) { return plat::put_unsigned(o, v); }

// Decimal digits of an integer, a minus first when it is negative.
template <class T>
char* put_integer(char* o, T v) {
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(v);
    if (v < 0) {
        *o++ = '-';
        u = static_cast<U>(0 - u);
    }
    if constexpr (sizeof(U) <= 4) return plat::put_unsigned32(o, u);
    else return put_unsigned64(o, u);
}

template <class T>
void append_integer(std::string& out, T v) {
    char buf[24];
    out.append(buf, static_cast<size_t>(put_integer(buf, v) - buf));
}

}  // namespace

// ---------------------------------------------------------------------------
// Text forms

void ole_variant::append_utf8_text(std::string& out) const {
    switch (var_.vt) {
    case VT_BYTE_ARRAY:
    case VT_BLOB:
    case VT_BLOB_OBJECT: {
        if (var_.parray.dims != 1) return;
        uint32_t n = var_.parray.size();
        if (n == 0) return;
        if (n > binary_text_cap) n = binary_text_cap;
        append_hex(out, var_.parray.data.data(), n);
        return;
    }
    case VT_DATE:
        date_.append_text(out, 6, false);
        return;
    case VT_CY:
        plat::cy_append_text(out, var_.cyVal);
        return;
    case VT_DECIMAL:
        plat::dec_append_text(out, var_.decVal);
        return;
    case VT_BSTR: {
        ensure_checked();
        if (utf8_held_) {
            out.append(utf8_.data(), utf8_text_);
            return;
        }
        std::wstring_view s = var_.bstrVal;
        size_t z = s.find(L'\0');
        if (z != std::wstring_view::npos) s = s.substr(0, z);
        plat::utf8_encode_append(out, s);
        return;
    }
    case VT_BOOL:
        if (ms_bool_mode()) out += var_.boolVal ? "-1" : "0";
        else out += var_.boolVal ? '1' : '0';
        return;
    case VT_R8:
        if (std::isnan(var_.dblVal)) {
            if (tk_log_wants(3)) tk_log(3, "Got NaN, replace it with 0");
            out += '0';
        } else {
            char buf[plat::real_text_room];
            out.append(buf, put_r8(buf));
        }
        return;
    case VT_R4: plat::append_float(out, var_.fltVal); return;
    case VT_I2: append_integer(out, var_.iVal); return;
    case VT_I1: append_integer(out, var_.cVal); return;
    case VT_I4: append_integer(out, var_.lVal); return;
    case VT_INT: append_integer(out, var_.intVal); return;
    case VT_UI1: append_integer(out, var_.bVal); return;
    case VT_UI2: append_integer(out, var_.uiVal); return;
    case VT_UI4: append_integer(out, var_.ulVal); return;
    case VT_UINT: append_integer(out, var_.uintVal); return;
    case VT_I8: append_integer(out, i8_); return;
    case VT_UI8: append_integer(out, ui8_); return;
    default:
        return;
    }
}

size_t ole_variant::hex_text_bytes() const {
    switch (var_.vt) {
    case VT_BYTE_ARRAY:
    case VT_BLOB:
    case VT_BLOB_OBJECT:
        if (var_.parray.dims != 1) return 0;
        return var_.parray.size() > binary_text_cap ? binary_text_cap : var_.parray.size();
    default:
        return 0;
    }
}

void ole_variant::append_hex_digits(std::string& out, size_t first, size_t count) const {
    const size_t n = hex_text_bytes();
    if (first >= n) return;
    if (count > n - first) count = n - first;
    append_hex_only(out, var_.parray.data.data() + first, count);
}

namespace {

// At least two digits of v.
char* put_two(char* o, unsigned v) {
    if (v >= 100) return plat::put_zero_padded(o, v, 2);
    return plat::put_two_digits(o, v);
}

// ".ffffff" cut to that many digits (0 to 6): the fraction of a second.
char* put_fraction(char* o, uint32_t microseconds, unsigned digits) {
    if (digits == 0) return o;
    if (digits > 6) digits = 6;
    uint32_t f = microseconds % 1000000;
    for (unsigned i = digits; i < 6; ++i) f /= 10;
    *o++ = '.';
    for (unsigned i = digits; i > 0; --i) {
        o[i - 1] = static_cast<char>('0' + f % 10);
        f /= 10;
    }
    return o + digits;
}

// Any field values: wider fields get more digits.
[[gnu::noinline]] char* put_server_date_wide(char* o, const ole_date& d) {
    const unsigned year = d.time.year;
    if (year < 10000) {
        plat::put_two_digits(o, year / 100);
        o = plat::put_two_digits(o + 2, year % 100);
    } else {
        o = plat::put_zero_padded(o, year, 4);
    }
    *o++ = '-';
    o = put_two(o, d.time.month);
    *o++ = '-';
    return put_two(o, d.time.day);
}

char* put_server_date(char* o, const ole_date& d) {
    const unsigned year = d.time.year, month = d.time.month, day = d.time.day;
    if (year >= 10000 || month >= 100 || day >= 100) return put_server_date_wide(o, d);
    const unsigned century = year / 100;
    plat::put_two_digits(o, century);
    plat::put_two_digits(o + 2, year - century * 100);
    o[4] = '-';
    plat::put_two_digits(o + 5, month);
    o[7] = '-';
    plat::put_two_digits(o + 8, day);
    return o + 10;
}

char* put_server_clock(char* o, const ole_date& d, unsigned digits) {
    const unsigned hour = d.time.hour, minute = d.time.minute, second = d.time.second;
    if (hour < 100 && minute < 100 && second < 100) {
        plat::put_two_digits(o, hour);
        o[2] = ':';
        plat::put_two_digits(o + 3, minute);
        o[5] = ':';
        plat::put_two_digits(o + 6, second);
        o += 8;
    } else {
        o = put_two(o, hour);
        *o++ = ':';
        o = put_two(o, minute);
        *o++ = ':';
        o = put_two(o, second);
    }
    return put_fraction(o, d.microseconds, digits);
}

// Out of line, as put_unsigned64.
[[gnu::noinline]] char* put_server_date_time(char* o, const ole_date& d, unsigned digits) {
    o = put_server_date(o, d);
    *o++ = ' ';
    return put_server_clock(o, d, digits);
}

}  // namespace

char* ole_variant::put_short_cell(char* o, ole_text_form form) const {
    switch (var_.vt) {
    case VT_EMPTY:
    case VT_NULL: return o;
    case VT_I1: return put_integer(o, var_.cVal);
    case VT_I2: return put_integer(o, var_.iVal);
    case VT_I4: return put_integer(o, var_.lVal);
    case VT_INT: return put_integer(o, var_.intVal);
    case VT_UI1: return put_integer(o, var_.bVal);
    case VT_UI2: return put_integer(o, var_.uiVal);
    case VT_UI4: return put_integer(o, var_.ulVal);
    case VT_UINT: return put_integer(o, var_.uintVal);
    case VT_I8: return put_integer(o, i8_);
    case VT_UI8: return put_integer(o, ui8_);
    case VT_DATE:
        // At most 5 + 1 + 5 + 1 + 5 date digits and signs, a blank, 5 + 1 + 5
        // + 1 + 5 clock digits and signs and 7 of the fraction.
        switch (form.kind) {
        case ole_text_form::date: return put_server_date(o, date_);
        case ole_text_form::datetime: return put_server_date_time(o, date_, form.digits);
        case ole_text_form::time:
            if (date_.negative) *o++ = '-';
            return put_server_clock(o, date_, form.digits);
        default: return nullptr;
        }
    case VT_DECIMAL:
        // The exact digits, then the column's scale in full.
        return form.kind == ole_text_form::decimal ? plat::dec_put_fixed(o, var_.decVal, form.digits) : nullptr;
    case VT_BYTE_ARRAY:
    case VT_BLOB:
    case VT_BLOB_OBJECT: {
        // "0x" and two hex digits a byte; nothing for no bytes.
        const size_t n = hex_text_bytes();
        if (n > (short_cell_room - 2) / 2) return nullptr;
        if (n == 0) return o;
        const uint8_t* p = var_.parray.data.data();
        *o++ = '0';
        *o++ = 'x';
        for (size_t i = 0; i < n; ++i, o += 2) std::memcpy(o, byte_hex.t + 2 * p[i], 2);
        return o;
    }
    case VT_R4: return plat::put_float(o, var_.fltVal);
    case VT_R8: return std::isnan(var_.dblVal) ? nullptr : put_r8(o);  // a NaN is written as 0, and logged
    default: return nullptr;
    }
}

static_assert(plat::real_text_room <= ole_variant::short_cell_room);

char* ole_variant::put_r8(char* o) const {
    uint64_t bits;
    std::memcpy(&bits, &var_.dblVal, sizeof bits);
    if (bits == r8_digits_of_ && bits != 0) return plat::put_double_digits(o, var_.dblVal, r8_digits_, r8_point_);
    return plat::put_double(o, var_.dblVal);
}

void ole_variant::append_utf8_cell(std::string& out, ole_text_form form) const {
    switch (var_.vt) {
    case VT_BSTR:
        ensure_checked();
        if (utf8_held_) {
            out.append(utf8_);
            return;
        }
        plat::utf8_encode_append(out, var_.bstrVal);
        return;
    case VT_DECIMAL:
        if (form.kind == ole_text_form::decimal) {
            plat::dec_append_fixed(out, var_.decVal, form.digits);
            return;
        }
        break;
    default: {
        char buf[short_cell_room];
        if (const char* end = put_short_cell(buf, form)) {
            out.append(buf, static_cast<size_t>(end - buf));
            return;
        }
        break;
    }
    }
    append_utf8_text(out);
}

std::string ole_variant::to_string() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_string (vt=%08X)", static_cast<unsigned>(var_.vt));
    std::string s;
    append_utf8_text(s);
    return s;
}

void ole_variant::append_wtext(std::wstring& out) const {
    if (var_.vt == VT_BSTR) {
        ensure_wide();
        std::wstring_view s = var_.bstrVal;
        size_t z = s.find(L'\0');
        out.append(z == std::wstring_view::npos ? s : s.substr(0, z));
        return;
    }
    std::string t;
    append_utf8_text(t);
    plat::utf8_decode_append(out, t);
}

std::wstring ole_variant::to_wstring() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_wstring (vt=%08X)", static_cast<unsigned>(var_.vt));
    std::wstring w;
    append_wtext(w);
    return w;
}
