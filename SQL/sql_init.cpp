#include "sql_init.h"

#include <unordered_set>

#include "sql_engi.h"
#include "sql_util.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_props.h"
#include "udb_rule.h"
#include "udb_vali.h"

namespace {

constexpr const char* init_source = "sql_init";

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

bool contains_nocase(const std::wstring& text, const wchar_t* word) {
    std::wstring lower;
    lower.reserve(text.size());
    for (wchar_t c : text) lower.push_back(plat::ascii_lower(c));
    std::wstring w;
    for (const wchar_t* p = word; *p; ++p) w.push_back(plat::ascii_lower(*p));
    return lower.find(w) != std::wstring::npos;
}

}  // namespace

bool sql_is_plain_word(const std::wstring& text) {
    if (text.empty()) return false;
    for (wchar_t c : text) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
        if (!ok) return false;
    }
    return true;
}

sql_schema_initializer::sql_schema_initializer(const std::wstring& table, const udb_schema& schema,
                                               const udb_indexes& indexes, std::wstring* auto_name, bool flag,
                                               bool page_limit)
    : flag_(flag), table_(table), auto_name_(auto_name), indexes_(&indexes), source_(&schema) {
    schema_.set_page_limit(page_limit);
    validator_ = engine().create_fn_validator(schema);
    tk_log(2, "sql_schema_initializer::ctor");
    // Target names taken so far: the server compares column names ignoring case.
    std::unordered_set<std::wstring> taken;
    for (const t_ftd* d : schema) {
        if (!d) continue;
        const std::wstring key = udb_validator::fold_name(d->name);
        const bool accepted = validator_->is_acceptable(d->name) && taken.count(key) == 0;
        t_ftd copy = *d;
        if (!accepted) copy.name = validator_->get_safe_name(d->name);
        taken.insert(udb_validator::fold_name(copy.name));
        if (tk_log_wants(2))
            tk_wlog(2, L"GOT FIELD: name=%s, type=%d, size=%d, flags=%d, description=%s", copy.name.c_str(),
                    static_cast<int>(copy.vartype), static_cast<int>(copy.size), static_cast<int>(copy.reserved),
                    copy.description.c_str());
        if (!accepted) {
            if (tk_log_wants(2)) tk_wlog(2, L"Store generated column name '%s'", copy.name.c_str());
            if (tk_log_wants(1)) {
                tk_wlog(1, L"udb_validator::add_mapped_pair(%s,%s)", d->name.c_str(), copy.name.c_str());
                tk_wlog(1, L"t_names_map::add(%s,%s)", d->name.c_str(), copy.name.c_str());
            }
            names_.emplace(d->name, copy.name);
        }
        validator_->add_existing_name(copy.name);
        source_names_.push_back(d->name);
        schema_.push_back(copy);
    }
}

sql_schema_initializer::~sql_schema_initializer() = default;

bool sql_schema_initializer::can_have_def_value(const t_ftd& d) {
    tk_log(1, "sql_schema_initializer::can_have_def_value");
    if (d.auto_increment) {
        tk_log(2, "WARNING: auto_increment columns cannot have default value!");
        return false;
    }
    if (d.vartype == VT_BLOB || d.vartype == VT_BLOB_OBJECT) return false;
    if (d.vartype == VT_BSTR && (d.size == 0 || d.size > 21845)) return false;
    return true;
}

bool sql_schema_initializer::can_have_auto_num(const t_ftd& d) {
    tk_log(1, "sql_schema_initializer::can_have_auto_num");
    if (!d.auto_increment) return false;
    switch (d.vartype) {
    case VT_I2: case VT_I4: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2:
    case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

void sql_schema_initializer::get_init_chunks(std::vector<std::wstring>& chunks, const udb_properties* table_props) {
    tk_log(2, "sql_schema_initializer::get_init_chunks(n_columns=%d)", static_cast<int>(schema_.size()));
    auto_name_->clear();
    const uint32_t version = engine().get_server_version();
    tk_log(1, "is_old_version(%08X)", version);
    const bool new_server = version >= 0x40100;
    for (size_t i = 0; i < schema_.size(); ++i) {
        const t_ftd& d = *schema_[i];
        const std::wstring& source_name = source_names_.at(i);
        if (tk_log_wants(2)) tk_wlog(2, L"Processing field '%s'", d.name.c_str());

        std::wstring chunk = (new_server ? sql_engine::get_safe_name(d.name) : d.name) + L" ";

        if (tk_log_wants(1)) tk_wlog(1, L"native_type=%s", d.native_type.c_str());
        std::wstring type_text;
        if (udb_custom_conversion::is_acceptable1(d))
            type_text = udb_custom_conversion::handle1(d);
        else if (d.native_type.empty())
            type_text = get_sql_native_type2(&d, false);
        else
            type_text = d.native_type;
        chunk += type_text;

        // Only character columns take a character set (not GEOMETRY, not BLOB).
        const bool text_column = contains_nocase(type_text, L"CHAR") || contains_nocase(type_text, L"TEXT");
        if (new_server && text_column) {
            std::wstring charset;
            if (table_props) {
                if (const udb_properties* column_props = table_props->get_properties(d.name))
                    charset = column_props->get_value(L"character_set");
            }
            if (charset.empty()) charset = engine().character_set;
            if (!sql_is_plain_word(charset))
                throw tk_exception(L"Invalid character set name: " + charset, 1);
            chunk += L" CHARACTER SET " + charset;
        }

        const bool not_null = d.b_not_null || d.auto_increment || indexes_->is_idx_field(source_name, true) ||
                              (version < 0x31702 && indexes_->is_idx_field(source_name, false));
        if (not_null) chunk += L" NOT NULL";

        if (can_have_def_value(d)) {
            const std::wstring def = make_mysql_def_val(&d);
            if (tk_log_wants(1)) tk_wlog(1, L"got def value: %s", def.c_str());
            if (!def.empty()) chunk += L" DEFAULT " + def;
        }

        if (can_have_auto_num(d)) {
            if (!auto_name_->empty()) throw tk_mail_assertion(init_source, 140);
            *auto_name_ = d.name;
            chunk += L" AUTO_INCREMENT";
        }

        if (!d.description.empty()) {
            if (tk_log_wants(1)) tk_wlog(1, L"Setting column's comment: '%s'", d.description.c_str());
            chunk += L" COMMENT '" + sql_escape(std::wstring_view(d.description)) + L"'";
        }

        if (tk_log_wants(2)) tk_wlog(2, L"sql_query=%s", chunk.c_str());
        chunks.push_back(std::move(chunk));
    }
    tk_log(2, "sql_schema_initializer::get_init_chunks - END");
}
