// One row: an ordered list of fields that the record owns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "udb_field.h"
#include "udb_owned_list.h"

// List access: udb_list_owner (the record takes ownership of what it is
// given; a null field is kept as a gap).
class udb_record : public udb_list_owner<udb_field> {
public:
    udb_record() = default;
    // Copies are deep: every field is copied by its clone (of its own kind).
    udb_record(const udb_record& that);
    udb_record& operator=(const udb_record& that);
    udb_record(udb_record&& that) noexcept;
    udb_record& operator=(udb_record&& that) noexcept;
    // Deletes every field.
    virtual ~udb_record();

    // Deletes every field and empties the list.
    void reset();
    // Keeps the first n fields and deletes the others.
    void truncate(size_t n) { items_.truncate(n); }

    // Reuse row after row: keeps the first n fields (their values are the
    // caller's to overwrite), deletes the rest, and makes the missing ones
    // with make(i), which answers a new field (owned by the record).
    template <class Make>
    void reuse(size_t n, Make&& make) {
        truncate(n);
        items_.reserve(n);
        for (size_t i = items_.size(); i < n; ++i) push_back(make(i));
    }

    // Lookups by name ignore case; the first match wins.
    bool find_field(const std::wstring& name) const;
    // The first field of that name; an empty field when none has it.
    const udb_field& get_field(const std::wstring& name) const;
    // Position of the first field of that name, or -1.
    int find_index(const std::wstring& name) const;

    // Sum of get_size over the fields that are not VT_EMPTY.
    uint32_t get_total_size() const;
};
