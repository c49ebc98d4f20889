// A MySQL base table opened as a recordset, with its columns refined from
// SHOW COLUMNS and its indexes discovered. The writing side
// (sql_table_write.h) derives from it.
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

    // With udb_database::table_rows_only in the mode the table is read for
    // its rows only: its columns are named from known (a LIMIT 0 statement
    // when null) and nothing else of it is discovered.
    sql_table(udb_database* database, MYSQL* connection, const std::wstring& table,
              std::vector<udb_relationship>* relationships, uint32_t mode,
              const sql_catalog_columns* known = nullptr);
    ~sql_table() override;

    // Whether a table opened in the mode is discovered beyond its columns
    // (its indexes, and on the writing side its foreign keys).
    static bool reads_indexes(uint32_t mode);

    // A default text of SHOW COLUMNS that stands for the current time:
    // CURRENT_TIMESTAMP in any case, with or without "()" or a precision.
    static bool is_current_timestamp(const std::wstring& text);

protected:
    // Discovery; called once by the constructor.
    void initialize(uint32_t mode);

    // A statement through the database's query (rows, or null).
    std::unique_ptr<udb_recordset> run(const std::wstring& statement);

private:
    void refine_columns();
    void read_indexes();
};
