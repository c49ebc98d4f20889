// A MySQL base table that is written to: rows appended (multi-row batches or
// one statement per row), updated and deleted; its foreign keys discovered.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql_table.h"

class sql_exception;
class sql_write_database;
class tk_exception;
struct sql_warning;

class sql_write_table : public sql_table {
public:
    // As sql_table; a table discovered beyond its columns has its foreign
    // keys read as well.
    sql_write_table(udb_database* database, MYSQL* connection, const std::wstring& table,
                    std::vector<udb_relationship>* relationships, uint32_t mode,
                    const sql_catalog_columns* known = nullptr);
    // Sends the rows still pending; a failure is logged (level 3).
    ~sql_write_table() override;

    // Writes the record: on the fast road (the engine's fast_insert) it joins
    // the pending multi-row statement, which is sent when a row of another
    // column list comes or the statement would grow past the buffer size;
    // otherwise one statement per row, with long data for large values. A
    // failure of the pending rows is reported by the call that sends them,
    // after its own row has been queued or written.
    void append_record(const udb_record& record) override;
    // Update and delete never throw: a failure, or a statement that finds no
    // row, is reported to the process's error reporter (context "Table 't'")
    // and the call returns.
    // Sets the columns of the rows the key text selects.
    void update(const udb_record& record, const std::wstring& key) override;
    // Sets the non-key columns of the row whose key columns equal the
    // record's; the record must hold every key column.
    void update(const udb_record& record) override;
    // Deletes the rows the key text selects; every key field must be a column.
    void delete_key(const std::wstring& key) override;
    // Deletes the rows equal to the record in each of its fields; every field
    // must be a column.
    void delete_key(const udb_record& record) override;

    // Sends the pending rows, if any. When the server refuses the batch its
    // rows are sent one by one: the good ones are stored and each refused one
    // (and each one the server stored with a value rounded or cut) is reported to the process's error reporter ("Table 't', row n", the
    // server's text and the row's values shortened); without a reporter one
    // sql_exception names them all.
    void flush();
    // Rows waiting in the pending statement.
    size_t get_pending_rows() const { return pending_rows_; }

    // The largest statement the fast road builds, and the row size above
    // which rows take the slow road (bytes).
    static uint64_t get_max_buffer_size();

private:
    // The table's foreign keys become relationships of the database.
    void read_foreign_keys();

    // One column of an INSERT and the record's field for it.
    struct column_field {
        const t_ftd* column;
        const udb_field* field;
    };
    // The schema column of each record field (null when there is none).
    std::vector<const t_ftd*> columns_of(const udb_record& record) const;
    // The statement's columns and their fields; a field without a column
    // (or a column without a field) raises the level-0 structure error.
    std::vector<column_field> pair_fields(const udb_record& record) const;
    // "INSERT INTO `t`(`a`, `b`)" or its REPLACE form (both roads).
    std::string column_part(const std::vector<column_field>& pairs) const;
    // earlier receives the failure of the rows sent to make room.
    void fast_append(const udb_record& record, std::unique_ptr<sql_exception>& earlier);
    void slow_append(const udb_record& record);
    // Runs an UPDATE or DELETE (prepared when values are bound); a statement
    // that finds no row raises a level-0 tk_exception.
    void send_change(const std::wstring& statement, const std::vector<const udb_field*>& bound, bool update);
    void report_change_failure(const tk_exception& e) const;
    sql_write_database& database() const;
    // The notes and warnings of the last write: values the server rounded or cut.
    std::vector<sql_warning> changed_values();
    // Raises sql_exception naming them when the last write left any.
    void throw_if_altered();

    // Whether the table's type undoes a refused statement whole (read once).
    bool is_transactional();

    uint32_t pending_columns_ = 0;  // columns of the rows in the pending insert batch
    std::string pending_batch_;     // insert statement being collected (UTF-8)
    std::string pending_head_;      // its column part: rows join it only with the same one
    size_t pending_rows_ = 0;
    std::vector<size_t> pending_starts_;     // where each pending row's "(...)" starts
    std::vector<uint64_t> pending_numbers_;  // each pending row's number (1 = first given)
    uint64_t appended_ = 0;                  // rows appended through this object
    uint64_t given_ = 0;                     // records given to append_record, refused ones too
    int transactional_ = -1;                 // -1 not read yet, else 0 or 1
};
