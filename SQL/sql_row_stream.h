// The streamed SELECT behind a recordset, read in pages of records.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_lone_array.h"
#include "sql_rec.h"
#include "sql_record_page.h"
#include "sql_row_queue.h"
#include "sql_run.h"

class sql_binary_reader;

class sql_row_stream {
public:
    // Runs the SELECT and opens its stream; throws sql_exception when the
    // server refuses it. When every column fits the binary protocol
    // (sql_binary_protocol_fits) the rows come through a prepared statement,
    // which spares the server writing them as text; the values are the same.
    // text_only keeps to the text protocol.
    sql_row_stream(MYSQL* connection, const std::wstring& name_or_query, bool is_query, bool blob_to_text,
                   bool text_only = false);
    ~sql_row_stream();
    sql_row_stream(const sql_row_stream&) = delete;
    sql_row_stream& operator=(const sql_row_stream&) = delete;

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
    size_t store_to(sql_record_page* page);
    // Before the first store_to: the rows take the names serial the page
    // has for the stream's column names (sql_record_page::serial_for).
    void share_names(sql_record_page& page) { names_serial_ = page.serial_for(columns_); }

    // The stream was read to its end (and freed: the connection is free).
    bool at_end() const { return !receiving_ && !stream_open() && !failure_; }
    // The server may still have rows of the stream to send (neither its end
    // nor a break has been received).
    bool is_open() const;
    // Ends an open stream without receiving the rows left: the connection's
    // socket is shut down first, so that closing reads nothing more. The
    // connection is lost for good. False, and nothing done, when the stream
    // is not open.
    bool cut();
    const sql_columns& columns() const { return columns_; }
    // The column descriptions of the result: copies made when the stream
    // opened, valid while this object lives (also once the stream closed).
    const MYSQL_FIELD* fields() const { return fields_.empty() ? nullptr : fields_.data(); }
    unsigned int field_count() const { return static_cast<unsigned int>(fields_.size()); }
    // The text stream (null while the rows come by the binary protocol).
    MYSQL_RES* result() const { return result_.get(); }
    bool is_binary() const { return binary_; }

private:
    bool stream_open() const;
    // The receiving thread: rows into pages until the end, a break or a stop.
    void receive(sql_row_queue& queue);
    // The next row of the stream into the page; false at its end.
    bool receive_row(sql_row_page& page);
    // Fills the page from the pages the thread received.
    size_t fill_from_queue(sql_record_page* page, size_t held);
    // Fills the page from the stream on this thread.
    size_t fill_from_stream(sql_record_page* page, size_t held);
    // In a handler of a break of the stream: thrown on when the page has no
    // rows (the old rows of its slots, held, are emptied), else kept for the
    // next call.
    void keep_break(sql_record_page* page, size_t held);
    // Starts the thread after the first page (held_bytes: that page's).
    void start_receiving(size_t held_bytes);
    // Ends the receiving thread, then closes the stream.
    void close();
    // Closes the stream (unread rows are read and dropped).
    void close_stream();
    // Drops the stream after a break: nothing more comes from it.
    void drop_broken_stream();

    MYSQL* connection_;
    int socket_ = -1;  // the connection's, taken before any thread reads from it
    sql_result_ptr result_;
    std::unique_ptr<sql_binary_reader> reader_;  // the binary stream
    std::vector<MYSQL_FIELD> fields_;
    std::string field_texts_;  // the texts the copies in fields_ point to
    bool binary_ = false;
    sql_columns columns_;
    uint64_t names_serial_ = 0;  // the names of columns_ (see sql_record::assign_row)
    std::exception_ptr failure_;  // a break not yet reported (rows came before it)

    // Receiving on a thread of its own (after the first page).
    sql_row_queue queue_{sql_row_queue::default_budget, sql_record_page::max_bytes};
    bool receiving_ = false;        // the thread's stream has not been seen to end
    bool on_caller_thread_ = false; // no thread could be started: store_to reads the stream
    sql_row_page* raw_ = nullptr;   // the page of received rows being read
    size_t converted_bytes_ = 0;    // bytes of the rows in the caller's page
    sql_lone_array<sql_cell> read_cells_;  // the caller's cells (the reader's are the receiver's)
    sql_lone_array<MYSQL_TIME> times_;
    sql_row_layout layout_;  // how the receiver packs binary rows (set before it starts)
    bool cells_marked_ = false;  // read_cells_: see sql_row_page::read_cells
    sql_lone_array<char*> text_row_;
    sql_lone_array<unsigned long> text_lengths_;
};
