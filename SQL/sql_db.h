// One open MySQL database read from: its tables and views, recordsets over
// tables and stored queries, and the statements run on it. The writing side
// (sql_db_write.h) derives from it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_catalog.h"
#include "sql_record_page.h"
#include "udb_db.h"

class sql_database : public udb_database {
public:
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

    // Reading only: asserts (the writing side creates tables).
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    using udb_database::create_table;

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

    // A view definition read from the server made fit to be run elsewhere:
    // its first comment and this database's qualifier removed.
    std::wstring refine_view_out(const std::wstring& definition) const;

    // The listed table that name stands for: the exact spelling, else the one
    // listed table equal to it ignoring case. Null when there is none or when
    // several differ from it only in case.
    const std::wstring* find_listed_table(const std::wstring& name) const;

    MYSQL* get_connection() const { return connection_; }

    // The database's record page while no recordset holds it, else a new
    // one: records and their buffers are kept from table to table.
    std::shared_ptr<sql_record_page> lend_record_page();

protected:
    // The recordset of a listed table, opened by get_table.
    virtual std::unique_ptr<udb_recordset> open_table(const std::wstring& listed, uint32_t mode,
                                                      const sql_catalog_columns* known);

private:
    void init_tables();
    void init_views();
    // The known columns of a table opened for its rows only (null: not known).
    const sql_catalog_columns* known_columns(const std::wstring& table);

    MYSQL* connection_;
    sql_catalog catalog_;
    std::shared_ptr<sql_record_page> spare_page_;
    unsigned rows_only_opened_ = 0;
    bool catalog_read_ = false;
    bool may_have_views_ = true;  // false: the listing showed no view
};
