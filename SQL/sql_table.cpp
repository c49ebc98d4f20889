#include "sql_table.h"

#include <charconv>
#include <stdexcept>

#include "sql_blob_scope.h"
#include "sql_engi.h"
#include "sql_types.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_db.h"

namespace {

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

// Field i of the current record (out of range throws).
const udb_field& column(udb_recordset& rs, size_t i) {
    udb_record* record = rs.get_record();
    if (!record) throw std::out_of_range("invalid vector subscript");
    return *record->at(i);
}

size_t column_count(udb_recordset& rs) {
    udb_record* record = rs.get_record();
    return record ? record->size() : 0;
}

// Reads a decimal number (leading blanks and a sign allowed, as scanf's %d)
// at pos; pos moves past it.
bool read_int(const std::wstring& text, size_t& pos, long& value) {
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    std::string digits;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) digits += static_cast<char>(text[pos++]);
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') digits += static_cast<char>(text[pos++]);
    if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
    if (digits.empty() || digits == "-") return false;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return r.ec == std::errc();
}

// "prefix(%d)" or "prefix(%d,%d)": how many numbers were read (0 to want).
int scan_type(const std::wstring& text, const std::wstring& prefix, int want, long& a, long& b) {
    if (!text.starts_with(prefix)) return 0;
    size_t pos = prefix.size();
    if (!read_int(text, pos, a)) return 0;
    if (want == 1) return 1;
    if (pos >= text.size() || text[pos] != L',') return 1;
    ++pos;
    return read_int(text, pos, b) ? 2 : 1;
}

}  // namespace

sql_table::sql_table(udb_database* database, MYSQL* connection, const std::wstring& table,
                     std::vector<udb_relationship>* relationships, uint32_t mode,
                     const sql_catalog_columns* known)
    : sql_recordset(database, connection, table, relationships, known, (mode & udb_database::table_rows_only) != 0) {
    tk_log(2, "sql_table::ctor");
    initialize(mode);
}

sql_table::~sql_table() { tk_log(2, "sql_table::dtor"); }

bool sql_table::reads_indexes(uint32_t mode) {
    return !(mode & udb_database::table_rows_only) && (mode | no_indexes_bits) != no_indexes_bits;
}

bool sql_table::is_current_timestamp(const std::wstring& text) {
    static const std::wstring word = L"current_timestamp";
    std::wstring t = tk_trim(text);
    if (t.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (plat::ascii_lower(t[i]) != word[i]) return false;
    std::wstring rest = tk_trim(t.substr(word.size()));
    if (rest.empty()) return true;
    if (rest.front() != L'(' || rest.back() != L')') return false;
    rest = tk_trim(rest.substr(1, rest.size() - 2));
    for (wchar_t c : rest)
        if (c < L'0' || c > L'9') return false;
    return true;
}

std::unique_ptr<udb_recordset> sql_table::run(const std::wstring& statement) {
    if (owner_) return owner_->query(statement);
    return sql_query_rows(get_connection(), statement);
}

void sql_table::initialize(uint32_t mode) {
    tk_log(2, "sql_table::initialize(%d)", static_cast<int>(mode));
    if (mode & udb_database::table_rows_only) {
        tk_log(2, "Mode=rows_only, nothing to do");
        return;
    }
    {
        sql_blob_to_text_scope text_scope;
        refine_columns();
    }
    if (!reads_indexes(mode)) {
        tk_log(2, "Mode=no_indexes, nothing to do");
        return;
    }
    read_indexes();
}

void sql_table::refine_columns() {
    const uint32_t version = engine().get_server_version();
    tk_log(1, "is_old_version(%08X)", version);
    const std::wstring reference = version >= 0x40100 ? sql_engine::get_safe_name(name_) : name_;
    std::unique_ptr<udb_recordset> rs = run(L"SHOW COLUMNS FROM " + reference);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        const std::wstring name = column(*rs, 0).to_wstring();
        const std::wstring type = column(*rs, 1).to_wstring();
        if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' has type: %s", name.c_str(), type.c_str());
        t_ftd& d = schema_.get_field1(name);

        long a = 0, b = 0;
        if (scan_type(type, L"varchar(", 1, a, b) == 1) {
            tk_log(2, "Refining type/size for varchar(%ld)", a);
            d.vartype = VT_BSTR;
            d.size = static_cast<uint32_t>(a);
        } else if (scan_type(type, L"float(", 2, a, b) == 2) {
            tk_log(2, "Refining type for FLOAT(%ld,%ld)", a, b);
            if (a != 0 && b != 0 && static_cast<unsigned long>(a) > static_cast<unsigned long>(b)) {
                d.vartype = VT_DECIMAL;
                d.precision = static_cast<int32_t>(a);
                d.scale = static_cast<int32_t>(b);
            }
        } else if (type.ends_with(L"text") || type.ends_with(L"TEXT")) {
            tk_log(2, "Change type from BLOB to TEXT");
            d.vartype = VT_BSTR;
        }

        const size_t n = column_count(*rs);
        if (n < 2) throw std::out_of_range("invalid vector subscript");
        const udb_field& def_cell = column(*rs, n - 2);
        const std::wstring def = def_cell.to_wstring();
        if (tk_log_wants(2)) tk_wlog(2, L"Got default value: %s", def.c_str());
        if (d.b_not_null || !def.empty()) {
            tk_log(2, "Default value's type: %08X", static_cast<unsigned>(d.vartype));
            if (d.vartype == VT_DATE) {
                if (def.empty() || def == L"0000-00-00" || def == L"0000-00-00 00:00:00" || def == L"00000000000000") {
                    tk_log(2, "Skip empty def.values for date column");
                    d.b_not_null = false;
                } else if (is_current_timestamp(def)) {
                    tk_log(2, "Special processing for CURRENT_TIMESTAMP");
                    d.reserved = 9;
                }
            } else if (d.vartype == VT_BOOL) {
                tk_log(2, "Special processing for boolean");
                if (plat::equal_nocase(def, L"b'0'"))
                    d.def_value = ole_variant(false);
                else if (plat::equal_nocase(def, L"b'1'"))
                    d.def_value = ole_variant(true);
            } else if (!def_cell.is_empty()) {
                // A column without a default (NULL) keeps none.
                d.def_value = get_variant(d.vartype, def);
            }
        }
        rs->next();
    }
}

void sql_table::read_indexes() {
    std::unique_ptr<udb_recordset> rs = run(L"SHOW INDEX FROM " + sql_engine::get_safe_name(name_));
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        const bool unique = !column(*rs, 1).to_bool();
        const std::wstring key = column(*rs, 2).to_wstring();
        const bool primary = key == L"PRIMARY";
        const udb_field& column_cell = column(*rs, 4);
        const std::wstring field = column_cell.to_wstring();
        if (tk_log_wants(2))
            tk_wlog(2, L"Got index '%s' (primary=%d, unique=%d)", key.c_str(), primary ? 1 : 0, unique ? 1 : 0);
        if (tk_log_wants(1)) tk_wlog(1, L"udb_indexes::is_acceptable_name(%s)", key.c_str());
        if (indexes_.is_acceptable_name(key)) {
            if (tk_log_wants(1))
                tk_wlog(1, L"udb_index::ctor('%s',%d,%d)", key.c_str(), unique ? 1 : 0, primary ? 1 : 0);
            std::vector<std::wstring> fields;
            if (!column_cell.is_empty()) fields.push_back(field);
            add_index(udb_index(key, unique, primary, false, fields));
        } else if (!column_cell.is_empty()) {
            // An expression part of an index has no column name.
            indexes_.get_index(key).fields.push_back(field);
        }
        rs->next();
    }
}
