#include "ole_var.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "numbers.h"
#include "real_text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

constexpr const char* source_name = "ole_var";
constexpr uint32_t binary_text_cap = 120000000;  // bytes of a binary value in text forms
constexpr char hex_upper[] = "0123456789ABCDEF";

bool ms_bool_mode() {
    ole_settings* s = ole_settings::peek();
    return s && s->mode == 1;
}

// Binary kinds for type changes (0x2011, 65, 70).
bool binary_kind(VARTYPE vt) { return plat::is_binary_type(vt); }

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

bool nocase_equal(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != b[i]) return false;
    }
    return true;
}

// 1 true word, 0 false word, -1 neither.
int bool_word(std::string_view t) {
    if (nocase_equal(t, "yes") || nocase_equal(t, "t") || nocase_equal(t, "true")) return 1;
    if (nocase_equal(t, "no") || nocase_equal(t, "f") || nocase_equal(t, "false")) return 0;
    return -1;
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

void append_hex(std::string& out, const uint8_t* p, uint32_t n) {
    size_t at = out.size();
    out.resize(at + 2 + 2 * static_cast<size_t>(n));
    char* o = out.data() + at;
    *o++ = '0';
    *o++ = 'x';
    for (uint32_t i = 0; i < n; ++i, o += 2) std::memcpy(o, byte_hex.t + 2 * p[i], 2);
}

// Decimal digits of an integer in its own width (32-bit values take the
// cheaper 32-bit arithmetic).
template <class T>
void append_integer(std::string& out, T v) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    using U = std::make_unsigned_t<T>;
    // 32-bit arithmetic for the narrower types.
    using W = std::conditional_t<(sizeof(T) <= 4), uint32_t, uint64_t>;
    const bool neg = v < 0;
    W u = neg ? static_cast<W>(0 - static_cast<U>(v)) : static_cast<W>(static_cast<U>(v));
    if constexpr (sizeof(T) <= 4) u &= static_cast<W>(static_cast<U>(~U(0)));
    char buf[24];
    char* const end = buf + sizeof buf;
    char* p = end;
    // Two digits at a time, from the last.
    while (u >= 100) {
        const unsigned i = static_cast<unsigned>(u % 100) * 2;
        u /= 100;
        *--p = pairs[i + 1];
        *--p = pairs[i];
    }
    if (u >= 10) {
        const unsigned i = static_cast<unsigned>(u) * 2;
        *--p = pairs[i + 1];
        *--p = pairs[i];
    } else {
        *--p = static_cast<char>('0' + u);
    }
    if (neg) *--p = '-';
    out.append(p, static_cast<size_t>(end - p));
}

// Whole number of a double, half away from zero, within [lo, hi]; false otherwise.
bool round_half_away(double v, double lo, double hi, int64_t& out) {
    if (std::isnan(v)) return false;
    double r = std::round(v);
    if (!(r >= lo && r <= hi)) return false;
    out = static_cast<int64_t>(r);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

ole_variant::ole_variant() {
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::empty ctor");
        tk_log(1, "ole_variant::initialize");
        tk_log(1, "src.vt=%d", var_.vt);
    }
}

ole_variant::ole_variant(const ole_variant& that) {
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::copy ctor (that.vt=%d)", that.var_.vt);
        tk_log(1, "ole_variant::initialize");
    }
    copy_from(that);
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::copy ctor at the end");
        tk_log(1, "src.vt=%d", var_.vt);
    }
}

ole_variant::ole_variant(ole_variant&& that) noexcept { move_from(that); }

ole_variant::ole_variant(const std::wstring& text) {
    if (tk_log_wants(1)) {
        tk_wlog(1, L"ole_variant::ctor from wstring(%s)", text.c_str());
        tk_log(1, "ole_variant::initialize");
    }
    attach_wstring(text);
}

ole_variant::ole_variant(const wchar_t* text) {
    std::wstring_view t = text ? std::wstring_view(text) : std::wstring_view();
    if (tk_log_wants(1)) {
        tk_wlog(1, L"ole_variant::ctor from wstring(%s)", std::wstring(t).c_str());
        tk_log(1, "ole_variant::initialize");
    }
    attach_wstring(t);
}

ole_variant::ole_variant(const std::vector<uint8_t>& bytes) {
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::ole_variant( const vector<byte>& that )");
        tk_log(1, "ole_variant::initialize");
    }
    attach_binary(bytes);
}

ole_variant::ole_variant(double v) {
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::ctor from double(%e)", v);
        tk_log(1, "ole_variant::initialize");
    }
    set_r8(v);
}

ole_variant::ole_variant(bool v) {
    if (tk_log_wants(1)) {
        tk_log(1, "ole_variant::ctor from bool (%d)", v ? 1 : 0);
        tk_log(1, "ole_variant::initialize");
    }
    set_bool(v);
}

ole_variant::~ole_variant() {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::~ole_variant");
}

ole_variant& ole_variant::operator=(const ole_variant& that) {
    if (this != &that) copy_from(that);
    if (tk_log_wants(1)) tk_log(1, "ole_variant::operator => src.vt=%d", var_.vt);
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& that) noexcept {
    if (this != &that) move_from(that);
    return *this;
}

ole_variant& ole_variant::operator=(const std::vector<uint8_t>& bytes) {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::operator = ( const vector<byte>& that )");
    attach_binary(bytes);
    return *this;
}

void ole_variant::reset_var() {
    plat::variant_clear(var_);
    utf8_held_ = false;
}

void ole_variant::make_wide() const {
    var_.bstrVal.clear();
    plat::utf8_decode_append(var_.bstrVal, utf8_);
    wide_ready_ = true;
}

void ole_variant::copy_from(const ole_variant& that) {
    if (that.utf8_held_) {
        // The text's bytes; the wide form only when it is there already.
        var_.vt = that.var_.vt;
        var_.llVal = that.var_.llVal;
        var_.decVal = that.var_.decVal;
        if (that.wide_ready_) var_.bstrVal.assign(that.var_.bstrVal);
        else var_.bstrVal.clear();
        var_.parray.data.clear();
        utf8_.assign(that.utf8_);
        utf8_text_ = that.utf8_text_;
        utf8_held_ = true;
        wide_ready_ = that.wide_ready_;
        return;
    }
    plat::variant_copy(var_, that.var_);
    utf8_held_ = false;
    const VARTYPE vt = that.var_.vt;
    if (vt == VT_I8) {
        if (tk_log_wants(1)) tk_log(1, "Special processing for VT_(U)I8 type");
        i8_ = that.i8_;
    } else if (vt == VT_UI8) {
        if (tk_log_wants(1)) tk_log(1, "Special processing for VT_(U)I8 type");
        ui8_ = that.ui8_;
    } else if (vt == VT_DATE) {
        if (tk_log_wants(1)) tk_log(1, "Special processing for VT_DATE");
        date_ = that.date_;
        double d = 0;
        if (date_.to_variant_time(d)) var_.date = d;
        else if (tk_log_wants(2)) tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
        date_number_ready_ = true;
        if (tk_log_wants(1)) {
            const auto& t = date_.time;
            tk_log(1, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
        }
    }
}

void ole_variant::move_from(ole_variant& that) noexcept {
    var_.vt = that.var_.vt;
    var_.llVal = that.var_.llVal;
    var_.decVal = that.var_.decVal;
    var_.bstrVal.swap(that.var_.bstrVal);
    var_.parray.lower_bound = that.var_.parray.lower_bound;
    var_.parray.dims = that.var_.parray.dims;
    var_.parray.data.swap(that.var_.parray.data);
    i8_ = that.i8_;
    ui8_ = that.ui8_;
    if (var_.vt == VT_DATE) date_ = that.date_;
    date_number_ready_ = that.date_number_ready_;
    utf8_.swap(that.utf8_);
    utf8_text_ = that.utf8_text_;
    utf8_held_ = that.utf8_held_;
    wide_ready_ = that.wide_ready_;
    that.var_.vt = VT_EMPTY;
    that.utf8_held_ = false;
}

// ---------------------------------------------------------------------------
// Setters

void ole_variant::clear() { reset_var(); }

void ole_variant::set_null() {
    reset_var();
    var_.vt = VT_NULL;
}

#define OLE_SETTER(name, T, tag, member) \
    void ole_variant::name(T v) {        \
        reset_var();       \
        var_.vt = tag;                   \
        var_.member = v;                 \
    }

OLE_SETTER(set_i1, int8_t, VT_I1, cVal)
OLE_SETTER(set_i2, int16_t, VT_I2, iVal)
OLE_SETTER(set_i4, int32_t, VT_I4, lVal)
OLE_SETTER(set_int, int32_t, VT_INT, intVal)
OLE_SETTER(set_ui1, uint8_t, VT_UI1, bVal)
OLE_SETTER(set_ui2, uint16_t, VT_UI2, uiVal)
OLE_SETTER(set_ui4, uint32_t, VT_UI4, ulVal)
OLE_SETTER(set_uint, uint32_t, VT_UINT, uintVal)
OLE_SETTER(set_r4, float, VT_R4, fltVal)
OLE_SETTER(set_r8, double, VT_R8, dblVal)
OLE_SETTER(set_cy, plat::currency, VT_CY, cyVal)
#undef OLE_SETTER

void ole_variant::set_i8(int64_t v) {
    reset_var();
    var_.vt = VT_I8;
    var_.llVal = v;
    i8_ = v;
}

void ole_variant::set_ui8(uint64_t v) {
    reset_var();
    var_.vt = VT_UI8;
    var_.ullVal = v;
    ui8_ = v;
}

void ole_variant::set_bool(bool v) {
    reset_var();
    var_.vt = VT_BOOL;
    var_.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

void ole_variant::set_decimal(const plat::decimal& v) {
    reset_var();
    var_.vt = VT_DECIMAL;
    var_.decVal = v;
}

void ole_variant::set_date(const ole_date& d) {
    reset_var();
    var_.vt = VT_DATE;
    date_ = d;
    date_number_ready_ = false;
    // With the log on, a date without a number is reported here and now.
    if (tk_log_wants(2)) make_date_number();
}

void ole_variant::make_date_number() const {
    double n = 0;
    if (date_.to_variant_time(n)) var_.date = n;
    else if (tk_log_wants(2)) tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
    date_number_ready_ = true;
}

// ---------------------------------------------------------------------------
// Byte arrays and strings

uint32_t ole_variant::get_safe_array_size(const plat::byte_array* array) {
    if (!array) return 0;
    if (tk_log_wants(1))
        tk_log(1, "dims=%d, element size=%d, lbound=%d, ubound=%d", array->dims, 1, array->lower_bound,
               static_cast<int>(array->lower_bound + static_cast<int64_t>(array->size()) - 1));
    if (array->dims != 1) return 0;
    return array->size();
}

void ole_variant::convert_to_byte_array(const void* source, uint32_t count, std::vector<uint8_t>& out) {
    if (tk_log_wants(1)) tk_log(1, "convert_to_byte_array(%d)", static_cast<int>(count));
    out.resize(count);
    if (count) std::memcpy(out.data(), source, count);
}

void ole_variant::allocate_safe_array(uint32_t size) {
    const bool log1 = tk_log_wants(1);
    if (log1) {
        tk_log(1, "ole_variant::allocate_safe_array (size=%d)", static_cast<int>(size));
        tk_log(1, "src.vt=%d", var_.vt);
    }
    try {
        if ((var_.vt == VT_BYTE_ARRAY || var_.vt == VT_BLOB) && var_.parray.dims == 1) {
            if (log1) tk_log(1, "Redimension array");
            if (var_.parray.size() != size) var_.parray.data.resize(size);
        } else {
            if (log1) tk_log(1, "Re-initialize VARIANT");
            reset_var();
            var_.vt = VT_BYTE_ARRAY;
            var_.parray.data.resize(size);
        }
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1354);
    }
    if (log1) tk_log(1, "ole_variant::allocate_safe_array - END");
}

void ole_variant::attach_binary(const std::vector<uint8_t>& bytes) { attach_binary(bytes.data(), bytes.size()); }

void ole_variant::attach_binary(const uint8_t* bytes, size_t count) {
    const bool log1 = tk_log_wants(1);
    if (log1) {
        tk_log(1, "ole_variant::attach_binary(1)");
        tk_log(1, "arr_size=%d", static_cast<int>(count));
    }
    try {
        if (!((var_.vt == VT_BYTE_ARRAY || var_.vt == VT_BLOB) && var_.parray.dims == 1)) {
            reset_var();
            var_.vt = VT_BYTE_ARRAY;
        }
        // An empty vector gives an array without elements.
        var_.parray.data.assign(bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1354);
    }
    if (log1) tk_log(1, "ole_variant::attach_binary(1) - end");
}

void ole_variant::attach_string(std::string_view utf8) {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::attach_string('%.*s')", static_cast<int>(utf8.size()), utf8.data());
    try {
        if (var_.vt != VT_BSTR) reset_var();
        var_.vt = VT_BSTR;
        hold_utf8(utf8.data(), utf8.size());
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1434);
    }
}

void ole_variant::hold_utf8(const char* bytes, size_t count) {
    if (count == 0 || plat::utf8_valid(std::string_view(bytes, count))) {
        utf8_.assign(bytes, count);
        const void* z = count ? std::memchr(bytes, 0, count) : nullptr;
        utf8_text_ = z ? static_cast<size_t>(static_cast<const char*>(z) - bytes) : count;
        utf8_held_ = true;
        wide_ready_ = false;
        return;
    }
    // Ill-formed bytes: the decoded text (with its replacement characters) is the value.
    utf8_held_ = false;
    var_.bstrVal.clear();
    plat::utf8_decode_append(var_.bstrVal, std::string_view(bytes, count));
}

void ole_variant::attach_wstring(std::wstring_view text) {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_wlog(1, L"ole_variant::attach_wstring('%s')", std::wstring(text).c_str());
    try {
        if (var_.vt != VT_BSTR) reset_var();
        var_.vt = VT_BSTR;
        utf8_held_ = false;
        var_.bstrVal.assign(text);
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1469);
    }
    if (log1) tk_wlog(1, L"src.bstrVal=%s", var_.bstrVal.c_str());
}

void ole_variant::assign_utf8(const char* bytes, size_t count) {
    if (!bytes) count = 0;
    if (count) {
        const void* z = std::memchr(bytes, 0, count);
        if (z) count = static_cast<size_t>(static_cast<const char*>(z) - bytes);
    }
    if (var_.vt != VT_BSTR) reset_var();
    var_.vt = VT_BSTR;
    hold_utf8(bytes, count);
}

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
    // 5, 6. From the 64-bit side fields.
    if (old == VT_I8 || old == VT_UI8) {
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
            if (binary_kind(nt)) break;  // the byte image below
            throw ole_cast_exception();
        }
    }
    // 7. To the 64-bit side fields.
    if (nt == VT_I8 || nt == VT_UI8) {
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
        return;
    }
    // 8. Doubles and decimals to the smaller integers.
    if ((nt == VT_I4 || nt == VT_I2 || nt == VT_UI2 || nt == VT_UI4 || nt == VT_I1) &&
        (old == VT_R4 || old == VT_R8 || old == VT_DECIMAL)) {
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
        } else if (nt == VT_I1) {
            // Not a rule of its own: the general conversion below.
            goto general;
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
general:
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
            plat::append_double(out, var_.dblVal);
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

namespace {

// Fraction of a second to that many digits (0 to 6).
void append_fraction(std::string& out, uint32_t microseconds, unsigned digits) {
    if (digits == 0) return;
    if (digits > 6) digits = 6;
    uint32_t f = microseconds % 1000000;
    for (unsigned i = digits; i < 6; ++i) f /= 10;
    char buf[8];
    for (unsigned i = digits; i > 0; --i) {
        buf[i - 1] = static_cast<char>('0' + f % 10);
        f /= 10;
    }
    out += '.';
    out.append(buf, digits);
}

void append_padded(std::string& out, unsigned v, unsigned width) {
    char buf[12];
    unsigned n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (width > n) out.append(width - n, '0');
    while (n) out += buf[--n];
}

void append_server_date(std::string& out, const ole_date& d) {
    append_padded(out, d.time.year, 4);
    out += '-';
    append_padded(out, d.time.month, 2);
    out += '-';
    append_padded(out, d.time.day, 2);
}

void append_server_clock(std::string& out, const ole_date& d, unsigned digits) {
    append_padded(out, d.time.hour, 2);
    out += ':';
    append_padded(out, d.time.minute, 2);
    out += ':';
    append_padded(out, d.time.second, 2);
    append_fraction(out, d.microseconds, digits);
}

}  // namespace

void ole_variant::append_utf8_cell(std::string& out, ole_text_form form) const {
    switch (var_.vt) {
    case VT_BSTR:
        if (utf8_held_) {
            out.append(utf8_);
            return;
        }
        plat::utf8_encode_append(out, var_.bstrVal);
        return;
    case VT_DATE:
        switch (form.kind) {
        case ole_text_form::date:
            append_server_date(out, date_);
            return;
        case ole_text_form::datetime:
            append_server_date(out, date_);
            out += ' ';
            append_server_clock(out, date_, form.digits);
            return;
        case ole_text_form::time:
            if (date_.negative) out += '-';
            append_server_clock(out, date_, form.digits);
            return;
        default:
            break;
        }
        break;
    case VT_DECIMAL:
        if (form.kind == ole_text_form::decimal) {
            // The exact digits, then the column's scale in full.
            const size_t start = out.size();
            plat::dec_append_text(out, var_.decVal);
            const size_t point = out.find('.', start);
            const size_t have = point == std::string::npos ? 0 : out.size() - point - 1;
            if (have < form.digits) {
                if (point == std::string::npos) out += '.';
                out.append(form.digits - have, '0');
            }
            return;
        }
        break;
    default:
        break;
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

// ---------------------------------------------------------------------------
// Numbers

bool ole_variant::to_bool() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_bool(vt=%08X)", static_cast<unsigned>(var_.vt));
    switch (var_.vt) {
    case VT_I2: case VT_UI2: return var_.uiVal != 0;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: return var_.ulVal != 0;
    case VT_I1: case VT_UI1: return var_.bVal != 0;
    case VT_R4: return var_.fltVal != 0.0f;
    case VT_R8: return var_.dblVal != 0.0;
    case VT_CY: case VT_DECIMAL: return to_long() != 0;
    case VT_BOOL: return var_.boolVal != 0;
    case VT_I8: return i8_ != 0;
    case VT_UI8: return ui8_ != 0;
    default: return false;
    }
}

int32_t ole_variant::to_long() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_long(vt=%08X)", static_cast<unsigned>(var_.vt));
    switch (var_.vt) {
    case VT_I2: return var_.iVal;
    case VT_I1: return var_.cVal;
    case VT_I4: case VT_INT: return var_.lVal;
    case VT_UI4: case VT_UINT: return static_cast<int32_t>(var_.ulVal);
    case VT_UI1: return var_.bVal;
    case VT_UI2: return var_.uiVal;
    case VT_R4:
    case VT_R8: {
        const double d = var_.vt == VT_R4 ? static_cast<double>(var_.fltVal) : var_.dblVal;
        // Out of range and NaN give the integer indefinite value.
        if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
        return static_cast<int32_t>(d);
    }
    case VT_CY: {
        int64_t v = plat::cy_to_i64(var_.cyVal);
        bool ok = v >= INT32_MIN && v <= INT32_MAX;
        if (tk_log_wants(1))
            tk_log(1, "from CURRECY: res=%d, hr=%08X", ok ? static_cast<int>(v) : 0,
                   static_cast<unsigned>(ok ? S_OK : DISP_E_OVERFLOW));
        return ok ? static_cast<int32_t>(v) : 0;
    }
    case VT_DECIMAL: {
        int64_t v = 0;
        HRESULT hr = plat::dec_to_i64(var_.decVal, v);
        if (SUCCEEDED(hr) && (v < INT32_MIN || v > INT32_MAX)) hr = DISP_E_OVERFLOW;
        if (tk_log_wants(1))
            tk_log(1, "from DECIMAL: res=%d, hr=%08X", SUCCEEDED(hr) ? static_cast<int>(v) : 0,
                   static_cast<unsigned>(hr));
        return SUCCEEDED(hr) ? static_cast<int32_t>(v) : 0;
    }
    case VT_BOOL:
        if (ms_bool_mode()) {
            if (tk_log_wants(1)) tk_log(1, "src.boolVal=%d", var_.boolVal);
            return var_.boolVal;
        }
        return var_.boolVal != 0 ? 1 : 0;
    case VT_I8: return static_cast<int32_t>(static_cast<uint32_t>(i8_));
    case VT_UI8: return static_cast<int32_t>(static_cast<uint32_t>(ui8_));
    default: return 0;
    }
}

double ole_variant::to_double() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_double(%08X)", static_cast<unsigned>(var_.vt));
    switch (var_.vt) {
    case VT_EMPTY: case VT_NULL: return 0;
    case VT_I2: return var_.iVal;
    case VT_I1: return var_.cVal;
    case VT_I4: case VT_INT: return var_.lVal;
    case VT_UI1: return var_.bVal;
    case VT_UI2: return var_.uiVal;
    case VT_UI4: case VT_UINT: return var_.ulVal;
    case VT_R4: return var_.fltVal;
    case VT_R8: return var_.dblVal;
    case VT_I8: return static_cast<double>(i8_);
    case VT_UI8: return static_cast<double>(ui8_);
    case VT_CY: {
        double r = plat::cy_to_r8(var_.cyVal);
        if (tk_log_wants(1)) tk_log(1, "from CURRECY: res=%lg, hr=%08X", r, 0u);
        return r;
    }
    case VT_DECIMAL: {
        double r = plat::dec_to_r8(var_.decVal);
        if (tk_log_wants(1)) tk_log(1, "from DECIMAL: res=%lg, hr=%08X", r, 0u);
        return r;
    }
    case VT_BOOL:
        if (ms_bool_mode()) return var_.boolVal ? -1.0 : 0.0;
        return var_.boolVal ? 1.0 : 0.0;
    default:
        throw tk_mail_assertion(source_name, 940);
    }
}

float ole_variant::to_float() const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::to_float(%08X)", static_cast<unsigned>(var_.vt));
    switch (var_.vt) {
    case VT_EMPTY: case VT_NULL: return 0;
    case VT_I2: return var_.iVal;
    case VT_I1: return var_.cVal;
    case VT_I4: case VT_INT: return static_cast<float>(var_.lVal);
    case VT_UI1: return var_.bVal;
    case VT_UI2: return var_.uiVal;
    case VT_UI4: case VT_UINT: return static_cast<float>(var_.ulVal);
    case VT_R4: return var_.fltVal;
    case VT_R8: {
        const double d = var_.dblVal;
        if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
            return d < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        return static_cast<float>(d);
    }
    case VT_I8: return static_cast<float>(i8_);
    case VT_UI8: return static_cast<float>(ui8_);
    case VT_CY: {
        float r = static_cast<float>(plat::cy_to_r8(var_.cyVal));
        if (tk_log_wants(1)) tk_log(1, "from CURRECY: res=%f, hr=%08X", static_cast<double>(r), 0u);
        return r;
    }
    case VT_DECIMAL: {
        double d = plat::dec_to_r8(var_.decVal);
        float r = std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())
                      ? (d < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity())
                      : static_cast<float>(d);
        if (tk_log_wants(1)) tk_log(1, "from DECIMAL: res=%f, hr=%08X", static_cast<double>(r), 0u);
        return r;
    }
    case VT_BOOL:
        if (ms_bool_mode()) return var_.boolVal ? -1.0f : 0.0f;
        return var_.boolVal ? 1.0f : 0.0f;
    default:
        throw tk_mail_assertion(source_name, 800);
    }
}

// ---------------------------------------------------------------------------
// Slices and raw bytes

int ole_variant::get_at(char* buffer, uint32_t pos, uint32_t length) const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::get_at(pos=%d, length=%d)", static_cast<int>(pos), static_cast<int>(length));
    if (var_.vt == VT_BSTR) {
        if (tk_log_wants(1)) tk_log(1, "Extracting VT_BSTR");
        ensure_wide();
        std::wstring_view s = var_.bstrVal;
        if (pos >= s.size()) return 0;
        std::string t;
        plat::utf8_encode_append(t, s.substr(pos, length));
        std::memcpy(buffer, t.data(), t.size());
        buffer[t.size()] = '\0';
        return static_cast<int>(t.size());
    }
    if (binary_kind(var_.vt) && var_.parray.dims == 1) {
        if (tk_log_wants(1)) tk_log(1, "Extracting VT_ARRAY/VT_BLOB");
        uint32_t n = var_.parray.size();
        if (n > binary_text_cap) n = binary_text_cap;
        if (pos >= n) return 0;
        uint32_t count = length < n - pos ? length : n - pos;
        const uint8_t* p = var_.parray.data.data() + pos;
        for (uint32_t i = 0; i < count; ++i) {
            buffer[2 * i] = hex_upper[p[i] >> 4];
            buffer[2 * i + 1] = hex_upper[p[i] & 0x0F];
        }
        buffer[2 * count] = '\0';
        if (tk_log_wants(1)) tk_log(1, "New length=%d", static_cast<int>(count));
        return static_cast<int>(count);
    }
    return 0;
}

int ole_variant::get_bytes1(const uint8_t** out, std::string& holder) const {
    if (tk_log_wants(1)) tk_log(1, "ole_variant::get_bytes1(%d)", var_.vt);
    switch (var_.vt) {
    case VT_EMPTY:
    case VT_NULL:
        if (tk_log_wants(1)) tk_log(1, "OLE_Variant is empty");
        *out = nullptr;
        return 0;
    case VT_BSTR: {
        ensure_wide();
        std::wstring_view s = var_.bstrVal;
        size_t z = s.find(L'\0');
        if (z != std::wstring_view::npos) s = s.substr(0, z);
        holder.clear();
        plat::utf8_encode_append(holder, s);
        *out = reinterpret_cast<const uint8_t*>(holder.c_str());
        return static_cast<int>(s.size());
    }
    default:
        if (binary_kind(var_.vt)) {
            if (tk_log_wants(1)) tk_log(1, "Processing binary");
            uint32_t n = get_safe_array_size(&var_.parray);
            if (tk_log_wants(1)) tk_log(1, "data_length=%d", static_cast<int>(n));
            *out = n ? var_.parray.data.data() : nullptr;
            return static_cast<int>(n);
        }
        throw tk_mail_assertion(source_name, 1235);
    }
}

size_t ole_variant::text_length() const {
    if (var_.vt != VT_BSTR) return 0;
    if (utf8_held_ && !wide_ready_) {
        // Well-formed UTF-8: one character per byte that is no continuation byte.
        size_t n = 0;
        for (unsigned char c : utf8_) n += (c & 0xC0) != 0x80;
        return n;
    }
    return var_.bstrVal.size();
}

// ---------------------------------------------------------------------------
// Type sets

bool ole_variant::is_numeric_type(VARTYPE vt) {
    if (vt > 23) return false;
    return (0xFF487Cu >> vt) & 1u;
}

bool ole_variant::is_date_or_string_type(VARTYPE vt) { return vt == VT_DATE || vt == VT_BSTR; }
