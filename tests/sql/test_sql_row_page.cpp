// Rows packed into a page by the receiving thread come back as the same
// cells and the same text rows, whatever their sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sql_row_page.h"
#include "sql_write_test_util.h"

namespace {

using sql_write_test::expect_assertion;

sql_cell integer(int64_t v) {
    sql_cell c;
    c.kind = sql_cell::int64;
    c.i = v;
    return c;
}
sql_cell unsigned_integer(uint64_t v) {
    sql_cell c;
    c.kind = sql_cell::uint64;
    c.u = v;
    return c;
}
sql_cell real(double v) {
    sql_cell c;
    c.kind = sql_cell::real8;
    c.d = v;
    return c;
}
sql_cell bytes(const std::string& v) {
    sql_cell c;
    c.kind = sql_cell::bytes;
    c.data = v.data();
    c.length = static_cast<unsigned long>(v.size());
    return c;
}
sql_cell temporal(const MYSQL_TIME& t, enum_field_types type, unsigned decimals) {
    sql_cell c;
    c.kind = sql_cell::temporal;
    c.time = &t;
    c.time_type = type;
    c.decimals = decimals;
    return c;
}

MYSQL_TIME make_time(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s, unsigned long frac,
                     bool neg, enum_mysql_timestamp_type type) {
    MYSQL_TIME t{};
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    t.second_part = frac;
    t.neg = neg;
    t.time_type = type;
    return t;
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

    sql_row_page page;
    page.add_cells(row.data(), row.size(), want_bytes);
    page.add_cells(row.data() + 4, 1, 8);  // a second row: 0
    EXPECT_EQ(page.rows(), 2u);
    EXPECT_EQ(page.bytes(), want_bytes + 8);

    std::vector<sql_cell> got(row.size());
    std::vector<MYSQL_TIME> times(row.size());
    EXPECT_EQ(page.read_cells(got.data(), times.data(), row.size()), want_bytes);
    for (size_t i = 0; i < row.size(); ++i) expect_same_cell(got[i], row[i], i);
    EXPECT_FALSE(page.read_all());
    EXPECT_EQ(page.read_cells(got.data(), times.data(), 1), 8u);
    expect_same_cell(got[0], row[4], 0);
    EXPECT_TRUE(page.read_all());
    expect_assertion([&] { page.read_cells(got.data(), times.data(), 1); }, "sql_row_page", 1);

    // Emptied, the page takes new rows from its start.
    page.clear();
    EXPECT_EQ(page.rows(), 0u);
    page.add_cells(row.data() + 1, 1, 8);
    EXPECT_EQ(page.read_cells(got.data(), times.data(), 1), 8u);
    expect_same_cell(got[0], row[1], 0);
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

    sql_row_page page;
    page.add_cells(cells, 2, (3u << 20) + (2u << 20));
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(blob.empty());
    sql_cell got[2];
    MYSQL_TIME times[2];
    EXPECT_EQ(page.read_cells(got, times, 2), (3u << 20) + (2u << 20));
    ASSERT_NE(got[0].text_owner, nullptr);
    ASSERT_NE(got[1].bytes_owner, nullptr);
    EXPECT_EQ(got[0].data, text_data);
    EXPECT_EQ(got[0].length, 3u << 20);
    EXPECT_EQ(got[0].text_owner->data(), text_data);
    EXPECT_EQ(got[1].bytes_owner->data(), blob_data);
    EXPECT_EQ(got[1].length, 2u << 20);
    EXPECT_EQ(got[1].bytes_owner->front(), 0xAB);
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
