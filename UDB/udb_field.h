// One named value of one row.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "numbers.h"
#include "ole_var.h"

class udb_field : public ole_variant {
public:
    udb_field();
    udb_field(const std::wstring& name, uint32_t size, const ole_variant& value);
    udb_field(const std::wstring& name, uint32_t size, ole_variant&& value);
    udb_field(const udb_field& that);
    udb_field(udb_field&& that) noexcept = default;
    udb_field& operator=(const udb_field& that) = default;
    udb_field& operator=(udb_field&& that) noexcept = default;
    ~udb_field() override;
    // A copy of the same kind (a derived field copies itself).
    virtual std::unique_ptr<udb_field> clone() const { return std::make_unique<udb_field>(*this); }

    // The variant type of the held value.
    virtual VARTYPE get_type() const;

    const std::wstring& get_name() const { return name_; }
    // Data length: element count of a one-dimensional byte array, character
    // count of a text, otherwise the declared size.
    uint32_t get_size() const;
    uint32_t get_declared_size() const { return declared_size_; }

    // For records reused row after row: the field object stays, its parts
    // are overwritten (buffers keep their capacity).
    void set_name(const std::wstring& name) { name_ = name; }
    void set_declared_size(uint32_t size) { declared_size_ = size; }
    // How the value is written as a file cell (see append_utf8_cell); the
    // back end that reads the field sets it from the field's column.
    void set_text_form(ole_text_form form) { text_form_ = form; }
    ole_text_form text_form() const { return text_form_; }
    void append_utf8_cell(std::string& out) const { ole_variant::append_utf8_cell(out, text_form_); }
    // The same written to o for a short cell text (see put_short_cell). The
    // usual INT column is written here, without the dispatch on every type.
    char* put_short_cell(char* o) const {
        if (type() == VT_I4) return plat::put_signed32(o, raw().lVal);
        return ole_variant::put_short_cell(o, text_form_);
    }
    ole_variant& value() { return *this; }
    const ole_variant& value() const { return *this; }

private:
    uint32_t declared_size_ = 0;
    ole_text_form text_form_;
    std::wstring name_;
};
