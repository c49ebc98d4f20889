// One open MySQL database: its tables and views, recordsets over tables and
// stored queries, and the statements run on it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_catalog.h"
#include "udb_db.h"

class tk_exception;
class udb_field;
class udb_record;

class sql_database : public udb_database {
public:
    // Reports a view that could not be created, with the context
    // "View '<name>'"; a reporter that throws ends create_views.
    using view_error_reporter = std::function<void(const tk_exception& e, const std::string& context)>;

    // Mode bits: views are not read; the database is read from (no dropping).
    static constexpr uint32_t mode_no_views = 0x80;
    static constexpr uint32_t mode_read = 0x01;

    // Lists the base tables and (unless mode_no_views) the views of the
    // database that is selected on the connection. The connection is not owned.
    sql_database(const std::wstring& name, MYSQL* connection, uint32_t mode);
    ~sql_database() override;

    // The engine's factory for open_db.
    static std::unique_ptr<udb_database> create(const std::wstring& name, MYSQL* connection, uint32_t mode);

    // Mode bit of the writing side: appended rows replace existing ones.
    static constexpr uint32_t mode_replace = 0x100;
    // The writing side's append mode: relationships are not created.
    static constexpr uint32_t mode_append = 8;

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

    // Drops the table the name stands for (DROP TABLE IF EXISTS ... CASCADE)
    // and removes it from the table list. A name that matches several listed
    // tables only ignoring case, none of them exactly, drops nothing (false).
    bool delete_tab(const std::wstring& name) override;
    // "delete from" the table.
    void empty_table(const std::wstring& name) override;
    // A recordset over a stored query (mode unused).
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text,
                                             uint32_t mode) override;
    // The table opened with discovery; the name is matched ignoring case and
    // the table is opened under the spelling the server listed. An exact
    // spelling wins; a name that matches several tables only ignoring case
    // throws tk_exception (level 0) naming them. With table_rows_only in the
    // mode the columns of the second and later such tables come from one
    // list of every table's columns, read once.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, uint32_t mode) override;
    // The statement's rows (an sql_tmp_recordset), or null when it has none;
    // throws sql_exception when the server refuses it.
    std::unique_ptr<udb_recordset> query(const std::wstring& text) override;
    // Whether the server accepted the statement; nothing is left pending.
    bool try_query(const std::wstring& text) override;

    // A UTF-8 statement without rows; throws sql_exception.
    void query_append(const std::string& text);
    // Adds an index on the columns when no index of the table starts with them.
    void create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& fields);

    // A view definition read from the server made fit to be run elsewhere:
    // its first comment and this database's qualifier removed.
    std::wstring refine_view_out(const std::wstring& definition) const;
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

    // The listed table that name stands for: the exact spelling, else the one
    // listed table equal to it ignoring case. Null when there is none or when
    // several differ from it only in case.
    const std::wstring* find_listed_table(const std::wstring& name) const;

    MYSQL* get_connection() const { return connection_; }

private:
    void init_tables();
    void init_views();
    // The known columns of a table opened for its rows only (null: not known).
    const sql_catalog_columns* known_columns(const std::wstring& table);

    MYSQL* connection_;
    view_error_reporter view_error_reporter_;
    std::vector<std::wstring> failed_views_;
    sql_catalog catalog_;
    unsigned rows_only_opened_ = 0;
    bool catalog_read_ = false;
};
