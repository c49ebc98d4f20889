// The columns of every base table of a database, read in one statement, so
// that a run over many tables need not describe each table on its own.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include <mysql.h>

// One column as SELECT * gives it: its name, and whether it holds geometry
// (which is read as text).
struct sql_catalog_column {
    std::wstring name;
    bool geometry = false;
};
using sql_catalog_columns = std::vector<sql_catalog_column>;

class sql_catalog {
public:
    // Reads the visible columns of every table of the database, in their
    // order; throws sql_exception when the server refuses the statement.
    void load(MYSQL* connection, const std::wstring& database);
    // The columns of the table (its name as the server lists it); null when
    // the catalog does not hold it.
    const sql_catalog_columns* find(const std::wstring& table) const;
    size_t size() const { return tables_.size(); }

private:
    std::unordered_map<std::wstring, sql_catalog_columns> tables_;
};
