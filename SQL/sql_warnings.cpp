#include "sql_warnings.h"

#include <charconv>
#include <string_view>

#include "sql_run.h"
#include "tk_log.h"

namespace {

// Splits " at row N" off the end of a message.
uint64_t take_row(std::string& message) {
    static constexpr std::string_view marker = " at row ";
    const size_t at = message.rfind(marker);
    if (at == std::string::npos) return 0;
    const char* first = message.data() + at + marker.size();
    const char* last = message.data() + message.size();
    uint64_t row = 0;
    const auto [end, ec] = std::from_chars(first, last, row);
    if (ec != std::errc() || end != last || row == 0) return 0;
    message.resize(at);
    return row;
}

}  // namespace

std::vector<sql_warning> sql_read_warnings(MYSQL* connection, unsigned int count) {
    std::vector<sql_warning> out;
    if (count == 0) return out;
    sql_result_ptr result = sql_open_stream(connection, std::string_view("SHOW WARNINGS"));
    if (!result || mysql_num_fields(result.get()) < 3) return out;
    while (MYSQL_ROW row = sql_fetch_row(connection, result.get())) {
        const unsigned long* lengths = sql_fetch_lengths(result.get());
        sql_warning w;
        if (row[0]) w.level.assign(row[0], lengths[0]);
        if (row[1]) std::from_chars(row[1], row[1] + lengths[1], w.code);
        if (row[2]) w.message.assign(row[2], lengths[2]);
        w.row = take_row(w.message);
        tk_log(2, "%s %u: %s (row %d)", w.level.c_str(), w.code, w.message.c_str(), static_cast<int>(w.row));
        out.push_back(std::move(w));
    }
    return out;
}

std::string sql_warning_text(const sql_warning& w) {
    return w.level + " " + std::to_string(w.code) + ": " + w.message;
}
