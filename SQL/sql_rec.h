// One fetched MySQL row as a record of typed field values.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_types.h"
#include "udb_field.h"
#include "udb_record.h"

// One column of a result: its wide name and the rule that reads its cells.
struct sql_column {
    std::wstring name;
    sql_column_rule rule;
};
using sql_columns = std::vector<sql_column>;

// The columns of a result, by the type table (sql_types.h).
sql_columns sql_describe_columns(const MYSQL_FIELD* fields, unsigned int count, bool blob_to_text);
sql_columns sql_describe_columns(MYSQL_RES* result, bool blob_to_text);

// The engine's blob_to_text flag (false when no engine exists).
bool sql_blob_to_text();

// A field of a MySQL row; its declared size is the cell's length in bytes.
class sql_field : public udb_field {
public:
    explicit sql_field(const std::wstring& name);
    sql_field(const sql_column& column, const char* cell, unsigned long length);
    ~sql_field() override = default;
    std::unique_ptr<udb_field> clone() const override { return std::make_unique<sql_field>(*this); }

    // Reads a cell into this field (buffers are reused).
    void assign(const sql_column_rule& rule, const char* cell, unsigned long length);
    // The same for a cell of the binary protocol; its declared size is the
    // length of its bytes, for a number the size of the binary value.
    void assign(const sql_column_rule& rule, const sql_cell& cell);
};

class sql_record : public udb_record {
public:
    sql_record() = default;
    // From the result's column descriptions (null descriptions assert).
    sql_record(unsigned int n_fields, const MYSQL_FIELD* fields, const unsigned long* lengths, MYSQL_ROW row);
    // From described columns.
    sql_record(const sql_columns& columns, const unsigned long* lengths, MYSQL_ROW row);
    ~sql_record() override = default;

    // Reads a row into this record, reusing its field objects: names are
    // kept when they match, values overwrite the old ones in place.
    // names_serial, when not 0, stands for the names of columns (a number
    // no other set of names has): a record that took its names from the
    // same serial keeps them without comparing.
    void assign_row(const sql_columns& columns, const unsigned long* lengths, MYSQL_ROW row,
                    uint64_t names_serial = 0);
    // The same for a row of the binary protocol (one cell per column).
    void assign_cells(const sql_columns& columns, const sql_cell* cells, uint64_t names_serial = 0);
    // Empties every value (the field objects stay).
    void clear_values();

    // A serial for assign_row that no earlier call has answered.
    static uint64_t new_names_serial();

private:
    // Fits the fields to the columns and reads field i by read(field, i).
    template <class Read>
    void assign_fields(const sql_columns& columns, uint64_t names_serial, Read&& read);

    // assign_cells for fields that may need their names.
    [[gnu::noinline]] void assign_named_cells(const sql_columns& columns, const sql_cell* cells, uint64_t names_serial);

    uint64_t names_serial_ = 0;
};
