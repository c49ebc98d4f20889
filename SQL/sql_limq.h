// The streamed SELECT behind a recordset, read in pages.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <mysql.h>

#include "sql_rec.h"
#include "sql_run.h"

// One page of records. Slots below count hold the current rows; the record
// objects of the other slots are kept for reuse.
struct sql_page {
    static constexpr size_t max_rows = 256;
    // A page also ends once its rows hold this many bytes (at least one row).
    static constexpr size_t max_bytes = 8u << 20;
    // A record that held a row this large is rebuilt, not reused, so that
    // no slot keeps a large buffer after its row has gone.
    static constexpr size_t reuse_limit = 16u << 10;

    std::array<std::unique_ptr<sql_record>, max_rows> slots;
    std::array<size_t, max_rows> bytes{};
    size_t count = 0;

    // Forgets the rows (values emptied, large records dropped).
    void clear();
};

// The statement that streams a table or a stored query:
// "SELECT * FROM `table`" or "SELECT * FROM (query\n) as temp___table".
std::wstring sql_select_statement(const std::wstring& name_or_query, bool is_query);
// A stored query made fit to be wrapped: trailing blanks and semicolons
// (also before a trailing comment) are removed.
std::wstring sql_strip_query_end(const std::wstring& query);

class sql_limited_query {
public:
    // Runs the SELECT and opens its stream; throws sql_exception when the
    // server refuses it.
    sql_limited_query(MYSQL* connection, const std::wstring& name_or_query, bool is_query, bool blob_to_text);
    ~sql_limited_query();
    sql_limited_query(const sql_limited_query&) = delete;
    sql_limited_query& operator=(const sql_limited_query&) = delete;

    // Refills the page with the next rows of the stream (up to its row and
    // byte limits) and answers how many it holds: 0 at the end of the
    // stream. A stream that breaks (lost connection, killed query) throws
    // sql_exception; the stream is then closed. A null page asserts.
    size_t store_to(sql_page* page);

    // The stream was read to its end (and freed: the connection is free).
    bool at_end() const { return !result_; }
    const sql_columns& columns() const { return columns_; }
    MYSQL_RES* result() const { return result_.get(); }

private:
    void close();

    MYSQL* connection_;
    sql_result_ptr result_;
    sql_columns columns_;
};
