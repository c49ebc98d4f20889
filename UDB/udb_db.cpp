#include "udb_db.h"

#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_recordset.h"

namespace {
constexpr const char* db_source = "udb_db";
}

udb_database::udb_database(const std::wstring& name, uint32_t mode, bool case_sensitive)
    : mode_(mode), name_(name), case_sensitive_(case_sensitive) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_database::ctor(%s,%d)", name_.c_str(), static_cast<int>(mode_));
}

udb_database::~udb_database() { tk_log(2, "udb_database::dtor"); }

std::unique_ptr<udb_recordset> udb_database::create_table(const std::wstring&, const udb_schema&, const udb_indexes&,
                                                          const std::wstring&) {
    tk_log(2, "udb_database::create_table(partition)");
    throw tk_mail_assertion(db_source, 50);
}

void udb_database::create_index(const std::wstring&, uint32_t, const udb_index&) {}

void udb_database::create_indexes(const std::wstring& table, uint32_t flags, const udb_indexes& indexes) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_database::create_indexes(%s)", table.c_str());
    tk_log(1, "idxs.size=%d", static_cast<int>(indexes.size()));
    for (const udb_index& idx : indexes) create_index(table, flags, idx);
    if (tk_log_wants(1)) tk_wlog(1, L"udb_database::create_indexes - at the END");
}

void udb_database::create_views(const name_pairs&) {}

bool udb_database::same_table_name(const std::wstring& a, const std::wstring& b) const {
    return case_sensitive_ ? a == b : plat::equal_nocase(a, b);
}

const std::wstring* udb_database::find_exact_table(const std::wstring& name) const {
    const auto rebuild = [this] {
        exact_index_.clear();
        exact_index_.reserve(tables_.size());
        for (size_t i = 0; i < tables_.size(); ++i) exact_index_.emplace(tables_[i], i);
        indexed_count_ = tables_.size();
    };
    const auto indexed = [&]() -> const std::wstring* {
        const auto it = exact_index_.find(name);
        if (it == exact_index_.end() || it->second >= tables_.size() || tables_[it->second] != name) return nullptr;
        return &tables_[it->second];
    };
    if (indexed_count_ != tables_.size()) rebuild();
    if (const std::wstring* t = indexed()) return t;
    // The list may have been changed in place: a miss is confirmed by a
    // scan, and a name found there is indexed anew.
    for (const std::wstring& t : tables_)
        if (t == name) {
            rebuild();
            return &t;
        }
    return nullptr;
}

bool udb_database::delete_tab(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_database::delete_tab(%s)", name.c_str());
    for (auto it = tables_.begin(); it != tables_.end(); ++it) {
        if (same_table_name(*it, name)) {
            tables_.erase(it);
            return true;
        }
    }
    tk_log(2, "Table not found!");
    return false;
}

void udb_database::empty_table(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_database::empty_table(%s)", name.c_str());
    query(L"delete from " + name);
}

std::unique_ptr<udb_recordset> udb_database::query(const std::wstring&) { throw tk_mail_assertion(db_source, 111); }

void udb_database::create_relationships(const std::vector<udb_relationship>&) {}

std::vector<std::wstring>& udb_database::get_table_names() { return tables_; }

bool udb_database::is_table_exist(const std::wstring& name) {
    const bool logging = tk_log_wants(2);
    if (logging)
        tk_wlog(2, L"udb_database::is_table_exist(%s,case_sensitive=%d)", name.c_str(), case_sensitive_ ? 1 : 0);
    if (tables_.empty()) tk_log(2, "Tables list is EMPTY!");
    // The name as listed is the common case: found without folding case.
    if (!logging && find_exact_table(name)) {
        tk_log(1, "table exists");
        return true;
    }
    for (const std::wstring& t : tables_) {
        if (logging) tk_wlog(2, L"Compare with %s", t.c_str());
        if (same_table_name(t, name)) {
            tk_log(1, "table exists");
            return true;
        }
    }
    tk_log(1, "table not found");
    return false;
}
