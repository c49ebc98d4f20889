#include "udb_idx.h"

#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {
constexpr const char* idx_source = "UDB/udb_idx";
}

udb_index::udb_index(const std::wstring& name_, bool unique_, bool primary_, bool unique_constraint_,
                     std::vector<std::wstring> fields_)
    : name(name_), unique(unique_), primary(primary_), unique_constraint(unique_constraint_), fields(std::move(fields_)) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_index::ctor('%s',%d,%d)", name.c_str(), unique ? 1 : 0, primary ? 1 : 0);
}

bool udb_index::starts_with_fields(const std::vector<std::wstring>& names) const {
    if (tk_log_wants(1)) {
        tk_wlog(1, L"udb_index(%s)::starts_with_fields", name.c_str());
        tk_log(1, "this.size=%d, that.size=%d", static_cast<int>(fields.size()), static_cast<int>(names.size()));
    }
    if (names.size() > fields.size()) {
        tk_log(1, "starts_with_fields returns false");
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (!plat::equal_nocase(names[i], fields[i])) {
            if (tk_log_wants(1)) tk_wlog(1, L"Field '%s' not found", names[i].c_str());
            return false;
        }
    }
    tk_log(1, "starts_with_fields returns true");
    return true;
}

int udb_indexes::find2(const std::wstring& name) const {
    tk_log(1, "udb_indexes::find2");
    for (size_t i = 0; i < items_.size(); ++i)
        if (plat::equal_nocase(items_[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool udb_indexes::is_acceptable_name(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_indexes::is_acceptable_name(%s)", name.c_str());
    return find2(name) < 0;
}

udb_index& udb_indexes::get_index(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_indexes::get_index(%s)", name.c_str());
    int pos = find2(name);
    if (pos < 0) throw tk_mail_assertion(idx_source, 179);
    return items_[static_cast<size_t>(pos)];
}

const udb_index& udb_indexes::get_index(const std::wstring& name) const {
    return const_cast<udb_indexes*>(this)->get_index(name);
}

void udb_indexes::push_back(const udb_index& index) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_indexes::push_back(%s)", index.name.c_str());
    if (find2(index.name) < 0) {
        tk_log(2, "Index does not exist, add it");
        items_.push_back(index);
        return;
    }
    udb_index& existing = get_index(index.name);
    if (existing.primary) {
        tk_log(2, "Primary key with the same name exists, skip it.");
        return;
    }
    if (index.primary) {
        tk_log(2, "Upgrade existing index to primary key.");
        existing = index;
        return;
    }
    if (existing.unique_constraint) {
        tk_log(2, "Unique constraint with the same name exists, skip it.");
        return;
    }
    if (index.unique_constraint) {
        tk_log(2, "Set unique constraint attributes for existing index.");
        existing = index;
    }
    if (existing.unique) {
        tk_log(2, "Unique index with the same name exists, skip it.");
        return;
    }
    if (!index.unique) return;
    tk_log(2, "Set unique attribute for existing index.");
    existing = index;
}

bool udb_indexes::is_idx_field(const std::wstring& column, bool primary_only) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_indexes::is_idx_field(%s)", column.c_str());
    for (const udb_index& idx : items_) {
        if (primary_only && !idx.primary) continue;
        for (const std::wstring& f : idx.fields) {
            if (f == column) {
                tk_log(1, "index field");
                return true;
            }
        }
    }
    tk_log(1, "non-index field");
    return false;
}

bool udb_indexes::has_index_on_fields(const std::vector<std::wstring>& names) const {
    tk_log(1, "udb_indexes::has_index_on_fields");
    for (const udb_index& idx : items_)
        if (idx.starts_with_fields(names)) return true;
    return false;
}
