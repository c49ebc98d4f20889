// Writing rows of a MySQL table: appending (multi-row batches or one
// statement per row), updating and deleting.
#include <memory>
#include <string>
#include <vector>

#include "sql_db.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_sync.h"
#include "sql_table.h"
#include "sql_util.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_vali.h"

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

// "`c`=literal", or "`c` IS NULL" for a field without a value.
std::wstring condition(const t_ftd& column, const udb_field& field) {
    const std::wstring name = sql_engine::get_safe_name(column.name);
    if (field.get_type() == VT_EMPTY || field.get_type() == VT_NULL) return name + L" IS NULL";
    return name + L"=" + tk_from_utf8(to_mysql_str(&field));
}

// Appends "`c`=value" to a SET list; a value sent apart ("?") is bound.
void add_assignment(std::wstring& assignments, std::vector<const udb_field*>& bound, const udb_field* field,
                    const t_ftd& column) {
    if (!assignments.empty()) assignments += L", ";
    const std::string value = get_fld_append_str(field, &column, true);
    if (value == "?") bound.push_back(field);
    assignments += sql_engine::get_safe_name(column.name) + L"=" + tk_from_utf8(value);
}

}  // namespace

sql_table::~sql_table() {
    tk_log(2, "sql_table::dtor");
    try {
        flush();
    } catch (const std::exception& e) {
        if (tk_log_wants(3)) tk_wlog(3, L"Table '%s': ERROR '%s'", name_.c_str(), tk_from_utf8(e.what()).c_str());
    } catch (...) {
        if (tk_log_wants(3)) tk_wlog(3, L"Table '%s': ERROR '%s'", name_.c_str(), L"Unknown exception");
    }
}

sql_database& sql_table::database() const {
    auto* db = dynamic_cast<sql_database*>(owner_);
    if (!db) throw tk_exception(std::string("The table belongs to no MySQL database"), 2);
    return *db;
}

uint64_t sql_table::get_max_buffer_size() {
    tk_log(1, "sql_table::get_max_buffer_size");
    static uint64_t size = 0;
    if (size == 0) size = 1000000;
    return size;
}

void sql_table::flush() {
    if (pending_batch_.empty()) return;
    std::string batch;
    batch.swap(pending_batch_);
    const size_t rows = pending_rows_;
    pending_head_.clear();
    pending_rows_ = 0;
    pending_columns_ = 0;
    if (tk_log_wants(1)) tk_log(1, "Run SQL query: [%s]", batch.c_str());
    try {
        database().query_append(batch);
    } catch (const sql_exception& e) {
        const std::string text = "Table '" + tk_to_utf8(name_) + "': " + std::to_string(rows) +
                                 " queued row(s) were not written: " + e.what();
        tk_log(3, "%s", text.c_str());
        throw sql_exception(text, e.error_number());
    }
}

std::vector<const t_ftd*> sql_table::columns_of(const udb_record& record) const {
    std::vector<const t_ftd*> out(record.size(), nullptr);
    std::unique_ptr<udb_validator> validator;
    const udb_names_map& names = owner_->get_names_map();
    for (size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.at(i);
        if (!f) continue;
        // The name table creation gave the column, else the field's own.
        std::wstring name = names.get_fn_mapped_name(name_, f->get_name());
        if (!schema_.find_field(name)) {
            // A name the server refuses has the validator's replacement.
            if (!validator) validator = engine().create_fn_validator(record);
            if (validator->is_acceptable(name)) continue;
            name = validator->get_safe_name(name);
            validator->add_existing_name(name);
            if (tk_log_wants(1)) tk_wlog(1, L"Name=%s, mapped name=%s", f->get_name().c_str(), name.c_str());
            if (!schema_.find_field(name)) continue;
        }
        if (tk_log_wants(1)) tk_wlog(1, L"Got mappend fn: %s", name.c_str());
        out[i] = &schema_.get_field1(name);
    }
    return out;
}

std::vector<sql_table::column_field> sql_table::pair_fields(const udb_record& record) const {
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

std::string sql_table::column_part(const std::vector<column_field>& pairs, bool fast) const {
    const bool quoted = !engine().is_old_version();
    std::wstring text;
    if (owner_->get_mode() & sql_database::mode_replace)
        text = L"REPLACE INTO ";
    else
        text = fast ? L"INSERT IGNORE INTO " : L"INSERT INTO ";
    text += (quoted ? sql_engine::get_safe_name(name_) : name_) + L"(";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) text += L", ";
        text += column_name(pairs[i].column->name, quoted);
    }
    text += L")";
    return tk_to_utf8(text);
}

void sql_table::append_record(const udb_record& record) {
    tk_log(2, "sql_table::append_record");
    const uint32_t size = record.get_total_size();
    tk_log(2, "record size=%u", size);
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
    if (earlier) throw *earlier;
}

void sql_table::fast_append(const udb_record& record, std::unique_ptr<sql_exception>& earlier) {
    tk_log(2, "sql_table::fast_append");
    tk_log(1, "that.size=%d", static_cast<int>(record.size()));
    const std::vector<column_field> pairs = pair_fields(record);
    std::string head = column_part(pairs, true);
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
        pending_batch_ = head + " VALUES" + values;
        pending_head_ = std::move(head);
        pending_columns_ = static_cast<uint32_t>(record.size());
        pending_rows_ = 1;
    } else {
        pending_batch_ += ", ";
        pending_batch_ += values;
        ++pending_rows_;
    }
    if (tk_log_wants(1)) tk_log(1, "sql_query=[%.4096s]", pending_batch_.c_str());
}

void sql_table::slow_append(const udb_record& record) {
    tk_log(2, "sql_table::slow_append");
    tk_log(2, "mysql_db.get_mode()=%d", static_cast<int>(owner_->get_mode()));
    const uint32_t size = record.get_total_size();
    const bool big = size > get_max_buffer_size();
    const std::vector<column_field> pairs = pair_fields(record);
    std::string statement = column_part(pairs, false) + " VALUES (";
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
        return;
    }
    const uint32_t max_packet = engine().get_max_allowed_packet();
    tk_log(2, "get_max_allowed_packet=%u", max_packet);
    if (max_packet < size) {
        tk_log(2, "row_tot_size > max_allowed_packet");
        throw tk_exception(std::string("Row size exceeds 'max_allowed_packet'"), 0);
    }
    database().prepared_statement(statement, bound);
}

void sql_table::update(const udb_record& record) {
    tk_log(2, "sql_table::update");
    flush();
    if (key_pos_ < 0) {
        tk_log(2, "There's no primary/unique key");
        return;
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
            throw tk_exception("Table '" + tk_to_utf8(name_) + "': the record has no value for the key column '" +
                                   tk_to_utf8(key.fields[k]) + "'",
                               0);
        }
    }
    if (assignments.empty()) {
        tk_log(2, "Nothing to update");
        return;
    }
    send_update(L"UPDATE " + sql_engine::get_safe_name(name_) + L" SET " + assignments + L" WHERE " + conditions,
                bound);
}

void sql_table::update(const udb_record& record, const std::wstring& key) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_table::update(key=%s)", key.c_str());
    flush();
    const std::vector<sql_sync::key_part> parts = sql_sync::parse(key);
    if (parts.empty()) {
        tk_log(2, "Missing key for update");
        throw tk_exception("Table '" + tk_to_utf8(name_) + "': missing key for update", 0);
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
    send_update(L"UPDATE " + sql_engine::get_safe_name(name_) + L" SET " + assignments + L" WHERE " +
                    sql_sync::make_filter(schema_, parts),
                bound);
}

void sql_table::send_update(const std::wstring& statement_text, const std::vector<const udb_field*>& bound) {
    const std::string statement = tk_to_utf8(statement_text);
    tk_log(2, "UPDATE QUERY: %s", statement.c_str());
    if (bound.empty())
        database().query_append(statement);
    else
        database().prepared_statement(statement, bound);
}

void sql_table::delete_key(const std::wstring& key) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_table::delete_key(%s)", key.c_str());
    flush();
    const std::vector<sql_sync::key_part> parts = sql_sync::parse(key);
    if (parts.empty()) throw tk_exception("Table '" + tk_to_utf8(name_) + "': missing key for delete", 0);
    for (const sql_sync::key_part& part : parts) {
        if (!schema_.find_field(part.name)) {
            if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", part.name.c_str());
            throw tk_exception("Table '" + tk_to_utf8(name_) + "': the key field '" + tk_to_utf8(part.name) +
                                   "' is not a column; nothing is deleted",
                               0);
        }
    }
    database().query_append(tk_to_utf8(L"delete from " + sql_engine::get_safe_name(name_) + L" where " +
                                       sql_sync::make_filter(schema_, parts)));
}

void sql_table::delete_key(const udb_record& record) {
    tk_log(2, "sql_table::delete_key");
    flush();
    const std::vector<const t_ftd*> columns = columns_of(record);
    std::wstring conditions;
    for (size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.at(i);
        if (!f) continue;
        if (!columns[i]) {
            if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' is not found in schema", f->get_name().c_str());
            throw tk_exception("Table '" + tk_to_utf8(name_) + "': the field '" + tk_to_utf8(f->get_name()) +
                                   "' is not a column; nothing is deleted",
                               0);
        }
        if (!conditions.empty()) conditions += L" AND ";
        conditions += condition(*columns[i], *f);
    }
    if (conditions.empty()) throw tk_exception("Table '" + tk_to_utf8(name_) + "': missing key for delete", 0);
    database().query_append(tk_to_utf8(L"DELETE FROM " + sql_engine::get_safe_name(name_) + L" WHERE " + conditions));
}
