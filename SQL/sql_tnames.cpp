#include "sql_tnames.h"

#include "tk_log.h"

std::map<int32_t, std::wstring>& sql_type_names() {
    static std::map<int32_t, std::wstring> names;
    if (names.empty()) {
        static const wchar_t* const texts[] = {
            L"BINARY",   L"BIT",      L"TINYINT",    L"TINYINT UNSIGNED", L"SMALLINT", L"SMALLINT UNSIGNED",
            L"INT",      L"INT UNSIGNED", L"BIGINT", L"BIGINT UNSIGNED",  L"FLOAT",    L"DECIMAL",
            L"DOUBLE",   L"CHAR",     L"VARBINARY",  L"VARCHAR",          L"DATETIME", L"DATE",
            L"TIME",     L"TIMESTAMP", L"LONGBLOB",  L"TINYBLOB",         L"BLOB",     L"MEDIUMBLOB",
            L"TEXT",     L"LONGTEXT", L"MEDIUMTEXT", L"TINYTEXT",
        };
        int32_t index = 0;
        for (const wchar_t* text : texts) names.emplace(index++, text);
    }
    return names;
}

const std::wstring& get_sql_type_name(int32_t index) {
    static const std::wstring unknown = L"<Unknown type>";
    const auto& names = sql_type_names();
    auto it = names.lower_bound(index);
    if (it != names.end() && it->first == index) return it->second;
    tk_log(1, "Type %d wasn't found", static_cast<int>(index));
    return unknown;
}
