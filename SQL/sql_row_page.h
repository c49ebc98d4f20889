// Rows of a stream packed into one reused buffer: the receiving thread adds
// them as they come from the client library, the reading thread reads them
// back as the same cells or the same text row.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_types.h"

// Aligned to a cache line so that the thread filling one page and the one
// reading its neighbour share no line.
class alignas(64) sql_row_page {
public:
    // A page that grew beyond this is made small again when it is emptied.
    static constexpr size_t keep_capacity = 256u << 10;

    sql_row_page() = default;
    sql_row_page(const sql_row_page&) = delete;
    sql_row_page& operator=(const sql_row_page&) = delete;

    // Forgets the rows (and the huge values the reader did not take).
    void clear();

    // Adds a row of the binary protocol. The bytes are copied; a cell whose
    // owner holds a huge value moves that buffer into the page instead.
    // row_bytes: the row's bytes as the reader counts them (read_cells).
    void add_cells(sql_cell* cells, size_t n, size_t row_bytes);
    // Adds a row of the text protocol (null cells are NULL).
    void add_text(const MYSQL_ROW row, const unsigned long* lengths, size_t n, size_t row_bytes);

    // Rows added, and whether every one was read back.
    size_t rows() const { return rows_; }
    bool read_all() const { return read_rows_ == rows_; }
    // Bytes of the values of the rows added (as counted by the adder).
    size_t bytes() const { return bytes_; }

    // Reads the next row back (asserts beyond the last): cells point into the
    // page (and times into `times`, one per column) until the page is
    // cleared; a huge value's cell owns its buffer for the record to take.
    // Answers the row's bytes: a number, date or time counts 8, bytes their
    // length.
    size_t read_cells(sql_cell* cells, MYSQL_TIME* times, size_t n);
    // The same for a text row: pointers (null for NULL) and lengths; every
    // cell is followed by a zero byte. Answers the sum of the lengths.
    size_t read_text(char** row, unsigned long* lengths, size_t n);

private:
    // What a cell of the binary protocol is and how its value is stored:
    // numbers in eight bytes, short bytes with a one-byte length.
    enum tag : uint8_t {
        t_null, t_int64, t_uint64, t_real8, t_temporal,
        t_short_bytes, t_bytes, t_huge_text, t_huge_bytes
    };

    char* room(size_t n);
    template <class T>
    void put(const T& v) {
        std::memcpy(room(sizeof(T)), &v, sizeof(T));
        used_ += sizeof(T);
    }
    template <class T>
    T get() {
        T v;
        std::memcpy(&v, data_.get() + read_at_, sizeof(T));
        read_at_ += sizeof(T);
        return v;
    }
    // A length and the bytes (a one-byte length below 254; 254 stands for
    // NULL, 255 for an 8-byte length that follows), and a zero byte.
    void put_text(const char* data, size_t length);
    void check_row();

    std::unique_ptr<char[]> data_;
    size_t capacity_ = 0;
    size_t used_ = 0;
    size_t read_at_ = 0;
    size_t rows_ = 0;
    size_t read_rows_ = 0;
    size_t bytes_ = 0;
    std::vector<std::string> huge_texts_;
    std::vector<std::vector<uint8_t>> huge_bytes_;
};
