#include "sql_prep.h"

#include <algorithm>
#include <vector>

#include "sql_excep.h"
#include "tk_log.h"
#include "udb_record.h"
#include "utf8.h"

sql_prepared_statement::sql_prepared_statement(MYSQL* connection, const std::string& statement)
    : connection_(connection), statement_(statement) {
    stmt_.reset(mysql_stmt_init(connection_));
    if (!stmt_) {
        tk_log(2, "mysql_stmt_init failed: error=%s", mysql_error(connection_));
        throw sql_prep_stmt_failed_exception();
    }
    sql_notify_statement(statement_);
    if (mysql_stmt_prepare(stmt_.get(), statement_.data(), static_cast<unsigned long>(statement_.size())) != 0) {
        tk_log(2, "mysql_stmt_prepare failed: error=%s", mysql_stmt_error(stmt_.get()));
        throw sql_prep_stmt_failed_exception();
    }
}

bool sql_prepared_statement::is_bound(const udb_field& field) {
    return field.get_type() != VT_EMPTY && field.get_size() > bind_threshold;
}

void sql_prepared_statement::fail(const char* what) {
    tk_log(2, "%s: error=%s", what, mysql_stmt_error(stmt_.get()));
    throw sql_prep_stmt_failed_exception();
}

void sql_prepared_statement::execute(const udb_record& record, uint32_t placeholders) {
    std::vector<const udb_field*> bound;
    for (size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.at(i);
        if (f && is_bound(*f)) {
            tk_log(1, "Binding field #%d", static_cast<int>(i));
            bound.push_back(f);
        } else {
            tk_log(1, "Field #%d is not supposed to be bound (type=%d)", static_cast<int>(i),
                   f ? static_cast<int>(f->get_type()) : 0);
        }
    }
    if (bound.size() != placeholders) {
        tk_log(3, "Placeholders do not match: given=%u, large fields=%u", placeholders,
               static_cast<unsigned>(bound.size()));
        throw sql_prep_stmt_failed_exception();
    }
    execute(bound);
}

void sql_prepared_statement::execute(const std::vector<const udb_field*>& fields) {
    const unsigned long expected = mysql_stmt_param_count(stmt_.get());
    if (expected != fields.size()) {
        tk_log(3, "Placeholders do not match: statement=%lu, fields=%u", expected,
               static_cast<unsigned>(fields.size()));
        throw sql_prep_stmt_failed_exception();
    }
    const size_t n = fields.size();
    std::vector<MYSQL_BIND> binds(n);
    std::vector<unsigned long> lengths(n, 0);
    uint32_t total = 0;
    for (size_t k = 0; k < n; ++k) {
        if (!fields[k]) throw sql_prep_stmt_failed_exception();
        binds[k] = MYSQL_BIND{};
        binds[k].buffer_type = MYSQL_TYPE_BLOB;
        binds[k].length = &lengths[k];
        total += fields[k]->get_size();
    }
    if (n > 0 && mysql_stmt_bind_param(stmt_.get(), binds.data()) != 0) fail("Binding failed");

    for (size_t k = 0; k < n; ++k) send_field(static_cast<unsigned int>(k), *fields[k]);

    if (mysql_stmt_execute(stmt_.get()) != 0) {
        tk_log(3, "QUERY=%s", statement_.c_str());
        tk_log(3, "mysql_stmt_execute failed: error=%s", mysql_stmt_error(stmt_.get()));
        tk_log(3, "row size=%u", total);
        // The server refused the row: its reason, like a plain statement's.
        throw sql_exception(stmt_.get());
    }
}

void sql_prepared_statement::send_slice(unsigned int param, const char* data, size_t size, size_t pos) {
    if (mysql_stmt_send_long_data(stmt_.get(), param, data, static_cast<unsigned long>(size)) != 0) {
        tk_log(2, "mysql_stmt_send_long_data failed (pos=%d, res=%d, error=%s)", static_cast<int>(pos), 1,
               mysql_stmt_error(stmt_.get()));
        throw sql_prep_stmt_failed_exception();
    }
}

void sql_prepared_statement::send_field(unsigned int param, const udb_field& field) {
    tk_log(1, "Reading field #%u (size=%u)", param, field.get_size());
    if (field.is_binary()) {
        // The value's own bytes.
        const char* data = reinterpret_cast<const char*>(field.binary_data());
        const size_t total = field.binary_size();
        for (size_t pos = 0; pos < total; pos += slice_units) {
            const size_t n = std::min<size_t>(slice_units, total - pos);
            tk_log(1, "prepared_statement: pos=%d, len=%d", static_cast<int>(pos), static_cast<int>(n));
            send_slice(param, data + pos, n, pos);
        }
        return;
    }
    // Text as UTF-8, sliced by characters so that no character is split.
    const std::wstring text = field.get_type() == VT_BSTR ? field.get_bstr() : field.to_wstring();
    std::string buf;
    for (size_t pos = 0; pos < text.size(); pos += slice_units) {
        const size_t n = std::min<size_t>(slice_units, text.size() - pos);
        buf = plat::utf8_encode(std::wstring_view(text).substr(pos, n));
        if (tk_log_wants(1))
            tk_log(1, "prepared_statement: pos=%d, buf=%.64s", static_cast<int>(pos), buf.c_str());
        send_slice(param, buf.data(), buf.size(), pos);
    }
}
