#include "sql_idx_init.h"

#include <memory>

#include "sql_engi.h"
#include "text.h"
#include "tk_log.h"
#include "udb_vali.h"

namespace {

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

// Byte length of one index key that InnoDB takes; texts count four bytes a
// character (utf8mb4).
constexpr uint32_t max_key_bytes = 3072;

bool is_lob(const t_ftd& d) {
    if (d.vartype == VT_BLOB || d.vartype == VT_BLOB_OBJECT || d.vartype == VT_BYTE_ARRAY) return true;
    return d.vartype == VT_BSTR && (d.size == 0 || d.size > 768);
}

}  // namespace

std::wstring sql_mapped_column_name(const udb_names_map::name_map& names, const std::wstring& column) {
    if (tk_log_wants(1)) tk_wlog(1, L"t_names_map::get_mapped_name(%s)", column.c_str());
    for (const auto& [key, value] : names) {
        if (plat::equal_nocase(key, column)) {
            if (tk_log_wants(1)) tk_wlog(1, L"Got mapped name: %s", value.c_str());
            return value;
        }
    }
    return column;
}

sql_indexes_initializer::sql_indexes_initializer(const udb_schema& target, const udb_indexes& indexes,
                                                 const std::wstring& auto_name, const udb_names_map::name_map& names,
                                                 bool flag)
    : flag_(flag), auto_name_(auto_name), target_(&target), names_(&names) {
    tk_log(2, "sql_indexes_initializer::ctor");
    std::unique_ptr<udb_validator> validator = engine().create_in_validator(indexes);
    for (const udb_index& source : indexes) {
        if (tk_log_wants(2)) tk_wlog(2, L"Processing '%s'", source.name.c_str());
        const bool accepted = source.name.empty() || validator->is_acceptable(source.name);
        std::wstring name = source.name;
        if (!accepted) {
            name = validator->get_safe_name(source.name);
            if (tk_log_wants(2)) tk_wlog(2, L"new_name=%s", name.c_str());
        }
        std::vector<std::wstring> fields;
        fields.reserve(source.fields.size());
        for (const std::wstring& f : source.fields) fields.push_back(sql_mapped_column_name(names, f));
        indexes_.push_back(udb_index(name, source.unique, source.primary, false, std::move(fields)));
        if (!accepted && tk_log_wants(2)) tk_wlog(2, L"Store generated index name '%s'", name.c_str());
        if (!name.empty()) validator->add_existing_name(name);
    }
    tk_log(2, "sql_indexes_initializer::ctor - END");
}

bool sql_indexes_initializer::accept(const udb_index& index, std::wstring& chunk) const {
    const bool new_server = engine().get_server_version() >= 0x40100;
    const uint32_t max_key = new_server ? 1536 : 256;
    uint32_t key_length = 0;
    uint32_t key_bytes = 0;
    for (size_t i = 0; i < index.fields.size(); ++i) {
        const std::wstring& column = index.fields[i];
        if (tk_log_wants(1)) tk_wlog(1, L"Process idx.field %s", column.c_str());
        if (i > 0) chunk += L", ";
        chunk += sql_engine::get_safe_name(column);
        if (!target_->find_field(column)) {
            if (tk_log_wants(2)) tk_wlog(2, L"Index column '%s' is not found", column.c_str());
            return false;
        }
        const t_ftd& d = target_->get_field1(column);
        if (is_lob(d)) {
            if (tk_log_wants(3)) tk_wlog(3, L"Index '%s' built on LOB column(s) is not allowed", index.name.c_str());
            return false;
        }
        key_length += d.size;
        key_bytes += d.vartype == VT_BSTR ? 4 * d.size : d.size;
        if (key_length > max_key || (new_server && key_bytes > max_key_bytes)) {
            if (tk_log_wants(3)) tk_wlog(3, L"Index '%s' is too big, skip it", index.name.c_str());
            return false;
        }
    }
    chunk += L")";
    return true;
}

void sql_indexes_initializer::get_init_chunks(std::vector<std::wstring>& chunks) const {
    tk_log(2, "sql_indexes_initializer::get_init_chunks(n_indexes=%d)", static_cast<int>(indexes_.size()));
    const bool new_server = engine().get_server_version() >= 0x40100;
    const int max_indexes = new_server ? 63 : 15;
    // The server wants the auto-increment column first in some index.
    bool auto_needs_index = !auto_name_.empty();
    bool have_primary = false;
    int accepted = 0;
    for (const udb_index& index : indexes_) {
        if (tk_log_wants(2)) tk_wlog(2, L"Process index '%s'", index.name.c_str());
        if (index.fields.empty()) {
            if (tk_log_wants(3)) tk_wlog(3, L"Skip index '%s' as it is built on empty fields list", index.name.c_str());
            continue;
        }
        if (index.fields.size() > max_columns) {
            tk_log(2, "Max number of indexes has been reached");
            continue;
        }
        // A table has one primary key: a second one becomes a unique index.
        const bool primary = index.primary && !have_primary;
        std::wstring chunk;
        if (primary) {
            chunk = L"PRIMARY KEY";
        } else {
            chunk = (index.unique || index.primary) ? L"UNIQUE" : L"INDEX";
            // A nameless index is named by the server.
            if (!index.name.empty()) chunk += L" " + sql_engine::get_safe_name(index.name);
        }
        chunk += L" (";
        if (!accept(index, chunk)) continue;
        if (primary) have_primary = true;
        if (auto_needs_index && plat::equal_nocase(index.fields.front(), auto_name_)) {
            tk_log(2, "Got index for auto_increment field");
            auto_needs_index = false;
        }
        if (tk_log_wants(2)) tk_wlog(2, L"sql_query=%s", chunk.c_str());
        chunks.push_back(std::move(chunk));
        if (++accepted >= max_indexes) break;
    }
    if (auto_needs_index) {
        tk_log(2, "Creating index for auto-field");
        std::unique_ptr<udb_validator> validator = engine().create_in_validator(indexes_);
        // The name must not be one of the table's other indexes.
        const bool usable = validator->is_acceptable(auto_name_) && !validator->is_duplicated(auto_name_);
        const std::wstring name = usable ? auto_name_ : validator->get_safe_name(auto_name_);
        chunks.push_back(L"INDEX " + sql_engine::get_safe_name(name) + L" (" + sql_engine::get_safe_name(auto_name_) +
                         L")");
    }
}
