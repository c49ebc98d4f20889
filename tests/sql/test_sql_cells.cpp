// The text of each cell as it is written to a file: the server's own text of
// the column's type, whole texts, and binary cells that cannot be mistaken;
// the same bytes whether the rows come by the text or the binary protocol.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_row_stream.h"
#include "sql_test_util.h"
#include "utf8.h"

using fennrow_test::test_database;
using sql_test::engine_session;
using namespace std::string_literals;

namespace {

struct cell_case {
    const char* column;  // name and type
    const char* value;   // SQL expression stored in it
    std::string cell;    // the cell's text in the file
};

const std::vector<cell_case> cell_cases = {
    // TIME: hours unreduced, the column's fraction digits, never a date.
    {"tm0 TIME", "'12:34:56'", "12:34:56"},
    {"tm3 TIME(3)", "'12:34:56.5'", "12:34:56.500"},
    {"tm_neg TIME(3)", "'-01:00:00'", "-01:00:00.000"},
    {"tm_long TIME", "'838:59:59'", "838:59:59"},
    {"tm_day TIME", "'24:00:00'", "24:00:00"},
    {"tm6 TIME(6)", "'00:00:00.000001'", "00:00:00.000001"},
    {"tm_zero TIME(2)", "'00:00:00'", "00:00:00.00"},
    // DATETIME and TIMESTAMP: always date and time; DATE alone.
    {"dt_midnight DATETIME", "'2020-01-31 00:00:00'", "2020-01-31 00:00:00"},
    {"dt_plain DATETIME", "'2020-01-31 10:00:00'", "2020-01-31 10:00:00"},
    {"dt3 DATETIME(3)", "'2020-01-31 10:00:00.25'", "2020-01-31 10:00:00.250"},
    {"dt6_midnight DATETIME(6)", "'2020-01-31 00:00:00'", "2020-01-31 00:00:00.000000"},
    {"ts2 TIMESTAMP(2) NULL", "'2020-01-31 00:00:00'", "2020-01-31 00:00:00.00"},
    {"d DATE", "'2020-01-31'", "2020-01-31"},
    // Zero dates keep the server's text.
    {"d_zero DATE", "'0000-00-00'", "0000-00-00"},
    {"dt_zero DATETIME", "'0000-00-00 00:00:00'", "0000-00-00 00:00:00"},
    // DECIMAL: exact, with the column's scale.
    {"dc0 DECIMAL(10,0)", "19", "19"},
    {"dc2 DECIMAL(10,2)", "24.5", "24.50"},
    {"dc2_whole DECIMAL(10,2)", "19", "19.00"},
    {"dc2_small DECIMAL(10,2)", "0.1", "0.10"},
    {"dc2_zero DECIMAL(10,2)", "0", "0.00"},
    {"dc10_neg DECIMAL(28,10)", "-0.5", "-0.5000000000"},
    {"dc30 DECIMAL(65,30)", "0.1", "0.100000000000000000000000000000"},
    {"dc30_big DECIMAL(65,30)", "'-12345678901234567890123456789012345.5'",
     "-12345678901234567890123456789012345.500000000000000000000000000000"},
    // Texts are written whole, zero characters included.
    {"tx TEXT", "CONCAT('ab', CHAR(0), 'cd')", "ab\0cd"s},
    {"vc VARCHAR(10)", "CONCAT(CHAR(0), 'x')", "\0x"s},
    // Binary cells: text only when it is valid UTF-8 without zero bytes and
    // does not itself read as the hex form of bytes.
    {"b_hex_text BLOB", "'0x00'", "0x30783030"},
    {"b_hex_upper BLOB", "'0X1F'", "0x30583146"},
    {"b_prefix_only VARBINARY(4)", "'0x'", "0x3078"},
    {"b_zero BLOB", "UNHEX('00')", "0x00"},
    {"b_utf8 BLOB", "_utf8mb4'h\xC3\xA9llo'", "h\xC3\xA9llo"},
    {"b_invalid BLOB", "x'FF41'", "0xFF41"},
    {"b_not_hex VARBINARY(8)", "'0xyz'", "0xyz"},
    {"b_empty BLOB", "''", ""},
};

std::vector<std::string> read_cells(MYSQL* conn, bool text_only, bool& binary) {
    sql_row_stream q(conn, L"cells", false, true, text_only);
    binary = q.is_binary();
    sql_record_page page;
    std::vector<std::string> cells;
    EXPECT_EQ(q.store_to(&page), 1u);
    if (page.count != 1) return cells;
    for (const udb_field* f : *page.slots[0]) {
        std::string s;
        f->append_utf8_cell(s);
        cells.push_back(std::move(s));
    }
    EXPECT_EQ(q.store_to(&page), 0u);
    return cells;
}

FENNROW_SERVER_TESTS(FileCells);

TEST(FileCells, TheServersTextOnBothProtocols) {
    test_database db("cells");
    db.conn().exec("SET SESSION sql_mode = ''");
    std::string ddl = "CREATE TABLE cells (id INT";
    std::string values = "INSERT INTO cells VALUES (1";
    for (const cell_case& c : cell_cases) {
        ddl += std::string(", ") + c.column;
        values += std::string(", ") + c.value;
    }
    db.conn().exec(ddl + ")");
    db.conn().exec(values + ")");
    engine_session s;
    s.use(db.name());
    for (bool text_only : {true, false}) {
        SCOPED_TRACE(text_only ? "text protocol" : "binary protocol");
        bool binary = false;
        const std::vector<std::string> cells = read_cells(s.conn(), text_only, binary);
        EXPECT_EQ(binary, !text_only);
        ASSERT_EQ(cells.size(), cell_cases.size() + 1);
        EXPECT_EQ(cells[0], "1");
        for (size_t i = 0; i < cell_cases.size(); ++i)
            EXPECT_EQ(cells[i + 1], cell_cases[i].cell) << cell_cases[i].column;
    }
}

// The value layer's own text of the same values is unchanged.
TEST(FileCells, ValuesKeepTheirOwnText) {
    ole_variant d = ole_variant::from_string("2020-01-31 00:00:00", VT_DATE);
    EXPECT_EQ(d.to_string(), "2020-01-31");
    std::string cell;
    d.append_utf8_cell(cell, ole_text_form{});
    EXPECT_EQ(cell, "2020-01-31");
    cell.clear();
    d.append_utf8_cell(cell, ole_text_form{ole_text_form::datetime, 0});
    EXPECT_EQ(cell, "2020-01-31 00:00:00");
    ole_variant t(std::wstring(L"ab\0cd", 5));
    EXPECT_EQ(t.to_string(), "ab");
    cell.clear();
    t.append_utf8_cell(cell, ole_text_form{});
    EXPECT_EQ(cell, "ab\0cd"s);
}

}  // namespace
