// Peak memory of BRENNOCK on a row of huge values: the client library's
// packet and one copy of the row, plus what the program needs anyway.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "agent_util.h"

namespace {

using namespace agent_test;

constexpr size_t mib = size_t(1) << 20;
// Rows of a 24 MiB LONGBLOB and a 24 MiB LONGTEXT: the first comes with the
// stream's first page, the others through the thread that receives the rest.
constexpr size_t huge_rows = 3;
constexpr size_t blob_bytes = 24 * mib;
constexpr size_t text_bytes = 24 * mib;
constexpr size_t row_bytes = blob_bytes + text_bytes;
// Beyond the program's peak on a tiny table: the output block (1 MiB),
// the allocator's and the library's slack.
constexpr size_t slack_bytes = 8 * mib;

// The repeated units of the two values: every byte value kind of the hex
// rule, and a text of quotes, line breaks, delimiters and two-byte characters.
const std::string blob_unit("\x00\xFF\x7F\x41\x22\x0A", 6);
const std::string text_unit = "ab\xC3\xA9\"\n;\r\xE2\x82\xAC";

std::string hex_of(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    out.reserve(2 + 2 * bytes.size());
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string repeated(const std::string& unit, size_t bytes) {
    std::string s;
    s.reserve(bytes);
    while (s.size() + unit.size() <= bytes) s += unit;
    return s;
}

std::string hex_literal(const std::string& bytes) { return "X'" + hex_of(bytes).substr(2) + "'"; }

// Peak resident memory of a finished child, in bytes.
size_t peak_bytes(const struct rusage& ru) { return static_cast<size_t>(ru.ru_maxrss) * 1024; }

// The first position where two long strings differ (npos when equal).
size_t first_difference(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? std::string::npos : n;
}


FENNROW_SERVER_WIDE_TESTS(brennock_memory);

TEST(brennock_memory, huge_values_stay_within_twice_the_row_ServerWide) {
    const fennrow_test::test_server srv = fennrow_test::require_test_server();
    // The server must send the row whole: its limit is raised only when too
    // small (and put back at the end), before the sessions below open.
    const size_t need = row_bytes + 4 * mib;
    std::optional<fennrow_test::global_setting_scope> packet;
    if (std::stoull(fennrow_test::global_setting("max_allowed_packet")) < need)
        packet.emplace("max_allowed_packet", std::to_string(need));

    fennrow_test::test_database db{"huge_values"};
    const std::string blob_units = std::to_string(blob_bytes / blob_unit.size());
    const std::string text_units = std::to_string(text_bytes / text_unit.size());
    db.conn().exec("CREATE TABLE small (id INT, b LONGBLOB, t LONGTEXT) CHARACTER SET utf8mb4;"
                   "INSERT INTO small VALUES (1, X'00', 'x');"
                   "CREATE TABLE huge (id INT, b LONGBLOB, t LONGTEXT) CHARACTER SET utf8mb4;"
                   "INSERT INTO huge SELECT seq, REPEAT(" + hex_literal(blob_unit) + ", " + blob_units +
                   "), REPEAT(" + hex_literal(text_unit) + ", " + text_units + ") FROM seq_1_to_" +
                   std::to_string(huge_rows));

    temp_dir dir;
    // The children keep no freed blocks in a sanitizer's quarantine: the peak
    // measured is the program's.
    const child_sanitizer_option quarantine_off("quarantine_size_mb=0");
    const auto convert = [&](const std::string& table, struct rusage& ru) {
        write_file(dir / (table + ".txt"), table + "\n");
        return run_brennock(join(server_args(srv), {"--src=" + db.name(), "--dest=" + (dir / table),
                                                    "--tab_file=" + (dir / (table + ".txt")), "--silent"}),
                            {}, &ru);
    };
    struct rusage small_use {}, huge_use {};
    const run_result small = convert("small", small_use);
    ASSERT_EQ(small.status, 0) << small;
    const run_result huge = convert("huge", huge_use);
    ASSERT_EQ(huge.status, 0) << huge;

    // The client library's packet holds a row once, the record once more:
    // the next row is received only once the last one is written.
    const size_t limit = peak_bytes(small_use) + 2 * row_bytes + slack_bytes;
    EXPECT_LE(peak_bytes(huge_use), limit) << "peak " << peak_bytes(huge_use) / mib << " MiB, tiny table "
                                           << peak_bytes(small_use) / mib << " MiB";

    const std::string blob = repeated(blob_unit, blob_bytes);
    const std::string text = repeated(text_unit, text_bytes);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    std::string expected = bom + "id;b;t\r\n";
    for (size_t id = 1; id <= huge_rows; ++id) expected += std::to_string(id) + ";" + hex_of(blob) + ";" + quoted + "\r\n";
    const std::string got = read_file(dir / "huge/huge.csv");
    const size_t at = first_difference(got, expected);
    EXPECT_EQ(at, std::string::npos) << "file of " << got.size() << " bytes, expected " << expected.size();
}

}  // namespace
