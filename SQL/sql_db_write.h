// A MySQL database that is written to: new tables with their indexes, views,
// foreign-key constraints, and statements with very large values. Linking
// the writing library makes the engine's open_db build these.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sql_db.h"

class tk_exception;
class udb_field;
class udb_record;

class sql_write_database : public sql_database {
public:
    // Reports a view that could not be created, with the context
    // "View '<name>'"; a reporter that throws ends create_views.
    using view_error_reporter = std::function<void(const tk_exception& e, const std::string& context)>;

    sql_write_database(const std::wstring& name, MYSQL* connection, uint32_t mode);
    ~sql_write_database() override;

    // The engine's factory for open_db while the writing library is linked.
    static std::unique_ptr<udb_database> create(const std::wstring& name, MYSQL* connection, uint32_t mode);

    // One CREATE TABLE statement with the columns, indexes and table
    // options; answers the table opened (an existing table is opened and
    // nothing is created). Columns the server would refuse are renamed; the
    // names are recorded in the names map.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    using udb_database::create_table;
    // The base behaviour: create_table has made the indexes already.
    void create_indexes(const std::wstring& table, uint32_t flags, const udb_indexes& indexes) override;
    // CREATE OR REPLACE VIEW for each SELECT query, rewritten for MySQL;
    // a failing view is reported (to the view reporter when one is set, else
    // to the process's error reporter) and the next one is created.
    void create_views(const name_pairs& views) override;
    // The views the last create_views could not create, in order.
    const std::vector<std::wstring>& get_failed_views() const { return failed_views_; }
    // One foreign-key constraint per relationship, with foreign-key checks
    // off; the tables are unlocked and the checks switched on again at the
    // end, also when a relationship fails.
    void create_relationships(const std::vector<udb_relationship>& relationships) override;

    // A UTF-8 statement without rows; throws sql_exception.
    void query_append(const std::string& text);
    // Adds an index on the columns when no index of the table starts with them.
    void create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& fields);

    // A query of another dialect in its MySQL form: white space collapsed,
    // mapped table names, brackets as backquotes, a few functions renamed.
    std::wstring refine_view_in(const std::wstring& query) const;

    // Runs the UTF-8 statement with its "?" placeholders filled, in order, by
    // the record's fields above the placeholder threshold (sent as long
    // data); throws sql_prep_stmt_failed_exception.
    void prepared_statement(const std::string& statement, const udb_record& record, uint32_t placeholders);
    // The same with the fields of the placeholders given in statement order.
    void prepared_statement(const std::string& statement, const std::vector<const udb_field*>& fields);
    // The same, answering the rows the statement found.
    uint64_t prepared_statement_rows(const std::string& statement, const std::vector<const udb_field*>& fields);

    void set_view_error_reporter(view_error_reporter reporter) { view_error_reporter_ = std::move(reporter); }

protected:
    // A table that is written to (sql_write_table).
    std::unique_ptr<udb_recordset> open_table(const std::wstring& listed, uint32_t mode,
                                              const sql_catalog_columns* known) override;

private:
    view_error_reporter view_error_reporter_;
    std::vector<std::wstring> failed_views_;
};
