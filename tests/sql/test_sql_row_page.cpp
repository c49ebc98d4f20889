// Rows packed into a page by the receiving thread come back as the same
// cells and the same text rows, whatever their sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sql_cell_util.h"
#include "sql_row_page.h"
#include "sql_write_test_util.h"

namespace {

using sql_write_test::expect_assertion;

using sql_test::bytes;
using sql_test::integer;
using sql_test::make_time;
using sql_test::real;
using sql_test::unsigned_integer;
sql_cell temporal(const MYSQL_TIME& t, enum_field_types type, unsigned decimals) {
    sql_cell c;
    c.kind = sql_cell::temporal;
    c.time = &t;
    c.time_type = type;
    c.decimals = decimals;
    return c;
}

void expect_same_cell(const sql_cell& got, const sql_cell& want, size_t i) {
    SCOPED_TRACE("cell " + std::to_string(i));
    ASSERT_EQ(got.kind, want.kind);
    switch (want.kind) {
    case sql_cell::int64:
        EXPECT_EQ(got.i, want.i);
        break;
    case sql_cell::uint64:
        EXPECT_EQ(got.u, want.u);
        break;
    case sql_cell::real8:
        EXPECT_EQ(std::signbit(got.d), std::signbit(want.d));
        EXPECT_TRUE(got.d == want.d || (std::isnan(got.d) && std::isnan(want.d))) << got.d;
        break;
    case sql_cell::temporal: {
        const MYSQL_TIME& a = *got.time;
        const MYSQL_TIME& b = *want.time;
        EXPECT_EQ(got.time_type, want.time_type);
        EXPECT_EQ(got.decimals, want.decimals);
        EXPECT_EQ(std::vector<unsigned long>({a.year, a.month, a.day, a.hour, a.minute, a.second, a.second_part,
                                              static_cast<unsigned long>(a.neg), static_cast<unsigned long>(a.time_type)}),
                  std::vector<unsigned long>({b.year, b.month, b.day, b.hour, b.minute, b.second, b.second_part,
                                              static_cast<unsigned long>(b.neg), static_cast<unsigned long>(b.time_type)}));
        break;
    }
    case sql_cell::bytes:
        EXPECT_EQ(std::string(got.data, got.length), std::string(want.data, want.length));
        break;
    case sql_cell::null:
        break;
    }
}

// The NULL bits of a row, as the binary reader gives them.
std::vector<uint64_t> null_bits(const std::vector<sql_cell>& row) {
    std::vector<uint64_t> bits((row.size() + 63) / 64);
    for (size_t i = 0; i < row.size(); ++i)
        if (row[i].kind == sql_cell::null) bits[i / 64] |= uint64_t{1} << (i % 64);
    return bits;
}

// Numbers at the borders of the widths they are packed in, dates and times
// with the widest fields, and bytes at the borders of the short length.
TEST(RowPage, CellsComeBackAsAdded) {
    const MYSQL_TIME stamp = make_time(9999, 12, 31, 23, 59, 59, 999999, false, MYSQL_TIMESTAMP_DATETIME);
    const MYSQL_TIME zero_date = make_time(0, 0, 0, 0, 0, 0, 0, false, MYSQL_TIMESTAMP_DATE);
    const MYSQL_TIME long_time = make_time(0, 0, 0, 838, 59, 59, 1, true, MYSQL_TIMESTAMP_TIME);
    const std::string empty, b255(255, 'a'), b256(256, 'b'), large = std::string(70000, 'c') + std::string(1, '\0');
    const std::string with_zero("x\0y", 3);
    std::vector<sql_cell> row = {
        sql_cell(),  // NULL
        integer(std::numeric_limits<int64_t>::min()), integer(int64_t{INT32_MIN} - 1), integer(INT32_MIN),
        integer(0), integer(INT32_MAX), integer(int64_t{INT32_MAX} + 1), integer(std::numeric_limits<int64_t>::max()),
        unsigned_integer(0), unsigned_integer(UINT32_MAX), unsigned_integer(uint64_t{UINT32_MAX} + 1),
        unsigned_integer(std::numeric_limits<uint64_t>::max()),
        real(-0.0), real(1.7976931348623157e308), real(4.9e-324), real(std::nan("")),
        temporal(stamp, MYSQL_TYPE_DATETIME, 6), temporal(zero_date, MYSQL_TYPE_DATE, 0),
        temporal(long_time, MYSQL_TYPE_TIME, 6),
        bytes(empty), bytes(with_zero), bytes(b255), bytes(b256), bytes(large),
    };
    size_t want_bytes = 0;
    for (const sql_cell& c : row)
        want_bytes += c.kind == sql_cell::null ? 0 : c.kind == sql_cell::bytes ? c.length : 8;
    std::vector<sql_cell> shapes = row;
    shapes[0].kind = sql_cell::int64;
    const sql_row_layout layout(shapes.data(), shapes.size());
    // A second row: all NULL but the 0 of column 4.
    std::vector<sql_cell> second(row.size());
    second[4] = row[4];

    sql_row_page page;
    page.add_cells(layout, row.data(), null_bits(row).data(), want_bytes);
    page.add_cells(layout, second.data(), null_bits(second).data(), 8);
    EXPECT_EQ(page.rows(), 2u);
    EXPECT_EQ(page.bytes(), want_bytes + 8);

    std::vector<sql_cell> got(row.size());
    std::vector<MYSQL_TIME> times(row.size());
    layout.prepare(got.data(), times.data());
    bool marked = false;
    EXPECT_EQ(page.read_cells(layout, got.data(), marked), want_bytes);
    for (size_t i = 0; i < row.size(); ++i) expect_same_cell(got[i], row[i], i);
    EXPECT_FALSE(page.read_all());
    EXPECT_EQ(page.read_cells(layout, got.data(), marked), 8u);
    for (size_t i = 0; i < row.size(); ++i) expect_same_cell(got[i], second[i], i);
    EXPECT_TRUE(page.read_all());
    expect_assertion([&] { page.read_cells(layout, got.data(), marked); }, "sql_row_page", 1);

    // Emptied, the page takes new rows from its start.
    page.clear();
    EXPECT_EQ(page.rows(), 0u);
    std::vector<sql_cell> third(row.size());
    third[1] = row[1];
    page.add_cells(layout, third.data(), null_bits(third).data(), 8);
    EXPECT_EQ(page.read_cells(layout, got.data(), marked), 8u);
    for (size_t i = 0; i < row.size(); ++i) expect_same_cell(got[i], third[i], i);
}

// A layout's columns are of one kind each; NULL may stand in any of them.
TEST(RowPage, LayoutWantsAKindPerColumn) {
    const sql_cell shapes[2] = {integer(1), sql_cell()};
    expect_assertion([&] { sql_row_layout(shapes, 2); }, "sql_row_page", 3);
}

// A huge value's buffer moves into the page and on to the reader's cell,
// which owns it: no copy is made.
TEST(RowPage, HugeValuesChangeHandsWhole) {
    std::string text(3u << 20, 't');
    std::vector<uint8_t> blob(2u << 20, 0xAB);
    const char* text_data = text.data();
    const uint8_t* blob_data = blob.data();
    sql_cell cells[2];
    cells[0] = bytes(text);
    cells[0].text_owner = &text;
    cells[1].kind = sql_cell::bytes;
    cells[1].data = reinterpret_cast<const char*>(blob.data());
    cells[1].length = static_cast<unsigned long>(blob.size());
    cells[1].bytes_owner = &blob;

    const sql_row_layout layout(cells, 2);
    sql_row_page page;
    page.add_cells(layout, cells, null_bits({cells[0], cells[1]}).data(), (3u << 20) + (2u << 20));
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(blob.empty());
    sql_cell got[2];
    MYSQL_TIME times[2];
    layout.prepare(got, times);
    bool marked = false;
    EXPECT_EQ(page.read_cells(layout, got, marked), (3u << 20) + (2u << 20));
    ASSERT_NE(got[0].text_owner, nullptr);
    ASSERT_NE(got[1].bytes_owner, nullptr);
    EXPECT_EQ(got[0].data, text_data);
    EXPECT_EQ(got[0].length, 3u << 20);
    EXPECT_EQ(got[0].text_owner->data(), text_data);
    EXPECT_EQ(got[1].bytes_owner->data(), blob_data);
    EXPECT_EQ(got[1].length, 2u << 20);
    EXPECT_EQ(got[1].bytes_owner->front(), 0xAB);
}

// Adds the rows (each counted as the reader counts it) and reads them back
// through cells prepared once, as the caller does.
void expect_rows_come_back(const std::vector<sql_cell>& shapes, std::vector<std::vector<sql_cell>> rows) {
    const sql_row_layout layout(shapes.data(), shapes.size());
    const std::vector<std::vector<sql_cell>> want = rows;
    sql_row_page page;
    size_t all_bytes = 0;
    std::vector<size_t> counted;
    for (std::vector<sql_cell>& row : rows) {
        size_t bytes = 0;
        for (const sql_cell& c : row) bytes += c.kind == sql_cell::null ? 0 : c.kind == sql_cell::bytes ? c.length : 8;
        counted.push_back(bytes);
        all_bytes += bytes;
        page.add_cells(layout, row.data(), null_bits(row).data(), bytes);
    }
    EXPECT_EQ(page.rows(), rows.size());
    EXPECT_EQ(page.bytes(), all_bytes);
    std::vector<sql_cell> got(shapes.size());
    std::vector<MYSQL_TIME> times(shapes.size());
    layout.prepare(got.data(), times.data());
    bool marked = false;
    for (size_t r = 0; r < want.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        ASSERT_EQ(page.read_cells(layout, got.data(), marked), counted[r]);
        for (size_t i = 0; i < shapes.size(); ++i) {
            const sql_cell& w = want[r][i];
            if (w.text_owner || w.bytes_owner) {
                // A moved buffer: its owner comes with the cell.
                ASSERT_EQ(got[i].kind, sql_cell::bytes);
                EXPECT_EQ(got[i].text_owner != nullptr, w.text_owner != nullptr) << i;
                EXPECT_EQ(got[i].bytes_owner != nullptr, w.bytes_owner != nullptr) << i;
                EXPECT_EQ(got[i].length, w.length) << i;
                continue;
            }
            expect_same_cell(got[i], w, i);
            if (got[i].kind == sql_cell::bytes) {
                EXPECT_EQ(got[i].text_owner, nullptr) << i;
                EXPECT_EQ(got[i].bytes_owner, nullptr) << i;
            }
        }
    }
    EXPECT_TRUE(page.read_all());
}

// Columns of every kind, more than a byte of NULL bits: a row with NULL at
// each position in turn, then one all NULL and one without NULL.
TEST(RowPage, NullAtEveryColumn) {
    const MYSQL_TIME date = make_time(2024, 2, 29, 0, 0, 0, 0, false, MYSQL_TIMESTAMP_DATE);
    const MYSQL_TIME stamp = make_time(1999, 12, 31, 23, 59, 58, 123456, false, MYSQL_TIMESTAMP_DATETIME);
    const MYSQL_TIME span = make_time(0, 0, 0, 100, 1, 2, 5, true, MYSQL_TIMESTAMP_TIME);
    const std::string a = "a", long_text(300, 'l'), empty;
    const std::vector<sql_cell> full = {
        integer(-1), bytes(a), unsigned_integer(7), temporal(date, MYSQL_TYPE_DATE, 0), real(0.5),
        bytes(long_text), integer(INT64_MIN), temporal(stamp, MYSQL_TYPE_DATETIME, 6), bytes(empty),
        unsigned_integer(UINT64_MAX), temporal(span, MYSQL_TYPE_TIME, 3), real(-2.25), bytes(a), integer(42),
        bytes(long_text), temporal(date, MYSQL_TYPE_DATE, 0), integer(3), bytes(a),
    };
    std::vector<std::vector<sql_cell>> rows;
    for (size_t k = 0; k < full.size(); ++k) {
        rows.push_back(full);
        rows.back()[k] = sql_cell();
    }
    rows.push_back(std::vector<sql_cell>(full.size()));
    rows.push_back(full);
    expect_rows_come_back(full, rows);
}

// Huge values between short and long ones: the cells after a moved buffer
// are read from where they were packed.
TEST(RowPage, HugeValueBetweenShortOnes) {
    std::string text(2u << 20, 't');
    std::vector<uint8_t> blob(3u << 20, 0x5A);
    const std::string s1 = "before", s2(252, 's'), s3(253, 'u'), s4 = "after";
    std::vector<sql_cell> row = {bytes(s1), bytes(text), integer(5), bytes(s2), bytes(s3), bytes(s4), bytes(s1)};
    row[1].text_owner = &text;
    row[5].kind = sql_cell::bytes;
    row[5].data = reinterpret_cast<const char*>(blob.data());
    row[5].length = static_cast<unsigned long>(blob.size());
    row[5].bytes_owner = &blob;
    std::vector<sql_cell> plain = {bytes(s4), bytes(s3), integer(6), bytes(s2), sql_cell(), bytes(s1), bytes(s1)};
    expect_rows_come_back(row, {plain, row, plain});
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(blob.empty());
}

// Rows of many sizes: the page grows at every place in a row (the fixed
// part, a short or a long value), and rows beyond its first size.
TEST(RowPage, RowsThatGrowThePage) {
    const MYSQL_TIME date = make_time(2001, 1, 2, 0, 0, 0, 0, false, MYSQL_TIMESTAMP_DATE);
    std::vector<std::string> texts;
    for (size_t k = 0; k < 600; ++k) texts.push_back(std::string((k * 37) % 700, static_cast<char>('a' + k % 26)));
    texts.push_back(std::string(300u << 10, 'w'));  // beyond a fresh page
    std::vector<sql_cell> shapes = {integer(0), bytes(texts[0]), temporal(date, MYSQL_TYPE_DATE, 0),
                                    bytes(texts[0]), real(0)};
    std::vector<std::vector<sql_cell>> rows;
    for (size_t k = 0; k < texts.size(); ++k) {
        rows.push_back({integer(static_cast<int64_t>(k)), bytes(texts[k]), temporal(date, MYSQL_TYPE_DATE, 0),
                        bytes(texts[(k * 7) % texts.size()]), k % 3 ? real(k / 4.0) : sql_cell()});
    }
    expect_rows_come_back(shapes, rows);
}

// Text rows: NULL apart from the empty text, lengths at the borders of the
// one-byte length, zero bytes inside, and a zero byte after every cell.
TEST(RowPage, TextRowsComeBackAsAdded) {
    const std::vector<std::string> texts = {"", std::string(253, 'a'), std::string(254, 'b'), std::string(255, 'c'),
                                            std::string(256, 'd'), std::string("z\0z", 3), std::string(70000, 'e')};
    std::vector<char*> row;
    std::vector<unsigned long> lengths;
    size_t want_bytes = 0;
    for (const std::string& t : texts) {
        row.push_back(const_cast<char*>(t.data()));
        lengths.push_back(static_cast<unsigned long>(t.size()));
        want_bytes += t.size();
    }
    row.push_back(nullptr);
    lengths.push_back(0);

    sql_row_page page;
    for (int k = 0; k < 3; ++k) page.add_text(row.data(), lengths.data(), row.size(), want_bytes);
    for (int k = 0; k < 3; ++k) {
        std::vector<char*> got(row.size());
        std::vector<unsigned long> got_lengths(row.size(), 99);
        EXPECT_EQ(page.read_text(got.data(), got_lengths.data(), row.size()), want_bytes);
        for (size_t i = 0; i < texts.size(); ++i) {
            ASSERT_NE(got[i], nullptr) << i;
            EXPECT_EQ(std::string(got[i], got_lengths[i]), texts[i]) << i;
            EXPECT_EQ(got[i][got_lengths[i]], '\0') << i;
        }
        EXPECT_EQ(got.back(), nullptr);
        EXPECT_EQ(got_lengths.back(), 0u);
    }
    EXPECT_TRUE(page.read_all());
}

}  // namespace
