#include "ole_var.h"

#include <cmath>
#include <cstring>
#include <new>

#include "numbers.h"
#include "ole_var_help.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

constexpr const char* source_name = "ole_var";

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

void ole_variant::make_wide() const {
    var_.bstrVal.clear();
    plat::utf8_decode_append(var_.bstrVal, utf8_);
    wide_ready_ = true;
}

void ole_variant::check_utf8() const {
    size_t zero = 0;
    if (plat::utf8_valid_find_zero(utf8_, zero)) {
        utf8_text_ = zero == std::string::npos ? utf8_.size() : zero;
        utf8_checked_ = true;
        return;
    }
    // Ill-formed bytes: the decoded text (with its replacement characters) is the value.
    if (!wide_ready_) make_wide();
    utf8_held_ = false;
    utf8_checked_ = true;
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
        utf8_checked_ = that.utf8_checked_;
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
    utf8_checked_ = that.utf8_checked_;
    wide_ready_ = that.wide_ready_;
    that.var_.vt = VT_EMPTY;
    that.utf8_held_ = false;
}

// ---------------------------------------------------------------------------
// Setters

void ole_variant::set_null() {
    reset_var();
    var_.vt = VT_NULL;
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
    // An empty vector gives an array without elements.
    set_binary(bytes, count);
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

void ole_variant::copy_utf8_text(std::string_view utf8) {
    try {
        if (var_.vt != VT_BSTR) reset_var();
        var_.vt = VT_BSTR;
        utf8_.assign(utf8.data(), utf8.size());
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1434);
    }
}

void ole_variant::take_utf8_text(std::string&& utf8) {
    if (var_.vt != VT_BSTR) reset_var();
    var_.vt = VT_BSTR;
    utf8_ = std::move(utf8);
    utf8.clear();
    utf8_held_ = true;
    utf8_checked_ = false;
    wide_ready_ = false;
}

void ole_variant::set_binary(const uint8_t* bytes, size_t count) {
    try {
        if (!((var_.vt == VT_BYTE_ARRAY || var_.vt == VT_BLOB) && var_.parray.dims == 1)) {
            reset_var();
            var_.vt = VT_BYTE_ARRAY;
        }
        var_.parray.data.assign(bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        throw tk_mail_assertion(source_name, 1354);
    }
}

void ole_variant::take_binary(std::vector<uint8_t>&& bytes) {
    if (!((var_.vt == VT_BYTE_ARRAY || var_.vt == VT_BLOB) && var_.parray.dims == 1)) {
        reset_var();
        var_.vt = VT_BYTE_ARRAY;
    }
    var_.parray.data = std::move(bytes);
    bytes.clear();
}

void ole_variant::hold_utf8(const char* bytes, size_t count) {
    size_t zero = 0;
    if (count == 0 || plat::utf8_valid_find_zero(std::string_view(bytes, count), zero)) {
        utf8_.assign(bytes, count);
        utf8_text_ = count == 0 || zero == std::string::npos ? count : zero;
        utf8_held_ = true;
        utf8_checked_ = true;
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
    ensure_checked();
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
