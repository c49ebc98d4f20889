// Column descriptors and the ordered list of a table's descriptors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "ole_var.h"
#include "udb_owned_list.h"

// Descriptor of one column.
struct t_ftd {
    t_ftd() = default;
    t_ftd(uint32_t size, const std::wstring& name, VARTYPE vartype, bool b_not_null, bool auto_increment,
          const ole_variant& def_value, uint32_t reserved, const std::wstring& native_type);

    uint32_t size = 0;       // the column's length as the server reports it
    int32_t precision = 0;   // set for a float(p,s) column read as VT_DECIMAL
    int32_t scale = 0;
    std::wstring name;
    VARTYPE vartype = VT_EMPTY;
    std::wstring native_type;  // the server's column type text; empty when unknown
    bool auto_increment = false;
    bool b_not_null = false;
    ole_variant def_value;     // empty when the column has no default
    uint32_t reserved = 0;     // sub-kind assigned by the back end
    std::wstring description;  // column comment
};

// The schema owns its descriptors: it deletes them, and its copies are deep.
// List access: udb_list_owner; null entries are kept as gaps.
class udb_schema : public udb_list_owner<t_ftd> {
public:
    explicit udb_schema(bool flag = true);
    udb_schema(const udb_schema& that);
    udb_schema& operator=(const udb_schema& that);
    udb_schema(udb_schema&& that) noexcept;
    udb_schema& operator=(udb_schema&& that) noexcept;
    virtual ~udb_schema();

    // The schema takes ownership of the descriptor (or of a copy).
    using udb_list_owner::push_back;
    void push_back(const t_ftd& descriptor) { push_back(std::make_unique<t_ftd>(descriptor)); }
    // Deletes every descriptor and empties the list.
    void clear() { items_.clear(); }
    // Keeps the first n descriptors and deletes the others.
    void truncate(size_t n) { items_.truncate(n); }

    // Lookups by name ignore case; the first match wins; null entries are skipped.
    bool find_field(const std::wstring& name) const;
    int find_index(const std::wstring& name) const;
    // The first descriptor of that name. When none has it: this schema's
    // scratch descriptor, reset to empty on every miss and never part of the
    // list, so what one caller writes into it reaches nobody else.
    t_ftd& get_field1(const std::wstring& name);
    t_ftd& get_field2(const std::wstring& name);
    const t_ftd& get_field1(const std::wstring& name) const;
    const t_ftd& get_field2(const std::wstring& name) const;
    // -1 when not found.
    int32_t get_field_size(const std::wstring& name) const;
    // VT_NULL when not found.
    VARTYPE get_field_type(const std::wstring& name) const;

    bool flag = true;       // given to the constructor
    uint32_t counter1 = 1;  // the MySQL reader keeps an auto-increment column's last value here
    uint32_t counter2 = 1;

private:
    t_ftd& lookup(const std::wstring& name) const;

    mutable t_ftd miss_;
};
