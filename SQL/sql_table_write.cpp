// Writing rows of a MySQL table: appending (multi-row batches or one
// statement per row), updating and deleting.
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sql_db_write.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_report.h"
#include "sql_run.h"
#include "sql_sch.h"
#include "sql_sync.h"
#include "sql_fk_parser.h"
#include "sql_table_write.h"
#include "sql_util.h"
#include "sql_warnings.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_vali.h"
#include "utf8.h"

namespace {

constexpr const char* tab_source = "sql_tab";

const char* const structure_error =
    "The structure of data source does not conform to the destination table. For more information see "
    "Troubleshooting article of the product documentation.";

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

// Column names in statements: backquoted from 4.1.0 on.
std::wstring column_name(const std::wstring& name, bool quoted) {
    return quoted ? sql_engine::get_safe_name(name) : name;
}

// "`c`=literal", or "`c` IS NULL" for a field without a value. A FLOAT column
// holds a single: it is compared with that single's exact value.
std::wstring condition(const t_ftd& column, const udb_field& field) {
    const std::wstring name = sql_engine::get_safe_name(column.name);
    if (field.get_type() == VT_EMPTY || field.get_type() == VT_NULL) return name + L" IS NULL";
    if (column.vartype == VT_R4 && sql_is_numeric_type(field.get_type())) {
        // A double beyond the single's range matches no FLOAT value.
        const double v = field.to_double();
        sql_check_finite(v, field.get_name());
        if (!std::isfinite(static_cast<float>(v)))
            throw tk_exception("The value of field '" + tk_to_utf8(field.get_name()) +
                                   "' lies beyond the range of its FLOAT column",
                               0);
        return name + L"=" + tk_from_utf8(sql_float_key_literal(static_cast<float>(v)));
    }
    return name + L"=" + plat::utf8_decode(to_mysql_str(&field));  // zero characters kept
}

// The start of a text for a message: at most max bytes, cut between
// characters, "..." when cut.
std::string shortened(const std::string& text, size_t max = 120) {
    if (text.size() <= max) return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end) + "...";
}

// Appends "`c`=value" to a SET list; a value sent apart ("?") is bound.
void add_assignment(std::wstring& assignments, std::vector<const udb_field*>& bound, const udb_field* field,
                    const t_ftd& column) {
    if (!assignments.empty()) assignments += L", ";
    const std::string value = get_fld_append_str(field, &column, true);
    if (value == "?") bound.push_back(field);
    assignments += sql_engine::get_safe_name(column.name) + L"=" + plat::utf8_decode(value);
}

// Field i of the current record (out of range throws).
const udb_field& record_field(udb_recordset& rs, size_t i) {
    udb_record* record = rs.get_record();
    if (!record) throw std::out_of_range("invalid vector subscript");
    return *record->at(i);
}

size_t record_size(udb_recordset& rs) {
    udb_record* record = rs.get_record();
    return record ? record->size() : 0;
}

}  // namespace

sql_write_table::sql_write_table(udb_database* database, MYSQL* connection, const std::wstring& table,
                                 std::vector<udb_relationship>* relationships, uint32_t mode,
                                 const sql_catalog_columns* known)
    : sql_table(database, connection, table, relationships, mode, known) {
    if (reads_indexes(mode) && engine().get_server_version() >= 0x3172C) read_foreign_keys();
}

sql_write_table::~sql_write_table() {
    try {
        flush();
    } catch (const std::exception& e) {
        if (tk_log_wants(3)) tk_wlog(3, L"Table '%s': ERROR '%s'", name_.c_str(), tk_from_utf8(e.what()).c_str());
    } catch (...) {
        if (tk_log_wants(3)) tk_wlog(3, L"Table '%s': ERROR '%s'", name_.c_str(), L"Unknown exception");
    }
}

sql_write_database& sql_write_table::database() const {
    auto* db = dynamic_cast<sql_write_database*>(owner_);
    if (!db) throw tk_exception(std::string("The table belongs to no MySQL database"), 2);
    return *db;
}

uint64_t sql_write_table::get_max_buffer_size() {
    tk_log(1, "sql_table::get_max_buffer_size");
    static uint64_t size = 0;
    if (size == 0) size = 1000000;
    return size;
}

void sql_write_table::flush() {
    if (pending_batch_.empty()) return;
    std::string batch, head;
    std::vector<size_t> starts;
    std::vector<uint64_t> numbers;
    batch.swap(pending_batch_);
    head.swap(pending_head_);
    starts.swap(pending_starts_);
    numbers.swap(pending_numbers_);
    pending_rows_ = 0;
    pending_columns_ = 0;
    if (tk_log_wants(1)) tk_log(1, "Run SQL query: [%.4096s]", batch.c_str());

    struct failed_row {
        uint64_t number;
        std::string values;
        std::string error;
        unsigned int code;
    };
    std::vector<failed_row> failures;
    bool altered = false;
    auto row_values = [&](size_t k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] - 2 : batch.size();
        return batch.substr(starts[k], end - starts[k]);
    };
    // A value the server rounded or cut (the row is stored so): the row the
    // warning names, counted from first, is reported like a refused one; a
    // warning that names no row of a batch is reported for the table.
    auto take_warnings = [&](size_t first, size_t count) {
        for (const sql_warning& w : changed_values()) {
            altered = true;
            const size_t k = w.row >= 1 && w.row <= count ? first + w.row - 1 : count == 1 ? first : starts.size();
            failures.push_back({k < starts.size() ? numbers[k] : 0, k < starts.size() ? row_values(k) : std::string(),
                                "The server changed a value: " + sql_warning_text(w), w.code});
        }
    };
    bool sent = false;
    try {
        database().query_append(batch);
        sent = true;
    } catch (const sql_exception& e) {
        if (starts.size() == 1) {
            failures.push_back({numbers[0], row_values(0), e.what(), e.error_number()});
        } else {
            // The server refused the whole batch: each row on its own, so that
            // the good rows are stored and exactly the bad ones reported.
            tk_log(2, "Batch of %d rows refused (%s), rows sent one by one", static_cast<int>(starts.size()),
                   e.what());
        }
    }
    // The rows are stored: their warnings are read, nothing is sent again.
    if (sent) take_warnings(0, starts.size());
    if (!sent && failures.empty()) {
        for (size_t k = 0; k < starts.size(); ++k) {
            std::string values = row_values(k);
            bool stored = false;
            try {
                database().query_append(head + " VALUES" + values);
                stored = true;
            } catch (const sql_exception& e) {
                failures.push_back({numbers[k], std::move(values), e.what(), e.error_number()});
            }
            if (stored) take_warnings(k, 1);
        }
    }
    if (failures.empty()) return;

    const std::string table = tk_to_utf8(name_);
    if (sql_has_error_reporter()) {
        for (const failed_row& f : failures) {
            if (f.number == 0) {
                sql_report_error(sql_exception(f.error, f.code), "Table '" + table + "'");
                continue;
            }
            sql_report_error(sql_exception(f.error + " (values " + shortened(f.values) + ")", f.code),
                             "Table '" + table + "', row " + std::to_string(f.number));
        }
        return;
    }
    std::string text = "Table '" + table + "': " + std::to_string(failures.size()) +
                       (altered ? " queued row(s) were not written as given:" : " queued row(s) were not written:");
    for (const failed_row& f : failures)
        text += (f.number == 0 ? std::string(" ")
                               : " row " + std::to_string(f.number) + " " + shortened(f.values) + ": ") +
                f.error + ";";
    text.pop_back();
    tk_log(3, "%s", text.c_str());
    throw sql_exception(text, failures.front().code);
}

bool sql_write_table::is_transactional() {
    if (transactional_ >= 0) return transactional_ == 1;
    transactional_ = 0;
    try {
        const std::string statement =
            "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e ON "
            "e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = '" +
            sql_escape(std::string_view(tk_to_utf8(name_))) + "'";
        MYSQL* connection = database().get_connection();
        sql_result_ptr result = sql_open_stream(connection, std::string_view(statement));
        if (result) {
            while (MYSQL_ROW row = sql_fetch_row(connection, result.get()))
                if (row[0] && std::string_view(row[0]) == "YES") transactional_ = 1;
        }
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot read the table type: %s", e.what());
    }
    // A table that keeps the rows before a refused one gets one row per statement.
    if (transactional_ == 0 && tk_log_wants(2))
        tk_wlog(2, L"Table '%s' is not transactional: one row per statement", name_.c_str());
    return transactional_ == 1;
}

std::vector<const t_ftd*> sql_write_table::columns_of(const udb_record& record) const {
    std::vector<const t_ftd*> out(record.size(), nullptr);
    const sql_field_finder finder(name_, record, &owner_->get_names_map());
    for (const t_ftd* column : schema_) {
        if (!column) continue;
        const int32_t i = finder.get_column_field_idx(column->name);
        if (i < 0 || out[static_cast<size_t>(i)]) continue;
        if (tk_log_wants(1)) tk_wlog(1, L"Got mappend fn: %s", column->name.c_str());
        out[static_cast<size_t>(i)] = column;
    }
    return out;
}

std::vector<sql_write_table::column_field> sql_write_table::pair_fields(const udb_record& record) const {
    const std::vector<const t_ftd*> columns = columns_of(record);
    std::vector<column_field> pairs;
    if (record.size() < schema_.size()) {
        tk_log(1, "Size of record is less than size of schema");
        for (size_t i = 0; i < record.size(); ++i) {
            if (!columns[i]) {
                if (tk_log_wants(2))
                    tk_wlog(2, L"Field %s not found", record.at(i) ? record.at(i)->get_name().c_str() : L"");
                throw tk_exception(std::string(structure_error), 0);
            }
            pairs.push_back({columns[i], record.at(i)});
        }
        return pairs;
    }
    tk_log(1, "Size of schema is less or equal to the size of record");
    for (const t_ftd* column : schema_) {
        if (!column) continue;
        const udb_field* field = nullptr;
        for (size_t i = 0; i < record.size() && !field; ++i)
            if (columns[i] == column) field = record.at(i);
        if (!field) {
            if (tk_log_wants(2)) tk_wlog(2, L"Field %s not found in appending record", column->name.c_str());
            throw tk_exception(std::string(structure_error), 0);
        }
        pairs.push_back({column, field});
    }
    return pairs;
}

std::string sql_write_table::column_part(const std::vector<column_field>& pairs) const {
    const bool quoted = !engine().is_old_version();
    std::wstring text;
    // Never IGNORE: a row the server would alter or drop must fail.
    text = owner_->get_mode() & sql_database::mode_replace ? L"REPLACE INTO " : L"INSERT INTO ";
    text += (quoted ? sql_engine::get_safe_name(name_) : name_) + L"(";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) text += L", ";
        text += column_name(pairs[i].column->name, quoted);
    }
    text += L")";
    return tk_to_utf8(text);
}

void sql_write_table::append_record(const udb_record& record) {
    tk_log(2, "sql_table::append_record");
    const uint32_t size = record.get_total_size();
    tk_log(2, "record size=%u", size);
    ++given_;
    sql_engine& eng = engine();
    // A failure of the rows queued before this one; reported after this row.
    std::unique_ptr<sql_exception> earlier;
    if (size > get_max_buffer_size()) {
        tk_log(3, "Row is too big (%u bytes), swtich to slow_append", size);
        eng.fast_insert = false;
    }
    // Rows queued on the fast road go before a row of the slow road (another
    // table's big row may have switched the roads meanwhile).
    if (!eng.fast_insert) {
        try {
            flush();
        } catch (const sql_exception& e) {
            earlier = std::make_unique<sql_exception>(e);
        }
    }
    try {
        if (eng.fast_insert)
            fast_append(record, earlier);
        else
            slow_append(record);
    } catch (const sql_exception& e) {
        if (!earlier) throw;
        // Both failed: one report with both texts.
        throw sql_exception(std::string(earlier->what()) + "; and this row: " + e.what(), e.error_number());
    } catch (const tk_exception& e) {
        if (!earlier) throw;
        throw tk_exception(std::string(earlier->what()) + "; and this row: " + e.what(), e.level());
    }
    ++rec_count_;
    ++appended_;
    if (earlier) throw *earlier;
}

void sql_write_table::fast_append(const udb_record& record, std::unique_ptr<sql_exception>& earlier) {
    tk_log(2, "sql_table::fast_append");
    tk_log(1, "that.size=%d", static_cast<int>(record.size()));
    const std::vector<column_field> pairs = pair_fields(record);
    std::string head = column_part(pairs);
    std::string values = "(";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) values += ", ";
        values += get_fld_append_str(pairs[i].field, pairs[i].column, false);
    }
    values += ")";

    if (!pending_batch_.empty() &&
        (pending_head_ != head || pending_batch_.size() + 2 + values.size() > get_max_buffer_size())) {
        if (pending_head_ != head)
            tk_log(3, "cached_rec_size=%u, that.size=%u", pending_columns_, static_cast<unsigned>(record.size()));
        try {
            flush();
        } catch (const sql_exception& e) {
            earlier = std::make_unique<sql_exception>(e);
        }
        tk_log(2, "Initialize new query...");
    }
    tk_log(1, "*** FAST INSERT MODE ***");
    if (pending_batch_.empty()) {
        pending_batch_ = head + " VALUES";
        pending_head_ = std::move(head);
        pending_columns_ = static_cast<uint32_t>(record.size());
        pending_rows_ = 1;
    } else {
        pending_batch_ += ", ";
        ++pending_rows_;
    }
    pending_starts_.push_back(pending_batch_.size());
    pending_numbers_.push_back(given_);
    pending_batch_ += values;
    if (tk_log_wants(1)) tk_log(1, "sql_query=[%.4096s]", pending_batch_.c_str());
    if (!is_transactional()) {
        try {
            flush();
        } catch (const sql_exception& e) {
            earlier = std::make_unique<sql_exception>(e);
        }
    }
}

void sql_write_table::slow_append(const udb_record& record) {
    tk_log(2, "sql_table::slow_append");
    tk_log(2, "mysql_db.get_mode()=%d", static_cast<int>(owner_->get_mode()));
    const uint32_t size = record.get_total_size();
    const bool big = size > get_max_buffer_size();
    const std::vector<column_field> pairs = pair_fields(record);
    std::string statement = column_part(pairs) + " VALUES (";
    std::vector<const udb_field*> bound;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) statement += ", ";
        std::string value = get_fld_append_str(pairs[i].field, pairs[i].column, big);
        if (big && value == "?") bound.push_back(pairs[i].field);
        statement += value;
    }
    statement += ")";
    if (tk_log_wants(1)) tk_log(1, "Run SQL query: %.4096s", statement.c_str());
    if (!big) {
        database().query_append(statement);
        throw_if_altered();
        return;
    }
    const uint32_t max_packet = engine().get_max_allowed_packet();
    tk_log(2, "get_max_allowed_packet=%u", max_packet);
    if (max_packet < size) {
        tk_log(2, "row_tot_size > max_allowed_packet");
        throw tk_exception(std::string("Row size exceeds 'max_allowed_packet'"), 0);
    }
    database().prepared_statement(statement, bound);
    throw_if_altered();
}

std::vector<sql_warning> sql_write_table::changed_values() {
    MYSQL* connection = database().get_connection();
    return sql_read_warnings(connection, mysql_warning_count(connection));
}

void sql_write_table::throw_if_altered() {
    const std::vector<sql_warning> warnings = changed_values();
    if (warnings.empty()) return;
    std::string text = "The server changed a value:";
    for (const sql_warning& w : warnings) {
        text += ' ';
        text += sql_warning_text(w);
        text += ';';
    }
    text.pop_back();
    throw sql_exception(text, warnings.front().code);
}

// Update and delete report a failure, or a statement that finds no row, to
// the process's error reporter and return: the caller goes on.
void sql_write_table::report_change_failure(const tk_exception& e) const {
    sql_report_error(e, "Table '" + tk_to_utf8(name_) + "'");
}

void sql_write_table::send_change(const std::wstring& statement_text, const std::vector<const udb_field*>& bound,
                            bool update) {
    const std::string statement = plat::utf8_encode(statement_text);  // zero characters kept
    tk_log(2, update ? "UPDATE QUERY: %s" : "DELETE QUERY: %s", statement.c_str());
    uint64_t found = 0;
    if (bound.empty()) {
        database().query_append(statement);
        // The connection counts the rows an UPDATE found, changed or not.
        found = mysql_affected_rows(database().get_connection());
    } else {
        found = database().prepared_statement_rows(statement, bound);
    }
    throw_if_altered();
    if (found == 0)
        throw tk_exception(std::string(update ? "No row matches the key of the update"
                                              : "No row matches the key of the delete"),
                           0);
}

void sql_write_table::update(const udb_record& record) {
    tk_log(2, "sql_table::update");
    try {
        flush();
        if (key_pos_ < 0) {
            tk_log(2, "There's no primary/unique key");
            throw tk_exception(std::string("There's no primary/unique key"), 0);
        }
        if (static_cast<size_t>(key_pos_) >= indexes_.size()) throw tk_mail_assertion(tab_source, 696);
        const udb_index& key = indexes_[static_cast<size_t>(key_pos_)];

        const std::vector<const t_ftd*> columns = columns_of(record);
        std::wstring assignments, conditions;
        std::vector<const udb_field*> bound;
        std::vector<bool> key_seen(key.fields.size(), false);
        for (size_t i = 0; i < record.size(); ++i) {
            const udb_field* f = record.at(i);
            if (!f) continue;
            if (!columns[i]) {
                if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", f->get_name().c_str());
                continue;
            }
            const t_ftd& column = *columns[i];
            size_t k = 0;
            while (k < key.fields.size() && !plat::equal_nocase(key.fields[k], column.name)) ++k;
            if (k < key.fields.size()) {
                if (tk_log_wants(1)) tk_wlog(1, L"Field %s is a part of UKey", column.name.c_str());
                if (!conditions.empty()) conditions += L" AND ";
                conditions += condition(column, *f);
                key_seen[k] = true;
                continue;
            }
            if (tk_log_wants(1)) tk_wlog(1, L"Field %s is NOT a part of UKey", column.name.c_str());
            add_assignment(assignments, bound, f, column);
        }
        for (size_t k = 0; k < key_seen.size(); ++k) {
            if (!key_seen[k]) {
                tk_log(2, "Missing primary/unique key");
                throw tk_exception("The record has no value for the key column '" + tk_to_utf8(key.fields[k]) + "'",
                                   0);
            }
        }
        if (assignments.empty()) {
            tk_log(2, "Nothing to update");
            return;
        }
        send_change(L"UPDATE " + sql_engine::get_safe_name(name_) + L" SET " + assignments + L" WHERE " + conditions,
                    bound, true);
    } catch (const tk_exception& e) {
        tk_log(2, "ERROR on UPDATE0: %s", e.what());
        report_change_failure(e);
    }
}

void sql_write_table::update(const udb_record& record, const std::wstring& key) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_table::update(key=%s)", key.c_str());
    try {
        flush();
        const std::vector<sql_sync::key_part> parts = sql_sync::parse(key);
        if (parts.empty()) {
            tk_log(2, "Missing key for update");
            throw tk_exception(std::string("Missing key for update"), 0);
        }
        const std::vector<const t_ftd*> columns = columns_of(record);
        std::wstring assignments;
        std::vector<const udb_field*> bound;
        for (size_t i = 0; i < record.size(); ++i) {
            const udb_field* f = record.at(i);
            if (!f) continue;
            if (!columns[i]) {
                if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", f->get_name().c_str());
                continue;
            }
            add_assignment(assignments, bound, f, *columns[i]);
        }
        if (assignments.empty()) {
            tk_log(2, "Nothing to update");
            return;
        }
        send_change(L"UPDATE " + sql_engine::get_safe_name(name_) + L" SET " + assignments + L" WHERE " +
                        sql_sync::make_filter(schema_, parts),
                    bound, true);
    } catch (const tk_exception& e) {
        tk_log(3, "ERROR on UPDATE: %s", e.what());
        report_change_failure(e);
    }
}

void sql_write_table::delete_key(const std::wstring& key) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_table::delete_key(%s)", key.c_str());
    try {
        flush();
        const std::vector<sql_sync::key_part> parts = sql_sync::parse(key);
        if (parts.empty()) throw tk_exception(std::string("Missing key for delete"), 0);
        for (const sql_sync::key_part& part : parts) {
            if (!schema_.find_field(part.name)) {
                if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", part.name.c_str());
                throw tk_exception("The key field '" + tk_to_utf8(part.name) + "' is not a column; nothing is deleted",
                                   0);
            }
        }
        send_change(L"delete from " + sql_engine::get_safe_name(name_) + L" where " +
                        sql_sync::make_filter(schema_, parts),
                    {}, false);
    } catch (const tk_exception& e) {
        tk_log(2, "ERROR on DELETE: %s", e.what());
        report_change_failure(e);
    }
}

void sql_write_table::delete_key(const udb_record& record) {
    tk_log(2, "sql_table::delete_key");
    try {
        flush();
        const std::vector<const t_ftd*> columns = columns_of(record);
        std::wstring conditions;
        for (size_t i = 0; i < record.size(); ++i) {
            const udb_field* f = record.at(i);
            if (!f) continue;
            if (!columns[i]) {
                if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", f->get_name().c_str());
                throw tk_exception("The field '" + tk_to_utf8(f->get_name()) + "' is not a column; nothing is deleted",
                                   0);
            }
            if (!conditions.empty()) conditions += L" AND ";
            conditions += condition(*columns[i], *f);
        }
        if (conditions.empty()) throw tk_exception(std::string("Missing key for delete"), 0);
        send_change(L"DELETE FROM " + sql_engine::get_safe_name(name_) + L" WHERE " + conditions, {}, false);
    } catch (const tk_exception& e) {
        tk_log(2, "ERROR on DELETE: %s", e.what());
        report_change_failure(e);
    }
}

void sql_write_table::read_foreign_keys() {
    tk_log(2, "Extracting foreign keys");
    std::vector<udb_relationship>* list = get_relationships();
    std::unique_ptr<udb_recordset> rs = run(L"SHOW CREATE TABLE " + sql_engine::get_safe_name(name_));
    if (!rs || !list) return;
    rs->reset();
    while (!rs->is_eof()) {
        const size_t n = record_size(*rs);
        if (n == 0) throw std::out_of_range("invalid vector subscript");
        sql_fk_parser parser(name_, record_field(*rs, n - 1).to_string());
        parser.do_parse(*list);
        rs->next();
    }
}
