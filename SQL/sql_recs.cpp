#include "sql_recs.h"

#include <algorithm>
#include <cinttypes>

#include <errmsg.h>

#include "sql_db.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_query_check.h"
#include "sql_query_text.h"
#include "sql_query_kind.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

constexpr const char* recs_source = "sql_recs";

// The first column of the first row as an unsigned number (0 for NULL).
uint64_t scalar_u64(MYSQL* connection, const std::wstring& statement) {
    return sql_scalar_u64(connection, tk_to_utf8(statement)).value_or(0);
}

uint32_t sub_kind(const MYSQL_FIELD& f) {
    switch (f.type) {
    case MYSQL_TYPE_DATETIME:
        return 1;
    case MYSQL_TYPE_DATE:
        return 2;
    case MYSQL_TYPE_TIME:
        return 3;
    case MYSQL_TYPE_LONGLONG:
        return (f.flags & UNSIGNED_FLAG) ? 2 : 1;
    case MYSQL_TYPE_GEOMETRY:
        return 2;
    default:
        return 0;
    }
}

// One column of a select list; geometry is read as its text. The list is
// built only when it is read (geometry, or the log): otherwise it stays empty.
void append_select_item(std::wstring& select_list, const std::wstring& name, bool geometry) {
    if (select_list.empty()) {
        select_list = L"SELECT ";
    } else {
        select_list += L",";
    }
    const std::wstring safe = sql_engine::get_safe_name(name);
    if (geometry) select_list += L"ST_AsText(" + safe + L") as ";
    select_list += safe;
}

bool wants_select_list(bool has_geometry) { return has_geometry || tk_log_wants(2); }

}  // namespace

// --- sql_recordset -----------------------------------------------------------

sql_recordset::sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& table,
                             std::vector<udb_relationship>* relationships)
    : udb_recordset(database, table, std::wstring(), true), connection_(connection), relationships_(relationships) {
    tk_log(2, "sql_recordset::sql_recordset1");
    initialize();
}

sql_recordset::sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& table,
                             std::vector<udb_relationship>* relationships, const sql_catalog_columns* known,
                             bool rows_only)
    : udb_recordset(database, table, std::wstring(), true),
      connection_(connection),
      relationships_(relationships),
      rows_only_(rows_only),
      known_(rows_only ? known : nullptr) {
    tk_log(2, "sql_recordset::sql_recordset1");
    initialize();
    known_ = nullptr;
}

sql_recordset::sql_recordset(udb_database* database, MYSQL* connection, const std::wstring& name,
                             const std::wstring& query, std::vector<udb_relationship>* relationships)
    : udb_recordset(database, name, query, true), connection_(connection), relationships_(relationships) {
    tk_log(2, "sql_recordset::sql_recordset2");
    initialize();
}

sql_recordset::~sql_recordset() {
    tk_log(1, "sql_recordset::dtor");
    tk_log(2, "sql_recordset::clean");
    stream_.reset();
}

void sql_recordset::describe(const MYSQL_FIELD* fields, unsigned int n, bool blob_to_text,
                             std::wstring& select_list, bool& has_geometry, const sql_columns* named) {
    // The descriptors already there are overwritten (a table read for its
    // rows is named first, then described by its stream).
    schema_.truncate(n);
    auto_number_.clear();
    select_list.clear();
    has_geometry = std::any_of(fields, fields + n, [](const MYSQL_FIELD& f) { return f.type == MYSQL_TYPE_GEOMETRY; });
    const bool listed = wants_select_list(has_geometry);
    const bool logged = tk_log_wants(1);
    std::wstring decoded;
    for (unsigned int i = 0; i < n; ++i) {
        const MYSQL_FIELD& f = fields[i];
        if (!named) decoded = tk_from_utf8(std::string(f.name, f.name_length));
        const std::wstring& name = named ? (*named)[i].name : decoded;
        if (logged) {
            tk_log(2, "Processing field #%d", static_cast<int>(i + 1));
            if (f.type == MYSQL_TYPE_GEOMETRY) tk_log(2, "Got MYSQL_TYPE_GEOMETRY");
            tk_log(2, "GOT FIELD: name=%s, type=%d, size=%lu, flags=%u", f.name, static_cast<int>(f.type),
                   f.length, f.flags);
        }
        if (listed) append_select_item(select_list, name, f.type == MYSQL_TYPE_GEOMETRY);
        sql_column_rule rule = sql_column_rule_for(f, blob_to_text);
        if (f.type == MYSQL_TYPE_GEOMETRY) rule.vartype = VT_BSTR;  // read through ST_AsText
        const uint32_t size = static_cast<uint32_t>(f.length);
        const bool not_null = (f.flags & NOT_NULL_FLAG) != 0;
        const bool auto_increment = (f.flags & AUTO_INCREMENT_FLAG) != 0;
        t_ftd* d = i < schema_.size() ? schema_[i] : nullptr;
        if (d) {
            if (d->name != name) d->name = name;
            d->size = size;
            d->precision = 0;
            d->scale = 0;
            d->vartype = rule.vartype;
            d->native_type.clear();
            d->auto_increment = auto_increment;
            d->b_not_null = not_null;
            d->def_value.clear();
            d->reserved = sub_kind(f);
            d->description.clear();
        } else {
            auto made = std::make_unique<t_ftd>(size, name, rule.vartype, not_null, auto_increment, ole_variant(),
                                                sub_kind(f), std::wstring());
            d = made.get();
            if (i < schema_.size()) {
                // A gap in the list: it is rebuilt from here.
                schema_.truncate(i);
            }
            schema_.push_back(std::move(made));
        }
        if (d->auto_increment) {
            if (tk_log_wants(1)) tk_wlog(1, L"Got auto_number column: '%s'", name.c_str());
            auto_number_ = name;
        }
        if (f.type == MYSQL_TYPE_DECIMAL || f.type == MYSQL_TYPE_NEWDECIMAL) {
            if (logged) tk_log(1, "Scale/precision: (%u,%lu)", f.decimals, f.length);
            d->precision = static_cast<int32_t>(sql_decimal_precision(f));
            d->scale = static_cast<int32_t>(f.decimals);
        }
    }
}

void sql_recordset::describe_known(const sql_catalog_columns& known, std::wstring& select_list,
                                   bool& has_geometry) {
    schema_.clear();
    auto_number_.clear();
    select_list.clear();
    has_geometry =
        std::any_of(known.begin(), known.end(), [](const sql_catalog_column& c) { return c.geometry; });
    const bool listed = wants_select_list(has_geometry);
    for (size_t i = 0; i < known.size(); ++i) {
        const sql_catalog_column& c = known[i];
        if (listed) append_select_item(select_list, c.name, c.geometry);
        schema_.push_back(std::make_unique<t_ftd>(0, c.name, VT_BSTR, false, false, ole_variant(),
                                                  c.geometry ? 2u : 0u, std::wstring()));
    }
}

void sql_recordset::initialize() {
    tk_log(2, "sql_recordset::initialize");
    const bool blob_to_text = sql_blob_to_text();
    tk_log(2, "is_blob_to_text=%d", blob_to_text ? 1 : 0);
    auto* lender = dynamic_cast<sql_database*>(get_owner());
    page_ = lender ? lender->lend_record_page() : std::make_shared<sql_record_page>();
    page_filled_ = false;

    // Not counted here: the run counts beside the stream (count_statement).
    rec_count_ = 0;
    rec_count_known_ = false;

    std::wstring select_list;
    bool has_geometry = false;
    if (is_query()) {
        // The query as written gives the columns when the server prepares
        // it; nothing runs before the first reset. A query that does more
        // than read is never run.
        const std::string statement = tk_to_utf8(sql_select_statement(query_, true));
        sql_describe_prepared(connection_, statement,
                              [&](const MYSQL_FIELD* fields, unsigned int n) {
                                  describe(fields, n, blob_to_text, select_list, has_geometry);
                              });
        const std::string refusal = sql_reading_problem(statement);
        if (!refusal.empty()) throw tk_exception(refusal, 0);
    } else if (known_) {
        // Named from what the database already knows: nothing is sent.
        describe_known(*known_, select_list, has_geometry);
    } else {
        // The columns alone: no row is read here.
        sql_result_ptr meta = sql_open_stream(connection_, sql_select_statement(name_, false) + L" LIMIT 0");
        if (!meta) throw sql_exception(std::string("The statement returned no rows"), CR_UNKNOWN_ERROR);
        describe(mysql_fetch_fields(meta.get()), mysql_num_fields(meta.get()), blob_to_text, select_list,
                 has_geometry);
        while (sql_fetch_row(connection_, meta.get())) {
        }
    }

    if (select_list.empty()) {
        // Neither geometry nor the log reads it.
    } else if (is_query()) {
        select_list += L" FROM (" + sql_strip_query_end(query_) + L"\n) as temp___table";
    } else {
        select_list += L" FROM " + sql_engine::get_safe_name(name_);
    }
    if (tk_log_wants(2)) tk_wlog(2, L"local_select_qry=%s", select_list.c_str());

    if (is_query()) {
        tk_log(2, "It's a SQL-query, nothing to do anymore");
    } else if (!auto_number_.empty() && !rows_only_) {
        if (tk_log_wants(2)) tk_wlog(2, L"Refining auto_number '%s' (last value)", auto_number_.c_str());
        const std::wstring statement =
            L"select max( " + sql_engine::get_safe_name(auto_number_) + L") from " + sql_engine::get_safe_name(name_);
        if (tk_log_wants(2)) tk_wlog(2, L"auto_number query=%s", statement.c_str());
        try {
            const uint64_t last = scalar_u64(connection_, statement);
            schema_.counter1 = last > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(last);
            tk_log(2, "got last value=%u", schema_.counter1);
        } catch (const std::exception& e) {
            tk_log(3, "Failed to extract last value for auto_number column");
            tk_log(2, "ERROR: %s", e.what());
        }
    }
    // Geometry is read as text: the recordset becomes the query of its select list.
    if (has_geometry) {
        query_ = select_list;
    }
    tk_log(2, "sql_recordset::initialize - END");
}

std::wstring sql_recordset::count_statement() {
    return is_query() ? L"SELECT COUNT(*) FROM (" + sql_strip_query_end(query_) + L"\n) as query"
                      : L"SELECT COUNT(*) FROM " + sql_engine::get_safe_name(name_);
}

uint64_t sql_recordset::get_rec_count() {
    tk_log(2, "sql_recordset::get_rec_count");
    const uint64_t count = scalar_u64(connection_, count_statement());
    tk_log(2, "sql_recordset::get_rec_count - END (result=%" PRIu64 ")", count);
    return count;
}

void sql_recordset::count() {
    rec_count_ = 0;
    rec_count_known_ = false;
    if (!is_query()) {
        rec_count_ = get_rec_count();
        rec_count_known_ = true;
        return;
    }
    // A query that cannot be counted as a derived table (duplicate column
    // names, SHOW and the like) is still read; its count is unknown.
    try {
        rec_count_ = get_rec_count();
        rec_count_known_ = true;
    } catch (const sql_exception& e) {
        tk_log(2, "The query cannot be counted: %s", e.what());
    }
}

void sql_recordset::append_record(const udb_record&) {
    tk_log(2, "sql_recordset::append_record");
    throw tk_mail_assertion(recs_source, 257);
}

void sql_recordset::open_stream() {
    const bool blob_to_text = sql_blob_to_text();
    stream_ = std::make_unique<sql_row_stream>(connection_, source(), is_query(), blob_to_text);
    follow_result(blob_to_text);
}

void sql_recordset::follow_result(bool blob_to_text) {
    // The rows are read by the result's own columns; the schema (and with it
    // a file's header) follows them when the columns changed since they were
    // described. Same names keep the schema with what was learnt about it.
    const sql_columns& columns = stream_->columns();
    bool same = columns.size() == schema_.size();
    for (size_t i = 0; same && i < columns.size(); ++i) {
        const t_ftd* d = schema_[i];
        same = d && d->name == columns[i].name;
    }
    // A table read for its rows only takes the stream's description as it is.
    if ((same && !rows_only_) || !stream_->fields()) return;
    if (!same) tk_log(2, "The result's columns differ from the description: the schema follows the result");
    std::wstring select_list;
    bool has_geometry = false;
    const sql_columns* named = columns.size() == stream_->field_count() ? &columns : nullptr;
    describe(stream_->fields(), stream_->field_count(), blob_to_text, select_list, has_geometry, named);
    if (rows_only_ && has_geometry && !is_query()) {
        // A geometry column the table did not have when its columns were
        // named: the table is read again with it as text.
        tk_log(2, "A geometry column came as bytes: reading it as text");
        stream_.reset();
        query_ = select_list + L" FROM " + sql_engine::get_safe_name(name_);
        stream_ = std::make_unique<sql_row_stream>(connection_, query_, true, blob_to_text);
        follow_result(blob_to_text);
    }
}

void sql_recordset::reset() {
    tk_log(2, "sql_recordset::reset");
    page_filled_ = false;
    position_ = 0;
    page_index_ = 0;
    // The old stream is closed before anything else is sent.
    stream_.reset();
    open_stream();
    // The old rows are overwritten in place; slots not refilled are emptied.
    page_filled_ = true;
    stream_->share_names(*page_);
    stream_->store_to(page_.get());
}

udb_record* sql_recordset::get_record() {
    return page_index_ < page_rows() ? page_->slots[page_index_].get() : nullptr;
}

bool sql_recordset::is_eof() { return page_index_ >= page_rows(); }

namespace {
[[gnu::noinline, gnu::cold]] void log_next() { tk_log(1, "sql_recordset::next"); }
[[gnu::noinline, gnu::cold, noreturn]] void no_stream() { throw tk_mail_assertion(recs_source, 292); }
}  // namespace

void sql_recordset::next() {
    if (tk_log_wants(1)) log_next();
    if (!stream_) no_stream();
    const size_t rows = page_rows();
    if (page_index_ >= rows) return;
    ++position_;
    // Within the page nothing more is done.
    if (++page_index_ < rows) return;
    next_page();
}

void sql_recordset::next_page() {
    if (stream_->at_end()) return;
    tk_log(2, "sql_recordset::clean");
    page_index_ = 0;
    stream_->store_to(page_.get());
}

void sql_recordset::prev() {
    tk_log(1, "sql_recordset::prev");
    if (position_ > 0 && page_index_ > 0) {
        --page_index_;
        --position_;
    }
}

// --- sql_tmp_recordset -------------------------------------------------------

sql_tmp_recordset::sql_tmp_recordset(MYSQL* connection, sql_result_ptr result)
    : udb_recordset(nullptr, std::wstring(), std::wstring(), true), connection_(connection) {
    tk_log(1, "sql_tmp_recordset::ctor1");
    if (!result) throw tk_mail_assertion(recs_source, 409);
    result_ = std::move(result);
    columns_ = sql_describe_columns(result_.get(), sql_blob_to_text());
    tk_log(1, "n_fields=%d", static_cast<int>(columns_.size()));
    initialize();
}

sql_tmp_recordset::sql_tmp_recordset(MYSQL* connection, const std::string& statement)
    : udb_recordset(nullptr, std::wstring(), std::wstring(), true), connection_(connection) {
    tk_log(1, "sql_tmp_recordset::ctor2(%s)", statement.c_str());
    result_ = sql_open_stream(connection_, statement);
    if (!result_) throw tk_mail_assertion(recs_source, 409);
    columns_ = sql_describe_columns(result_.get(), sql_blob_to_text());
    tk_log(1, "n_fields=%d", static_cast<int>(columns_.size()));
    initialize();
}

sql_tmp_recordset::~sql_tmp_recordset() {
    tk_log(1, "sql_tmp_recordset::dtor");
    result_.reset();
    tk_log(1, "sql_tmp_recordset::dtor - at the end");
}

void sql_tmp_recordset::initialize() {
    tk_log(1, "sql_tmp_recordset::initialize");
    if (!result_) throw tk_mail_assertion(recs_source, 409);
    fill_cache();
    tk_log(1, "sql_tmp_recordset::initialize - END");
}

void sql_tmp_recordset::fill_cache() {
    tk_log(1, "sql_tmp_recordset::fill_cache");
    count_ = 0;
    while (result_ && count_ < cache_size) {
        MYSQL_ROW row;
        try {
            row = sql_fetch_row(connection_, result_.get());
        } catch (...) {
            result_.reset();
            throw;
        }
        if (!row) {
            result_.reset();  // read to its end: the connection is free again
            break;
        }
        const unsigned long* lengths = sql_fetch_lengths(result_.get());
        if (count_ < records_.size())
            records_[count_]->assign_row(columns_, lengths, row);
        else
            records_.push_back(std::make_unique<sql_record>(columns_, lengths, row));
        ++count_;
    }
    tk_log(1, "records.size()=%d", static_cast<int>(count_));
    tk_log(1, "sql_tmp_recordset::fill_cache - END");
}

void sql_tmp_recordset::clean_cache() {
    tk_log(1, "sql_tmp_recordset::clean_cache");
    for (size_t i = 0; i < count_; ++i) records_[i]->clear_values();
    count_ = 0;
}

void sql_tmp_recordset::append_record(const udb_record&) { throw tk_mail_assertion(recs_source, 402); }

udb_record* sql_tmp_recordset::get_record() { return pos_ < count_ ? records_[pos_].get() : nullptr; }

bool sql_tmp_recordset::is_eof() {
    tk_log(1, "sql_tmp_recordset::is_eof: pos=%d, records.size=%d", static_cast<int>(pos_), static_cast<int>(count_));
    if (pos_ < count_) return false;
    clean_cache();
    fill_cache();
    pos_ = 0;
    tk_log(1, "New records.size=%d", static_cast<int>(count_));
    return count_ == 0;
}

sql_list_databases_rs::sql_list_databases_rs(MYSQL* connection)
    : sql_tmp_recordset(connection, std::string("SHOW DATABASES")) {
    tk_log(2, "sql_list_databases_rs::ctor");
}

sql_list_databases_rs::~sql_list_databases_rs() = default;

sql_list_tables_rs::sql_list_tables_rs(MYSQL* connection, const std::string& statement)
    : sql_tmp_recordset(connection, statement) {
    tk_log(2, "sql_list_tables_rs::ctor");
}

sql_list_tables_rs::~sql_list_tables_rs() = default;

std::unique_ptr<sql_tmp_recordset> sql_query_rows(MYSQL* connection, const std::wstring& statement) {
    sql_result_ptr result = sql_open_stream(connection, statement);
    if (!result) return nullptr;
    return std::make_unique<sql_tmp_recordset>(connection, std::move(result));
}
