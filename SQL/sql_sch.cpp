#include "sql_sch.h"

#include "sql_engi.h"
#include "sql_tnames.h"
#include "sql_util.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_names_map.h"
#include "udb_record.h"
#include "udb_vali.h"

namespace {

// Bytes of a character in the widest character set of new columns.
constexpr uint32_t char_bytes = 4;
// What InnoDB keeps in the page of a column stored outside it.
constexpr uint32_t page_reference_bytes = 21;
// Longer columns may leave the page.
constexpr uint32_t max_page_column_bytes = 255;

uint32_t decimal_bytes(int32_t precision, int32_t scale) {
    static const uint32_t partial[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
    const int32_t whole = precision - scale;
    return static_cast<uint32_t>(whole / 9 * 4 + partial[whole % 9] + scale / 9 * 4 + partial[scale % 9]);
}

// Maximum bytes of a variable-length string column, and its length bytes.
uint32_t var_bytes(uint32_t bytes) { return bytes + (bytes > 255 ? 2 : 1); }

// Strings and binary strings kept in the row; size 0 makes them LONGTEXT or
// LONGBLOB.
bool is_lob_candidate(const t_ftd& d) {
    const sql_column_type t = sql_column_type_of(d);
    return t.index == sql_t_varchar || t.index == sql_t_char || t.index == sql_t_varbinary;
}

bool is_nullable(const t_ftd& d) { return !d.b_not_null && !d.auto_increment; }

}  // namespace

// --- Column shares -------------------------------------------------------------

uint32_t sql_schema::row_bytes_of(const t_ftd& d) {
    const sql_column_type t = sql_column_type_of(d);
    switch (t.index) {
    case sql_t_tinyint:
    case sql_t_tinyint_unsigned: return 1;
    case sql_t_smallint:
    case sql_t_smallint_unsigned: return 2;
    case sql_t_int:
    case sql_t_int_unsigned:
    case sql_t_float:
    case sql_t_timestamp: return 4;
    case sql_t_bigint:
    case sql_t_bigint_unsigned:
    case sql_t_double:
    case sql_t_datetime: return 8;
    case sql_t_date: return 3;
    case sql_t_time: return 6;
    case sql_t_decimal: return decimal_bytes(t.precision, t.scale);
    case sql_t_char: return t.length * char_bytes;
    case sql_t_varchar: return var_bytes(t.length * char_bytes);
    case sql_t_varbinary: return var_bytes(t.length);
    case sql_t_tinyblob:
    case sql_t_tinytext: return 9;
    case sql_t_blob:
    case sql_t_text: return 10;
    case sql_t_mediumblob:
    case sql_t_mediumtext: return 11;
    case sql_t_longblob:
    case sql_t_longtext:
    case sql_t_geometry: return 12;
    default: return 8;
    }
}

uint32_t sql_schema::page_bytes_of(const t_ftd& d) {
    const sql_column_type t = sql_column_type_of(d);
    uint32_t bytes = 0;
    switch (t.index) {
    case sql_t_char: bytes = t.length * char_bytes; break;
    case sql_t_varchar: bytes = t.length * char_bytes; break;
    case sql_t_varbinary: bytes = t.length; break;
    case sql_t_tinyblob:
    case sql_t_tinytext:
    case sql_t_blob:
    case sql_t_text:
    case sql_t_mediumblob:
    case sql_t_mediumtext:
    case sql_t_longblob:
    case sql_t_longtext:
    case sql_t_geometry: return page_reference_bytes;
    default: return row_bytes_of(d);
    }
    return bytes > max_page_column_bytes ? page_reference_bytes : bytes + 1;
}

// --- sql_schema --------------------------------------------------------------------

sql_schema::sql_schema() : udb_schema(true) { tk_log(2, "sql_schema::ctor"); }

sql_schema::~sql_schema() = default;

void sql_schema::push_back(t_ftd* descriptor) {
    if (!descriptor) throw tk_mail_assertion("sql_sch", 24);
    std::unique_ptr<t_ftd> d(descriptor);
    if (tk_log_wants(2)) tk_wlog(2, L"sql_schema::push_back(%s, size=%d)", d->name.c_str(), static_cast<int>(d->size));

    const auto position = static_cast<uint32_t>(size());
    size_t lobs_pos = lobs_.size();
    const bool candidate = is_lob_candidate(*d);
    const uint32_t row = row_bytes_of(*d);
    if (candidate) {
        tk_log(2, "Special processing for string values");
        // Ordered by their share of the row; a new column goes before equal ones.
        lobs_pos = 0;
        while (lobs_pos < lobs_.size() && row_bytes_of(*at(lobs_[lobs_pos])) > row) ++lobs_pos;
        tk_log(2, "Insert new column into 'lobs' at pos=%d", static_cast<int>(lobs_pos));
        lobs_.insert(lobs_.begin() + static_cast<std::ptrdiff_t>(lobs_pos), position);
    }
    const uint32_t page = page_bytes_of(*d);
    const bool nullable = is_nullable(*d);
    try {
        udb_schema::push_back(std::move(d));  // deleted there when adding it fails
    } catch (...) {
        if (candidate) lobs_.erase(lobs_.begin() + static_cast<std::ptrdiff_t>(lobs_pos));
        throw;
    }
    row_bytes_ += row;
    page_bytes_ += page;
    if (nullable) ++nullable_;
    shrink();
}

void sql_schema::shrink() {
    // A converted column takes a LONGTEXT's (or LONGBLOB's) share: only
    // larger ones give room.
    t_ftd longtext;
    longtext.vartype = VT_BSTR;
    const uint32_t longtext_row = row_bytes_of(longtext);
    const uint32_t longtext_page = page_bytes_of(longtext);

    if (get_total_size() > max_row_bytes) {
        tk_log(2, "Schema total size %d exceeds %d bytes, transforming schema...", static_cast<int>(get_total_size()),
               static_cast<int>(max_row_bytes));
        // The largest column stands first: when it gives no room, none does.
        while (!lobs_.empty() && get_total_size() > max_row_bytes && row_bytes_of(*at(lobs_.front())) > longtext_row)
            convert(0);
    }
    if (page_limit_ && get_page_size() > max_page_bytes) {
        tk_log(2, "Schema page size %d exceeds %d bytes, transforming schema...", static_cast<int>(get_page_size()),
               static_cast<int>(max_page_bytes));
        // Only columns kept whole inside the page give room there.
        size_t i = 0;
        while (i < lobs_.size() && get_page_size() > max_page_bytes) {
            if (page_bytes_of(*at(lobs_[i])) > longtext_page)
                convert(i);
            else
                ++i;
        }
    }
}

void sql_schema::convert(size_t lobs_pos) {
    t_ftd& d = *at(lobs_[lobs_pos]);
    if (tk_log_wants(3))
        tk_wlog(3, d.vartype == VT_BSTR ? L"Column '%s' converted into LONG TEXT" : L"Column '%s' converted into LONG BLOB",
                d.name.c_str());
    const uint32_t old_row = row_bytes_of(d);
    const uint32_t old_page = page_bytes_of(d);
    d.size = 0;
    d.native_type.clear();
    const uint32_t new_row = row_bytes_of(d);
    const uint32_t new_page = page_bytes_of(d);
    tk_log(2, "Decreasing total size at %d bytes", static_cast<int>(old_row) - static_cast<int>(new_row));
    row_bytes_ = row_bytes_ - old_row + new_row;
    page_bytes_ = page_bytes_ - old_page + new_page;
    tk_log(2, "New total_size = %d", static_cast<int>(get_total_size()));
    lobs_.erase(lobs_.begin() + static_cast<std::ptrdiff_t>(lobs_pos));
}

// --- sql_field_finder ------------------------------------------------------------------

sql_field_finder::sql_field_finder(const std::wstring& table, const udb_record& record,
                                   const udb_names_map* names_map)
    : validator_(sql_engine::ptr()->create_fn_validator(record)), table_(table), names_map_(names_map) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_field_finder::ctor(%s)", table_.c_str());
    initialize(record);
}

sql_field_finder::~sql_field_finder() = default;

void sql_field_finder::initialize(const udb_record& record) {
    tk_log(1, "sql_field_finder::initialize");
    original_names_.reserve(original_names_.size() + record.size());
    target_names_.reserve(target_names_.size() + record.size());
    // Names as table creation made them: its own validator, fresh for the record.
    std::unique_ptr<udb_validator> namer = sql_engine::ptr()->create_fn_validator(record);
    for (const udb_field* f : record) {
        const std::wstring name = f ? f->get_name() : std::wstring();
        const std::wstring original = names_map_ ? names_map_->get_fn_orig_name(table_, name, true) : name;
        if (tk_log_wants(1)) tk_wlog(1, L"Name=%s, original name=%s", name.c_str(), original.c_str());
        original_names_.push_back(original);
        validator_->add_restricted_name(original);

        std::wstring target = names_map_ ? names_map_->get_fn_mapped_name(table_, name) : name;
        if (!namer->is_acceptable(target)) {
            target = namer->get_safe_name(target);
            namer->add_existing_name(target);
            if (tk_log_wants(1)) tk_wlog(1, L"Name=%s, mapped name=%s", name.c_str(), target.c_str());
        }
        target_names_.push_back(std::move(target));
    }
}

int32_t sql_field_finder::get_column_field_idx(const std::wstring& column) const {
    const int32_t i = get_field_idx(column);
    if (i >= 0) return i;
    for (size_t k = 0; k < target_names_.size(); ++k)
        if (plat::equal_nocase(target_names_[k], column)) return static_cast<int32_t>(k);
    return -1;
}

int32_t sql_field_finder::get_field_idx(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_field_finder::get_field_idx(%s)", name.c_str());
    for (size_t i = 0; i < original_names_.size(); ++i)
        if (plat::equal_nocase(original_names_[i], name)) return static_cast<int32_t>(i);
    return -1;
}
