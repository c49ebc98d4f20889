// A MySQL base table opened as a recordset, with its columns refined from
// SHOW COLUMNS, its indexes and its foreign keys discovered.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_recs.h"

class sql_table : public sql_recordset {
public:
    // table is the name as the server lists it. A mode with no bits other
    // than no_indexes_bits reads neither indexes nor foreign keys.
    static constexpr uint32_t no_indexes_bits = 0x60;

    sql_table(udb_database* database, MYSQL* connection, const std::wstring& table,
              std::vector<udb_relationship>* relationships, uint32_t mode);
    ~sql_table() override;

    // Writing a MySQL table is not supported yet: these raise ole_type_exception.
    void append_record(const udb_record& record) override;
    void update(const udb_record& record, const std::wstring& key) override;
    void update(const udb_record& record) override;
    void delete_key(const std::wstring& key) override;
    void delete_key(const udb_record& record) override;

    // A default text of SHOW COLUMNS that stands for the current time:
    // CURRENT_TIMESTAMP in any case, with or without "()" or a precision.
    static bool is_current_timestamp(const std::wstring& text);

protected:
    // Discovery; called once by the constructor.
    void initialize(uint32_t mode);

private:
    // A statement through the database's query (rows, or null).
    std::unique_ptr<udb_recordset> run(const std::wstring& statement);
    void refine_columns();
    void read_indexes();
    void read_foreign_keys();

    uint32_t pending_columns_ = 0;  // columns of the rows in the pending insert batch
    std::string pending_batch_;     // insert statement being collected (UTF-8)
};
