#include "sql_db.h"

#include <algorithm>
#include <stdexcept>

#include "sql_blob_scope.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_recs.h"
#include "sql_run.h"
#include "sql_table.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

constexpr const char* db_source = "sql_db";

// Builds the database objects for the engine's open_db.
const bool factory_registered = [] {
    if (!sql_engine::get_database_factory()) sql_engine::set_database_factory(&sql_database::create);
    return true;
}();

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

// A value for a string literal between single quotes, escaped for this
// connection (its character set and SQL mode).
std::wstring escape_value(MYSQL* connection, const std::wstring& value) {
    return tk_from_utf8(sql_escape_for(connection, tk_to_utf8(value)));
}

// Column i of the current record as wide text (out of range throws).
std::wstring column_text(udb_recordset& rs, size_t i) {
    udb_record* record = rs.get_record();
    if (!record) throw std::out_of_range("invalid vector subscript");
    return record->at(i)->to_wstring();
}

}  // namespace

sql_database::sql_database(const std::wstring& name, MYSQL* connection, uint32_t mode)
    : udb_database(name, mode, false), connection_(connection) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::sql_database(%s, mode=%d)", name.c_str(), static_cast<int>(mode));
    init_tables();
    // A listing that shows no view spares the query for their texts.
    if (!(mode & mode_no_views) && may_have_views_) {
        try {
            init_views();
        } catch (const sql_exception& e) {
            tk_log(3, "Failed to initialize views:\n%s", e.what());
        }
    }
}

sql_database::~sql_database() = default;

std::unique_ptr<udb_database> sql_database::create(const std::wstring& name, MYSQL* connection, uint32_t mode) {
    return std::make_unique<sql_database>(name, connection, mode);
}

void sql_database::init_tables() {
    tk_log(2, "sql_database::init_tables");
    std::unique_ptr<sql_tmp_recordset> reader;
    bool typed = false;
    if (engine().get_server_version() >= 0x50001) {
        tk_log(2, "Extracting tables in new way");
        // Every name with its type: the views are told apart here.
        auto list = std::make_unique<sql_list_tables_rs>(connection_, "SHOW FULL TABLES");
        if (list->get_field_count() != 2) tk_log(2, "Failed to create sql_list_tables_rs");
        else typed = true;
        reader = std::move(list);
    } else {
        tk_log(2, "Extracting tables in old way");
        MYSQL_RES* result = mysql_list_tables(connection_, nullptr);
        if (!result) throw sql_exception(connection_);
        reader = std::make_unique<sql_tmp_recordset>(connection_, sql_result_ptr(result));
    }
    reader->reset();
    if (typed) may_have_views_ = false;
    for (; !reader->is_eof(); reader->next()) {
        if (typed) {
            // MariaDB lists system-versioned tables with a type of their own;
            // sequences are left out.
            udb_record* record = reader->get_record();
            if (!record) throw std::out_of_range("invalid vector subscript");
            const std::wstring& type = record->at(1)->get_bstr();
            if (type == L"VIEW") may_have_views_ = true;
            if (type != L"BASE TABLE" && type != L"SYSTEM VERSIONED") continue;
        }
        std::wstring table = column_text(*reader, 0);
        if (tk_log_wants(2)) tk_wlog(2, L"Got table name: '%s'", table.c_str());
        tables_.push_back(std::move(table));
    }
}

void sql_database::init_views() {
    tk_log(2, "sql_database::init_views");
    sql_blob_to_text_scope text_scope;
    const std::wstring statement =
        L"SELECT table_name, view_definition FROM information_schema.views WHERE table_schema='" +
        escape_value(connection_, name_) + L"'";
    std::unique_ptr<udb_recordset> rs = query(statement);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        std::wstring view = column_text(*rs, 0);
        if (tk_log_wants(2)) tk_wlog(2, L"Got query name: '%s'", view.c_str());
        const std::wstring definition = column_text(*rs, 1);
        if (tk_log_wants(2)) tk_wlog(2, L"Got query SQL: '%s'", definition.c_str());
        views_.emplace_back(std::move(view), refine_view_out(definition));
        rs->next();
    }
}

const std::wstring* sql_database::find_listed_table(const std::wstring& name) const {
    if (const std::wstring* exact = find_exact_table(name)) return exact;
    const std::wstring* found = nullptr;
    int matches = 0;
    for (const std::wstring& t : tables_) {
        if (plat::equal_nocase(t, name)) {
            if (!found) found = &t;
            ++matches;
        }
    }
    if (matches > 1) {
        if (tk_log_wants(2)) tk_wlog(2, L"Table name '%s' is ambiguous", name.c_str());
        return nullptr;
    }
    return found;
}

std::shared_ptr<sql_record_page> sql_database::lend_record_page() {
    if (!spare_page_) spare_page_ = std::make_shared<sql_record_page>();
    if (spare_page_.use_count() == 1) return spare_page_;
    return std::make_shared<sql_record_page>();
}

bool sql_database::delete_tab(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::delete_tab (%s)", name.c_str());
    if (mode_ & mode_read) throw tk_mail_assertion(db_source, 446);
    if (!is_table_exist(name)) throw tk_mail_assertion(db_source, 447);
    const std::wstring* listed = find_listed_table(name);
    if (!listed) return false;  // several tables differ from the name only in case
    const std::wstring table = *listed;
    sql_execute(connection_, L"DROP TABLE IF EXISTS " + sql_engine::get_safe_name(table) + L" CASCADE");
    // The entry of the table that was dropped, not the first one that matches.
    tables_.erase(std::find(tables_.begin(), tables_.end(), table));
    return true;
}

void sql_database::empty_table(const std::wstring& name) {
    const std::wstring* listed = find_listed_table(name);
    udb_database::empty_table(sql_engine::get_safe_name(listed ? *listed : name));
}

std::unique_ptr<udb_recordset> sql_database::create_table(const std::wstring& name, const udb_schema&,
                                                          const udb_indexes&) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::create_table(%s)", name.c_str());
    throw tk_mail_assertion(db_source, 336);
}

std::unique_ptr<udb_recordset> sql_database::get_query(const std::wstring& name, const std::wstring& text,
                                                       uint32_t) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::get_query(%s,%s)", name.c_str(), text.c_str());
    return std::make_unique<sql_recordset>(this, connection_, name, text, &relationships_);
}

std::unique_ptr<udb_recordset> sql_database::get_table(const std::wstring& name, uint32_t mode) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::get_table(%s)", name.c_str());
    const std::wstring* listed = find_listed_table(name);
    if (!listed && !is_table_exist(name)) {
        if (tk_log_wants(2)) tk_wlog(2, L"Table '%s' does not exists", name.c_str());
        throw tk_mail_assertion(db_source, 75);
    }
    if (!listed) {
        // Several tables differ from the name only in case, none is spelled
        // exactly so: which one is meant cannot be told.
        std::wstring matches;
        for (const std::wstring& t : tables_)
            if (plat::equal_nocase(t, name)) matches += (matches.empty() ? L"" : L", ") + t;
        throw tk_exception(L"The table name " + name + L" is ambiguous: it matches the tables " + matches, 0);
    }
    const sql_catalog_columns* known = (mode & table_rows_only) ? known_columns(*listed) : nullptr;
    return open_table(*listed, mode, known);
}

std::unique_ptr<udb_recordset> sql_database::open_table(const std::wstring& listed, uint32_t mode,
                                                        const sql_catalog_columns* known) {
    return std::make_unique<sql_table>(this, connection_, listed, &relationships_, mode, known);
}

const sql_catalog_columns* sql_database::known_columns(const std::wstring& table) {
    // A single table is described on its own; from the second on, the
    // columns of every table are read in one statement.
    if (++rows_only_opened_ < 2) return nullptr;
    if (!catalog_read_) {
        catalog_read_ = true;
        try {
            catalog_.load(connection_, name_);
        } catch (const sql_exception& e) {
            // Each table is then described on its own.
            tk_log(2, "The column list cannot be read: %s", e.what());
        }
    }
    return catalog_.find(table);
}

std::unique_ptr<udb_recordset> sql_database::query(const std::wstring& text) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::query(%s)", text.c_str());
    if (tk_log_wants(1)) tk_wlog(1, L"sql_database::do_query2(%s)", text.c_str());
    try {
        return sql_query_rows(connection_, text);
    } catch (const sql_exception&) {
        if (tk_log_wants(3)) tk_wlog(3, L"QUERY=%s", text.c_str());
        throw;
    }
}

bool sql_database::try_query(const std::wstring& text) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::query(%s)", text.c_str());
    const std::string statement = tk_to_utf8(text);
    sql_notify_statement(statement);
    const bool ok = mysql_real_query(connection_, statement.data(), statement.size()) == 0;
    if (!ok) {
        tk_log(2, "Query failed: %s", mysql_error(connection_));
        return false;
    }
    try {
        // Every row is read, so that an error met while streaming counts too.
        sql_result_ptr result = sql_take_stream(connection_);
        if (result)
            while (sql_fetch_row(connection_, result.get())) {
            }
        result.reset();
        sql_drop_more_results(connection_);
    } catch (const tk_exception& e) {
        tk_log(2, "Query failed: %s", e.what());
        return false;
    }
    return true;
}

std::wstring sql_database::refine_view_out(const std::wstring& definition) const {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::refine_view_out(%s)", definition.c_str());
    std::wstring text = definition;

    // The first comment only.
    const size_t open = text.find(L"/*");
    const size_t close = open == std::wstring::npos ? open : text.find(L"*/", open + 2);
    if (close != std::wstring::npos)
        text.erase(open, close - open + 2);

    // This database's qualifier, as the server quotes it (`db`.).
    const std::wstring qualifier = sql_engine::get_safe_name(name_) + L".";
    for (size_t pos; (pos = text.find(qualifier)) != std::wstring::npos;) {
        tk_log(1, "Remove template found at pos=%d", static_cast<int>(pos));
        text.erase(pos, qualifier.size());
    }
    return text;
}
