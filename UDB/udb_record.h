// One row: an ordered list of fields that the record owns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "udb_field.h"
#include "udb_owned_list.h"

class udb_record {
public:
    using container = udb_owned_list<udb_field>;
    using const_iterator = container::const_iterator;

    udb_record() = default;
    // Copies are deep: every field is copied by its clone (of its own kind).
    udb_record(const udb_record& that);
    udb_record& operator=(const udb_record& that);
    udb_record(udb_record&& that) noexcept;
    udb_record& operator=(udb_record&& that) noexcept;
    // Deletes every field.
    virtual ~udb_record();

    // List access. Indexing is checked (std::out_of_range past the end).
    size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    udb_field* operator[](size_t i) const { return fields_.at(i); }
    udb_field* at(size_t i) const { return fields_.at(i); }
    const_iterator begin() const { return fields_.begin(); }
    const_iterator end() const { return fields_.end(); }
    void reserve(size_t n) { fields_.reserve(n); }

    // The record takes ownership of the field (null is kept as a gap).
    void push_back(udb_field* field) { fields_.push_back(field); }
    void push_back(std::unique_ptr<udb_field> field) { fields_.push_back(std::move(field)); }
    // Deletes every field and empties the list.
    void reset();
    // Keeps the first n fields and deletes the others.
    void truncate(size_t n) { fields_.truncate(n); }

    // Reuse row after row: keeps the first n fields (their values are the
    // caller's to overwrite), deletes the rest, and makes the missing ones
    // with make(i), which answers a new field (owned by the record).
    template <class Make>
    void reuse(size_t n, Make&& make) {
        truncate(n);
        fields_.reserve(n);
        for (size_t i = fields_.size(); i < n; ++i) push_back(make(i));
    }

    // Lookups by name ignore case; the first match wins.
    bool find_field(const std::wstring& name) const;
    // The first field of that name; an empty field when none has it.
    const udb_field& get_field(const std::wstring& name) const;
    // Position of the first field of that name, or -1.
    int find_index(const std::wstring& name) const;

    // Sum of get_size over the fields that are not VT_EMPTY.
    uint32_t get_total_size() const;

private:
    container fields_;
};
