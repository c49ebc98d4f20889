// A statement whose very large values travel as long data of "?"
// placeholders instead of literals in its text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <mysql.h>

#include "sql_run.h"

class udb_field;
class udb_record;

class sql_prepared_statement {
public:
    // Fields larger than this many units (bytes of binary values, characters
    // of texts) are bound to placeholders; smaller ones are literals.
    static constexpr uint32_t bind_threshold = 0x100000;
    // Long data is sent in slices of at most this many units.
    static constexpr uint32_t slice_units = 0x20000;

    // Prepares the UTF-8 statement on the connection; throws
    // sql_prep_stmt_failed_exception when the server refuses it.
    sql_prepared_statement(MYSQL* connection, const std::string& statement);
    sql_prepared_statement(const sql_prepared_statement&) = delete;
    sql_prepared_statement& operator=(const sql_prepared_statement&) = delete;

    // Binds the record's large fields, in record order, to the placeholders,
    // sends their data and executes the statement. placeholders must be the
    // statement's count and the number of large fields.
    void execute(const udb_record& record, uint32_t placeholders);
    // Binds the fields, in order, to the placeholders (as many as the
    // statement has), sends their data and executes the statement. A row
    // the server refuses raises sql_exception with the server's reason;
    // the other failures raise sql_prep_stmt_failed_exception.
    void execute(const std::vector<const udb_field*>& fields);

    // Rows the executed statement found (an UPDATE's matched rows).
    uint64_t affected_rows() const { return mysql_stmt_affected_rows(stmt_.get()); }

    // Whether the field travels as long data.
    static bool is_bound(const udb_field& field);

private:
    void send_field(unsigned int param, const udb_field& field);
    void send_slice(unsigned int param, const char* data, size_t size, size_t pos);
    [[noreturn]] void fail(const char* what);

    MYSQL* connection_;
    std::string statement_;
    sql_stmt_ptr stmt_;
};
