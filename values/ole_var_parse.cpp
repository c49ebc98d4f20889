#include "ole_var.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <type_traits>

#include "numbers.h"
#include "ole_var_help.h"
#include "real_text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// atoi / _atoi64: blanks, sign, digits; saturates instead of overflowing.
int64_t parse_int_prefix(std::string_view s, bool* any = nullptr) {
    size_t p = 0;
    while (p < s.size() && is_space(s[p])) ++p;
    bool neg = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) { neg = s[p] == '-'; ++p; }
    uint64_t v = 0;
    bool digits = false, over = false;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        digits = true;
        unsigned d = static_cast<unsigned>(s[p] - '0');
        if (v > (UINT64_MAX - d) / 10) over = true;
        else v = v * 10 + d;
        ++p;
    }
    if (any) *any = digits;
    if (neg) {
        if (over || v > static_cast<uint64_t>(INT64_MAX) + 1) return INT64_MIN;
        return static_cast<int64_t>(0 - v);
    }
    if (over || v > static_cast<uint64_t>(INT64_MAX)) return INT64_MAX;
    return static_cast<int64_t>(v);
}

// sscanf "%u" / "%I64u": like strtoul, a minus negates, overflow saturates.
uint64_t parse_uint_prefix(std::string_view s, uint64_t max, bool& any) {
    size_t p = 0;
    while (p < s.size() && is_space(s[p])) ++p;
    bool neg = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) { neg = s[p] == '-'; ++p; }
    uint64_t v = 0;
    bool over = false;
    any = false;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        any = true;
        unsigned d = static_cast<unsigned>(s[p] - '0');
        if (v > (UINT64_MAX - d) / 10) over = true;
        else v = v * 10 + d;
        ++p;
    }
    if (over || v > max) return max;
    return neg ? (0 - v) & max : v;
}

int32_t clamp_i32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Text with every comma made a point, in a reusable buffer.
std::string_view commas_to_points(std::string_view text, std::string& buf) {
    if (text.find(',') == std::string_view::npos) return text;
    buf.assign(text);
    for (char& c : buf)
        if (c == ',') c = '.';
    return buf;
}

int hex_value(unsigned c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parsing

ole_variant ole_variant::from_string(std::string_view text, VARTYPE type) {
    ole_variant v;
    v.assign_from_string(text, type);
    return v;
}

ole_variant ole_variant::from_wstring(std::wstring_view text, VARTYPE type) {
    ole_variant v;
    v.assign_from_wstring(text, type);
    return v;
}

void ole_variant::assign_from_wstring(std::wstring_view text, VARTYPE type) {
    if (tk_log_wants(1)) tk_wlog(1, L"ole_variant::from_wstring(%s,%d)", std::wstring(text).c_str(), type);
    if (type == VT_BYTE_ARRAY || type == VT_BLOB) {
        hex_parse_wide(text, type);
        return;
    }
    if (type == VT_BSTR) {
        if (tk_log_wants(1)) tk_log(1, "Construct ole_variant from BSTR");
        size_t z = text.find(L'\0');
        attach_wstring(z == std::wstring_view::npos ? text : text.substr(0, z));
        return;
    }
    if (tk_log_wants(1)) tk_log(1, "=== RIGHT BEFORE W2A_EX ===");
    std::string narrow;
    plat::utf8_encode_append(narrow, text);
    assign_from_string(narrow, type);
}

void ole_variant::assign_from_string(std::string_view text, VARTYPE type) {
    if (tk_log_wants(1))
        tk_log(1, "ole_variant::from_string('%.*s', 0x%08X)", static_cast<int>(text.size()), text.data(),
               static_cast<unsigned>(type));
    if (text.empty() && type != VT_BSTR) {
        clear();
        return;
    }
    std::string scratch;
    switch (type) {
    case VT_I2: set_i2(static_cast<int16_t>(parse_int_prefix(text))); return;
    case VT_UI2: set_ui2(static_cast<uint16_t>(parse_int_prefix(text))); return;
    case VT_I4: set_i4(clamp_i32(parse_int_prefix(text))); return;
    case VT_I1: set_i1(static_cast<int8_t>(parse_int_prefix(text))); return;
    case VT_UI1: set_ui1(static_cast<uint8_t>(parse_int_prefix(text))); return;
    case VT_UI4: {
        bool any;
        uint64_t v = parse_uint_prefix(text, UINT32_MAX, any);
        set_ui4(any ? static_cast<uint32_t>(v) : 0);
        return;
    }
    case VT_I8: set_i8(parse_int_prefix(text)); return;
    case VT_UI8: {
        bool any;
        uint64_t v = parse_uint_prefix(text, UINT64_MAX, any);
        set_ui8(any ? v : 0);
        return;
    }
    case VT_R4: set_r4(plat::parse_float_prefix(commas_to_points(text, scratch))); return;
    case VT_R8: set_r8(plat::parse_double_prefix(commas_to_points(text, scratch))); return;
    case VT_CY: {
        std::string_view t = commas_to_points(text, scratch);
        if (tk_log_wants(1)) tk_log(1, "GOT VT_CY");
        plat::currency c;
        HRESULT hr = plat::cy_from_text(t, c);
        if (FAILED(hr)) {
            if (tk_log_wants(2)) tk_log(2, "VarCyFromStr failed: %08X", static_cast<unsigned>(hr));
            clear();
            return;
        }
        set_cy(c);
        return;
    }
    case VT_DECIMAL: {
        std::string_view t = commas_to_points(text, scratch);
        if (tk_log_wants(1)) tk_log(1, "GOT VT_DECIMAL");
        plat::decimal d;
        bool inexact = false;
        HRESULT hr = plat::dec_from_text(t, d, &inexact);
        if (SUCCEEDED(hr) && !inexact) {
            set_decimal(d);
            return;
        }
        if (tk_log_wants(2))
            tk_log(2, "ERROR: VarDecFromStr for '%.*s' failed (hr=%08X)", static_cast<int>(t.size()), t.data(),
                   static_cast<unsigned>(SUCCEEDED(hr) ? DISP_E_OVERFLOW : hr));
        if (hr == DISP_E_TYPEMISMATCH) {
            set_r8(plat::parse_double_prefix(t));
            return;
        }
        // A number beyond the decimal's digits keeps its exact text.
        std::string_view exact = t;
        while (!exact.empty() && is_space(exact.front())) exact.remove_prefix(1);
        while (!exact.empty() && is_space(exact.back())) exact.remove_suffix(1);
        attach_string(exact);
        return;
    }
    case VT_DATE: {
        if (tk_log_wants(1)) tk_log(1, "GOT VT_DATE");
        ole_date d(text);
        if (d.is_valid()) set_date(d);
        else clear();
        return;
    }
    case VT_BOOL: {
        if (text == "1") { set_bool(true); return; }
        if (text == "0") { set_bool(false); return; }
        int w = bool_word(text);
        if (w >= 0) { set_bool(w == 1); return; }
        set_bool(parse_int_prefix(text) != 0);  // atoi
        return;
    }
    case VT_BYTE_ARRAY:
    case VT_BLOB:
        hex_parse_narrow(text, type);
        return;
    default: {
        // Default processing: the text as a string, then the general conversion.
        attach_string(text);
        if (type == VT_BSTR) return;
        ensure_wide();
        utf8_held_ = false;
        if (FAILED(plat::variant_change_type(var_, type))) throw ole_type_exception();
        if (type == VT_I8) i8_ = var_.llVal;
        if (type == VT_UI8) ui8_ = var_.ullVal;
        return;
    }
    }
}

namespace {

template <class Ch>
bool hex_parse(std::basic_string_view<Ch> text, std::vector<uint8_t>& out, bool& prefix) {
    prefix = text.size() >= 2 && (text[0] == Ch('0') || text[0] == Ch('\\')) &&
             (text[1] == Ch('x') || text[1] == Ch('X'));
    size_t count = text.size() / 2 - (prefix ? 1 : 0);
    out.resize(count);
    size_t pos = prefix ? 2 : 0;
    for (size_t i = 0; i < count; ++i, pos += 2) {
        auto a = static_cast<std::make_unsigned_t<Ch>>(text[pos]);
        auto b = static_cast<std::make_unsigned_t<Ch>>(text[pos + 1]);
        int hi = a < 128 ? hex_value(a) : -1;
        int lo = b < 128 ? hex_value(b) : -1;
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

}  // namespace

template <class Ch>
void ole_variant::hex_parse_text(std::basic_string_view<Ch> text, VARTYPE type) {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_log(1, "GOT BLOB");
    if (text.empty()) {
        if (log1) tk_log(1, "Empty BLOB");
        clear();
        return;
    }
    if (text.size() % 2) {
        if (tk_log_wants(2)) tk_log(2, "Incorrect BLOB (size is odd)");
        clear();
        return;
    }
    if (!((var_.vt == VT_BYTE_ARRAY || var_.vt == VT_BLOB) && var_.parray.dims == 1)) {
        reset_var();
    }
    var_.vt = VT_BYTE_ARRAY;
    bool prefix;
    if (!hex_parse(text, var_.parray.data, prefix)) {
        if (tk_log_wants(2)) tk_log(2, "Incorrect BLOB (not a hexadecimal digit)");
        clear();
        return;
    }
    if (log1) {
        if (prefix) tk_log(1, "b_prefix=true");
        tk_log(1, "Got BLOB size: %d", static_cast<int>(var_.parray.size()));
    }
    change_type(type);
    if (log1) tk_log(1, "Before return: res=%s", to_string().c_str());
}

void ole_variant::hex_parse_narrow(std::string_view text, VARTYPE type) { hex_parse_text(text, type); }

void ole_variant::hex_parse_wide(std::wstring_view text, VARTYPE type) { hex_parse_text(text, type); }
