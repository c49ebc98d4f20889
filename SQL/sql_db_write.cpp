// The writing side of a MySQL database: new tables with their indexes,
// foreign-key constraints and rows with very large values.
#include <memory>
#include <string>
#include <vector>

#include "sql_db_write.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_idx_init.h"
#include "sql_init.h"
#include "sql_prep.h"
#include "sql_run.h"
#include "sql_table_write.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_props.h"
#include "udb_recordset.h"
#include "udb_vali.h"

namespace {

constexpr const char* db_source = "sql_db";

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

// Linking the writing library makes open_db build databases that write.
const bool factory_registered = [] {
    sql_engine::set_database_factory(&sql_write_database::create);
    return true;
}();

// A referential rule goes into the statement as it stands: words of letters
// separated by blanks ("ON DELETE SET NULL ON UPDATE CASCADE").
bool is_rule_text(const std::wstring& rule) {
    for (wchar_t c : rule) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L' ';
        if (!ok) return false;
    }
    return true;
}

// Puts the session back after create_relationships, on every path.
class relationship_scope {
public:
    explicit relationship_scope(MYSQL* connection) : connection_(connection) {}
    ~relationship_scope() {
        if (done_) return;
        try {
            finish();
        } catch (const tk_exception& e) {
            tk_log(3, "Cannot restore the session after foreign keys: %s", e.what());
        }
    }
    relationship_scope(const relationship_scope&) = delete;
    relationship_scope& operator=(const relationship_scope&) = delete;

    void lock(const std::wstring& statement) {
        locked_ = true;
        sql_execute(connection_, statement);
    }
    // Unlocks the tables and switches foreign-key checks on; both are tried
    // even when the first fails.
    void finish() {
        done_ = true;
        std::unique_ptr<sql_exception> failure;
        if (locked_) {
            try {
                sql_execute(connection_, std::string_view("UNLOCK TABLES"));
                locked_ = false;
            } catch (const sql_exception& e) {
                failure = std::make_unique<sql_exception>(e);
            }
        }
        tk_log(1, "SET FOREIGN_KEY_CHECKS = 1");
        sql_execute(connection_, std::string_view("SET FOREIGN_KEY_CHECKS = 1"));
        if (failure) throw *failure;
    }

private:
    MYSQL* connection_;
    bool locked_ = false;
    bool done_ = false;
};

}  // namespace

sql_write_database::sql_write_database(const std::wstring& name, MYSQL* connection, uint32_t mode)
    : sql_database(name, connection, mode) {}

sql_write_database::~sql_write_database() = default;

std::unique_ptr<udb_database> sql_write_database::create(const std::wstring& name, MYSQL* connection,
                                                         uint32_t mode) {
    return std::make_unique<sql_write_database>(name, connection, mode);
}

std::unique_ptr<udb_recordset> sql_write_database::open_table(const std::wstring& listed, uint32_t mode,
                                                              const sql_catalog_columns* known) {
    return std::make_unique<sql_write_table>(this, get_connection(), listed, &relationships_, mode, known);
}

std::unique_ptr<udb_recordset> sql_write_database::create_table(const std::wstring& name, const udb_schema& schema,
                                                          const udb_indexes& indexes) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::create_table(%s)", name.c_str());
    if (mode_ & mode_read) throw tk_mail_assertion(db_source, 336);
    if (is_table_exist(name)) return get_table(name, 8);

    const uint32_t version = engine().get_server_version();
    const udb_properties* engine_props = engine().get_properties();
    const udb_properties* table_props = engine_props ? engine_props->get_properties(name) : nullptr;

    std::wstring table_type = table_props ? table_props->get_value(L"engine") : std::wstring();
    if (table_type.empty()) table_type = version < 0x31723 ? L"MyISAM" : engine().table_type;
    if (!table_type.empty() && !sql_is_plain_word(table_type))
        throw tk_exception(L"Invalid table type: " + table_type, 1);
    const std::wstring charset = table_props ? table_props->get_value(L"character set") : std::wstring();
    if (!charset.empty() && !sql_is_plain_word(charset))
        throw tk_exception(L"Invalid character set name: " + charset, 1);

    std::wstring text = L"CREATE TABLE " + sql_engine::get_safe_name(name) + L" (";
    std::wstring auto_name;
    sql_schema_initializer columns(name, schema, indexes, &auto_name, false, plat::equal_nocase(table_type, L"InnoDB"));
    std::vector<std::wstring> chunks;
    columns.get_init_chunks(chunks, table_props);
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0) text += L", ";
        text += chunks[i];
    }
    if (!indexes.empty() || !auto_name.empty()) {
        sql_indexes_initializer index_clauses(columns.get_schema(), indexes, auto_name, columns.get_names_map(), false);
        std::vector<std::wstring> index_chunks;
        index_clauses.get_init_chunks(index_chunks);
        for (const std::wstring& chunk : index_chunks) text += L", " + chunk;
    }
    text += L")";
    if (!charset.empty()) text += L" character set " + charset;
    // A table without a type gets the server's default one.
    if (!table_type.empty()) text += (version < 0x40017 ? L" TYPE=" : L" ENGINE=") + table_type;

    if (tk_log_wants(2)) tk_wlog(2, L"Run SQL-query: %s\n", text.c_str());
    sql_execute(get_connection(), text);

    tables_.push_back(name);
    tk_log(1, "Step #1");
    names_map_.add_fn_map(name, columns.get_names_map());
    tk_log(1, "Step #2");
    return get_table(name, 2);
}

void sql_write_database::create_indexes(const std::wstring& table, uint32_t flags, const udb_indexes& indexes) {
    udb_database::create_indexes(table, flags, indexes);
}

void sql_write_database::create_relationships(const std::vector<udb_relationship>& relationships) {
    tk_log(2, "sql_database::create_relationships");
    tk_log(3, "Converting foreign keys");
    if (engine().get_server_version() < 0x3172C) {
        tk_log(3, "This version of MySQL doesn't support Foreign Keys");
        return;
    }
    if (mode_ == mode_append) {
        tk_log(3, "Foreign keys are not converted in append mode");
        return;
    }
    sql_execute(get_connection(), std::string_view("SET FOREIGN_KEY_CHECKS = 0"));
    relationship_scope scope(get_connection());
    std::unique_ptr<udb_validator> validator = engine().create_in_validator(udb_indexes());

    // The target table of a source name, as the server lists it.
    auto target_table = [&](const std::wstring& source, const wchar_t* log_format) {
        const std::wstring mapped = names_map_.get_tn_mapped_name(source, false);
        if (tk_log_wants(1)) tk_wlog(1, log_format, mapped.c_str());
        const std::wstring* listed = is_table_exist(mapped) ? find_listed_table(mapped) : nullptr;
        if (!listed) throw tk_exception("Table '" + tk_to_utf8(mapped) + "' not exists", 0);
        return *listed;
    };
    auto column_list = [&](const std::wstring& table, const std::vector<std::wstring>& columns) {
        std::wstring out;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i > 0) out += L", ";
            out += sql_engine::get_safe_name(names_map_.get_fn_mapped_name(table, columns[i]));
        }
        return out;
    };

    for (const udb_relationship& rel : relationships) {
        if (tk_log_wants(3)) tk_wlog(3, L"Processing '%s'", rel.constraint_name.c_str());
        const std::wstring fk_table = target_table(rel.fk_table, L"fk_table_name=%s");
        const std::wstring pk_table = target_table(rel.pk_table, L"pk_table_name=%s");
        if (!is_rule_text(rel.rule)) throw tk_exception("Invalid foreign key rule: " + tk_to_utf8(rel.rule), 0);

        // A table that references itself is locked once.
        std::wstring lock = L"LOCK TABLES " + sql_engine::get_safe_name(pk_table) + L" WRITE";
        if (fk_table != pk_table) lock += L", " + sql_engine::get_safe_name(fk_table) + L" WRITE";
        if (tk_log_wants(3)) tk_wlog(3, L"Locking query: '%s'", lock.c_str());
        scope.lock(lock);

        create_fk_index_if(fk_table, rel.fk_flds);
        create_fk_index_if(pk_table, rel.pk_flds);

        // Constraint names are unique in the database.
        std::wstring constraint = rel.constraint_name;
        if (!constraint.empty() &&
            (!validator->is_acceptable(constraint) || validator->is_duplicated(constraint))) {
            constraint = validator->get_safe_name(constraint);
            if (tk_log_wants(2)) tk_wlog(2, L"Store generated index name '%s'", constraint.c_str());
        }
        if (!constraint.empty()) validator->add_existing_name(constraint);

        std::wstring text = L"ALTER TABLE " + sql_engine::get_safe_name(fk_table) + L" ADD ";
        if (!constraint.empty()) text += L"CONSTRAINT " + sql_engine::get_safe_name(constraint) + L" ";
        text += L"FOREIGN KEY(" + column_list(fk_table, rel.fk_flds) + L") REFERENCES " +
                sql_engine::get_safe_name(pk_table) + L"(" + column_list(pk_table, rel.pk_flds) + L")";
        if (!rel.rule.empty()) text += L" " + rel.rule;
        if (tk_log_wants(3)) tk_wlog(3, L"Foreign key query: '%s'", text.c_str());
        query(text);
    }
    scope.finish();
}

void sql_write_database::prepared_statement(const std::string& statement, const udb_record& record,
                                      uint32_t placeholders) {
    tk_log(1, "sql_database::prepared_statement(%s, %d)", statement.c_str(), static_cast<int>(placeholders));
    sql_prepared_statement prepared(get_connection(), statement);
    prepared.execute(record, placeholders);
}

void sql_write_database::prepared_statement(const std::string& statement, const std::vector<const udb_field*>& fields) {
    tk_log(1, "sql_database::prepared_statement(%s, %d)", statement.c_str(), static_cast<int>(fields.size()));
    sql_prepared_statement prepared(get_connection(), statement);
    prepared.execute(fields);
}

uint64_t sql_write_database::prepared_statement_rows(const std::string& statement,
                                               const std::vector<const udb_field*>& fields) {
    tk_log(1, "sql_database::prepared_statement(%s, %d)", statement.c_str(), static_cast<int>(fields.size()));
    sql_prepared_statement prepared(get_connection(), statement);
    prepared.execute(fields);
    return prepared.affected_rows();
}

void sql_write_database::query_append(const std::string& text) {
    tk_log(2, "sql_database::query_append(q_len=%d)", static_cast<int>(text.size()));
    tk_log(2, "(%s)", text.c_str());
    tk_log(1, "sql_database::do_query1(%s)", text.c_str());
    try {
        sql_execute(get_connection(), std::string_view(text));
    } catch (const sql_exception&) {
        tk_log(3, "QUERY=%s", text.c_str());
        throw;
    }
}

void sql_write_database::create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& fields) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::create_fk_index_if(%s)", table.c_str());
    std::unique_ptr<udb_recordset> rs = get_table(table, 0x61);
    if (!rs) throw tk_mail_assertion(db_source, 292);
    // The table's indexes are on the target column names.
    std::vector<std::wstring> columns;
    columns.reserve(fields.size());
    for (const std::wstring& f : fields) columns.push_back(names_map_.get_fn_mapped_name(table, f));
    tk_log(1, "udb_indexes::has_index_on_fields");
    if (rs->get_indexes().has_index_on_fields(columns)) {
        if (tk_log_wants(2)) tk_wlog(2, L"Index for table '%s' exists", table.c_str());
        return;
    }
    if (tk_log_wants(2)) tk_wlog(2, L"Index for table '%s' does NOT exist", table.c_str());
    std::wstring statement = L"ALTER TABLE " + sql_engine::get_safe_name(rs->get_name()) + L" ADD INDEX (";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) statement += L", ";
        statement += sql_engine::get_safe_name(columns[i]);
    }
    statement += L")";
    rs.reset();
    try {
        query(statement);
    } catch (const sql_exception& e) {
        tk_log(2, "Error while creating index for FK:\n%s\n", e.what());
    }
}
