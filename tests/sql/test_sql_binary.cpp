// Streams read by the binary protocol give the very values the text
// protocol gives, row for row; results it cannot give exactly go the text way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "sql_binary_reader.h"
#include "sql_conn.h"
#include "sql_excep.h"
#include "sql_number_text.h"
#include "sql_row_stream.h"
#include "sql_recs.h"
#include "sql_row_page.h"
#include "sql_run.h"
#include "sql_test_util.h"
#include "utf8.h"

using fennrow_test::test_database;
using sql_test::engine_session;
using sql_test::scalar;

namespace {

// A field as a comparable text: its type, then its whole content (texts with
// their zero characters, bytes in hex, numbers and dates by their text), then
// the text of its file cell.
std::string describe(const udb_field& f) {
    std::string s = std::to_string(f.type()) + ":";
    if (f.type() == VT_BSTR) s += plat::utf8_encode(f.get_bstr());
    else s += f.to_string();
    s += "|";
    f.append_utf8_cell(s);
    return s;
}

std::vector<std::vector<std::string>> read_all(MYSQL* conn, const std::wstring& source, bool is_query,
                                               bool blob_to_text, bool text_only, bool* binary = nullptr) {
    sql_row_stream q(conn, source, is_query, blob_to_text, text_only);
    if (binary) *binary = q.is_binary();
    std::vector<std::vector<std::string>> rows;
    sql_record_page page;
    while (q.store_to(&page) > 0) {
        for (size_t r = 0; r < page.count; ++r) {
            std::vector<std::string> row;
            for (const udb_field* f : *page.slots[r]) row.push_back(describe(*f));
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

void expect_same_both_ways(MYSQL* conn, const std::wstring& source, bool is_query, bool want_binary,
                           size_t want_rows) {
    for (bool blob_to_text : {false, true}) {
        SCOPED_TRACE(blob_to_text ? "blob_to_text" : "blobs as bytes");
        bool binary = false;
        const auto text = read_all(conn, source, is_query, blob_to_text, true);
        const auto fast = read_all(conn, source, is_query, blob_to_text, false, &binary);
        EXPECT_EQ(binary, want_binary);
        ASSERT_EQ(text.size(), want_rows);
        ASSERT_EQ(fast.size(), text.size());
        for (size_t r = 0; r < text.size(); ++r) EXPECT_EQ(fast[r], text[r]) << "row " << r;
    }
}

// Every kind of column the binary protocol carries, with edge values.
const char* const exact_ddl =
    "CREATE TABLE exact ("
    " id INT NOT NULL PRIMARY KEY,"
    " ti TINYINT, tiu TINYINT UNSIGNED, si SMALLINT, siu SMALLINT UNSIGNED ZEROFILL,"
    " mi MEDIUMINT, miu MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, bi BIGINT, biu BIGINT UNSIGNED,"
    " y YEAR, d DOUBLE, dz DOUBLE ZEROFILL, dec2 DECIMAL(10,2), dec28 DECIMAL(28,10), dec65 DECIMAL(65,30),"
    " dt DATE, dtm DATETIME(6), dt0 DATETIME, dt3 DATETIME(3), ts TIMESTAMP(2) NULL DEFAULT NULL,"
    " tm TIME, tm3 TIME(3), tm6 TIME(6),"
    " c CHAR(5), vc VARCHAR(300), vb VARBINARY(8), bl BLOB, lt LONGTEXT, lb LONGBLOB,"
    " en ENUM('a','b'), st SET('p','q'), js JSON, i6 INET6, uu UUID)";

const char* const exact_rows[] = {
    "(1, -128, 255, -32768, 7, -8388608, 16777215, -2147483648, 4294967295, -9223372036854775808,"
    " 18446744073709551615, 2024, -1.2345678901234567e-300, 1.5, -12345678.99,"
    " '-123456789012345678.0123456789', '-12345678901234567890123456789012345.123456789012345678901234567890',"
    " '2024-02-29', '2024-01-02 03:04:05.123456', '2038-01-19 03:14:07', '2024-01-02 00:00:00.5',"
    " '2020-01-01 00:00:00.50', '-838:59:59', '838:59:59.500', '-00:00:00.000001',"
    " ' ab', _utf8mb4 x'78F09F9880', x'00FF', x'68C3A96C6C6F', CONCAT('a', CHAR(0), 'b'), x'FFFE00',"
    " 'b', 'p,q', '{\"a\": 1}', '::1', '123e4567-e89b-12d3-a456-426614174000')",
    "(2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.1, 0, 0, 0, 0, '0000-00-00', '0000-00-00 00:00:00',"
    " '0000-00-00 00:00:00', '2024-00-15 00:00:00', NULL, '00:00:00', '24:00:00', '23:59:59.999999',"
    " '', '', '', '', '', '', 'a', '', '[]', '::', '00000000-0000-0000-0000-000000000000')",
    "(3, 127, 1, 32767, 65535, 8388607, 1, 2147483647, 1, 9223372036854775807, 1, 1901,"
    " 1.7976931348623157e308, 12345678, 0.01, 0.0000000001, 1e-30, '2023-02-30', '2023-02-30 12:00:00',"
    " '9999-12-31 23:59:59', '1000-01-01 00:00:00.001', '1970-01-01 00:00:01', '-12:00:00', '-100:00:01.5',"
    " '12:34:56.000100', 'x', REPEAT(_utf8mb4 x'D09A', 150), x'0102', REPEAT('y', 300),"
    " REPEAT('long text ', 200000), REPEAT(x'FF', 2000000), NULL, 'q', '{}', 'fe80::1', NULL)",
    "(4, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
    " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
    " NULL, NULL, NULL)",
    "(5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, -0.0, 2.5e-7, 1.5, 2.5, 3.5, '2024-12-31', '2024-12-31 23:59:59.999999',"
    " '2024-06-01 12:00:00', '2024-06-01 12:00:00.000', '2024-06-01 12:00:00.99', '-00:00:01', '00:00:00.001',"
    " '-838:59:59.000000', 'abcde', 'short', x'41', x'00', 'z', x'', 'a', 'p', 'null', '1::', NULL)",
};

FENNROW_SERVER_TESTS(BinaryStream);

TEST(BinaryStream, GivesTheValuesOfTheTextStream) {
    test_database db("binary_exact");
    db.conn().exec("SET SESSION sql_mode = 'ALLOW_INVALID_DATES'");
    db.conn().exec(exact_ddl);
    for (const char* row : exact_rows) db.conn().exec(std::string("INSERT INTO exact VALUES ") + row);
    // Enough rows for several pages, with large values here and there.
    db.conn().exec("INSERT INTO exact (id, i, d, dtm, tm, vc, lb) SELECT seq, seq * 7919, seq / 7,"
                   " TIMESTAMP('2000-01-01') + INTERVAL seq SECOND + INTERVAL seq MICROSECOND,"
                   " SEC_TO_TIME(CAST(seq AS SIGNED) * 37 - 4000), IF(seq % 5 = 0, NULL, REPEAT('v', seq % 300)),"
                   " IF(seq % 97 = 0, REPEAT(x'AB', 1500000), NULL) FROM seq_10_to_700");
    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"exact", false, true, 5 + 691);
    // A stored query of the same columns, and computed ones.
    expect_same_both_ways(s.conn(),
                          L"SELECT id, d / 3 AS d3, i + 0.5 AS dec_sum, NOW() - NOW() AS z, CAST(dtm AS DATE) AS dd,"
                          L" ADDTIME(tm, '01:00:00') AS t2, CONCAT(vc, '!') AS txt, NULL AS nothing FROM exact"
                          L" ORDER BY id;",
                          true, true, 5 + 691);
    // The connection is free again after each stream.
    EXPECT_EQ(scalar(s.conn(), "SELECT 42"), "42");
}

// The same rows after a first page, so that the receiving thread packs them:
// each edge row, then copies with one column NULL in turn, short rows after
// huge ones and after values that outgrew their buffers, float texts long
// and short.
// The edge rows after 300 short ones, then copies of rows 1 and 5 with one
// column NULL in turn; answers the rows.
size_t make_received_rows(test_database& db) {
    db.conn().exec("SET SESSION sql_mode = 'ALLOW_INVALID_DATES'");
    db.conn().exec(exact_ddl);
    db.conn().exec("ALTER TABLE exact ADD f FLOAT, ADD fd DOUBLE(255,30), ADD fz FLOAT(7,2) ZEROFILL");
    db.conn().exec("INSERT INTO exact (id, i) SELECT CAST(seq AS SIGNED) - 1000, seq FROM seq_1_to_300");
    for (const char* row : exact_rows) {
        std::string values = row;
        values.insert(values.size() - 1, ", 1.5e-7, -1.7e308, 12.25");
        db.conn().exec("INSERT INTO exact VALUES " + values);
    }
    db.conn().exec("UPDATE exact SET f = -3.4e38, fd = 0.5, fz = 1 WHERE id = 2");
    std::vector<std::string> names;
    MYSQL_RES* res = nullptr;
    EXPECT_EQ(mysql_query(db.conn().get(), "SELECT * FROM exact LIMIT 0"), 0);
    res = mysql_store_result(db.conn().get());
    EXPECT_NE(res, nullptr);
    if (!res) return 0;
    for (unsigned k = 0; k < mysql_num_fields(res); ++k) names.push_back(mysql_fetch_field_direct(res, k)->name);
    mysql_free_result(res);
    EXPECT_GT(names.size(), 36u);
    for (int base : {1, 5}) {
        for (size_t k = 1; k < names.size(); ++k) {
            std::string select = "INSERT INTO exact SELECT " + std::to_string(base * 1000 + k);
            for (size_t j = 1; j < names.size(); ++j) select += ", " + (j == k ? std::string("NULL") : names[j]);
            db.conn().exec(select + " FROM exact WHERE id = " + std::to_string(base));
        }
    }
    return 300 + 5 + 2 * (names.size() - 1);
}

// The same rows after a first page, so that the receiving thread packs them:
// each edge row, then copies with one column NULL in turn, short rows after
// huge ones and after values that outgrew their buffers, float texts long
// and short.
TEST(BinaryStream, ReceivedRowsGiveTheValuesOfTheTextStream) {
    test_database db("binary_received");
    const size_t rows = make_received_rows(db);
    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"exact", false, true, rows);
}

// A cell read back from a row page, every byte of its value.
std::string describe(const sql_cell& c) {
    std::string s = std::to_string(c.kind) + ":";
    switch (c.kind) {
    case sql_cell::null: break;
    case sql_cell::int64: s += std::to_string(c.i); break;
    case sql_cell::uint64: s += std::to_string(c.u); break;
    case sql_cell::real8: {
        uint64_t bits;
        std::memcpy(&bits, &c.d, sizeof bits);
        s += std::to_string(bits);
        break;
    }
    case sql_cell::temporal: {
        const MYSQL_TIME& t = *c.time;
        const unsigned long parts[] = {t.year, t.month, t.day, t.hour, t.minute, t.second, t.second_part,
                                       static_cast<unsigned long>(t.neg), static_cast<unsigned long>(t.time_type),
                                       static_cast<unsigned long>(c.time_type), c.decimals};
        for (unsigned long v : parts)
            s += std::to_string(v) + ",";
        break;
    }
    case sql_cell::bytes:
        s += c.text_owner ? "text owner:" : c.bytes_owner ? "bytes owner:" : "";
        s += std::to_string(c.length) + ":" + std::string(c.data, c.length);
        break;
    }
    return s;
}

// Rows packed straight into the page read back as the cells fetch gives
// packed by add_cells: the same kinds, values, owners and counted bytes.
TEST(BinaryStream, PackedRowsAreTheFetchedCells) {
    test_database db("binary_packed");
    const size_t want = make_received_rows(db);
    engine_session s;
    s.use(db.name());
    auto read = [&](bool direct, bool blob_to_text) {
        std::vector<std::string> rows;
        bool checked = false;
        std::unique_ptr<sql_binary_reader> reader =
            sql_binary_reader::open(s.conn(), "SELECT * FROM exact", checked);
        EXPECT_NE(reader, nullptr);
        if (!reader) return rows;
        const sql_columns columns = sql_describe_columns(reader->fields(), reader->field_count(), blob_to_text);
        const size_t n = reader->size();
        std::vector<sql_cell> shapes;
        for (size_t i = 0; i < n; ++i) shapes.push_back(reader->shape(i));
        const sql_row_layout layout(shapes.data(), n);
        std::vector<sql_cell> cells(n);
        std::vector<MYSQL_TIME> times(n);
        layout.prepare(cells.data(), times.data());
        bool marked = false;
        sql_row_page page;
        for (;;) {
            // Some rows to a page, so that rows go in behind others and the page grows.
            if (page.rows() >= 50) page.clear();
            size_t fetched_bytes = 0;
            if (direct) {
                if (!reader->fetch_into(columns, layout, page)) break;
            } else {
                if (!reader->fetch(columns, fetched_bytes)) break;
                page.add_cells(layout, reader->cells(), reader->null_bits(), fetched_bytes);
            }
            std::string row = std::to_string(page.read_cells(layout, cells.data(), marked)) + "|";
            for (size_t i = 0; i < n; ++i) row += describe(cells[i]) + "|";
            rows.push_back(std::move(row));
        }
        return rows;
    };
    for (bool blob_to_text : {false, true}) {
        SCOPED_TRACE(blob_to_text ? "blob_to_text" : "blobs as bytes");
        const auto fetched = read(false, blob_to_text);
        const auto packed = read(true, blob_to_text);
        ASSERT_EQ(fetched.size(), want);
        ASSERT_EQ(packed.size(), want);
        for (size_t r = 0; r < want; ++r) EXPECT_EQ(packed[r], fetched[r]) << "row " << r;
    }
}

// The hex of every cell of a query: by the text protocol, or fetched as bytes
// by the binary protocol.
std::vector<std::string> cell_bytes(MYSQL* conn, const std::string& query, bool binary) {
    auto hex = [](const char* p, unsigned long n) {
        static const char digits[] = "0123456789ABCDEF";
        std::string s;
        for (unsigned long i = 0; i < n; ++i) {
            s += digits[static_cast<unsigned char>(p[i]) >> 4];
            s += digits[static_cast<unsigned char>(p[i]) & 15];
        }
        return s;
    };
    std::vector<std::string> cells;
    if (!binary) {
        EXPECT_EQ(mysql_query(conn, query.c_str()), 0) << mysql_error(conn);
        MYSQL_RES* res = mysql_use_result(conn);
        if (!res) return cells;
        while (MYSQL_ROW row = mysql_fetch_row(res)) {
            const unsigned long* lengths = mysql_fetch_lengths(res);
            for (unsigned i = 0; i < mysql_num_fields(res); ++i) cells.push_back(row[i] ? hex(row[i], lengths[i]) : "NULL");
        }
        EXPECT_EQ(mysql_errno(conn), 0u);
        mysql_free_result(res);
        return cells;
    }
    MYSQL_STMT* stmt = mysql_stmt_init(conn);
    EXPECT_NE(stmt, nullptr);
    if (!stmt) return cells;
    if (mysql_stmt_prepare(stmt, query.data(), static_cast<unsigned long>(query.size())) == 0 &&
        mysql_stmt_execute(stmt) == 0) {
        const unsigned n = mysql_stmt_field_count(stmt);
        std::vector<MYSQL_BIND> binds(n);
        std::vector<std::vector<char>> buffers(n, std::vector<char>(512));
        std::vector<unsigned long> lengths(n);
        std::vector<my_bool> nulls(n);
        for (unsigned i = 0; i < n; ++i) {
            std::memset(&binds[i], 0, sizeof binds[i]);
            binds[i].buffer_type = MYSQL_TYPE_BLOB;
            binds[i].buffer = buffers[i].data();
            binds[i].buffer_length = 512;
            binds[i].length = &lengths[i];
            binds[i].is_null = &nulls[i];
        }
        EXPECT_EQ(mysql_stmt_bind_result(stmt, binds.data()), 0);
        int rc = 0;
        while ((rc = mysql_stmt_fetch(stmt)) == 0)
            for (unsigned i = 0; i < n; ++i) cells.push_back(nulls[i] ? "NULL" : hex(buffers[i].data(), lengths[i]));
        EXPECT_EQ(rc, MYSQL_NO_DATA);
    }
    EXPECT_EQ(mysql_stmt_errno(stmt), 0u) << mysql_stmt_error(stmt);
    mysql_stmt_close(stmt);
    return cells;
}

// BIT, DECIMAL ZEROFILL and GEOMETRY: the binary protocol sends the very
// bytes of the text protocol, and the streams give the same rows.
TEST(BinaryStream, BitsZerofillDecimalsAndGeometryAreTheTextBytes) {
    test_database db("binary_bytes");
    std::string ddl = "CREATE TABLE bz (id INT PRIMARY KEY";
    std::string select = "SELECT seq";
    for (int bits : {1, 2, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 48, 63, 64}) {
        const std::string n = std::to_string(bits);
        ddl += ", b" + n + " BIT(" + n + ")";
        // Bits from a hash of the row number: a fixed sample.
        select += ", CAST(CONV(SUBSTRING(SHA2(CONCAT(seq, '/" + n + "'), 256), 1, 16), 16, 10) AS UNSIGNED)"
                  " & (~0 >> " + std::to_string(64 - bits) + ")";
    }
    const struct {
        int digits, decimals;
    } decimals[] = {{5, 0}, {10, 2}, {28, 10}, {29, 0}, {40, 2}, {65, 30}, {65, 0}, {12, 11}};
    for (const auto& d : decimals) {
        const std::string m = std::to_string(d.digits), f = std::to_string(d.decimals);
        ddl += ", d" + m + "_" + f + " DECIMAL(" + m + "," + f + ") ZEROFILL";
        select += ", TRUNCATE(RAND(seq) * POW(10, " + std::to_string(d.digits - d.decimals) +
                  ") * IF(seq % 3 = 0, 1e-5, 1), " + f + ")";
    }
    ddl += ", g GEOMETRY, iz INT(8) ZEROFILL)";
    select += ", IF(seq % 7 = 0, POINT(seq, seq / 3), ST_GeomFromText(CONCAT('LINESTRING(0 0,', seq, ' 1)'), 4326)),"
              " seq * 37 FROM seq_1_to_3000";
    db.conn().exec(ddl);
    db.conn().exec("INSERT INTO bz " + select);
    db.conn().exec("INSERT INTO bz (id) VALUES (0), (-1)");
    db.conn().exec("UPDATE bz SET b1 = 0, b64 = 0, d10_2 = 0, d65_30 = 0 WHERE id = -1");

    const std::string queries[] = {
        "SELECT * FROM bz ORDER BY id",
        "SELECT id, b5 | 0 AS o, IFNULL(b5, b7) AS i, MAX(b64) AS m, d10_2 + 0 AS s, IFNULL(d10_2, d5_0) AS n,"
        " MAX(d40_2) AS x, ST_Centroid(g) AS c FROM bz GROUP BY id",
    };
    MYSQL* conn = db.conn().get();
    for (const std::string& query : queries) {
        SCOPED_TRACE(query);
        const std::vector<std::string> text = cell_bytes(conn, query, false);
        const std::vector<std::string> binary = cell_bytes(conn, query, true);
        ASSERT_GT(text.size(), 3000u);
        ASSERT_EQ(binary.size(), text.size());
        for (size_t i = 0; i < text.size(); ++i) ASSERT_EQ(binary[i], text[i]) << "cell " << i;
    }
    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"bz", false, true, 3002);
    expect_same_both_ways(s.conn(), plat::utf8_decode(queries[1]), true, true, 3002);
    // A query with a placeholder is refused.
    EXPECT_THROW(sql_row_stream(s.conn(), L"SELECT id FROM bz WHERE id = ?", true, false), sql_exception);
    EXPECT_EQ(scalar(s.conn(), "SELECT 42"), "42");
}

// Floats of every exponent, the edges and a fixed sample of bit patterns.
std::vector<float> float_sweep() {
    auto of_bits = [](uint32_t bits) {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    };
    std::vector<float> v;
    for (uint32_t sign : {0u, 1u})
        for (uint32_t exponent = 0; exponent < 255; ++exponent)
            for (uint32_t mantissa : {0u, 1u, 0x400000u, 0x123456u, 0x7fffffu})
                v.push_back(of_bits(sign << 31 | exponent << 23 | mantissa));
    // Near powers of ten and where six digits round up to the next power.
    for (int k = -45; k <= 38; ++k) {
        for (double m : {1.0, 0.999995, 0.9999995, 9.999995, 1.000005, 5.0}) {
            const float f = static_cast<float>(std::pow(10.0, k) * m);
            if (!std::isfinite(f) || f == 0) continue;
            for (float g : {f, std::nextafter(f, 0.0f), std::nextafter(f, 1e38f)}) {
                v.push_back(g);
                v.push_back(-g);
            }
        }
    }
    // Exact ties at the sixth digit.
    for (uint32_t i = 1000000; i < 1000100; ++i) {
        v.push_back(static_cast<float>(i * 10 + 5));
        v.push_back(static_cast<float>(i) + 0.5f);
    }
    std::mt19937 rng(20240611);
    for (size_t n = 0; n < 4000;) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        if ((bits >> 23 & 0xff) == 0xff) continue;  // no infinities or NaN
        v.push_back(of_bits(bits));
        ++n;
    }
    return v;
}

// Inserts values[i] with id i into table (id, f, fz), 500 rows a statement.
void insert_floats(MYSQL* conn, const std::vector<float>& values) {
    for (size_t at = 0; at < values.size(); at += 500) {
        const size_t n = std::min<size_t>(500, values.size() - at);
        std::string sql = "INSERT INTO f (id, f, fz) VALUES ";
        for (size_t i = 0; i < n; ++i) sql += i ? ",(?,?,?)" : "(?,?,?)";
        MYSQL_STMT* stmt = mysql_stmt_init(conn);
        ASSERT_NE(stmt, nullptr);
        std::vector<MYSQL_BIND> binds(3 * n);
        std::vector<int32_t> ids(n);
        std::vector<float> magnitudes(n);
        for (size_t i = 0; i < n; ++i) {
            ids[i] = static_cast<int32_t>(at + i);
            magnitudes[i] = std::fabs(values[at + i]);
            MYSQL_BIND* b = &binds[3 * i];
            std::memset(b, 0, 3 * sizeof *b);
            b[0].buffer_type = MYSQL_TYPE_LONG;
            b[0].buffer = &ids[i];
            b[1].buffer_type = MYSQL_TYPE_FLOAT;
            b[1].buffer = const_cast<float*>(&values[at + i]);
            b[2].buffer_type = MYSQL_TYPE_FLOAT;
            b[2].buffer = &magnitudes[i];
        }
        const bool ok = mysql_stmt_prepare(stmt, sql.data(), static_cast<unsigned long>(sql.size())) == 0 &&
                        mysql_stmt_bind_param(stmt, binds.data()) == 0 && mysql_stmt_execute(stmt) == 0;
        const std::string error = mysql_stmt_error(stmt);
        mysql_stmt_close(stmt);
        ASSERT_TRUE(ok) << error;
    }
}

// The server's own text of every swept float, and of its ZEROFILL column,
// is the text written from the binary value; both streams give the same rows.
TEST(BinaryStream, FloatsAreWrittenAsTheServerWritesThem) {
    test_database db("binary_float");
    db.conn().exec("CREATE TABLE f (id INT PRIMARY KEY, f FLOAT, fz FLOAT ZEROFILL, n INT)");
    const std::vector<float> values = float_sweep();
    insert_floats(db.conn().get(), values);
    if (HasFatalFailure()) return;
    db.conn().exec("INSERT INTO f (id, n) VALUES (-1, 1)");  // NULLs

    MYSQL* conn = db.conn().get();
    ASSERT_EQ(mysql_query(conn, "SELECT id, f, fz FROM f WHERE id >= 0 ORDER BY id"), 0) << mysql_error(conn);
    MYSQL_RES* res = mysql_use_result(conn);
    ASSERT_NE(res, nullptr) << mysql_error(conn);
    const unsigned long zero_width = mysql_fetch_field_direct(res, 2)->length;
    size_t rows = 0;
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        const size_t id = std::stoul(row[0]);
        ASSERT_LT(id, values.size());
        char text[64];
        const size_t n = sql_float_text(values[id], text);
        EXPECT_EQ(std::string(row[1], lengths[1]), std::string(text, n)) << "float bits of row " << id;
        const size_t nz = sql_zero_fill(text, sql_float_text(std::fabs(values[id]), text), zero_width);
        EXPECT_EQ(std::string(row[2], lengths[2]), std::string(text, nz)) << "zero-filled row " << id;
        ++rows;
    }
    const bool complete = mysql_errno(conn) == 0;
    mysql_free_result(res);
    ASSERT_TRUE(complete);
    EXPECT_EQ(rows, values.size());

    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"f", false, true, values.size() + 1);
    // FLOAT results of expressions.
    expect_same_both_ways(s.conn(),
                          L"SELECT id, MAX(f) AS m, IFNULL(fz, f) AS i, CAST(f AS FLOAT) AS c FROM f GROUP BY id",
                          true, true, values.size() + 1);
}

// Doubles of fixed decimals in several columns: random values of a fixed
// seed, ties, zeros of both signs. The text rebuilt from each binary value
// is the server's text of it, for columns and for computed results.
TEST(BinaryStream, FixedDecimalsAreWrittenAsTheServerWritesThem) {
    test_database db("binary_fixed");
    db.conn().exec("CREATE TABLE fx (id INT PRIMARY KEY, a DOUBLE(10,3), b DOUBLE(30,10), c DOUBLE(255,30),"
                   " e FLOAT(8,2), g FLOAT(30,20), z DOUBLE(12,4) UNSIGNED ZEROFILL,"
                   " h DOUBLE(255,5), k DOUBLE(40,0), m FLOAT(255,5))");
    std::mt19937_64 rng(424242);
    // A random value below 10 to the power of one from low to high.
    auto random_value = [&rng](int low, int high) {
        const double power = low + static_cast<double>(rng() % 10000) / 10000.0 * (high - low);
        const double x = static_cast<double>(rng() >> 11) / 9007199254740992.0 * std::pow(10.0, power);
        return (rng() & 1) ? -x : x;
    };
    std::vector<double> values = {0.0, -0.0, 0.5, 2.675, -2.675, 0.0005, -0.0049, 1e-6, 99999.995};
    while (values.size() < 4000) values.push_back(random_value(-6, 5));
    // Large values, where the shortest digits are followed by zeros.
    std::vector<double> large = values, middle = values;
    for (size_t i = 9; i < values.size(); ++i) {
        large[i] = random_value(-20, 240);
        middle[i] = random_value(0, 38);
    }
    MYSQL* conn = db.conn().get();
    for (size_t at = 0; at < values.size(); at += 500) {
        std::string sql = "INSERT INTO fx VALUES ";
        std::vector<MYSQL_BIND> binds;
        std::vector<int32_t> ids(500);
        std::vector<double> magnitudes(500);
        for (size_t i = at; i < at + 500 && i < values.size(); ++i) {
            sql += i > at ? ",(?,?,?,?,?,?,?,?,?,?)" : "(?,?,?,?,?,?,?,?,?,?)";
            ids[i - at] = static_cast<int32_t>(i);
            magnitudes[i - at] = std::fabs(values[i]);
            MYSQL_BIND b[10];
            std::memset(b, 0, sizeof b);
            b[0].buffer_type = MYSQL_TYPE_LONG;
            b[0].buffer = &ids[i - at];
            double* sources[] = {&values[i], &values[i], &values[i], &values[i], &values[i],
                                 &magnitudes[i - at], &large[i], &middle[i], &middle[i]};
            for (int k = 1; k < 10; ++k) {
                b[k].buffer_type = MYSQL_TYPE_DOUBLE;
                b[k].buffer = sources[k - 1];
            }
            binds.insert(binds.end(), b, b + 10);
        }
        MYSQL_STMT* stmt = mysql_stmt_init(conn);
        ASSERT_NE(stmt, nullptr);
        const bool ok = mysql_stmt_prepare(stmt, sql.data(), static_cast<unsigned long>(sql.size())) == 0 &&
                        mysql_stmt_bind_param(stmt, binds.data()) == 0 && mysql_stmt_execute(stmt) == 0;
        const std::string error = mysql_stmt_error(stmt);
        mysql_stmt_close(stmt);
        ASSERT_TRUE(ok) << error;
    }
    db.conn().exec("INSERT INTO fx (id) VALUES (-1)");  // NULLs
    const char* const query =
        "SELECT id, a, b, c, e, g, z, h, k, m, a * 1.5, a * 0.4, b / 3, -a, e * 0.4, h * 1.5, k / 3, m * 0.4"
        " FROM fx ORDER BY id";

    // The binary values, by the client library.
    const unsigned columns = 17;
    std::vector<std::vector<double>> binary;
    {
        MYSQL_STMT* stmt = mysql_stmt_init(conn);
        ASSERT_NE(stmt, nullptr);
        ASSERT_EQ(mysql_stmt_prepare(stmt, query, static_cast<unsigned long>(std::strlen(query))), 0);
        ASSERT_EQ(mysql_stmt_execute(stmt), 0) << mysql_stmt_error(stmt);
        MYSQL_RES* meta = mysql_stmt_result_metadata(stmt);
        ASSERT_NE(meta, nullptr);
        int32_t id = 0;
        double d[columns];
        float f[columns];
        my_bool is_null[columns];
        MYSQL_BIND b[columns + 1];
        std::memset(b, 0, sizeof b);
        b[0].buffer_type = MYSQL_TYPE_LONG;
        b[0].buffer = &id;
        for (unsigned k = 0; k < columns; ++k) {
            const bool is_float = mysql_fetch_field_direct(meta, k + 1)->type == MYSQL_TYPE_FLOAT;
            EXPECT_LT(mysql_fetch_field_direct(meta, k + 1)->decimals, sql_no_fixed_decimals) << k;
            b[k + 1].buffer_type = is_float ? MYSQL_TYPE_FLOAT : MYSQL_TYPE_DOUBLE;
            b[k + 1].buffer = is_float ? static_cast<void*>(&f[k]) : &d[k];
            b[k + 1].is_null = &is_null[k];
        }
        mysql_free_result(meta);
        ASSERT_EQ(mysql_stmt_bind_result(stmt, b), 0);
        while (mysql_stmt_fetch(stmt) == 0) {
            std::vector<double> row;
            for (unsigned k = 0; k < columns; ++k)
                row.push_back(is_null[k] ? NAN : b[k + 1].buffer_type == MYSQL_TYPE_FLOAT ? f[k] : d[k]);
            binary.push_back(row);
        }
        mysql_stmt_close(stmt);
    }
    ASSERT_EQ(binary.size(), values.size() + 1);

    ASSERT_EQ(mysql_query(conn, query), 0) << mysql_error(conn);
    MYSQL_RES* res = mysql_use_result(conn);
    ASSERT_NE(res, nullptr);
    size_t r = 0;
    for (MYSQL_ROW row; (row = mysql_fetch_row(res)) != nullptr && r < binary.size(); ++r) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        for (unsigned k = 0; k < columns; ++k) {
            const MYSQL_FIELD* field = mysql_fetch_field_direct(res, k + 1);
            if (!row[k + 1]) {
                EXPECT_TRUE(std::isnan(binary[r][k]));
                continue;
            }
            char text[sql_fixed_text_bytes + 256];
            size_t n = sql_fixed_text(binary[r][k], field->decimals, text);
            if (field->flags & ZEROFILL_FLAG) n = sql_zero_fill(text, n, field->length);
            EXPECT_EQ(std::string(row[k + 1], lengths[k + 1]), std::string(text, n))
                << "row " << r << " column " << k + 1 << " value " << binary[r][k];
        }
    }
    mysql_free_result(res);
    EXPECT_EQ(r, binary.size());

    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"fx", false, true, values.size() + 1);
    expect_same_both_ways(s.conn(), plat::utf8_decode(query), true, true, values.size() + 1);
}

// More columns than a word of NULL bits, NULL at shifting positions, enough
// rows to go through the receiving thread: the same rows either way.
TEST(BinaryStream, NullsBeyondSixtyFourColumns) {
    test_database db("binary_nulls");
    const int columns = 70;
    std::string create = "CREATE TABLE t (id INT PRIMARY KEY", select = "SELECT seq";
    for (int k = 0; k < columns; ++k) {
        const std::string name = "c" + std::to_string(k);
        // Numbers, dates and texts in turn, NULL on every seventh shift.
        const char* type = k % 3 == 0 ? " INT" : k % 3 == 1 ? " DATE" : " VARCHAR(20)";
        const std::string value = k % 3 == 0 ? "seq * " + std::to_string(k)
                                  : k % 3 == 1 ? "DATE('2020-01-01') + INTERVAL seq DAY"
                                               : "CONCAT('v', seq)";
        create += ", " + name + type;
        select += ", IF((seq + " + std::to_string(k) + ") % 7 = 0, NULL, " + value + ")";
    }
    db.conn().exec(create + "); INSERT INTO t " + select + " FROM seq_1_to_700");
    engine_session s;
    s.use(db.name());
    expect_same_both_ways(s.conn(), L"t", false, true, 700);
}

// A row the server cannot make ends the stream with the same error either way.
TEST(BinaryStream, ServerFailureMidStreamIsTheSameError) {
    test_database db("binary_fail");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t SELECT seq FROM seq_1_to_400;"
                   "CREATE TABLE multi (k INT, v INT); INSERT INTO multi VALUES (300, 1), (300, 2)");
    engine_session s;
    s.use(db.name());
    const std::wstring query = L"SELECT id, (SELECT v FROM multi WHERE multi.k = t.id) AS v FROM t ORDER BY id";
    std::vector<std::string> errors;
    for (bool text_only : {true, false}) {
        sql_row_stream q(s.conn(), query, true, false, text_only);
        EXPECT_EQ(q.is_binary(), !text_only);
        sql_record_page page;
        size_t read = 0;
        try {
            while (size_t n = q.store_to(&page)) read += n;
            ADD_FAILURE() << "no failure";
        } catch (const sql_exception& e) {
            errors.push_back(std::to_string(e.code()) + " " + e.what());
        }
        EXPECT_EQ(read, 299u);  // every whole row before the failing one
        EXPECT_TRUE(q.at_end());
        EXPECT_EQ(scalar(s.conn(), "SELECT 42"), "42");
    }
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], errors[1]);
    EXPECT_NE(errors[0].find("Subquery returns more than 1 row"), std::string::npos) << errors[0];
}

// The column descriptions stay readable once the receiving thread has
// read the stream to its end and closed it, by either protocol.
TEST(BinaryStream, ColumnDescriptionsOutliveTheStream) {
    test_database db("binary_fields");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, naam VARCHAR(20));"
                   "INSERT INTO t SELECT seq, 'x' FROM seq_1_to_2000");
    engine_session s;
    s.use(db.name());
    for (bool text_only : {true, false}) {
        SCOPED_TRACE(text_only ? "text" : "binary");
        sql_row_stream q(s.conn(), L"t", false, false, text_only);
        sql_record_page page;
        size_t read = 0;
        while (size_t n = q.store_to(&page)) read += n;
        EXPECT_EQ(read, 2000u);
        ASSERT_TRUE(q.at_end());
        // Statements after the end reuse what the stream's result had.
        EXPECT_EQ(scalar(s.conn(), "SELECT 'other', 'names', 'here'"), "other");
        ASSERT_EQ(q.field_count(), 2u);
        const MYSQL_FIELD* f = q.fields();
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::string(f[0].name, f[0].name_length), "id");
        EXPECT_EQ(std::string(f[1].name, f[1].name_length), "naam");
        EXPECT_STREQ(f[1].org_table, "t");
        EXPECT_EQ(f[0].type, MYSQL_TYPE_LONG);
        EXPECT_EQ(f[1].type, MYSQL_TYPE_VAR_STRING);
        EXPECT_NE(f[0].flags & PRI_KEY_FLAG, 0u);
    }
}

// A stream closed half-way leaves the connection ready for the next statement.
TEST(BinaryStream, ClosedHalfWayFreesTheConnection) {
    test_database db("binary_close");
    db.conn().exec("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(100));"
                   "INSERT INTO t SELECT seq, REPEAT('s', 100) FROM seq_1_to_20000");
    engine_session s;
    s.use(db.name());
    {
        sql_row_stream q(s.conn(), L"t", false, false);
        ASSERT_TRUE(q.is_binary());
        sql_record_page page;
        EXPECT_EQ(q.store_to(&page), sql_record_page::max_rows);
        EXPECT_FALSE(q.at_end());
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT COUNT(*) FROM t"), "20000");
    // And through the recordset, whose reset opens a new stream each pass.
    {
        sql_recordset rs(nullptr, s.conn(), L"t", nullptr);
        for (int pass = 0; pass < 2; ++pass) {
            rs.reset();
            for (int i = 0; i < 300; ++i) rs.next();
            EXPECT_EQ(rs.get_record()->at(0)->to_long(), 301);
        }
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT COUNT(*) FROM t"), "20000");
}

// Tables read in turn on one connection by the statement handle that each
// read to its end leaves for the next: other columns, longer texts and NULLs
// after narrow rows, rows received by the thread after rows of the first
// page only, an empty table, a stream left half-way, a stored query; every
// read gives what the text protocol gives.
TEST(BinaryStream, TablesInTurnGiveTheirOwnRows) {
    test_database db("binary_turns");
    db.conn().exec("CREATE TABLE narrow (id INT PRIMARY KEY, flag TINYINT);"
                   "INSERT INTO narrow VALUES (1, 7), (2, NULL), (3, -1);"
                   "CREATE TABLE wide (id INT PRIMARY KEY, label VARCHAR(3000), amount DECIMAL(12,2),"
                   " changed DATETIME(3), note TEXT, raw VARBINARY(50));"
                   "INSERT INTO wide SELECT seq, IF(seq % 4 = 0, NULL, REPEAT(CONCAT('w', seq), seq % 300)),"
                   " IF(seq % 5 = 0, NULL, seq / 3), TIMESTAMP('2001-02-03') + INTERVAL seq MINUTE,"
                   " IF(seq % 3 = 0, NULL, CONCAT('note \"', seq, '\"')), IF(seq % 6 = 0, NULL, UNHEX('00FF'))"
                   " FROM seq_1_to_600;"
                   "CREATE TABLE empty (a DATE, b VARCHAR(5));"
                   "CREATE TABLE big (id INT PRIMARY KEY); INSERT INTO big SELECT seq FROM seq_1_to_3000");
    engine_session s;
    s.use(db.name());
    const struct {
        const wchar_t* source;
        bool is_query;
        size_t rows;
    } turns[] = {{L"narrow", false, 3}, {L"wide", false, 600}, {L"narrow", false, 3}, {L"empty", false, 0},
                 {L"wide", false, 600}, {L"SELECT flag, id FROM narrow ORDER BY id DESC", true, 3},
                 {L"narrow", false, 3}};
    std::vector<std::vector<std::vector<std::string>>> fast;
    for (size_t k = 0; k < std::size(turns); ++k) {
        bool binary = false;
        fast.push_back(read_all(s.conn(), turns[k].source, turns[k].is_query, false, false, &binary));
        EXPECT_TRUE(binary);
        if (k != 3) continue;
        // A stream left after its first page: its handle is not kept.
        sql_row_stream half(s.conn(), L"big", false, false);
        sql_record_page page;
        EXPECT_EQ(half.store_to(&page), sql_record_page::max_rows);
    }
    for (size_t k = 0; k < std::size(turns); ++k) {
        SCOPED_TRACE(testing::Message() << "turn " << k);
        const auto text = read_all(s.conn(), turns[k].source, turns[k].is_query, false, true);
        ASSERT_EQ(text.size(), turns[k].rows);
        EXPECT_EQ(fast[k], text);
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT COUNT(*) FROM big"), "3000");
}

// A connection keeps one statement handle: the one kept first, until taken.
TEST(KeptStatement, OneHandlePerOwnedConnection) {
    sql_connection owned;
    MYSQL_STMT* first = sql_take_statement(owned.get());
    MYSQL_STMT* second = sql_take_statement(owned.get());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    sql_keep_statement(owned.get(), first);
    sql_keep_statement(owned.get(), second);  // closed: one is kept already
    EXPECT_EQ(sql_take_statement(owned.get()), first);
    MYSQL_STMT* fresh = sql_take_statement(owned.get());
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, first);
    mysql_stmt_close(fresh);
    sql_keep_statement(owned.get(), first);  // closed with the connection
}

// Unit checks of the column rule and the rebuilt texts, no server.
MYSQL_FIELD field_of(enum_field_types type, unsigned flags = 0, unsigned decimals = 0) {
    MYSQL_FIELD f;
    std::memset(&f, 0, sizeof f);
    f.type = type;
    f.flags = flags;
    f.decimals = decimals;
    f.charsetnr = 63;
    return f;
}

TEST(BinaryColumns, FitsOnlyWhereTheTextIsExact) {
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_LONG)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG | ZEROFILL_FLAG)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_YEAR)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_DOUBLE, 0, 31)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_DOUBLE, 0, 2)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_FLOAT, 0, 2)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_FLOAT, 0, 31)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_FLOAT, UNSIGNED_FLAG | ZEROFILL_FLAG, 31)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_NEWDECIMAL, 0, 2)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_NEWDECIMAL, ZEROFILL_FLAG, 2)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_DATETIME, 0, 6)));
    EXPECT_FALSE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_DATETIME, 0, 39)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_BLOB)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_NULL)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_BIT)));
    EXPECT_TRUE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_GEOMETRY)));
    EXPECT_FALSE(sql_binary_protocol_fits(field_of(MYSQL_TYPE_TIME, 0, 39)));
}

TEST(BinaryColumns, FloatsAreWrittenAsTheServerWritesThem) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.1f, "0.1"},
        {16777217.0f, "16777200"},
        {-0.0f, "0"},
        {0.0f, "0"},
        {1e14f, "100000000000000"},
        {1e15f, "1e15"},
        {-1.234567e16f, "-1.23457e16"},
        {1.5e-15f, "0.0000000000000015"},
        {1.5e-16f, "1.5e-16"},
        {1.4e-45f, "1.4013e-45"},
        {3.4028235e38f, "3.40282e38"},
        {1.17549435e-38f, "1.17549e-38"},
        {1234565.0f, "1234560"},  // ties to even
        {1234575.0f, "1234580"},
        {999999.5f, "1000000"},
        {-1.25e-10f, "-0.000000000125"},
        {2.5f, "2.5"},
        // Never stored by the server; written, not read beyond the digits.
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
    };
    for (const auto& c : cases) {
        char out[32];
        EXPECT_EQ(std::string(out, sql_float_text(c.value, out)), c.text) << c.text;
    }
    const struct {
        double value;
        unsigned decimals;
        const char* text;
    } fixed[] = {
        {2.675, 3, "2.675"},           {-0.0, 2, "0.00"},
        {-0.004, 2, "-0.00"},         
        {-551150.28766373405, 10, "-551150.2876637340"},  // shortest digits, then zeros
        {0.1, 30, "0.100000000000000000000000000000"},
        {1.1217895897818615e+18, 10, "1121789589781861500.0000000000"},
        {-75985612203688704.0, 0, "-75985612203688700"},
        {1.851749999, 2, "1.85"},      {12.0, 0, "12"},
        {0.001, 3, "0.001"},           {-0.05, 4, "-0.0500"},
        {-std::numeric_limits<double>::infinity(), 2, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), 3, "nan"},
    };
    for (const auto& c : fixed) {
        char out[sql_fixed_text_bytes];
        EXPECT_EQ(std::string(out, sql_fixed_text(c.value, c.decimals, out)), c.text) << c.text;
    }
    char padded[16] = "1e20";
    EXPECT_EQ(std::string(padded, sql_zero_fill(padded, 4, 12)), "000000001e20");
    EXPECT_EQ(std::string(padded, sql_zero_fill(padded, 12, 3)), "000000001e20");
}

// The quick way to a float's six digits gives the text of the general way:
// on the swept floats and on every 4099th bit pattern (all of them were
// compared once, outside the tests).
TEST(BinaryColumns, FloatTextMatchesTheGeneralWay) {
    std::vector<float> values = float_sweep();
    for (uint64_t bits = 0; bits < (uint64_t{1} << 32); bits += 4099) {
        const uint32_t b = static_cast<uint32_t>(bits);
        if ((b >> 23 & 0xff) == 0xff) continue;  // no infinities or NaN
        float f;
        std::memcpy(&f, &b, sizeof f);
        values.push_back(f);
    }
    size_t mismatches = 0;
    for (const float f : values) {
        char quick[32], general[32];
        const std::string a(quick, sql_float_text(f, quick));
        const std::string b(general, sql_float_text_general(f, general));
        if (a != b && ++mismatches <= 10) ADD_FAILURE() << a << " != " << b;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(values.size(), 1000000u);
}

TEST(BinaryColumns, DatesAndTimesAreWrittenAsTheServerWritesThem) {
    struct time_case {
        enum_field_types type;
        unsigned decimals;
        MYSQL_TIME t;
        const char* text;
    };
    auto tm = [](unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s, unsigned long us,
                 bool neg) {
        MYSQL_TIME t;
        std::memset(&t, 0, sizeof t);
        t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s, t.second_part = us;
        t.neg = neg;
        return t;
    };
    const time_case cases[] = {
        {MYSQL_TYPE_DATE, 0, tm(2024, 2, 9, 0, 0, 0, 0, false), "2024-02-09"},
        {MYSQL_TYPE_DATE, 0, tm(0, 0, 0, 0, 0, 0, 0, false), "0000-00-00"},
        {MYSQL_TYPE_DATETIME, 0, tm(999, 1, 2, 3, 4, 5, 0, false), "0999-01-02 03:04:05"},
        {MYSQL_TYPE_DATETIME, 6, tm(2024, 1, 2, 3, 4, 5, 123456, false), "2024-01-02 03:04:05.123456"},
        {MYSQL_TYPE_DATETIME, 6, tm(0, 0, 0, 0, 0, 0, 0, false), "0000-00-00 00:00:00.000000"},
        {MYSQL_TYPE_TIMESTAMP, 2, tm(2020, 1, 1, 0, 0, 0, 500000, false), "2020-01-01 00:00:00.50"},
        {MYSQL_TYPE_TIME, 0, tm(0, 0, 0, 838, 59, 59, 0, true), "-838:59:59"},
        {MYSQL_TYPE_TIME, 3, tm(0, 0, 0, 100, 0, 1, 500000, true), "-100:00:01.500"},
        {MYSQL_TYPE_TIME, 1, tm(0, 0, 0, 0, 0, 0, 0, false), "00:00:00.0"},
        {MYSQL_TYPE_TIME, 6, tm(0, 0, 0, 23, 59, 59, 999999, false), "23:59:59.999999"},
    };
    for (const time_case& c : cases) {
        char out[48];
        const size_t n = sql_temporal_text(c.type, c.decimals, c.t, out);
        EXPECT_EQ(std::string(out, n), c.text);
    }
}

}  // namespace
