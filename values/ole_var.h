// The value of one field: a variant with 64-bit integers in side fields, a
// date-time kept as an ole_date record, and binary values as byte arrays.
// Text read from UTF-8 stays UTF-8 until its wide form is first asked for;
// that first wide read fills a cache, so one value is not read by two
// threads at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ole_date.h"
#include "tk_singl.h"
#include "variant.h"
#include "vartypes.h"

// Boolean mapping: mode 1 (registered) prints and reads true as -1; without a
// registered object (always, in this system) true is 1.
class ole_settings : public tk_singleton<ole_settings> {
public:
    explicit ole_settings(uint32_t m = 0) : mode(m) {}
    uint32_t mode = 0;
};

// How a value is written as the text of a file cell: its own text form, or
// the form a MySQL server gives the values of a column of that type, with the
// column's fraction digits (for decimal: its scale). Values that the form
// does not fit (texts, empty values) are written by their own form.
struct ole_text_form {
    enum kind_t : uint8_t { own, date, datetime, time, decimal };
    kind_t kind = own;
    uint8_t digits = 0;
    bool operator==(const ole_text_form&) const = default;
};

class ole_variant {
public:
    // Construction ------------------------------------------------------
    ole_variant();
    ole_variant(const ole_variant& that);
    ole_variant(ole_variant&& that) noexcept;
    ole_variant(const std::wstring& text);   // VT_BSTR, embedded zeros kept
    ole_variant(const wchar_t* text);        // VT_BSTR up to the first zero
    ole_variant(const std::vector<uint8_t>& bytes);  // VT_ARRAY|VT_UI1 (empty vector: 0 elements)
    ole_variant(double v);                   // VT_R8
    ole_variant(bool v);                     // VT_BOOL, true stored as -1
    ole_variant(const char*) = delete;       // would silently become a bool
    virtual ~ole_variant();

    ole_variant& operator=(const ole_variant& that);
    ole_variant& operator=(ole_variant&& that) noexcept;
    ole_variant& operator=(const std::vector<uint8_t>& bytes);

    // Typed setters (the old contents are released, buffers reused).
    void clear();                            // VT_EMPTY
    void set_null();                         // VT_NULL
    void set_i1(int8_t v);
    void set_i2(int16_t v);
    void set_i4(int32_t v);
    void set_int(int32_t v);                 // VT_INT
    void set_ui1(uint8_t v);
    void set_ui2(uint16_t v);
    void set_ui4(uint32_t v);
    void set_uint(uint32_t v);               // VT_UINT
    void set_i8(int64_t v);
    void set_ui8(uint64_t v);
    void set_r4(float v);
    void set_r8(double v);
    // set_r8 with the value's shortest digits (plat::shortest_digits),
    // worked out elsewhere: its text is written from them.
    void set_r8_digits(double v, uint64_t digits, int point);
    void set_bool(bool v);
    void set_cy(plat::currency v);
    void set_decimal(const plat::decimal& v);
    void set_date(const ole_date& d);        // VT_DATE with the record and its date number
    // set_date for a date that has a date number (to_variant_time gives
    // one): nothing to report, so the log is not asked.
    void set_numbered_date(const ole_date& d);

    // Byte arrays and strings --------------------------------------------
    void allocate_safe_array(uint32_t size);
    void attach_binary(const std::vector<uint8_t>& bytes);
    void attach_binary(const uint8_t* bytes, size_t count);
    // VT_BSTR from UTF-8 (ill-formed bytes become U+FFFD). Well-formed text is
    // kept as its bytes; the wide form is made when it is first asked for.
    void attach_string(std::string_view utf8);
    void attach_wstring(std::wstring_view text); // VT_BSTR, embedded zeros kept
    // attach_string for the cells of a stream: the bytes are copied and
    // nothing else; they are checked when first read (a writer that checks
    // them itself while copying reads them by unchecked_utf8).
    // well_formed: the caller has found the bytes well-formed and free of
    // zero bytes (they are then not checked again).
    void set_utf8_text(std::string_view utf8, bool well_formed = false);
    // The same, and attach_binary, taking the caller's buffer instead of
    // copying it (bytes is left empty).
    void take_utf8_text(std::string&& utf8);
    void take_binary(std::vector<uint8_t>&& bytes);
    // attach_binary for the cells of a stream: nothing logged.
    void set_binary(const uint8_t* bytes, size_t count);
    // The bytes of a VT_BSTR held as UTF-8 (zero bytes included); null
    // data for any other value.
    std::string_view held_utf8() const {
        ensure_checked();
        return utf8_held_ && var_.vt == VT_BSTR ? std::string_view(utf8_) : std::string_view();
    }
    // The bytes of a VT_BSTR set by set_utf8_text and not read since: the
    // text is these bytes when they are well-formed UTF-8, and their decoded
    // form (held_utf8 is then null) when not. Null data for any other value.
    std::string_view unchecked_utf8() const {
        return utf8_held_ && !utf8_checked_ ? std::string_view(utf8_) : std::string_view();
    }
    // The bytes of a binary value that its text forms write as hex digits
    // (after "0x"); 0 for any other value.
    size_t hex_text_bytes() const;
    // Appends the hex digits of count of those bytes from first on.
    void append_hex_digits(std::string& out, size_t first, size_t count) const;
    // Hot path: VT_BSTR from UTF-8 bytes up to the first zero byte (MySQL text cells).
    void assign_utf8(const char* bytes, size_t count);

    // In-place conversion; throws ole_cast_exception (level 0) and leaves the
    // value as it was. Integer targets are range-checked (doubles round half
    // away from zero to I2/I4/UI2/UI4, half to even elsewhere); non-zero
    // becomes true; VT_BSTR gets the value's text form; dates only from and
    // to text; binary <-> VT_BLOB only retag; a value to binary gives its
    // byte image, binary to VT_BSTR its bytes as UTF-8 up to the first zero.
    void change_type(VARTYPE new_type);

    static uint32_t get_safe_array_size(const plat::byte_array* array);
    static void convert_to_byte_array(const void* source, uint32_t count,
                                      std::vector<uint8_t>& out);

    // Text forms -----------------------------------------------------------
    // Narrow text (UTF-8 here). Doubles: whole values as integers, others the
    // shortest text that reads back the same; decimal and currency exact;
    // booleans "1"/"0"; binary "0x" and upper-case hex; dates precision 6.
    virtual std::string to_string() const;
    // Wide text: strings up to their first zero character; pure times
    // without the date part; otherwise to_string's text.
    virtual std::wstring to_wstring() const;
    // Appends the UTF-8 form of to_wstring() to out without temporaries.
    void append_utf8_text(std::string& out) const;
    // Appends to_wstring() to out.
    void append_wtext(std::wstring& out) const;
    // Appends the text of a file cell as UTF-8: append_utf8_text, except that
    // a text is written whole (zero characters included) and dates, times
    // and decimals take the given form.
    void append_utf8_cell(std::string& out, ole_text_form form) const;
    // The same text for a value whose cell text is short (integers, dates
    // and times in a server form, decimals with a 64-bit mantissa in the
    // decimal form, floats and doubles but NaN doubles, binary values of up
    // to 31 bytes, empty values): written to o, which has room for
    // short_cell_room bytes; returns its end. Null for any other value.
    static constexpr size_t short_cell_room = 64;
    char* put_short_cell(char* o, ole_text_form form) const;

    // Parse text of a given type. Empty text of any type but VT_BSTR gives
    // VT_EMPTY. Integers read like atoi (leading number, 0 when none); R4/R8
    // take ',' as '.'; VT_CY: bad text gives VT_EMPTY; VT_DECIMAL: exact, a
    // number beyond the 96-bit decimal keeps its exact text as VT_BSTR, text
    // that is no number gives VT_R8 0; VT_DATE: invalid gives VT_EMPTY;
    // VT_BOOL: "1"/"0", yes/t/true, no/f/false, else atoi != 0; binary:
    // hex with optional "0x"/"\x" prefix, odd length or a non-hex digit
    // gives VT_EMPTY; other types: VT_BSTR then the general conversion,
    // which throws ole_type_exception when it fails.
    static ole_variant from_string(std::string_view text, VARTYPE type);
    static ole_variant from_wstring(std::wstring_view text, VARTYPE type);
    // The same in place, reusing this value's buffers.
    void assign_from_string(std::string_view text, VARTYPE type);
    void assign_from_wstring(std::wstring_view text, VARTYPE type);

    // Numbers ---------------------------------------------------------------
    bool to_bool() const;
    // Doubles truncate toward zero; out of range or NaN gives -2147483648.
    int32_t to_long() const;
    // Asserts (ole_var 940 / 800) for types without a number.
    double to_double() const;
    float to_float() const;

    // Slices and raw bytes ----------------------------------------------------
    // VT_BSTR: UTF-8 of the characters from pos, at most length of them
    // (buffer holds 4 bytes per character plus one), returns bytes written.
    // Binary: two hex digits per byte from pos, at most length bytes, with a
    // terminating zero; returns the byte count. Others: 0.
    int get_at(char* buffer, uint32_t pos, uint32_t length) const;
    // VT_BSTR: holder receives the UTF-8 text (terminated), *out points into
    // it; returns the character count. Binary: *out points at the array's
    // bytes (valid while the value is unchanged); returns the count.
    // VT_EMPTY / VT_NULL: 0. Other types assert (ole_var 1235).
    int get_bytes1(const uint8_t** out, std::string& holder) const;

    // Accessors ---------------------------------------------------------------
    VARTYPE type() const { return var_.vt; }
    bool is_empty() const { return var_.vt == VT_EMPTY; }
    bool is_null() const { return var_.vt == VT_NULL; }
    bool is_binary() const { return plat::is_binary_type(var_.vt); }  // 0x2011, 65, 70
    int64_t get_i8() const { return i8_; }
    uint64_t get_ui8() const { return ui8_; }
    const ole_date& get_date() const { return date_; }
    const std::wstring& get_bstr() const {
        ensure_wide();
        return var_.bstrVal;
    }
    // Characters of a VT_BSTR value (zero characters included); 0 otherwise.
    size_t text_length() const;
    const plat::byte_array& get_array() const { return var_.parray; }
    const uint8_t* binary_data() const { return var_.parray.data.data(); }
    uint32_t binary_size() const { return var_.parray.size(); }
    plat::decimal get_decimal() const { return var_.decVal; }
    plat::currency get_cy() const { return var_.cyVal; }
    const plat::variant& raw() const {
        ensure_wide();
        ensure_date_number();
        return var_;
    }
    // The caller may change the value: from here on the wide form is the text.
    plat::variant& raw() {
        ensure_wide();
        ensure_date_number();
        utf8_held_ = false;
        return var_;
    }

    static bool is_numeric_type(VARTYPE vt);
    static bool is_date_or_string_type(VARTYPE vt);

private:
    // A text held as UTF-8 gets its wide form (var_.bstrVal).
    void ensure_wide() const {
        if (utf8_held_ && !wide_ready_) make_wide();
    }
    // Bytes set unchecked are checked: kept when well-formed, else decoded.
    void ensure_checked() const {
        if (utf8_held_ && !utf8_checked_) check_utf8();
    }
    void check_utf8() const;
    void make_wide() const;
    // The date number of a VT_DATE (var_.date) is worked out when asked for.
    void ensure_date_number() const {
        if (var_.vt == VT_DATE && !date_number_ready_) make_date_number();
    }
    void make_date_number() const;
    // The text of a VT_R8 that is no NaN, from its digits when they are held.
    char* put_r8(char* o) const;
    // Holds well-formed bytes as the text; decodes ill-formed ones.
    void hold_utf8(const char* bytes, size_t count);
    // set_utf8_text's copy of bytes longer than the text held (or of a value
    // that is no text).
    void copy_utf8_text(std::string_view utf8);
    static void copy_short_or_move(char* to, const char* from, size_t n);
    // Empties the value (VT_EMPTY), keeping the buffers.
    void reset_var();
    void copy_from(const ole_variant& that);
    void move_from(ole_variant& that) noexcept;
    // A hexadecimal text (optionally "0x" or "\\x" first) as binary data,
    // then changed to the type; a text that is not one empties the value.
    template <class Ch>
    void hex_parse_text(std::basic_string_view<Ch> text, VARTYPE type);
    void hex_parse_narrow(std::string_view text, VARTYPE type);
    void hex_parse_wide(std::wstring_view text, VARTYPE type);
    // Parts of change_type.
    void change_from_64(VARTYPE new_type);
    void change_to_64(VARTYPE new_type);
    void change_to_small_integer(VARTYPE new_type);
    void to_binary_image();
    void binary_to_bstr();

    int64_t i8_ = 0;    // VT_I8
    uint64_t ui8_ = 0;  // VT_UI8
    ole_date date_;     // VT_DATE
    // The type tag, and the value of every other type. The wide text of a
    // VT_BSTR held as UTF-8 is a cache filled on demand, hence mutable.
    mutable plat::variant var_;
    // A VT_BSTR value may be held as well-formed UTF-8 (utf8_held_): utf8_
    // is then the text and var_.bstrVal holds it too only once wide_ready_.
    // utf8_checked_: utf8_ is known to be well-formed and utf8_text_ is set;
    // until then the bytes are as set_utf8_text received them.
    std::string utf8_;
    mutable size_t utf8_text_ = 0;  // bytes before the first zero byte of utf8_
    mutable bool utf8_held_ = false;
    mutable bool utf8_checked_ = true;
    mutable bool wide_ready_ = false;
    mutable bool date_number_ready_ = true;  // var_.date of a VT_DATE is set
    // The shortest digits of the double whose bits are r8_digits_of_ (0:
    // none): they serve any VT_R8 value of those bits, whatever set it.
    uint64_t r8_digits_of_ = 0;
    uint64_t r8_digits_ = 0;
    int r8_point_ = 0;
};

// The setters of fixed-size values, inline: fields are read row after row.

inline void ole_variant::reset_var() {
    plat::variant_clear(var_);
    utf8_held_ = false;
}

inline void ole_variant::clear() { reset_var(); }

// A value that already has the type keeps it: its text and array are empty
// then (every way to a fixed-size type empties them), so only the value is
// written.
#define OLE_SETTER(name, T, tag, member)         \
    inline void ole_variant::name(T v) {          \
        if (var_.vt != tag || utf8_held_) {       \
            reset_var();                          \
            var_.vt = tag;                        \
        }                                         \
        var_.llVal = 0;                           \
        var_.member = v;                          \
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

inline void ole_variant::set_r8_digits(double v, uint64_t digits, int point) {
    set_r8(v);
    std::memcpy(&r8_digits_of_, &v, sizeof v);
    r8_digits_ = digits;
    r8_point_ = point;
}

inline void ole_variant::set_i8(int64_t v) {
    if (var_.vt != VT_I8 || utf8_held_) {
        reset_var();
        var_.vt = VT_I8;
    }
    var_.llVal = v;
    i8_ = v;
}

inline void ole_variant::set_ui8(uint64_t v) {
    if (var_.vt != VT_UI8 || utf8_held_) {
        reset_var();
        var_.vt = VT_UI8;
    }
    var_.ullVal = v;
    ui8_ = v;
}

inline void ole_variant::set_bool(bool v) {
    reset_var();
    var_.vt = VT_BOOL;
    var_.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

inline void ole_variant::set_decimal(const plat::decimal& v) {
    if (var_.vt != VT_DECIMAL || utf8_held_) {
        reset_var();
        var_.vt = VT_DECIMAL;
    }
    var_.llVal = 0;
    var_.decVal = v;
}

namespace ole_detail {
// memmove, with the bytes of a short text (up to 16) read as two pieces
// that may overlap, both read before either is written.
template <class T>
inline void move_two(char* to, const char* from, size_t n) {
    T head, tail;
    std::memcpy(&head, from, sizeof(T));
    std::memcpy(&tail, from + n - sizeof(T), sizeof(T));
    std::memcpy(to, &head, sizeof(T));
    std::memcpy(to + n - sizeof(T), &tail, sizeof(T));
}
}  // namespace ole_detail

inline void ole_variant::copy_short_or_move(char* to, const char* from, size_t n) {
    if (n >= 8) {
        if (n <= 16) return ole_detail::move_two<uint64_t>(to, from, n);
        std::memmove(to, from, n);
    } else if (n >= 4) {
        ole_detail::move_two<uint32_t>(to, from, n);
    } else if (n >= 2) {
        ole_detail::move_two<uint16_t>(to, from, n);
    } else if (n == 1) {
        *to = *from;
    }
}

inline void ole_variant::set_utf8_text(std::string_view utf8, bool well_formed) {
    const size_t n = utf8.size();
    if (var_.vt == VT_BSTR && n <= utf8_.size()) {
        // Within the text's length: copied in place (the bytes may be its own).
        copy_short_or_move(utf8_.data(), utf8.data(), n);
        utf8_.resize(n);
    } else {
        copy_utf8_text(utf8);
    }
    utf8_held_ = true;
    utf8_checked_ = well_formed;
    utf8_text_ = n;
    wide_ready_ = false;
}

inline void ole_variant::set_numbered_date(const ole_date& d) {
    if (var_.vt != VT_DATE || utf8_held_) {
        reset_var();
        var_.vt = VT_DATE;
    }
    var_.llVal = 0;
    // A plain copy in pieces of 16 bytes (the assignment copies byte by byte).
    static_assert(std::is_trivially_copyable_v<ole_date> && sizeof(ole_date) == 36);
    char* const to = reinterpret_cast<char*>(&date_);
    const char* const from = reinterpret_cast<const char*>(&d);
    std::memcpy(to, from, 16);
    std::memcpy(to + 16, from + 16, 16);
    std::memcpy(to + 32, from + 32, 4);
    date_number_ready_ = false;
}

