// The layout of a table being created on a MySQL server, kept within the
// server's row limits, and the lookup of a row's fields by source name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "udb_schema.h"

class udb_record;
class udb_names_map;
class udb_validator;

// Estimates the row of the table as the server counts it (text at four bytes
// a character) and, when a column would make it too large, turns the largest
// VARCHAR and CHAR columns into LONGTEXT and VARBINARY ones into LONGBLOB
// (size 0, no server type text) until it fits:
// - the row limit: every column's share of the row plus the NULL flags at
//   most 65535 bytes;
// - the page limit of InnoDB tables: what stays inside the page (small
//   columns whole, long ones as a reference) below 8126 bytes.
class sql_schema : public udb_schema {
public:
    static constexpr uint32_t max_row_bytes = 65535;
    static constexpr uint32_t max_page_bytes = 8125;

    sql_schema();
    ~sql_schema() override;
    sql_schema(const sql_schema&) = default;
    sql_schema& operator=(const sql_schema&) = default;

    // Appends the descriptor (the schema owns it) and applies the limits.
    // A null descriptor is an internal error.
    void push_back(t_ftd* descriptor);
    void push_back(std::unique_ptr<t_ftd> descriptor) { push_back(descriptor.release()); }
    void push_back(const t_ftd& descriptor) { push_back(std::make_unique<t_ftd>(descriptor)); }

    // Whether the page limit applies (InnoDB, the default table type); set
    // before the first column for tables of other types.
    void set_page_limit(bool on) { page_limit_ = on; }

    // Row bytes as the row limit counts them, NULL flags included.
    uint32_t get_total_size() const { return row_bytes_ + null_bytes(); }
    // Bytes kept inside an InnoDB page, header and NULL flags included.
    uint32_t get_page_size() const { return page_bytes_ + page_overhead + null_bytes(); }
    // Positions of the columns that may still become LONGTEXT, largest first.
    const std::vector<uint32_t>& get_lobs() const { return lobs_; }

    // One column's share of the row and of the page.
    static uint32_t row_bytes_of(const t_ftd& d);
    static uint32_t page_bytes_of(const t_ftd& d);

private:
    // Record header, transaction id, roll pointer and row id of InnoDB.
    static constexpr uint32_t page_overhead = 24;

    uint32_t null_bytes() const { return (nullable_ + 7) / 8; }
    void shrink();
    void convert(size_t lobs_pos);

    uint32_t row_bytes_ = 0;
    uint32_t page_bytes_ = 0;
    uint32_t nullable_ = 0;
    bool page_limit_ = true;
    std::vector<uint32_t> lobs_;
};

// Finds, for a row to be written into a table, a column's field by the
// field's source name (what the names map gives for the field's name),
// ignoring case.
class sql_field_finder {
public:
    // The engine singleton gives the field-name validator of the record.
    sql_field_finder(const std::wstring& table, const udb_record& record, const udb_names_map* names_map);
    ~sql_field_finder();
    sql_field_finder(const sql_field_finder&) = delete;
    sql_field_finder& operator=(const sql_field_finder&) = delete;

    void initialize(const udb_record& record);
    // Position of the field whose source name equals name ignoring case, or -1.
    int32_t get_field_idx(const std::wstring& name) const;
    // The field written into the column of that name: by source name
    // (get_field_idx), else by the name table creation gave the field (the
    // names map's target name, or the validator's replacement of a name the
    // server refuses), ignoring case; -1 when none.
    int32_t get_column_field_idx(const std::wstring& column) const;

    const std::vector<std::wstring>& get_original_names() const { return original_names_; }
    udb_validator& get_validator() { return *validator_; }

private:
    std::unique_ptr<udb_validator> validator_;
    std::wstring table_;
    const udb_names_map* names_map_;
    std::vector<std::wstring> original_names_;
    std::vector<std::wstring> target_names_;
};
