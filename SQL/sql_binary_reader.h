// The rows of a prepared statement by the binary protocol: each value read
// straight from the received row, each row into one cell per column.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_lone_array.h"
#include "sql_rec.h"
#include "sql_run.h"
#include "sql_types.h"

class sql_row_layout;
class sql_row_page;

class sql_binary_reader {
public:
    // Prepares and runs the statement when the server and every column
    // allow (sql_binary_protocol_fits); null to use the text protocol
    // instead, with any rows already run dropped. checked: set once the
    // prepared statement was seen to give rows; a statement checked already
    // (a table's) is prepared and run in one round trip. A failed run throws
    // sql_exception.
    static std::unique_ptr<sql_binary_reader> open(MYSQL* connection, const std::string& statement, bool& checked);
    ~sql_binary_reader() { close(); }  // before the columns its rows are read into
    sql_binary_reader(const sql_binary_reader&) = delete;
    sql_binary_reader& operator=(const sql_binary_reader&) = delete;

    // The column descriptions (valid until the statement closes).
    const MYSQL_FIELD* fields() const { return fields_; }
    unsigned int field_count() const { return field_count_; }

    // The next row into cells() (columns: the described ones, whose rules
    // tell how a huge value is kept); false at the end. A broken stream
    // throws sql_exception.
    bool fetch(const sql_columns& columns, size_t& row_bytes);
    sql_cell* cells() { return cells_.data(); }
    // The next row packed straight into page by layout (the stream's, made
    // from shape()); false at the end. The page gets what fetch and then
    // sql_row_page::add_cells would give it.
    bool fetch_into(const sql_columns& columns, const sql_row_layout& layout, sql_row_page& page);
    // The NULL cells of the row as bits, a word per 64 columns.
    const uint64_t* null_bits() const { return null_bits_.data(); }
    size_t size() const { return cells_.size(); }
    // What every non-null cell of column i is: its kind, and for a date or
    // time its type and fraction digits.
    sql_cell shape(size_t i) const;

    // The statement has not been closed.
    bool is_open() const { return stmt_ != nullptr; }
    // Closes the statement (unread rows are read and dropped). A statement
    // read to its end is kept for the connection's next one.
    void close();

private:
    // One column and what its value of the current row was read into.
    struct column {
        enum_field_types type = MYSQL_TYPE_NULL;
        unsigned int decimals = 0;
        sql_cell::kind_t kind = sql_cell::bytes;
        bool temporal = false;
        // FLOAT and fixed-decimal DOUBLE: handed on as the number that the
        // server's text of the value reads as.
        enum text_t : uint8_t { no_text, float_text, fixed_text } text = no_text;
        // How the value is read from the row: its bytes on the wire.
        enum read_t : uint8_t {
            read_int8, read_uint8, read_int16, read_uint16, read_int32, read_uint32, read_int64,
            read_real4, read_real8, read_time, read_bytes, read_nothing
        } read = read_bytes;
        unsigned long zero_width = 0;  // ZEROFILL: the width the text is padded to
        long long integer = 0;         // an integer, widened by its sign
        double real = 0;
        float real4 = 0;

        MYSQL_TIME time{};
        // A bytes value: where it is in the received row (valid until the
        // next row is fetched).
        const char* data = nullptr;
        // The server's text of a FLOAT or fixed-decimal DOUBLE value.
        std::vector<char> bytes;
        // A value beyond large_bytes, copied whole for the record to take.
        std::string huge_text;
        std::vector<uint8_t> huge_bytes;
        unsigned long length = 0;
        my_bool is_null = 0;
        // How fetch_into packs the value, and where its number or time is
        // in the row.
        enum put_t : uint8_t {
            put_integer, put_real8, put_real_of_text, put_time, put_bytes
        } put = put_bytes;
        uint32_t slot = 0;

        // The number the server's text of a FLOAT or fixed-decimal DOUBLE
        // value reads as.
        double real_of_text();
    };

    explicit sql_binary_reader(MYSQL* connection) : connection_(connection) {}
    // The statement's row callback: column i's value (row null for NULL)
    // read and row moved past it.
    static void take_value(void* reader, unsigned int i, unsigned char** row);
    // Decides each column's put and slot, as sql_row_layout packs them.
    void plan_rows();
    // Fetches the next row; false at the end.
    bool next_row();
    void drop_huge();
    // Column i's huge value copied into a buffer of its own: the one set.
    void fetch_huge(size_t i, const sql_columns& columns, std::string*& text, std::vector<uint8_t>*& bytes);
    // Whether the huge value of column i reads as text.
    bool huge_reads_as_text(size_t i);

    MYSQL* connection_;
    sql_stmt_ptr stmt_;
    sql_result_ptr meta_;  // the column descriptions
    const MYSQL_FIELD* fields_ = nullptr;
    unsigned int field_count_ = 0;
    bool huge_held_ = false;   // a column holds a huge value of the last row
    bool ended_ = false;       // every row was read
    // The end of the last value read of the row.
    const unsigned char* row_end_ = nullptr;
    // Written for every row on the receiving thread: kept off the lines of
    // what the caller writes beside it.
    sql_lone_array<column> columns_;
    sql_lone_array<sql_cell> cells_;
    std::vector<uint64_t> null_bits_;
    size_t fixed_bytes_ = 0;  // of a row packed by fetch_into
};
