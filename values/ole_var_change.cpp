#include "ole_var.h"

#include <cmath>
#include <cstring>

#include "numbers.h"
#include "ole_var_help.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

// Whole number of a double, half away from zero, within [lo, hi]; false otherwise.
bool round_half_away(double v, double lo, double hi, int64_t& out) {
    if (std::isnan(v)) return false;
    double r = std::round(v);
    if (!(r >= lo && r <= hi)) return false;
    out = static_cast<int64_t>(r);
    return true;
}

// 8. Doubles and decimals to the smaller integers (VT_I1 only from a decimal:
// from a double it takes the general conversion).
bool rounds_to_small_integer(VARTYPE old, VARTYPE nt) {
    if (old == VT_DECIMAL) return nt == VT_I4 || nt == VT_I2 || nt == VT_UI2 || nt == VT_UI4 || nt == VT_I1;
    if (old == VT_R4 || old == VT_R8) return nt == VT_I4 || nt == VT_I2 || nt == VT_UI2 || nt == VT_UI4;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Type change

void ole_variant::change_type(VARTYPE nt) {
    // Conversions work on the wide form of a text.
    ensure_wide();
    utf8_held_ = false;
    const VARTYPE old = var_.vt;
    if (tk_log_wants(2)) tk_log(2, "ole_variant::change_type(old=%d,new=%d)", old, nt);

    // 1. Binary synonyms.
    if ((old == VT_BYTE_ARRAY && nt == VT_BLOB) || (old == VT_BLOB && nt == VT_BYTE_ARRAY)) {
        if (tk_log_wants(1)) tk_log(1, "Replace by synonym");
        var_.vt = nt;
        return;
    }
    // 2. Nothing to do.
    if (nt == old || old == VT_EMPTY || old == VT_NULL) return;
    // 3. Between binary kinds.
    if (binary_kind(old) && binary_kind(nt)) {
        if (tk_log_wants(1)) tk_log(1, "Type cannot be changed");
        return;
    }
    // 4. Text to boolean by the word table.
    if (old == VT_BSTR && nt == VT_BOOL) {
        std::string t = to_string();
        int w = bool_word(t);
        if (w < 0) throw ole_cast_exception();
        set_bool(w == 1);
        return;
    }
    // 5, 6. From the 64-bit side fields (to binary: the byte image below).
    if ((old == VT_I8 || old == VT_UI8) && !binary_kind(nt)) {
        change_from_64(nt);
        return;
    }
    // 7. To the 64-bit side fields.
    if (nt == VT_I8 || nt == VT_UI8) {
        change_to_64(nt);
        return;
    }
    // 8. Doubles and decimals to the smaller integers.
    if (rounds_to_small_integer(old, nt)) {
        change_to_small_integer(nt);
        return;
    }
    // 9. To a date: only from text.
    if (nt == VT_DATE) {
        if (old != VT_BSTR) throw ole_cast_exception();
        ole_date d(to_string());
        if (!d.is_valid()) throw ole_cast_exception();
        set_date(d);
        return;
    }
    // 10. The byte image of a value.
    if (binary_kind(nt) && !binary_kind(old)) {
        if (tk_log_wants(1)) tk_log(1, "a_type is binary, src.vt=%d", old);
        to_binary_image();
        var_.vt = nt;
        return;
    }
    // 11. Bytes as text.
    if (binary_kind(old)) {
        if (tk_log_wants(1)) tk_log(1, "src.vt is binary, a_type=%d", nt);
        if (nt == VT_BSTR) {
            binary_to_bstr();
            return;
        }
        throw ole_cast_exception();
    }
    // 12. From a date: only to text.
    if (old == VT_DATE) {
        if (nt != VT_BSTR) throw ole_cast_exception();
        attach_wstring(date_.to_wstring(6));
        return;
    }
    // 13. The general conversion; text in our own forms.
    if (nt == VT_BSTR) {
        std::wstring t = to_wstring();
        attach_wstring(t);
        return;
    }
    HRESULT hr = plat::variant_change_type(var_, nt);
    if (FAILED(hr)) {
        if (tk_log_wants(2)) {
            tk_log(2, "VariantChangeType failed");
            tk_log(2, "to_string()=%s", to_string().c_str());
        }
        throw ole_cast_exception();
    }
}

// 5, 6. From the 64-bit side fields to any type but the binary kinds.
void ole_variant::change_from_64(VARTYPE nt) {
    const VARTYPE old = var_.vt;
    const bool neg = old == VT_I8 && i8_ < 0;
    const uint64_t mag = old == VT_I8 ? (neg ? 0 - static_cast<uint64_t>(i8_) : static_cast<uint64_t>(i8_)) : ui8_;
    auto fits = [&](int64_t lo, uint64_t hi) {
        return neg ? mag <= (lo < 0 ? 0 - static_cast<uint64_t>(lo) : 0) : mag <= hi;
    };
    const int64_t sv = neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    switch (nt) {
    case VT_I2: if (!fits(INT16_MIN, INT16_MAX)) throw ole_cast_exception(); set_i2(static_cast<int16_t>(sv)); return;
    case VT_UI2: if (!fits(0, UINT16_MAX)) throw ole_cast_exception(); set_ui2(static_cast<uint16_t>(mag)); return;
    case VT_I4: if (!fits(INT32_MIN, INT32_MAX)) throw ole_cast_exception(); set_i4(static_cast<int32_t>(sv)); return;
    case VT_INT: if (!fits(INT32_MIN, INT32_MAX)) throw ole_cast_exception(); set_int(static_cast<int32_t>(sv)); return;
    case VT_UI4: if (!fits(0, UINT32_MAX)) throw ole_cast_exception(); set_ui4(static_cast<uint32_t>(mag)); return;
    case VT_UINT: if (!fits(0, UINT32_MAX)) throw ole_cast_exception(); set_uint(static_cast<uint32_t>(mag)); return;
    case VT_I1: if (!fits(INT8_MIN, INT8_MAX)) throw ole_cast_exception(); set_i1(static_cast<int8_t>(sv)); return;
    case VT_UI1: if (!fits(0, UINT8_MAX)) throw ole_cast_exception(); set_ui1(static_cast<uint8_t>(mag)); return;
    case VT_BOOL: set_bool(mag != 0); return;
    case VT_R4: set_r4(old == VT_I8 ? static_cast<float>(i8_) : static_cast<float>(ui8_)); return;
    case VT_R8: set_r8(old == VT_I8 ? static_cast<double>(i8_) : static_cast<double>(ui8_)); return;
    case VT_CY: {
        plat::currency c;
        HRESULT hr = old == VT_I8 ? plat::cy_from_i64(i8_, c) : plat::cy_from_u64(ui8_, c);
        if (FAILED(hr)) throw ole_cast_exception();
        set_cy(c);
        return;
    }
    case VT_BSTR: {
        std::string t;
        if (old == VT_I8) plat::append_int64(t, i8_);
        else plat::append_uint64(t, ui8_);
        attach_string(t);
        return;
    }
    case VT_DECIMAL:
        if (tk_log_wants(1)) tk_log(1, old == VT_I8 ? "VT_I8->VT_DECIMAL" : "VT_UI8->VT_DECIMAL");
        set_decimal(old == VT_I8 ? plat::dec_from_i64(i8_) : plat::dec_from_u64(ui8_));
        return;
    case VT_UI8:
        if (neg) throw ole_cast_exception();
        set_ui8(mag);
        return;
    case VT_I8:
        if (mag > static_cast<uint64_t>(INT64_MAX)) throw ole_cast_exception();
        set_i8(static_cast<int64_t>(mag));
        return;
    default:
        throw ole_cast_exception();
    }
}

// 7. To the 64-bit side fields.
void ole_variant::change_to_64(VARTYPE nt) {
    const VARTYPE old = var_.vt;
    const bool to_signed = nt == VT_I8;
    bool neg = false;
    uint64_t mag = 0;
    auto from_signed = [&](int64_t v) {
        neg = v < 0;
        mag = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    };
    switch (old) {
    case VT_I2: from_signed(var_.iVal); break;
    case VT_BOOL: from_signed(var_.boolVal); break;
    case VT_I4: from_signed(var_.lVal); break;
    case VT_INT: from_signed(var_.intVal); break;
    case VT_I1: from_signed(var_.cVal); break;
    case VT_UI1: mag = var_.bVal; break;
    case VT_UI2: mag = var_.uiVal; break;
    case VT_UI4: mag = var_.ulVal; break;
    case VT_UINT: mag = var_.uintVal; break;
    case VT_CY: from_signed(plat::cy_to_i64(var_.cyVal)); break;
    case VT_R4:
    case VT_R8: {
        const double v = old == VT_R4 ? static_cast<double>(var_.fltVal) : var_.dblVal;
        const double r = std::nearbyint(v);  // half to even
        const bool ok = to_signed ? (r >= -9223372036854775808.0 && r < 9223372036854775808.0)
                                  : (r > -1.0 && r < 18446744073709551616.0);
        if (tk_log_wants(1)) {
            const char* what = old == VT_R4 ? "FLOAT" : "DOUBLE";
            if (to_signed)
                tk_log(1, "from %s: res=%lld, hr=%08X", what, ok ? static_cast<long long>(r) : 0LL,
                       static_cast<unsigned>(ok ? S_OK : DISP_E_OVERFLOW));
            else
                tk_log(1, "from %s: res=%llu, hr=%08X", what, ok ? static_cast<unsigned long long>(r) : 0ULL,
                       static_cast<unsigned>(ok ? S_OK : DISP_E_OVERFLOW));
        }
        if (!ok) throw ole_cast_exception();
        if (to_signed) set_i8(static_cast<int64_t>(r));
        else set_ui8(static_cast<uint64_t>(r));
        return;
    }
    case VT_DECIMAL: {
        if (tk_log_wants(1)) tk_log(1, to_signed ? "VT_DECIMAL->VT_I8" : "VT_DECIMAL->VT_UI8");
        if (to_signed) {
            int64_t v;
            if (FAILED(plat::dec_to_i64(var_.decVal, v))) throw ole_cast_exception();
            set_i8(v);
        } else {
            uint64_t v;
            if (FAILED(plat::dec_to_u64(var_.decVal, v))) throw ole_cast_exception();
            set_ui8(v);
        }
        return;
    }
    default:
        throw ole_cast_exception();
    }
    if (to_signed) {
        if (!neg && mag > static_cast<uint64_t>(INT64_MAX)) throw ole_cast_exception();
        set_i8(neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag));
    } else {
        if (neg) throw ole_cast_exception();
        set_ui8(mag);
    }
}

// 8. Doubles and decimals to the smaller integers.
void ole_variant::change_to_small_integer(VARTYPE nt) {
    const VARTYPE old = var_.vt;
    double lo = 0, hi = 0;
    switch (nt) {
    case VT_I4: lo = INT32_MIN; hi = INT32_MAX; break;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; break;
    case VT_UI2: lo = 0; hi = UINT16_MAX; break;
    case VT_UI4: lo = 0; hi = UINT32_MAX; break;
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; break;
    default: break;
    }
    int64_t v = 0;
    if (old == VT_DECIMAL) {
        if (tk_log_wants(1)) tk_log(1, "VT_DECIMAL->VT_I4");
        if (FAILED(plat::dec_to_i64(var_.decVal, v)) || v < lo || v > hi) throw ole_cast_exception();
    } else {
        const double d = old == VT_R4 ? static_cast<double>(var_.fltVal) : var_.dblVal;
        if (!round_half_away(d, lo, hi, v)) throw ole_cast_exception();
    }
    switch (nt) {
    case VT_I4: set_i4(static_cast<int32_t>(v)); break;
    case VT_I2: set_i2(static_cast<int16_t>(v)); break;
    case VT_UI2: set_ui2(static_cast<uint16_t>(v)); break;
    case VT_UI4: set_ui4(static_cast<uint32_t>(v)); break;
    case VT_I1: set_i1(static_cast<int8_t>(v)); break;
    default: break;
    }
}

void ole_variant::to_binary_image() {
    uint8_t buf[32];
    size_t n = 0;
    switch (var_.vt) {
    case VT_I2: case VT_BOOL: case VT_UI2: n = 2; std::memcpy(buf, &var_.iVal, 2); break;
    case VT_I4: case VT_R4: case VT_UI4: case VT_INT: case VT_UINT: n = 4; std::memcpy(buf, &var_.lVal, 4); break;
    case VT_R8: case VT_CY: n = 8; std::memcpy(buf, &var_.llVal, 8); break;
    case VT_I8: n = 8; std::memcpy(buf, &i8_, 8); break;
    case VT_UI8: n = 8; std::memcpy(buf, &ui8_, 8); break;
    case VT_DECIMAL: {
        plat::decimal d = var_.decVal;
        d.reserved = VT_DECIMAL;
        n = 16;
        std::memcpy(buf, &d.reserved, 2);
        buf[2] = d.scale;
        buf[3] = d.sign;
        std::memcpy(buf + 4, &d.hi32, 4);
        std::memcpy(buf + 8, &d.lo64, 8);
        break;
    }
    case VT_DATE: {
        // kind, zone, midnight flag, microseconds, then the eight 16-bit time fields
        n = 32;
        std::memcpy(buf, &date_.kind, 4);
        std::memcpy(buf + 4, &date_.zone, 4);
        std::memcpy(buf + 8, &date_.midnight_as_date, 4);
        std::memcpy(buf + 12, &date_.microseconds, 4);
        const uint16_t f[8] = {date_.time.year, date_.time.month, date_.time.day_of_week, date_.time.day,
                               date_.time.hour, date_.time.minute, date_.time.second, date_.time.milliseconds};
        std::memcpy(buf + 16, f, 16);
        break;
    }
    case VT_I1: case VT_UI1: n = 1; buf[0] = var_.bVal; break;
    case VT_BSTR: {
        if (tk_log_wants(1)) tk_log(1, "VT_BSTR->binary");
        std::string t;
        size_t z = var_.bstrVal.find(L'\0');
        plat::utf8_encode_append(t, std::wstring_view(var_.bstrVal).substr(0, z));
        if (tk_log_wants(1)) tk_log(1, "char_buf=%s", t.c_str());
        attach_binary(reinterpret_cast<const uint8_t*>(t.data()), t.size());
        return;
    }
    default:
        throw ole_cast_exception();
    }
    attach_binary(buf, n);
}

void ole_variant::binary_to_bstr() {
    const auto& data = var_.parray.data;
    size_t n = var_.parray.dims == 1 ? data.size() : 0;
    if (n > binary_text_cap) n = binary_text_cap;
    const void* z = n ? std::memchr(data.data(), 0, n) : nullptr;
    if (z) n = static_cast<size_t>(static_cast<const uint8_t*>(z) - data.data());
    if (tk_log_wants(1)) tk_log(1, "ole_variant::operator = (const BSTR)");
    std::wstring text;
    plat::utf8_decode_append(text, std::string_view(reinterpret_cast<const char*>(data.data()), n));
    reset_var();
    var_.vt = VT_BSTR;
    var_.bstrVal.swap(text);
}
