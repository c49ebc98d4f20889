#include "variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "numbers.h"
#include "real_text.h"
#include "utf8.h"
#include "vardate.h"

namespace plat {

bool is_binary_type(VARTYPE vt) { return vt == VT_BYTE_ARRAY || vt == VT_BLOB || vt == VT_BLOB_OBJECT; }

void variant_copy(variant& dst, const variant& src) {
    if (&dst == &src) return;
    dst.vt = src.vt;
    dst.llVal = src.llVal;  // the widest member of the union
    dst.decVal = src.decVal;
    if (src.vt == VT_BSTR) dst.bstrVal.assign(src.bstrVal);
    else dst.bstrVal.clear();
    if (is_binary_type(src.vt)) {
        dst.parray.lower_bound = src.parray.lower_bound;
        dst.parray.dims = src.parray.dims;
        dst.parray.data.assign(src.parray.data.begin(), src.parray.data.end());
    } else {
        dst.parray.data.clear();
    }
}

namespace {

// A scalar value in one of the forms the conversions go through.
struct number {
    enum kind_t { sint, uint, real, cy, dec } kind = sint;
    int64_t s = 0;
    uint64_t u = 0;
    double r = 0;
    currency c;
    decimal d;
};

HRESULT read_number(const variant& v, number& n) {
    switch (v.vt) {
    case VT_EMPTY: n.kind = number::sint; n.s = 0; return S_OK;
    case VT_I1: n.kind = number::sint; n.s = v.cVal; return S_OK;
    case VT_I2: n.kind = number::sint; n.s = v.iVal; return S_OK;
    case VT_I4: n.kind = number::sint; n.s = v.lVal; return S_OK;
    case VT_INT: n.kind = number::sint; n.s = v.intVal; return S_OK;
    case VT_I8: n.kind = number::sint; n.s = v.llVal; return S_OK;
    case VT_BOOL: n.kind = number::sint; n.s = v.boolVal ? -1 : 0; return S_OK;
    case VT_UI1: n.kind = number::uint; n.u = v.bVal; return S_OK;
    case VT_UI2: n.kind = number::uint; n.u = v.uiVal; return S_OK;
    case VT_UI4: n.kind = number::uint; n.u = v.ulVal; return S_OK;
    case VT_UINT: n.kind = number::uint; n.u = v.uintVal; return S_OK;
    case VT_UI8: n.kind = number::uint; n.u = v.ullVal; return S_OK;
    case VT_R4: n.kind = number::real; n.r = v.fltVal; return S_OK;
    case VT_R8: n.kind = number::real; n.r = v.dblVal; return S_OK;
    case VT_DATE: n.kind = number::real; n.r = v.date; return S_OK;
    case VT_CY: n.kind = number::cy; n.c = v.cyVal; return S_OK;
    case VT_DECIMAL: n.kind = number::dec; n.d = v.decVal; return S_OK;
    case VT_BSTR: {
        std::string t = utf8_encode(v.bstrVal);
        n.kind = number::dec;
        HRESULT hr = dec_from_text(t, n.d);
        if (hr == DISP_E_OVERFLOW) {
            // Beyond the decimal range: still a number, as a double.
            auto dv = parse_double_prefix(t);
            n.kind = number::real;
            n.r = dv;
            return S_OK;
        }
        return hr;
    }
    case VT_NULL: return DISP_E_TYPEMISMATCH;
    default: return DISP_E_BADVARTYPE;
    }
}

// Whole-number forms: signed and unsigned, with a flag for the sign.
HRESULT to_integer(const number& n, bool& negative, uint64_t& mag) {
    switch (n.kind) {
    case number::sint:
        negative = n.s < 0;
        mag = negative ? 0 - static_cast<uint64_t>(n.s) : static_cast<uint64_t>(n.s);
        return S_OK;
    case number::uint: negative = false; mag = n.u; return S_OK;
    case number::real: {
        if (std::isnan(n.r)) return DISP_E_OVERFLOW;
        double r = std::nearbyint(n.r);  // half to even
        if (!(r > -18446744073709551616.0 && r < 18446744073709551616.0)) return DISP_E_OVERFLOW;
        negative = r < 0;
        mag = static_cast<uint64_t>(std::fabs(r));
        return S_OK;
    }
    case number::cy: {
        int64_t i = cy_to_i64(n.c);
        negative = i < 0;
        mag = negative ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
        return S_OK;
    }
    case number::dec: {
        decimal a = n.d;
        bool neg = (a.sign & DECIMAL_NEG) != 0;
        a.sign = 0;
        uint64_t m;
        HRESULT hr = dec_to_u64(a, m);
        if (FAILED(hr)) return hr;
        negative = neg && m != 0;
        mag = m;
        return S_OK;
    }
    }
    return DISP_E_BADVARTYPE;
}

HRESULT in_range(bool negative, uint64_t mag, int64_t lo, uint64_t hi) {
    if (negative) {
        uint64_t lim = lo < 0 ? 0 - static_cast<uint64_t>(lo) : 0;
        return mag <= lim ? S_OK : DISP_E_OVERFLOW;
    }
    return mag <= hi ? S_OK : DISP_E_OVERFLOW;
}

int64_t signed_of(bool negative, uint64_t mag) {
    return negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
}

double real_of(const number& n) {
    switch (n.kind) {
    case number::sint: return static_cast<double>(n.s);
    case number::uint: return static_cast<double>(n.u);
    case number::real: return n.r;
    case number::cy: return cy_to_r8(n.c);
    case number::dec: return dec_to_r8(n.d);
    }
    return 0;
}

bool is_zero(const number& n) {
    switch (n.kind) {
    case number::sint: return n.s == 0;
    case number::uint: return n.u == 0;
    case number::real: return n.r == 0;
    case number::cy: return n.c.int64 == 0;
    case number::dec: return n.d.is_zero();
    }
    return true;
}

bool is_integer_type(VARTYPE t) {
    switch (t) {
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8:
        return true;
    default:
        return false;
    }
}

bool nocase_equal(std::wstring_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = a[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        if (c != static_cast<unsigned char>(b[i])) return false;
    }
    return true;
}

std::wstring_view trim_blanks(std::wstring_view s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
    return s;
}

void append_2(std::string& out, unsigned v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

}  // namespace

bool variant_append_number_text(std::string& out, const variant& v) {
    switch (v.vt) {
    case VT_I1: append_int64(out, v.cVal); return true;
    case VT_I2: append_int64(out, v.iVal); return true;
    case VT_I4: append_int64(out, v.lVal); return true;
    case VT_INT: append_int64(out, v.intVal); return true;
    case VT_I8: append_int64(out, v.llVal); return true;
    case VT_UI1: append_uint64(out, v.bVal); return true;
    case VT_UI2: append_uint64(out, v.uiVal); return true;
    case VT_UI4: append_uint64(out, v.ulVal); return true;
    case VT_UINT: append_uint64(out, v.uintVal); return true;
    case VT_UI8: append_uint64(out, v.ullVal); return true;
    case VT_R4: append_float(out, v.fltVal); return true;
    case VT_R8: append_double(out, v.dblVal); return true;
    case VT_CY: cy_append_text(out, v.cyVal); return true;
    case VT_DECIMAL: dec_append_text(out, v.decVal); return true;
    case VT_BOOL: out += v.boolVal ? "-1" : "0"; return true;
    default: return false;
    }
}

HRESULT variant_change_type(variant& v, VARTYPE to) {
    if (v.vt == to) return S_OK;
    if (to == VT_EMPTY) { variant_clear(v); return S_OK; }
    if (to == VT_NULL) { variant_clear(v); v.vt = VT_NULL; return S_OK; }
    if (is_binary_type(v.vt) || is_binary_type(to) || (v.vt & (VT_ARRAY | VT_BYREF)) || (to & (VT_ARRAY | VT_BYREF)))
        return DISP_E_BADVARTYPE;

    if (to == VT_BSTR) {
        std::string t;
        if (v.vt == VT_DATE) {
            systemtime st;
            if (!variant_time_to_system_time(v.date, st)) return DISP_E_OVERFLOW;
            bool has_date = !(st.year == 1899 && st.month == 12 && st.day == 30);
            bool has_time = st.hour || st.minute || st.second;
            if (has_date || !has_time) {
                append_int64(t, st.year); t += '-'; append_2(t, st.month); t += '-'; append_2(t, st.day);
            }
            if (has_time) {
                if (!t.empty()) t += ' ';
                append_2(t, st.hour); t += ':'; append_2(t, st.minute); t += ':'; append_2(t, st.second);
            }
        } else if (v.vt == VT_EMPTY) {
        } else if (v.vt == VT_NULL) {
            return DISP_E_TYPEMISMATCH;
        } else if (!variant_append_number_text(t, v)) {
            return DISP_E_BADVARTYPE;
        }
        v.bstrVal.clear();
        utf8_decode_append(v.bstrVal, t);
        v.vt = VT_BSTR;
        return S_OK;
    }

    if (to == VT_BOOL && v.vt == VT_BSTR) {
        std::wstring_view t = trim_blanks(v.bstrVal);
        if (nocase_equal(t, "true")) { v.boolVal = VARIANT_TRUE; v.vt = VT_BOOL; v.bstrVal.clear(); return S_OK; }
        if (nocase_equal(t, "false")) { v.boolVal = VARIANT_FALSE; v.vt = VT_BOOL; v.bstrVal.clear(); return S_OK; }
    }
    if (to == VT_DATE && v.vt == VT_BSTR) {
        double d;
        HRESULT hr = date_from_text(v.bstrVal, d);
        if (FAILED(hr)) {
            // A number text is a date number.
            number n;
            if (FAILED(read_number(v, n))) return hr;
            d = real_of(n);
            if (!(d >= -657434.0 && d < 2958466.0)) return DISP_E_OVERFLOW;
        }
        v.bstrVal.clear();
        v.date = d;
        v.vt = VT_DATE;
        return S_OK;
    }

    number n;
    HRESULT hr = read_number(v, n);
    if (FAILED(hr)) return hr;

    variant r;
    r.vt = to;
    if (is_integer_type(to)) {
        bool neg;
        uint64_t mag;
        hr = to_integer(n, neg, mag);
        if (FAILED(hr)) return hr;
        switch (to) {
        case VT_I1: hr = in_range(neg, mag, INT8_MIN, INT8_MAX); r.cVal = static_cast<int8_t>(signed_of(neg, mag)); break;
        case VT_I2: hr = in_range(neg, mag, INT16_MIN, INT16_MAX); r.iVal = static_cast<int16_t>(signed_of(neg, mag)); break;
        case VT_I4: hr = in_range(neg, mag, INT32_MIN, INT32_MAX); r.lVal = static_cast<int32_t>(signed_of(neg, mag)); break;
        case VT_INT: hr = in_range(neg, mag, INT32_MIN, INT32_MAX); r.intVal = static_cast<int32_t>(signed_of(neg, mag)); break;
        case VT_I8: hr = in_range(neg, mag, INT64_MIN, INT64_MAX); r.llVal = signed_of(neg, mag); break;
        case VT_UI1: hr = in_range(neg, mag, 0, UINT8_MAX); r.bVal = static_cast<uint8_t>(mag); break;
        case VT_UI2: hr = in_range(neg, mag, 0, UINT16_MAX); r.uiVal = static_cast<uint16_t>(mag); break;
        case VT_UI4: hr = in_range(neg, mag, 0, UINT32_MAX); r.ulVal = static_cast<uint32_t>(mag); break;
        case VT_UINT: hr = in_range(neg, mag, 0, UINT32_MAX); r.uintVal = static_cast<uint32_t>(mag); break;
        case VT_UI8: hr = in_range(neg, mag, 0, UINT64_MAX); r.ullVal = mag; break;
        default: break;
        }
        if (FAILED(hr)) return hr;
    } else {
        switch (to) {
        case VT_R4: {
            double d = real_of(n);
            if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
                return DISP_E_OVERFLOW;
            r.fltVal = static_cast<float>(d);
            break;
        }
        case VT_R8: r.dblVal = real_of(n); break;
        case VT_DATE: {
            double d = real_of(n);
            if (!(d >= -657434.0 && d < 2958466.0)) return DISP_E_OVERFLOW;
            r.date = d;
            break;
        }
        case VT_BOOL: r.boolVal = is_zero(n) ? VARIANT_FALSE : VARIANT_TRUE; break;
        case VT_CY:
            switch (n.kind) {
            case number::sint: hr = cy_from_i64(n.s, r.cyVal); break;
            case number::uint: hr = cy_from_u64(n.u, r.cyVal); break;
            case number::real: hr = cy_from_r8(n.r, r.cyVal); break;
            case number::cy: r.cyVal = n.c; break;
            case number::dec: hr = dec_to_cy(n.d, r.cyVal); break;
            }
            break;
        case VT_DECIMAL:
            switch (n.kind) {
            case number::sint: r.decVal = dec_from_i64(n.s); break;
            case number::uint: r.decVal = dec_from_u64(n.u); break;
            case number::real: hr = dec_from_r8(n.r, r.decVal); break;
            case number::cy: r.decVal = dec_from_cy(n.c); break;
            case number::dec: r.decVal = n.d; break;
            }
            break;
        default:
            return DISP_E_BADVARTYPE;
        }
        if (FAILED(hr)) return hr;
    }
    // Keep v's containers (and their capacity); take the scalar result.
    v.bstrVal.clear();
    v.vt = r.vt;
    v.llVal = r.llVal;
    v.decVal = r.decVal;
    return S_OK;
}

}  // namespace plat
