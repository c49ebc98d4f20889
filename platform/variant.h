// Our variant: a type tag and the value of that type. Strings are wide text,
// byte arrays one-dimensional. The containers keep their capacity when the
// value changes type, so reused variants do not allocate again.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "currency.h"
#include "decimal.h"
#include "vartypes.h"

namespace plat {

// A one-dimensional array of bytes with its lower bound.
struct byte_array {
    int32_t lower_bound = 0;
    uint16_t dims = 1;
    std::vector<uint8_t> data;

    uint32_t size() const { return static_cast<uint32_t>(data.size()); }
};

struct variant {
    VARTYPE vt = VT_EMPTY;
    union {
        int8_t cVal;
        uint8_t bVal;
        int16_t iVal;
        uint16_t uiVal;
        int32_t lVal;
        uint32_t ulVal;
        int32_t intVal;
        uint32_t uintVal;
        int64_t llVal;
        uint64_t ullVal;
        float fltVal;
        double dblVal;
        double date;
        VARIANT_BOOL boolVal;
        int32_t scode;
        currency cyVal;
    };
    decimal decVal;
    std::wstring bstrVal;  // VT_BSTR
    byte_array parray;     // VT_ARRAY|VT_UI1, VT_BLOB

    variant() : llVal(0) {}
};

bool is_binary_type(VARTYPE vt);  // 0x2011 or 65

// Empties the value (VT_EMPTY); keeps the containers' capacity. Inline: the
// value classes start every setter here.
inline void variant_clear(variant& v) {
    v.vt = VT_EMPTY;
    v.llVal = 0;
    v.bstrVal.clear();
    v.parray.data.clear();
    v.parray.lower_bound = 0;
    v.parray.dims = 1;
}
// dst becomes a copy of src (reusing dst's capacity).
void variant_copy(variant& dst, const variant& src);

// Converts in place between the scalar types, VT_BSTR, VT_EMPTY and VT_NULL
// as the Automation rules do: integer targets take doubles, currency and
// decimals rounded half to even; DISP_E_OVERFLOW out of range;
// DISP_E_TYPEMISMATCH for text that is not a number of the target type;
// DISP_E_BADVARTYPE for types that have no conversion. Number text is
// locale-free. On failure v is unchanged.
HRESULT variant_change_type(variant& v, VARTYPE to);

// Locale-free number text of a scalar value (no trailing zeros for
// currency and decimals; shortest round-trip text for doubles, plain
// integers for whole doubles); false for types without a number text.
bool variant_append_number_text(std::string& out, const variant& v);

}  // namespace plat
