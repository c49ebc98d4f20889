// Engine properties: a map of wide key to wide value ("engine" and
// "character set" for the engine and a table, "character_set" for a column)
// with child properties for named tables and, under a table, named columns.
#pragma once
#include <map>
#include <memory>
#include <string>

class udb_properties {
public:
    using value_map = std::map<std::wstring, std::wstring>;

    value_map& get_map() { return values_; }
    const value_map& get_map() const { return values_; }
    // The value of a key; empty when it is missing (nothing is added).
    std::wstring get_value(const std::wstring& key) const;

    // The child of that name (exact first, then ignoring case), or null.
    udb_properties* get_properties(const std::wstring& name);
    const udb_properties* get_properties(const std::wstring& name) const;
    // The child of that name, made when missing.
    udb_properties& add_properties(const std::wstring& name);

private:
    value_map values_;
    std::map<std::wstring, std::unique_ptr<udb_properties>> children_;
};
