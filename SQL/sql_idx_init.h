// The index clauses of one CREATE TABLE statement: PRIMARY KEY, UNIQUE and
// INDEX clauses for the indexes the server will take, with target index and
// column names, and an index for the auto-increment column when no accepted
// index starts with it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "udb_idx.h"
#include "udb_names_map.h"
#include "udb_schema.h"

class sql_indexes_initializer {
public:
    // Most columns in one index.
    static constexpr size_t max_columns = 16;

    // target: the new table's columns (target names); indexes: the source
    // indexes; auto_name: the auto-increment column (target name, empty when
    // none); names: source column name -> target column name.
    sql_indexes_initializer(const udb_schema& target, const udb_indexes& indexes, const std::wstring& auto_name,
                            const udb_names_map::name_map& names, bool flag);

    // Appends one clause per accepted index, in list order, then the
    // auto-increment column's index when it needs one.
    void get_init_chunks(std::vector<std::wstring>& chunks) const;

    // The indexes with target names (merged by name).
    const udb_indexes& get_indexes() const { return indexes_; }

private:
    // Appends the column list to chunk; false (the reason logged) when the
    // server would refuse the index.
    bool accept(const udb_index& index, std::wstring& chunk) const;

    bool flag_;
    udb_indexes indexes_;
    std::wstring auto_name_;
    const udb_schema* target_;
    const udb_names_map::name_map* names_;
};

// The target name of a source column: the first key of the map equal to it
// ignoring case, in map order; the name itself when there is none.
std::wstring sql_mapped_column_name(const udb_names_map::name_map& names, const std::wstring& column);
