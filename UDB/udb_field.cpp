#include "udb_field.h"

#include "tk_log.h"

udb_field::udb_field() { tk_log(1, "udb_field::empty ctor"); }

udb_field::udb_field(const std::wstring& name, uint32_t size, const ole_variant& value)
    : ole_variant(value), declared_size_(size), name_(name) {
    tk_log(1, "udb_field::ctor #2");
    if (tk_log_wants(1)) tk_wlog(1, L"name=%s, size=%d", name_.c_str(), static_cast<int>(size));
}

udb_field::udb_field(const std::wstring& name, uint32_t size, ole_variant&& value)
    : ole_variant(std::move(value)), declared_size_(size), name_(name) {
    tk_log(1, "udb_field::ctor #2");
    if (tk_log_wants(1)) tk_wlog(1, L"name=%s, size=%d", name_.c_str(), static_cast<int>(size));
}

udb_field::udb_field(const udb_field& that)
    : ole_variant(that), declared_size_(that.declared_size_), text_form_(that.text_form_), name_(that.name_) {
    tk_log(1, "udb_field::copy ctor");
}

udb_field::~udb_field() = default;

// Asked for every cell written: not logged.
VARTYPE udb_field::get_type() const { return type(); }

uint32_t udb_field::get_size() const {
    VARTYPE t = type();
    if (t == VT_BYTE_ARRAY || t == VT_BLOB || t == VT_SAFEARRAY) {
        const plat::byte_array& a = get_array();
        if (a.dims == 1) return a.size();
    }
    if (get_type() == VT_BSTR) return static_cast<uint32_t>(text_length());
    return declared_size_;
}
