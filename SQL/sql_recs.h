// Recordsets over MySQL results, always streamed (never a whole result in
// memory): sql_recordset reads a table or a stored query page by page;
// sql_tmp_recordset reads a small result forward, 1000 records at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_catalog.h"
#include "sql_row_stream.h"
#include "sql_rec.h"
#include "sql_run.h"
#include "udb_recordset.h"
#include "udb_relationship.h"

class udb_database;

class sql_recordset : public udb_recordset {
public:
    // A table. database may be null; connection is the engine's.
    sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& table,
                  std::vector<udb_relationship>* relationships);
    // The same; with rows_only the table is read for its rows only: its
    // columns are named from known (a LIMIT 0 statement when null), nothing
    // else of it is asked, and each stream's own description becomes the
    // schema.
    sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& table,
                  std::vector<udb_relationship>* relationships, const sql_catalog_columns* known, bool rows_only);
    // A stored query (a SELECT statement, possibly ending in ";" or a comment).
    sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& name,
                  const std::wstring& query, std::vector<udb_relationship>* relationships);
    ~sql_recordset() override;

    // Reading only: asserts.
    void append_record(const udb_record& record) override;
    // The current record (owned here, valid until the next cursor move).
    udb_record* get_record() override;
    // The end of the stream (not the count taken before it).
    bool is_eof() override;
    // Throws sql_exception when the stream breaks (lost connection, killed
    // query, time-out).
    void next() override;
    // Back one row while that row is still held in the page.
    void prev() override;
    // Opens a new stream from the first row (nothing is counted). When the
    // names of the stream's columns differ from the schema, the schema is
    // rebuilt from them.
    void reset() override;

    // The statement that counts the rows (UTF-16; a query is counted as a
    // derived table).
    std::wstring count_statement() override;
    // Counted apart from the stream, on the count connection.
    bool is_counted_apart() const override { return true; }
    // Runs the count statement on the recordset's connection.
    uint64_t get_rec_count();
    // Runs it and keeps the result as the record count (unknown until then);
    // a query that cannot be counted leaves the count unknown (0).
    void count() override;
    // 0-based number of the current record since the last reset.
    uint64_t get_position() const { return position_; }
    // Rows held in the current page.
    size_t get_page_rows() const { return page_rows(); }
    // Every row of the stream has been received (nothing left to count).
    bool is_stream_done() const override { return !stream_ || stream_->at_end(); }
    // Ends a stream that the server may still be sending without reading
    // the rest (sql_row_stream::cut): true when it did, and the
    // connection is lost then.
    bool cut_stream() override { return stream_ && stream_->cut(); }
    MYSQL* get_connection() const { return connection_; }
    std::vector<udb_relationship>* get_relationships() const { return relationships_; }
    // The auto-increment column (empty when there is none).
    const std::wstring& get_auto_number_column() const { return auto_number_; }

protected:
    // Builds the schema (the rows are not counted): a table's columns from a LIMIT 0
    // statement; a query's from its own result, whose stream the first reset
    // reads. Called by the constructors.
    void initialize();

private:
    const std::wstring& source() { return is_query() ? query_ : name_; }
    // The schema of the columns (and the select list that reads geometry as
    // text, when geometry or the log reads it). named: the columns' names
    // already decoded, when at hand.
    void describe(const MYSQL_FIELD* fields, unsigned int n, bool blob_to_text, std::wstring& select_list,
                  bool& has_geometry, const sql_columns* named = nullptr);
    // The schema of the known columns: their names only.
    void describe_known(const sql_catalog_columns& known, std::wstring& select_list, bool& has_geometry);
    void open_stream();
    void follow_result(bool blob_to_text);
    // next() past the page's last row: the next page, unless the stream ended.
    [[gnu::noinline]] void next_page();
    // The rows of the page that came from this recordset's stream: a lent
    // page still holds the rows of the recordset before, which the first
    // page of the stream overwrites in place.
    size_t page_rows() const { return page_filled_ ? page_->count : 0; }

    MYSQL* connection_;
    std::vector<udb_relationship>* relationships_;
    std::unique_ptr<sql_row_stream> stream_;
    uint64_t position_ = 0;
    size_t page_index_ = 0;
    bool rows_only_ = false;
    const sql_catalog_columns* known_ = nullptr;  // during construction only
    std::wstring auto_number_;
    // Lent by the database when no other recordset holds its page, else own.
    std::shared_ptr<sql_record_page> page_;
    bool page_filled_ = false;  // the page's rows are this recordset's
};

class sql_tmp_recordset : public udb_recordset {
public:
    static constexpr size_t cache_size = 1000;

    // Over a streamed result, which it takes over (null asserts).
    sql_tmp_recordset(MYSQL* connection, sql_result_ptr result);
    // Runs the statement (UTF-8) and streams its result; throws sql_exception
    // when the server refuses it; a statement without rows asserts.
    sql_tmp_recordset(MYSQL* connection, const std::string& statement);
    ~sql_tmp_recordset() override;

    void append_record(const udb_record& record) override;  // asserts
    udb_record* get_record() override;
    // Refills the cache from the stream when its records are used up.
    bool is_eof() override;
    void next() override { ++pos_; }
    // Back to the first record of the current cache (forward-only otherwise).
    void reset() override { pos_ = 0; }

    const sql_columns& columns() const { return columns_; }
    size_t get_field_count() const { return columns_.size(); }

protected:
    void initialize();
    void fill_cache();
    void clean_cache();

private:
    MYSQL* connection_;
    sql_result_ptr result_;
    sql_columns columns_;
    size_t pos_ = 0;
    size_t count_ = 0;  // records of the cache in use
    std::vector<std::unique_ptr<sql_record>> records_;
};

// The databases of the server ("SHOW DATABASES").
class sql_list_databases_rs : public sql_tmp_recordset {
public:
    explicit sql_list_databases_rs(MYSQL* connection);
    ~sql_list_databases_rs() override;
};

// A listing statement of the database's tables.
class sql_list_tables_rs : public sql_tmp_recordset {
public:
    sql_list_tables_rs(MYSQL* connection, const std::string& statement);
    ~sql_list_tables_rs() override;
};

// Runs a statement and reads its rows: null when it returns none; throws
// sql_exception when the server refuses it.
std::unique_ptr<sql_tmp_recordset> sql_query_rows(MYSQL* connection, const std::wstring& statement);
