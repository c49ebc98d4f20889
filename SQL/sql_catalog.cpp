#include "sql_catalog.h"

#include <string_view>

#include <errmsg.h>

#include "sql_excep.h"
#include "sql_run.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

// The spatial types, which a result describes as geometry.
bool is_geometry_type(std::string_view type) {
    static constexpr std::string_view spatial[] = {"geometry",        "point",           "linestring",
                                                   "polygon",         "multipoint",      "multilinestring",
                                                   "multipolygon",    "geometrycollection", "geomcollection"};
    for (std::string_view s : spatial) {
        if (s.size() != type.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < s.size(); ++i) {
            char c = type[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            same = c == s[i];
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

void sql_catalog::load(MYSQL* connection, const std::wstring& database) {
    tk_log(2, "sql_catalog::load");
    tables_.clear();
    // Invisible columns are not part of SELECT *.
    const std::string statement =
        "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA='" +
        sql_escape_for(connection, tk_to_utf8(database)) +
        "' AND EXTRA NOT LIKE '%INVISIBLE%' ORDER BY TABLE_NAME, ORDINAL_POSITION";
    sql_result_ptr result = sql_open_stream(connection, std::string_view(statement));
    if (!result || mysql_num_fields(result.get()) != 3)
        throw sql_exception(std::string("The column list returned no rows"), CR_UNKNOWN_ERROR);
    std::string last_table;
    sql_catalog_columns* columns = nullptr;
    while (MYSQL_ROW row = sql_fetch_row(connection, result.get())) {
        const unsigned long* lengths = sql_fetch_lengths(result.get());
        if (!row[0] || !row[1]) continue;
        const std::string_view table(row[0], lengths[0]);
        if (!columns || table != last_table) {
            last_table.assign(table);
            columns = &tables_[tk_from_utf8(last_table)];
        }
        sql_catalog_column c;
        c.name = tk_from_utf8(std::string(row[1], lengths[1]));
        c.geometry = row[2] && is_geometry_type(std::string_view(row[2], lengths[2]));
        columns->push_back(std::move(c));
    }
    tk_log(2, "sql_catalog::load - %d tables", static_cast<int>(tables_.size()));
}

const sql_catalog_columns* sql_catalog::find(const std::wstring& table) const {
    const auto it = tables_.find(table);
    return it == tables_.end() ? nullptr : &it->second;
}
