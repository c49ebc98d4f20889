// A table's indexes.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct udb_index {
    udb_index() = default;
    udb_index(const std::wstring& name, bool unique, bool primary, bool unique_constraint = false,
              std::vector<std::wstring> fields = {});

    // True when the given names are the first columns of the index, in
    // order, compared ignoring case (no names: true).
    bool starts_with_fields(const std::vector<std::wstring>& names) const;

    std::wstring name;
    bool unique = false;
    bool primary = false;
    bool unique_constraint = false;
    std::vector<std::wstring> fields;   // the index's columns in order
    std::vector<std::wstring> fields2;  // unused by this system
};

// Indexes in insertion order; names are unique within a list, ignoring case.
class udb_indexes {
public:
    using container = std::vector<udb_index>;
    using const_iterator = container::const_iterator;

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const udb_index& operator[](size_t i) const { return items_.at(i); }
    udb_index& operator[](size_t i) { return items_.at(i); }
    const udb_index& at(size_t i) const { return items_.at(i); }
    udb_index& at(size_t i) { return items_.at(i); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    void clear() { items_.clear(); }

    // Adds the index, or merges it into the one of the same name: a primary
    // key is never replaced and replaces anything else; a unique constraint
    // replaces a plain or unique index; a unique index replaces a plain one.
    void push_back(const udb_index& index);

    // Position of the index of that name (ignoring case), or -1.
    int find2(const std::wstring& name) const;
    // True when no index bears the name (ignoring case).
    bool is_acceptable_name(const std::wstring& name) const;
    // The index of that name; an internal error when there is none.
    udb_index& get_index(const std::wstring& name);
    const udb_index& get_index(const std::wstring& name) const;
    // True when the column (exact name) belongs to some index; with
    // primary_only, to a primary key.
    bool is_idx_field(const std::wstring& column, bool primary_only) const;
    // True when some index starts with the given columns in order.
    bool has_index_on_fields(const std::vector<std::wstring>& names) const;

private:
    container items_;
};
