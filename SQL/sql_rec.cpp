#include "sql_rec.h"

#include <atomic>

#include "sql_cell_read.h"
#include "sql_engi.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {
constexpr const char* rec_source = "sql_rec";
}

sql_columns sql_describe_columns(const MYSQL_FIELD* fields, unsigned int count, bool blob_to_text) {
    if (!fields && count > 0) throw tk_mail_assertion(rec_source, 20);
    sql_columns columns;
    columns.reserve(count);
    for (unsigned int i = 0; i < count; ++i) {
        const MYSQL_FIELD& f = fields[i];
        sql_column c;
        c.name = tk_from_utf8(std::string(f.name ? f.name : "", f.name ? f.name_length : 0));
        c.rule = sql_column_rule_for(f, blob_to_text);
        if (tk_log_wants(1)) {
            tk_log(1, "field #%d has type %d", static_cast<int>(i), static_cast<int>(f.type));
            tk_log(1, "BINARY FLAG=%d", (f.flags & BINARY_FLAG) ? 1 : 0);
        }
        columns.push_back(std::move(c));
    }
    return columns;
}

sql_columns sql_describe_columns(MYSQL_RES* result, bool blob_to_text) {
    if (!result) return sql_columns();
    return sql_describe_columns(mysql_fetch_fields(result), mysql_num_fields(result), blob_to_text);
}

bool sql_blob_to_text() {
    const sql_engine* engine = tk_singleton<sql_engine>::peek();
    return engine && engine->is_blob_to_text();
}

sql_field::sql_field(const std::wstring& name) { set_name(name); }

sql_field::sql_field(const sql_column& column, const char* cell, unsigned long length) {
    set_name(column.name);
    assign(column.rule, cell, length);
}

void sql_field::assign(const sql_column_rule& rule, const char* cell, unsigned long length) {
    set_declared_size(static_cast<uint32_t>(length));
    set_text_form(rule.form);
    sql_cell_to_value(rule, cell, length, value());
}

namespace {

uint32_t cell_size(const sql_column_rule& rule, const sql_cell& cell) {
    switch (cell.kind) {
    case sql_cell::null: return 0;
    case sql_cell::bytes: return static_cast<uint32_t>(cell.length);
    default: break;
    }
    switch (rule.vartype) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: case VT_R4: return 4;
    default: return 8;
    }
}

// sql_field::assign of a binary cell; inline in the row loop.
[[gnu::always_inline]] inline void assign_cell(sql_field& f, const sql_column_rule& rule, const sql_cell& cell) {
    f.set_text_form(rule.form);
    uint32_t size = 0;
    if (!sql_cell_by_plan(rule, cell, f.value(), size)) {
        size = cell_size(rule, cell);
        sql_cell_to_value(rule, cell, f.value());
    }
    f.set_declared_size(size);
}

}  // namespace

void sql_field::assign(const sql_column_rule& rule, const sql_cell& cell) { assign_cell(*this, rule, cell); }

sql_record::sql_record(unsigned int n_fields, const MYSQL_FIELD* fields, const unsigned long* lengths,
                       MYSQL_ROW row) {
    tk_log(1, "sql_record::ctor1(n_fields=%d)", static_cast<int>(n_fields));
    if (!fields) throw tk_mail_assertion(rec_source, 20);
    const bool blob_to_text = sql_blob_to_text();
    tk_log(1, "is_blob_to_text=%d", blob_to_text ? 1 : 0);
    assign_row(sql_describe_columns(fields, n_fields, blob_to_text), lengths, row);
}

sql_record::sql_record(const sql_columns& columns, const unsigned long* lengths, MYSQL_ROW row) {
    assign_row(columns, lengths, row);
}

uint64_t sql_record::new_names_serial() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

template <class Read>
void sql_record::assign_fields(const sql_columns& columns, uint64_t names_serial, Read&& read) {
    const size_t n = columns.size();
    const bool named = names_serial != 0 && names_serial == names_serial_ && size() == n;
    names_serial_ = 0;  // until every field is read
    // Row after row the record already has its n fields.
    if (size() != n) reuse(n, [&](size_t i) { return new sql_field(columns[i].name); });
    // Exactly n fields now: no checked indexing per field.
    const const_iterator fields = begin();
    const sql_column* const cols = columns.data();
    for (size_t i = 0; i < n; ++i) {
        sql_field* f = static_cast<sql_field*>(fields[static_cast<std::ptrdiff_t>(i)]);
        if (!named && f->get_name() != cols[i].name) f->set_name(cols[i].name);
        read(*f, i);
    }
    names_serial_ = names_serial;
}

void sql_record::assign_row(const sql_columns& columns, const unsigned long* lengths, MYSQL_ROW row,
                            uint64_t names_serial) {
    assign_fields(columns, names_serial, [&](sql_field& f, size_t i) {
        f.assign(columns[i].rule, row ? row[i] : nullptr, lengths ? lengths[i] : 0);
    });
}

void sql_record::assign_cells(const sql_columns& columns, const sql_cell* cells, uint64_t names_serial) {
    const sql_column* const cols = columns.data();
    const size_t n = columns.size();
    if (names_serial != 0 && names_serial == names_serial_ && size() == n) {
        // Row after row: the fields keep their names (a failing cell leaves
        // them as they are), only the values are read.
        const const_iterator fields = begin();
        for (size_t i = 0; i < n; ++i)
            assign_cell(*static_cast<sql_field*>(fields[static_cast<std::ptrdiff_t>(i)]), cols[i].rule, cells[i]);
        return;
    }
    assign_named_cells(columns, cells, names_serial);
}

void sql_record::assign_named_cells(const sql_columns& columns, const sql_cell* cells, uint64_t names_serial) {
    const sql_column* const cols = columns.data();
    assign_fields(columns, names_serial, [&](sql_field& f, size_t i) { assign_cell(f, cols[i].rule, cells[i]); });
}

void sql_record::clear_values() {
    for (udb_field* f : *this)
        if (f) {
            f->clear();
            f->set_declared_size(0);
        }
}
