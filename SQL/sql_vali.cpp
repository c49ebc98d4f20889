#include "sql_vali.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "sql_engi.h"
#include "text.h"
#include "tk_log.h"
#include "udb_idx.h"
#include "udb_record.h"
#include "udb_schema.h"

namespace {

// Forbidden in every quoted name (the first 8), then also in table names.
constexpr wchar_t symbols[] = {L'`', L'"', L'\'', L'^', L'*', L'\\', L';', L'+',
                               L'|', L':', L'<', L'>', L'?', L'/'};
constexpr size_t name_symbols = 8;
constexpr size_t table_symbols = 14;

// Characters that the server's file-name encoding writes as '@' and two
// characters; every other character outside [0-9A-Za-z_] takes five bytes.
struct code_range {
    wchar_t first, last;
};
constexpr code_range short_codes[] = {
    {0xC0, 0xD6},     {0xD8, 0xF6},     {0xF8, 0x12F},    {0x131, 0x1BE},   {0x1C4, 0x1C4},
    {0x1C6, 0x1C7},   {0x1C9, 0x1CA},   {0x1CC, 0x1F1},   {0x1F3, 0x1F6},   {0x1F8, 0x241},
    {0x250, 0x2AF},   {0x386, 0x386},   {0x388, 0x38A},   {0x38C, 0x38C},   {0x38E, 0x3A1},
    {0x3A3, 0x3CE},   {0x3D0, 0x3D7},   {0x3D9, 0x3F3},   {0x3F5, 0x3F6},   {0x3F8, 0x3F8},
    {0x3FB, 0x481},   {0x48A, 0x4CE},   {0x4D0, 0x4F9},   {0x500, 0x50F},   {0x531, 0x555},
    {0x561, 0x585},   {0x1E00, 0x1E9B}, {0x1EA0, 0x1EF9}, {0x1F00, 0x1F15}, {0x1F18, 0x1F1D},
    {0x1F20, 0x1F45}, {0x1F48, 0x1F4D}, {0x1F50, 0x1F57}, {0x1F59, 0x1F59}, {0x1F5B, 0x1F5B},
    {0x1F5D, 0x1F5D}, {0x1F5F, 0x1F7D}, {0x1F80, 0x1FB4}, {0x1FB6, 0x1FBC}, {0x1FC2, 0x1FC4},
    {0x1FC6, 0x1FCC}, {0x1FD0, 0x1FD3}, {0x1FD6, 0x1FDB}, {0x1FE0, 0x1FEC}, {0x1FF2, 0x1FF3},
    {0x1FF6, 0x1FFC}, {0x2160, 0x217F}, {0x24B6, 0x24E9}, {0xFF21, 0xFF3A}, {0xFF41, 0xFF5A},
};

size_t file_char_bytes(wchar_t c) {
    if ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_') return 1;
    auto it = std::upper_bound(std::begin(short_codes), std::end(short_codes), c,
                               [](wchar_t v, const code_range& r) { return v < r.first; });
    if (it != std::begin(short_codes) && c <= std::prev(it)->last) return 3;
    return 5;
}

// True when the name holds a character that no name may hold (the first one
// goes to found).
bool find_refused_char(const std::wstring& name, wchar_t& found) {
    for (wchar_t c : name) {
        if (!sql_names::is_allowed_char(c)) {
            found = c;
            return true;
        }
    }
    return false;
}

void replace_refused_chars(std::wstring& name) {
    for (auto& c : name)
        if (!sql_names::is_allowed_char(c)) c = L'_';
}

// Letters and digits of old servers: of every script, but within U+FFFF.
bool is_old_name_char(wchar_t c) {
    return sql_names::is_allowed_char(c) && (plat::is_alnum(c) || c == L'_' || c == L'$');
}

bool is_ascii_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

// --- Shared rules ----------------------------------------------------------

bool sql_names::is_allowed_char(wchar_t c) {
    const auto u = static_cast<uint32_t>(c);
    return u != 0 && u <= 0xFFFF && !(u >= 0xD800 && u <= 0xDFFF);
}

bool sql_names::is_space(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

size_t sql_names::file_name_bytes(std::wstring_view name) {
    size_t n = 0;
    for (wchar_t c : name) n += file_char_bytes(c);
    return n;
}

// --- Servers from 4.1.0 on -------------------------------------------------

sql_new_validator::sql_new_validator(bool table_names)
    : udb_validator(sql_names::max_length), table_names_(table_names) {
    tk_log(2, "sql_new_validator::ctor");
    const size_t n = table_names ? table_symbols : name_symbols;
    for (size_t i = 0; i < n; ++i) add_illegal_char(symbols[i]);
}

sql_new_validator::~sql_new_validator() = default;

bool sql_new_validator::is_acceptable(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_new_validator::is_acceptable(%s)", name.c_str());
    if (name.empty() || name.size() > sql_names::max_length) {
        tk_log(1, "Invalid length");
        return false;
    }
    if (sql_names::is_space(name.front()) || sql_names::is_space(name.back())) {
        tk_log(1, "ID cannot starts or ends with ' '");
        return false;
    }
    wchar_t refused = 0;
    if (find_refused_char(name, refused)) {
        tk_log(1, "The name contains a character the server refuses: U+%04X", static_cast<unsigned>(refused));
        return false;
    }
    if (table_names_ && sql_names::file_name_bytes(name) > sql_names::max_file_name_bytes) {
        tk_log(1, "The name is too long for a file name");
        return false;
    }
    return udb_validator::is_acceptable(name);
}

std::wstring sql_new_validator::get_safe_name(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_new_validator::get_safe_name(%s)", name.c_str());
    size_t first = 0, last = name.size();
    while (first < last && sql_names::is_space(name[first])) ++first;
    while (last > first && sql_names::is_space(name[last - 1])) --last;
    std::wstring s = name.substr(first, last - first);
    replace_refused_chars(s);
    if (table_names_) {
        // Room for the five digits of a numbered name within the file name.
        constexpr size_t budget = sql_names::max_file_name_bytes - 5;
        if (sql_names::file_name_bytes(s) > budget) {
            size_t bytes = 0, keep = 0;
            while (keep < s.size() && bytes + file_char_bytes(s[keep]) <= budget) bytes += file_char_bytes(s[keep++]);
            s.resize(keep);
        }
    }
    return udb_validator::get_safe_name(s);
}

// --- Older servers -----------------------------------------------------------

const std::vector<std::wstring>& sql_old_validator::reserved_words() {
    static const std::vector<std::wstring> words = {
        L"add", L"all", L"alter", L"and", L"as", L"asc", L"between", L"bigint", L"binary", L"blob", L"both",
        L"by", L"cascade", L"case", L"char", L"character", L"change", L"column", L"columns", L"constraint",
        L"create", L"cross", L"current_date", L"current_time", L"current_timestamp", L"database",
        L"databases", L"day_hour", L"day_minute", L"day_second", L"dec", L"decimal", L"default",
        L"delayed", L"delete", L"desc", L"describe", L"distinct", L"distinctrow", L"double", L"drop",
        L"else", L"escaped", L"enclosed", L"explain", L"exists", L"fields", L"float", L"float4", L"float8",
        L"foreign", L"from", L"for", L"grant", L"group", L"having", L"high_priority", L"hour_minute",
        L"hour_second", L"ignore", L"in", L"index", L"infile", L"inner", L"insert", L"insert_id", L"int",
        L"int1", L"int2", L"int3", L"int4", L"int8", L"integer", L"interval", L"into", L"if", L"is",
        L"join", L"key", L"keys", L"kill", L"last_insert_id", L"leading", L"left", L"like", L"lines",
        L"limit", L"load", L"lock", L"long", L"longblob", L"longtext", L"low_priority", L"match",
        L"mediumblob", L"mediumtext", L"mediumint", L"middleint", L"minute_second", L"natural",
        L"numeric", L"not", L"null", L"on", L"optimize", L"option", L"optionally", L"or", L"order",
        L"outer", L"outfile", L"partial", L"precision", L"primary", L"procedure", L"privileges", L"read",
        L"real", L"regexp", L"rename", L"replace", L"restrict", L"returns", L"revoke", L"rlike", L"select",
        L"set", L"show", L"smallint", L"soname", L"sql_big_tables", L"sql_big_selects",
        L"sql_low_priority_updates", L"sql_log_off", L"sql_log_update", L"sql_select_limit",
        L"sql_small_result", L"sql_big_result", L"sql_warnings", L"straight_join", L"starting", L"table",
        L"tables", L"terminated", L"then", L"tinyblob", L"tinytext", L"tinyint", L"trailing", L"to",
        L"usage", L"use", L"using", L"unique", L"unlock", L"unsigned", L"update", L"values", L"varchar",
        L"varying", L"varbinary", L"with", L"write", L"when", L"where", L"year_month", L"zerofill",
    };
    return words;
}

sql_old_validator::sql_old_validator() : udb_validator(sql_names::max_length) {
    tk_log(2, "sql_old_validator::ctor");
    for (const auto& word : reserved_words()) add_restricted_name(word);
}

sql_old_validator::~sql_old_validator() = default;

bool sql_old_validator::is_acceptable(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_old_validator::is_acceptable(%s)", name.c_str());
    if (!udb_validator::is_acceptable(name)) return false;
    for (wchar_t c : name) {
        if (!is_old_name_char(c)) {
            if (tk_log_wants(2)) tk_wlog(2, L"Name contains invalid symbol: '%c'", sql_names::is_allowed_char(c) ? c : L'?');
            return false;
        }
    }
    if (std::all_of(name.begin(), name.end(), is_ascii_digit)) {
        tk_log(2, "Name consists of digits only");
        return false;
    }
    return true;
}

std::wstring sql_old_validator::get_safe_name(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_old_validator::get_safe_name(%s)", name.c_str());
    std::wstring s = name;
    for (auto& c : s)
        if (!is_old_name_char(c)) c = L'_';
    // No name of digits only: numbered forms of it could never be accepted.
    if (s.empty())
        s = L"_";
    else if (std::all_of(s.begin(), s.end(), is_ascii_digit))
        s[0] = L'_';
    return udb_validator::get_safe_name(s);
}

// --- Kinds -----------------------------------------------------------------------

sql_new_fn_validator::sql_new_fn_validator(const udb_record& record) : sql_new_validator(false) {
    tk_log(2, "sql_new_fn_validator::ctor( const udb_record& )");
    tk_log(1, "Record size=%d", static_cast<int>(record.size()));
    for (size_t i = 0; i < record.size(); ++i) {
        tk_log(1, "Process record[%d]", static_cast<int>(i));
        if (const udb_field* f = record[i]) add_existing_name(f->get_name());
    }
    tk_log(1, "sql_new_fn_validator::ctor - end");
}

sql_new_fn_validator::sql_new_fn_validator(const udb_schema& schema) : sql_new_validator(false) {
    tk_log(2, "sql_new_fn_validator::ctor( const udb_schema& )");
    tk_log(1, "Schema size=%d", static_cast<int>(schema.size()));
    for (size_t i = 0; i < schema.size(); ++i) {
        tk_log(1, "Process schema[%d]", static_cast<int>(i));
        if (const t_ftd* d = schema[i]) add_existing_name(d->name);
    }
    tk_log(1, "sql_new_fn_validator::ctor - end");
}

sql_new_in_validator::sql_new_in_validator(const udb_indexes& indexes) : sql_new_validator(false) {
    tk_log(2, "sql_new_in_validator::ctor");
    for (const udb_index& index : indexes) add_existing_name(index.name);
}

sql_new_tn_validator::sql_new_tn_validator(const std::vector<std::wstring>& names1,
                                           const std::vector<std::wstring>& names2)
    : sql_new_validator(true) {
    tk_log(2, "sql_new_tn_validator::ctor");
    for (const auto& n : names1) add_existing_name(n);
    for (const auto& n : names2) add_existing_name(n);
}

sql_old_fn_validator::sql_old_fn_validator(const udb_record& record) {
    tk_log(2, "sql_old_fn_validator::ctor( const udb_schema& )");
    for (const udb_field* f : record)
        if (f) add_existing_name(f->get_name());
}

sql_old_fn_validator::sql_old_fn_validator(const udb_schema& schema) {
    tk_log(2, "sql_old_fn_validator::ctor( const udb_schema& )");
    for (const t_ftd* d : schema)
        if (d) add_existing_name(d->name);
}

sql_old_in_validator::sql_old_in_validator(const udb_indexes& indexes) {
    tk_log(2, "sql_old_in_validator::ctor");
    for (const udb_index& index : indexes) add_existing_name(index.name);
}

sql_old_tn_validator::sql_old_tn_validator(const std::vector<std::wstring>& names1,
                                           const std::vector<std::wstring>& names2) {
    tk_log(2, "sql_old_tn_validator::ctor");
    for (const auto& n : names1) add_existing_name(n);
    for (const auto& n : names2) add_existing_name(n);
}

// --- The engine's factories --------------------------------------------------------

std::unique_ptr<udb_validator> sql_engine::create_fn_validator(const udb_record& record) const {
    tk_log(1, "sql_engine::create_fn_validator( const udb_record& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(record);
    return std::make_unique<sql_new_fn_validator>(record);
}

std::unique_ptr<udb_validator> sql_engine::create_fn_validator(const udb_schema& schema) const {
    tk_log(1, "sql_engine::create_fn_validator( const udb_schema& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(schema);
    return std::make_unique<sql_new_fn_validator>(schema);
}

std::unique_ptr<udb_validator> sql_engine::create_in_validator(const udb_indexes& indexes) const {
    tk_log(1, "sql_engine::create_in_validator");
    if (is_old_version()) return std::make_unique<sql_old_in_validator>(indexes);
    return std::make_unique<sql_new_in_validator>(indexes);
}

std::unique_ptr<udb_validator> sql_engine::create_tn_validator(const std::vector<std::wstring>& names1,
                                                               const std::vector<std::wstring>& names2) const {
    tk_log(1, "sql_engine::create_tn_validator");
    if (is_old_version()) return std::make_unique<sql_old_tn_validator>(names1, names2);
    return std::make_unique<sql_new_tn_validator>(names1, names2);
}
