// The streamed SELECT behind a recordset, read in pages.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_lone_array.h"
#include "sql_rec.h"
#include "sql_row_queue.h"
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
    // Forgets the rows that are about to be overwritten: only the large
    // records are dropped; the values of the others stay until the slots
    // are read again (or clear_from empties them).
    void recycle();
    // Empties the values of the slots from first to last (exclusive).
    void clear_from(size_t first, size_t last);
};

// The statement that streams a table or a stored query: "SELECT * FROM
// `table`", or the query as written (sql_strip_query_end).
std::wstring sql_select_statement(const std::wstring& name_or_query, bool is_query);
// A stored query made fit to be sent or wrapped: trailing blanks and
// semicolons (also before a trailing comment) are removed.
std::wstring sql_strip_query_end(const std::wstring& query);

// Prepares a statement (never runs it) and throws sql_exception when the
// server refuses it or it gives no rows.
void sql_check_gives_rows(MYSQL* connection, const std::string& statement);
// Why a stored query cannot be converted (prepared, never run): the server's
// reason, parameter markers, no columns, or a statement that does more than
// read (sql_reading_problem); empty when it can.
std::string sql_query_problem(MYSQL* connection, const std::string& statement);
// The same, then hands the columns the statement will give to `describe`
// (valid only during the call).
void sql_describe_prepared(MYSQL* connection, const std::string& statement,
                           const std::function<void(const MYSQL_FIELD*, unsigned int)>& describe);

class sql_limited_query {
public:
    // Runs the SELECT and opens its stream; throws sql_exception when the
    // server refuses it. When every column fits the binary protocol
    // (sql_binary_protocol_fits) the rows come through a prepared statement,
    // which spares the server writing them as text; the values are the same.
    // text_only keeps to the text protocol.
    sql_limited_query(MYSQL* connection, const std::wstring& name_or_query, bool is_query, bool blob_to_text,
                      bool text_only = false);
    ~sql_limited_query();
    sql_limited_query(const sql_limited_query&) = delete;
    sql_limited_query& operator=(const sql_limited_query&) = delete;

    // Refills the page with the next rows of the stream (up to its row and
    // byte limits) and answers how many it holds: 0 at the end of the
    // stream. A stream that breaks (lost connection, killed query) throws
    // sql_exception; the stream is then closed. The whole rows received
    // before the break are answered first, and the next call throws. A null
    // page asserts.
    // The first page is read on the caller's thread; when the stream goes
    // on, a thread of its own receives the rest while the caller converts
    // and uses the rows already received. When no thread can be started,
    // every page is read on the caller's thread. The connection is the thread's
    // until the stream has ended (at_end) or is closed.
    size_t store_to(sql_page* page);

    // The stream was read to its end (and freed: the connection is free).
    bool at_end() const { return !receiving_ && !result_ && !stmt_ && !failure_; }
    // The server may still have rows of the stream to send (neither its end
    // nor a break has been received).
    bool is_open() const;
    // Ends an open stream without receiving the rows left: the connection's
    // socket is shut down first, so that closing reads nothing more. The
    // connection is lost for good. False, and nothing done, when the stream
    // is not open.
    bool cut();
    const sql_columns& columns() const { return columns_; }
    // The column descriptions of the result (valid while the stream is open).
    const MYSQL_FIELD* fields() const { return fields_; }
    unsigned int field_count() const { return field_count_; }
    // The text stream (null while the rows come by the binary protocol).
    MYSQL_RES* result() const { return result_.get(); }
    bool is_binary() const { return binary_; }

private:
    // One column of the binary stream and the buffers it is read into.
    struct binary_column {
        enum_field_types type = MYSQL_TYPE_NULL;
        enum_field_types buffer_type = MYSQL_TYPE_NULL;  // integers: the buffer of their own width
        unsigned int decimals = 0;
        sql_cell::kind_t kind = sql_cell::bytes;
        bool temporal = false;
        union {  // an integer in the column's own width
            long long integer = 0;
            int32_t int32;
            int16_t int16;
            int8_t int8;
        };
        double real = 0;
        MYSQL_TIME time{};
        std::vector<char> bytes;
        // A value beyond large_bytes, fetched whole for the record to take.
        std::string huge_text;
        std::vector<uint8_t> huge_bytes;
        unsigned long length = 0;
        my_bool is_null = 0;
        my_bool error = 0;
    };

    // Prepares, binds and runs the statement when its columns allow;
    // false (nothing run) to use the text protocol instead.
    // checked: set once the prepared statement was seen to give rows.
    bool open_binary(const std::string& statement, bool blob_to_text, bool& checked);
    // The next row of the binary stream into cells_; false at its end.
    bool fetch_cells(size_t& row_bytes);
    // Whether a huge cell of a column whose binary cells may be text reads
    // as text (bind: the column's binding).
    bool huge_reads_as_text(MYSQL_BIND bind, size_t column, unsigned long length);
    // The receiving thread: rows into pages until the end, a break or a stop.
    void receive(sql_row_queue& queue);
    // The next row of the stream into the page; false at its end.
    bool receive_row(sql_row_page& page);
    // Fills the page from the pages the thread received.
    size_t fill_from_queue(sql_page* page, size_t held);
    // Fills the page from the stream on this thread.
    size_t fill_from_stream(sql_page* page, size_t held);
    // In a handler of a break of the stream: thrown on when the page has no
    // rows (the old rows of its slots, held, are emptied), else kept for the
    // next call.
    void keep_break(sql_page* page, size_t held);
    // Starts the thread after the first page (held_bytes: that page's).
    void start_receiving(size_t held_bytes);
    static int64_t signed_integer(const binary_column& c);
    static uint64_t unsigned_integer(const binary_column& c);
    void bind_buffers();
    // Ends the receiving thread, then closes the stream.
    void close();
    // Closes the stream (unread rows are read and dropped).
    void close_stream();

    MYSQL* connection_;
    int socket_ = -1;  // the connection's, taken before any thread reads from it
    sql_result_ptr result_;
    sql_stmt_ptr stmt_;
    sql_result_ptr meta_;  // the column descriptions of the binary stream
    const MYSQL_FIELD* fields_ = nullptr;
    unsigned int field_count_ = 0;
    bool binary_ = false;
    bool rebind_ = false;      // a byte buffer changed: bind again before the next row
    bool large_held_ = false;  // a byte buffer is beyond large_bytes
    sql_columns columns_;
    uint64_t names_serial_ = 0;  // the names of columns_ (see sql_record::assign_row)
    // Written for every row on the receiving thread: kept off the lines of
    // what the caller writes beside it.
    sql_lone_array<binary_column> binary_columns_;
    sql_lone_array<MYSQL_BIND> binds_;
    sql_lone_array<sql_cell> cells_;
    std::exception_ptr failure_;  // a break not yet reported (rows came before it)

    // Receiving on a thread of its own (after the first page).
    sql_row_queue queue_;
    bool receiving_ = false;        // the thread's stream has not been seen to end
    bool on_caller_thread_ = false; // no thread could be started: store_to reads the stream
    sql_row_page* raw_ = nullptr;   // the page of received rows being read
    size_t converted_bytes_ = 0;    // bytes of the rows in the caller's page
    sql_lone_array<sql_cell> read_cells_;  // the caller's cells (cells_ are the receiver's)
    sql_lone_array<MYSQL_TIME> times_;
    sql_lone_array<char*> text_row_;
    sql_lone_array<unsigned long> text_lengths_;
};
