// The column clauses of one CREATE TABLE statement: target column names the
// server accepts, types, character sets, NOT NULL, DEFAULT, AUTO_INCREMENT
// and comments.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sql_sch.h"
#include "udb_idx.h"
#include "udb_names_map.h"
#include "udb_schema.h"

class udb_properties;
class udb_validator;

class sql_schema_initializer {
public:
    // auto_name receives the auto-increment column's target name when the
    // chunks are built (it must outlive this object). page_limit: the table
    // is an InnoDB one (its row must fit the page).
    sql_schema_initializer(const std::wstring& table, const udb_schema& schema, const udb_indexes& indexes,
                           std::wstring* auto_name, bool flag, bool page_limit = true);
    ~sql_schema_initializer();
    sql_schema_initializer(const sql_schema_initializer&) = delete;
    sql_schema_initializer& operator=(const sql_schema_initializer&) = delete;

    // Appends one clause per column in schema order. table_props: the
    // table's properties (column character sets), or null. A second column
    // that qualifies for AUTO_INCREMENT is an internal error.
    void get_init_chunks(std::vector<std::wstring>& chunks, const udb_properties* table_props);

    // The target columns.
    const sql_schema& get_schema() const { return schema_; }
    // Source column name -> generated name, for the renamed columns.
    const udb_names_map::name_map& get_names_map() const { return names_; }

    // Whether the column may carry a DEFAULT clause / AUTO_INCREMENT.
    static bool can_have_def_value(const t_ftd& d);
    static bool can_have_auto_num(const t_ftd& d);

private:
    bool flag_;
    std::wstring table_;
    sql_schema schema_;
    std::wstring* auto_name_;
    const udb_indexes* indexes_;
    std::unique_ptr<udb_validator> validator_;
    udb_names_map::name_map names_;
    const udb_schema* source_;
    std::vector<std::wstring> source_names_;  // by target column
};

// A character set or storage engine name goes into a statement as it
// stands: letters, digits and '_' only.
bool sql_is_plain_word(const std::wstring& text);
