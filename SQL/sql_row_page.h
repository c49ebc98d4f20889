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

// How the binary rows of one stream are packed, decided once from its
// columns (their kinds change from row to row only by NULL): a row is its
// bytes as counted, a bitmap of its NULL cells (a word per 64 columns), the
// numbers in eight bytes (a double with its shortest digits and their
// point, three times eight), the dates and times as the client library gives
// them, then the bytes with their lengths.
class sql_row_layout {
public:
    sql_row_layout() = default;
    // shapes: one cell per column giving its kind (not null), and for a
    // date or time its type and fraction digits.
    sql_row_layout(const sql_cell* shapes, size_t n);

    size_t size() const { return kinds_.size(); }
    // Words of NULL bits of a row.
    size_t null_words() const { return (kinds_.size() + 63) / 64; }
    // Sets in the caller's cells what is the same in every row (a date or
    // time's buffer in times, its type and digits; no owners), before the
    // first read_cells.
    void prepare(sql_cell* cells, MYSQL_TIME* times) const;

private:
    friend class sql_row_page;
    std::vector<sql_cell> shapes_;
    std::vector<sql_cell::kind_t> kinds_;
    // Where in a row's cells (in bytes from the first) a number's value is,
    // and where the cells of dates and times and of bytes are.
    std::vector<uint32_t> numbers_;
    std::vector<uint32_t> times_;
    std::vector<uint32_t> bytes_;
    size_t fixed_bytes_ = 0;  // counted bytes, bitmap, numbers and times

public:
    // Bytes of a row before its bytes cells.
    size_t fixed_bytes() const { return fixed_bytes_; }
};

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

    // Adds a row of the binary protocol, one cell per column of the layout,
    // each null or of its column's kind; null_bits: the NULL cells, a word
    // per 64 columns (sql_row_layout::null_bits). The bytes are copied; a cell whose
    // owner holds a huge value moves that buffer into the page instead.
    // row_bytes: the row's bytes as counted (read_cells answers them).
    void add_cells(const sql_row_layout& layout, sql_cell* cells, const uint64_t* null_bits, size_t row_bytes);
    // For a writer that packs a binary row by the layout itself
    // (sql_binary_reader::fetch_into). The row starts at used(); room_at
    // keeps the bytes before `at` and makes room for n bytes from there,
    // answering the page's start; keep_huge moves a huge value's buffer in
    // and answers its index; end_row counts the row, which ends at `at`.
    // A bytes cell: a length below bytes_long_mark in one byte, or the mark
    // and an 8-byte length, or a huge mark and a 4-byte index.
    static constexpr uint8_t bytes_long_mark = 253;
    static constexpr uint8_t bytes_huge_text_mark = 254;
    static constexpr uint8_t bytes_huge_mark = 255;
    size_t used() const { return used_; }
    size_t capacity() const { return capacity_; }
    char* data() { return data_.get(); }
    char* room_at(size_t at, size_t n);
    uint32_t keep_huge(std::string& text);
    uint32_t keep_huge(std::vector<uint8_t>& bytes);
    void end_row(size_t at, size_t row_bytes) {
        used_ = at;
        ++rows_;
        bytes_ += row_bytes;
    }

    // Adds a row of the text protocol (null cells are NULL).
    void add_text(const MYSQL_ROW row, const unsigned long* lengths, size_t n, size_t row_bytes);

    // Rows added, and whether every one was read back.
    size_t rows() const { return rows_; }
    bool read_all() const { return read_rows_ == rows_; }
    // Bytes of the values of the rows added (as counted by the adder).
    size_t bytes() const { return bytes_; }

    // Reads the next row back (asserts beyond the last) into cells prepared
    // by the layout: only values are written, and the kinds of NULL cells.
    // Bytes point into the page until it is cleared; a huge value's cell
    // owns its buffer for the record to take. marked: the cells hold a NULL
    // kind or an owner of the last row read (false once prepared); kept
    // by the caller from row to row. Answers the row's bytes as added.
    size_t read_cells(const sql_row_layout& layout, sql_cell* cells, bool& marked);
    // The same for a text row: pointers (null for NULL) and lengths; every
    // cell is followed by a zero byte. Answers the sum of the lengths.
    size_t read_text(char** row, unsigned long* lengths, size_t n);

private:
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
    // Asserts: a row is read beyond the last.
    [[noreturn]] static void row_missing();

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

namespace sql_row_page_detail {
template <class T>
inline T page_take(const char* base, size_t& at) {
    T v;
    std::memcpy(&v, base + at, sizeof(T));
    at += sizeof(T);
    return v;
}
}  // namespace sql_row_page_detail

// Inline in the caller's row loop.
inline size_t sql_row_page::read_cells(const sql_row_layout& layout, sql_cell* cells, bool& marked) {
    if (read_rows_ >= rows_) row_missing();
    ++read_rows_;
    // Kept in locals: stores to the cells could otherwise be taken for
    // stores to the page's own fields.
    const char* const base = data_.get();
    size_t at = read_at_;
    const uint64_t row_bytes = sql_row_page_detail::page_take<uint64_t>(base, at);
    const size_t n = layout.kinds_.size();
    if (marked) {
        // The last row's NULL kinds and owners are undone.
        const sql_cell::kind_t* kinds = layout.kinds_.data();
        for (size_t i = 0; i < n; ++i) cells[i].kind = kinds[i];
        for (uint32_t cell : layout.bytes_) {
            sql_cell& c = *reinterpret_cast<sql_cell*>(reinterpret_cast<char*>(cells) + cell);
            c.text_owner = nullptr;
            c.bytes_owner = nullptr;
        }
        marked = false;
    }
    for (size_t from = 0; from < n; from += 64) {
        uint64_t nulls = sql_row_page_detail::page_take<uint64_t>(base, at);
        if (nulls) marked = true;
        for (; nulls; nulls &= nulls - 1) cells[from + static_cast<size_t>(__builtin_ctzll(nulls))].kind = sql_cell::null;
    }
    char* const first = reinterpret_cast<char*>(cells);
    for (uint32_t value : layout.numbers_) {
        std::memcpy(first + value, base + at, sizeof(uint64_t));
        at += sizeof(uint64_t);
    }
    for (uint32_t cell : layout.times_) {
        // The cell points at its time (prepare).
        const sql_cell& c = *reinterpret_cast<const sql_cell*>(first + cell);
        std::memcpy(const_cast<MYSQL_TIME*>(c.time), base + at, sizeof(MYSQL_TIME));
        at += sizeof(MYSQL_TIME);
    }
    for (uint32_t cell : layout.bytes_) {
        sql_cell& c = *reinterpret_cast<sql_cell*>(first + cell);
        if (c.kind == sql_cell::null) continue;
        const uint8_t mark = sql_row_page_detail::page_take<uint8_t>(base, at);
        if (mark < bytes_long_mark) {
            c.length = mark;
            c.data = base + at;
            at += mark;
            continue;
        }
        if (mark == bytes_long_mark) {
            c.length = static_cast<unsigned long>(sql_row_page_detail::page_take<uint64_t>(base, at));
            c.data = base + at;
            at += c.length;
            continue;
        }
        const uint32_t index = sql_row_page_detail::page_take<uint32_t>(base, at);
        marked = true;
        if (mark == bytes_huge_text_mark) {
            std::string& owner = huge_texts_[index];
            c.text_owner = &owner;
            c.data = owner.data();
            c.length = static_cast<unsigned long>(owner.size());
        } else {
            std::vector<uint8_t>& owner = huge_bytes_[index];
            c.bytes_owner = &owner;
            c.data = reinterpret_cast<const char*>(owner.data());
            c.length = static_cast<unsigned long>(owner.size());
        }
    }
    read_at_ = at;
    return static_cast<size_t>(row_bytes);
}
