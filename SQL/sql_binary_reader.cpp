#include "sql_binary_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include <errmsg.h>
#include <mysqld_error.h>

#include "real_text.h"
#include "sql_conn.h"
#include "sql_excep.h"
#include "sql_huge_text.h"
#include "sql_row_page.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {
// Values beyond this size are copied into a buffer of their own, which the
// record takes over.
constexpr size_t large_bytes = 1u << 20;
// The first server version whose text of a double is its shortest exact text.
constexpr unsigned long binary_min_version = 50500;

// A failed read of the binary stream: the statement's error, or the
// connection's when the failure was the connection's (a broken stream).
sql_exception stream_failure(MYSQL_STMT* stmt, MYSQL* connection) {
    if (mysql_stmt_errno(stmt) != 0) return sql_exception(stmt);
    return sql_exception(connection);
}

// A value of the row, least significant byte first.
template <class T>
T little(const unsigned char* at) {
    static_assert(std::endian::native == std::endian::little);
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// A length-coded number of the row; at moves past it.
uint64_t length_coded(const unsigned char*& at) {
    const unsigned char first = *at++;
    if (first < 251) return first;
    const int bytes = first == 252 ? 2 : first == 253 ? 3 : first == 254 ? 8 : 0;
    uint64_t v = 0;
    for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | at[k];
    at += bytes;
    return v;
}

// A date or time of the binary row (length bytes at `at`) in the form the
// client library gives a buffer of the column's own type.
void read_time(enum_field_types type, const unsigned char* at, uint64_t length, MYSQL_TIME& t) {
    t = MYSQL_TIME{};
    if (length == 0) return;
    if (type == MYSQL_TYPE_TIME) {
        t.neg = static_cast<my_bool>(at[0]);
        const unsigned int days = static_cast<unsigned int>(little<int32_t>(at + 1));
        t.time_type = MYSQL_TIMESTAMP_TIME;
        if (length > 4) {
            t.hour = at[5] + days * 24;
            t.minute = at[6];
            t.second = at[7];
        }
        if (length > 8) t.second_part = static_cast<unsigned long>(little<int32_t>(at + 8));
        return;
    }
    t.year = static_cast<unsigned int>(little<int16_t>(at));
    t.month = at[2];
    t.day = at[3];
    t.time_type = MYSQL_TIMESTAMP_DATE;
    if (type == MYSQL_TYPE_DATE) return;
    if (length > 4) {
        t.hour = at[4];
        t.minute = at[5];
        t.second = at[6];
        t.time_type = MYSQL_TIMESTAMP_DATETIME;
    }
    if (length > 7) t.second_part = static_cast<unsigned long>(little<int32_t>(at + 7));
}

// Whether every column of a result is read exactly by the binary protocol.
bool binary_fits(MYSQL_RES* meta) {
    const unsigned int n = mysql_num_fields(meta);
    const MYSQL_FIELD* fields = mysql_fetch_fields(meta);
    for (unsigned int i = 0; i < n; ++i)
        if (!sql_binary_protocol_fits(fields[i])) return false;
    return true;
}

bool same_types(MYSQL_RES* a, MYSQL_RES* b) {
    const unsigned int n = mysql_num_fields(a);
    if (mysql_num_fields(b) != n) return false;
    const MYSQL_FIELD* fa = mysql_fetch_fields(a);
    const MYSQL_FIELD* fb = mysql_fetch_fields(b);
    for (unsigned int i = 0; i < n; ++i)
        if (fa[i].type != fb[i].type) return false;
    return true;
}

// Whether a statement that failed to be prepared and run at once is read
// as text: not when it was stopped or its connection failed.
bool reads_as_text_after(unsigned int error) {
    switch (error) {
    case ER_QUERY_INTERRUPTED:
    case ER_CONNECTION_KILLED:
    case ER_STATEMENT_TIMEOUT:
        return false;
    default:
        // The client library's own failures (the connection's).
        return (error < CR_MIN_ERROR || error > CR_MAX_ERROR) && (error < CER_MIN_ERROR || error > CER_MAX_ERROR);
    }
}

}  // namespace

std::unique_ptr<sql_binary_reader> sql_binary_reader::open(MYSQL* connection, const std::string& statement,
                                                           bool& checked) {
    // Older servers wrote doubles with fewer digits than read back the same.
    if (mysql_get_server_version(connection) < binary_min_version) return nullptr;
    // Made before the statement, which closes first: its rows are dropped
    // while the reader lives.
    std::unique_ptr<sql_binary_reader> reader(new sql_binary_reader(connection));
    sql_stmt_ptr stmt(sql_take_statement(connection));
    if (!stmt) return nullptr;
    // No buffers are bound: every value is read from the row by take_value.
    if (mysql_stmt_attr_set(stmt.get(), STMT_ATTR_CB_USER_DATA, reader.get()) != 0 ||
        mysql_stmt_attr_set(stmt.get(), STMT_ATTR_CB_RESULT, reinterpret_cast<const void*>(&take_value)) != 0) {
        tk_log(2, "Reading by values failed, reading as text: %s", mysql_stmt_error(stmt.get()));
        return nullptr;
    }
    sql_notify_statement(statement);
    sql_result_ptr meta;
    const unsigned long length = static_cast<unsigned long>(statement.size());
    if (checked) {
        // Known to give rows (a table's SELECT): prepared and run in one
        // round trip.
        if (mariadb_stmt_execute_direct(stmt.get(), statement.data(), length) != 0) {
            if (!reads_as_text_after(mysql_stmt_errno(stmt.get()))) throw stream_failure(stmt.get(), connection);
            tk_log(2, "Prepare failed, reading as text: %s", mysql_stmt_error(stmt.get()));
            return nullptr;
        }
        meta.reset(mysql_stmt_result_metadata(stmt.get()));
        if (!meta || !binary_fits(meta.get())) {
            tk_log(2, "Not every column fits the binary protocol, reading as text");
            return nullptr;
        }
    } else {
        // Anything unusual goes the text way, which reports any real fault.
        if (mysql_stmt_prepare(stmt.get(), statement.data(), length) != 0) {
            tk_log(2, "Prepare failed, reading as text: %s", mysql_stmt_error(stmt.get()));
            return nullptr;
        }
        if (mysql_stmt_param_count(stmt.get()) != 0) return nullptr;
        meta.reset(mysql_stmt_result_metadata(stmt.get()));
        if (!meta) return nullptr;
        checked = true;
        if (!binary_fits(meta.get())) return nullptr;
        if (mysql_stmt_execute(stmt.get()) != 0) throw stream_failure(stmt.get(), connection);
        // The rows are read by the columns' types when prepared: a table
        // changed in between is read again as text.
        sql_result_ptr ran(mysql_stmt_result_metadata(stmt.get()));
        if (!ran || !same_types(ran.get(), meta.get())) {
            tk_log(2, "The columns changed when run, reading as text");
            return nullptr;
        }
    }
    const unsigned int n = mysql_num_fields(meta.get());
    const MYSQL_FIELD* fields = mysql_fetch_fields(meta.get());
    reader->columns_.assign(n, column());
    for (unsigned int i = 0; i < n; ++i) {
        const MYSQL_FIELD& f = fields[i];
        column& c = reader->columns_[i];
        c.type = f.type;
        c.decimals = f.decimals;
        if (const sql_integer_type* integer = sql_integer_type_of(f.type)) {
            const bool u = (f.flags & UNSIGNED_FLAG) != 0;
            c.kind = u ? sql_cell::uint64 : sql_cell::int64;
            // On the wire in the width of the column's own buffer type.
            switch (integer->buffer_type) {
            case MYSQL_TYPE_TINY: c.read = u ? column::read_uint8 : column::read_int8; break;
            case MYSQL_TYPE_SHORT: c.read = u ? column::read_uint16 : column::read_int16; break;
            case MYSQL_TYPE_LONG: c.read = u ? column::read_uint32 : column::read_int32; break;
            default: c.read = column::read_int64; break;
            }
            continue;
        }
        switch (f.type) {
        case MYSQL_TYPE_DOUBLE:
        case MYSQL_TYPE_FLOAT:
            c.read = f.type == MYSQL_TYPE_FLOAT ? column::read_real4 : column::read_real8;
            c.kind = sql_cell::real8;
            if (f.decimals >= sql_no_fixed_decimals && f.type == MYSQL_TYPE_DOUBLE) break;
            // The value read from the server's text of it, as the text
            // protocol sends it.
            c.text = f.decimals >= sql_no_fixed_decimals ? column::float_text : column::fixed_text;
            if (f.flags & ZEROFILL_FLAG) c.zero_width = f.length;
            c.bytes.resize(sql_fixed_text_bytes + c.zero_width);
            break;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_TIME:
            c.temporal = true;
            c.read = column::read_time;
            break;
        case MYSQL_TYPE_NULL:
            c.read = column::read_nothing;
            break;
        default:
            break;
        }
    }
    reader->plan_rows();
    reader->fields_ = fields;
    reader->field_count_ = n;
    reader->meta_ = std::move(meta);
    reader->cells_.assign(n, sql_cell());
    reader->null_bits_.assign((n + 63) / 64, 0);
    reader->stmt_ = std::move(stmt);
    tk_log(1, "Reading by the binary protocol");
    return reader;
}

double sql_binary_reader::column::real_of_text() {
    char* const out = bytes.data();
    const size_t n = text == float_text ? sql_float_text(real4, out)
                     : type == MYSQL_TYPE_FLOAT ? sql_fixed_text(real4, decimals, out)
                                                : sql_fixed_text(real, decimals, out);
    return sql_real_of_text(type == MYSQL_TYPE_FLOAT, out, sql_zero_fill(out, n, zero_width));
}

void sql_binary_reader::close() {
    if (!stmt_) return;
    // The descriptions are the statement's.
    fields_ = nullptr;
    meta_.reset();
    if (ended_ && !mysql_stmt_more_results(stmt_.get())) sql_keep_statement(connection_, stmt_.release());
    else stmt_.reset();
}

sql_cell sql_binary_reader::shape(size_t i) const {
    const column& c = columns_[i];
    sql_cell shape;
    shape.kind = c.temporal ? sql_cell::temporal : c.kind;
    if (c.temporal) {
        shape.time_type = c.type;
        shape.decimals = c.decimals;
    }
    return shape;
}

void sql_binary_reader::take_value(void* reader, unsigned int i, unsigned char** row) {
    sql_binary_reader& self = *static_cast<sql_binary_reader*>(reader);
    column& c = self.columns_[i];
    if (!row) {
        c.is_null = 1;
        return;
    }
    c.is_null = 0;
    const unsigned char* at = *row;
    switch (c.read) {
    case column::read_int8: c.integer = static_cast<int8_t>(at[0]); ++at; break;
    case column::read_uint8: c.integer = at[0]; ++at; break;
    case column::read_int16: c.integer = little<int16_t>(at); at += 2; break;
    case column::read_uint16: c.integer = little<uint16_t>(at); at += 2; break;
    case column::read_int32: c.integer = little<int32_t>(at); at += 4; break;
    case column::read_uint32: c.integer = little<uint32_t>(at); at += 4; break;
    case column::read_int64: c.integer = little<int64_t>(at); at += 8; break;
    case column::read_real4: c.real4 = little<float>(at); at += 4; break;
    case column::read_real8: c.real = little<double>(at); at += 8; break;
    case column::read_nothing: break;
    case column::read_time: {
        const uint64_t length = length_coded(at);
        read_time(c.type, at, length, c.time);
        at += length;
        break;
    }
    case column::read_bytes: {
        const uint64_t length = length_coded(at);
        c.data = reinterpret_cast<const char*>(at);
        c.length = static_cast<unsigned long>(length);
        at += length;
        break;
    }
    }
    *row = const_cast<unsigned char*>(at);
    self.row_end_ = at;
}

bool sql_binary_reader::huge_reads_as_text(size_t i) {
    // The pieces come from the value in the received row.
    struct pieces final : sql_value_pieces {
        explicit pieces(const column& c) : value(c) {}
        void read(char* buffer, size_t n, size_t offset) override {
            if (offset > value.length || n > value.length - offset) throw tk_mail_assertion("sql_binary_reader", 2);
            std::memcpy(buffer, value.data + offset, n);
        }
        const column& value;
    } from_row(columns_[i]);
    return sql_huge_reads_as_text(columns_[i].length, from_row);
}

void sql_binary_reader::drop_huge() {
    // What a record did not take of the last huge values goes.
    huge_held_ = false;
    for (column& c : columns_) {
        if (!c.huge_text.empty()) std::string().swap(c.huge_text);
        if (!c.huge_bytes.empty()) std::vector<uint8_t>().swap(c.huge_bytes);
    }
}

inline bool sql_binary_reader::next_row() {
    const int rc = mysql_stmt_fetch(stmt_.get());
    if (rc == MYSQL_NO_DATA) {
        ended_ = true;
        return false;
    }
    if (rc != 0) throw stream_failure(stmt_.get(), connection_);
    if (huge_held_) drop_huge();
    return true;
}

void sql_binary_reader::fetch_huge(size_t i, const sql_columns& columns, std::string*& text,
                                   std::vector<uint8_t>*& bytes) {
    column& c = columns_[i];
    const sql_cell_kind kind = columns[i].rule.kind;
    if (kind == sql_cell_kind::text || (kind == sql_cell_kind::bytes_or_text && huge_reads_as_text(i))) {
        c.huge_text.assign(c.data, c.length);
        text = &c.huge_text;
    } else {
        c.huge_bytes.assign(c.data, c.data + c.length);
        bytes = &c.huge_bytes;
    }
    huge_held_ = true;
}

bool sql_binary_reader::fetch(const sql_columns& columns, size_t& row_bytes) {
    if (!next_row()) return false;
    // Kept in locals: stores to the cells could otherwise be taken for
    // stores to the count or the reader's own fields.
    size_t bytes = 0;
    const size_t count = columns_.size();
    // The first 64 columns' NULL bits in a local word, those beyond in place.
    uint64_t* const nulls = null_bits_.data();
    uint64_t first_nulls = 0;
    if (count > 64) std::fill(nulls + 1, nulls + null_bits_.size(), uint64_t{0});
    for (size_t i = 0; i < count; ++i) {
        column& c = columns_[i];
        sql_cell& cell = cells_[i];
        if (c.is_null) {
            cell.kind = sql_cell::null;
            if (i < 64) first_nulls |= uint64_t{1} << i;
            else nulls[i >> 6] |= uint64_t{1} << (i & 63);
            continue;
        }
        switch (c.kind) {
        case sql_cell::int64:
            cell.kind = sql_cell::int64;
            cell.i = c.integer;
            bytes += 8;
            continue;
        case sql_cell::uint64:
            cell.kind = sql_cell::uint64;
            cell.u = static_cast<uint64_t>(c.integer);
            bytes += 8;
            continue;
        case sql_cell::real8:
            cell.kind = sql_cell::real8;
            cell.d = c.text == column::no_text ? c.real : c.real_of_text();
            bytes += 8;
            continue;
        default:
            break;
        }
        if (c.temporal) {
            cell.kind = sql_cell::temporal;
            cell.time = &c.time;
            cell.time_type = c.type;
            cell.decimals = c.decimals;
            bytes += 8;
            continue;
        }
        cell.kind = sql_cell::bytes;
        cell.text_owner = nullptr;
        cell.bytes_owner = nullptr;
        if (c.length > large_bytes) {
            // A huge value: copied once into a buffer of its own that the
            // record takes over.
            fetch_huge(i, columns, cell.text_owner, cell.bytes_owner);
            cell.data = cell.text_owner ? cell.text_owner->data()
                                        : reinterpret_cast<const char*>(cell.bytes_owner->data());
            cell.length = c.length;
            bytes += cell.length;
            continue;
        }
        cell.data = c.data;
        cell.length = c.length;
        bytes += cell.length;
    }
    if (count) nulls[0] = first_nulls;
    row_bytes = bytes;
    return true;
}

namespace {

// A double, its shortest digits and their point, as the row layout packs
// them (sql_cell): the caller's thread writes the value's text from the
// digits. A float's value goes without them (it is written as a float).
// Out of line: the row loop calls nothing for columns of other types.
[[gnu::noinline]] void put_real(char* slot, double value, bool with_digits) {
    uint64_t digits = 0;
    int point = 0;
    int64_t at = sql_cell::no_point;
    if (with_digits && plat::shortest_digits(value, digits, point)) at = point;
    std::memcpy(slot, &value, sizeof value);
    std::memcpy(slot + sizeof(uint64_t), &digits, sizeof digits);
    std::memcpy(slot + 2 * sizeof(uint64_t), &at, sizeof at);
}

}  // namespace

void sql_binary_reader::plan_rows() {
    // As sql_row_layout: counted bytes, NULL words, numbers, times, bytes.
    const size_t count = columns_.size();
    uint32_t numbers = 0, times = 0;
    for (const column& c : columns_) {
        if (c.kind == sql_cell::int64 || c.kind == sql_cell::uint64) ++numbers;
        else if (c.kind == sql_cell::real8) numbers += 3;  // the value, its digits and their point
        else if (c.temporal) ++times;
    }
    uint32_t number_at = static_cast<uint32_t>(sizeof(uint64_t) * (1 + (count + 63) / 64));
    uint32_t time_at = number_at + numbers * static_cast<uint32_t>(sizeof(uint64_t));
    fixed_bytes_ = time_at + times * sizeof(MYSQL_TIME);
    for (column& c : columns_) {
        if (c.kind == sql_cell::int64 || c.kind == sql_cell::uint64) {
            c.put = column::put_integer;
        } else if (c.kind == sql_cell::real8) {
            c.put = c.text == column::no_text ? column::put_real8 : column::put_real_of_text;
        } else if (c.temporal) {
            c.put = column::put_time;
            c.slot = time_at;
            time_at += sizeof(MYSQL_TIME);
            continue;
        } else {
            c.put = column::put_bytes;
            continue;
        }
        c.slot = number_at;
        number_at += (c.kind == sql_cell::real8 ? 3 : 1) * sizeof(uint64_t);
    }
}

bool sql_binary_reader::fetch_into(const sql_columns& columns, const sql_row_layout& layout, sql_row_page& page) {
    if (layout.size() != columns_.size() || layout.fixed_bytes() != fixed_bytes_)
        throw tk_mail_assertion("sql_binary_reader", 1);
    if (!next_row()) return false;
    // Room for the fixed part at once, then for each bytes cell as it comes.
    const size_t start = page.used();
    const size_t fixed = fixed_bytes_;
    char* base = page.capacity() - start >= fixed ? page.data() : page.room_at(start, fixed);
    size_t end = page.capacity();
    size_t at = start + fixed;
    auto need = [&](size_t n) {
        if (end - at >= n) return;
        base = page.room_at(at, n);
        end = page.capacity();
    };
    column* const cols = columns_.data();
    const size_t count = columns_.size();
    constexpr size_t nulls_at = sizeof(uint64_t);
    if (count > 64) std::memset(base + start + nulls_at + sizeof(uint64_t), 0, ((count - 1) / 64) * sizeof(uint64_t));
    uint64_t first_nulls = 0;
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        column& c = cols[i];
        char* const slot = base + start + c.slot;
        if (c.is_null) {
            if (i < 64) {
                first_nulls |= uint64_t{1} << i;
            } else {
                uint64_t word;
                char* const w = base + start + nulls_at + (i >> 6) * sizeof(uint64_t);
                std::memcpy(&word, w, sizeof word);
                word |= uint64_t{1} << (i & 63);
                std::memcpy(w, &word, sizeof word);
            }
            if (c.put == column::put_integer) std::memset(slot, 0, sizeof(uint64_t));
            else if (c.put <= column::put_real_of_text) std::memset(slot, 0, 3 * sizeof(uint64_t));
            continue;
        }
        int64_t number;
        switch (c.put) {
        case column::put_integer: number = c.integer; break;
        case column::put_real8:
            put_real(slot, c.real, true);
            bytes += 8;
            continue;
        case column::put_time:
            std::memcpy(slot, &c.time, sizeof(MYSQL_TIME));
            bytes += 8;
            continue;
        case column::put_real_of_text:
            put_real(slot, c.real_of_text(), c.type != MYSQL_TYPE_FLOAT);
            bytes += 8;
            continue;
        default: {
            if (c.length > large_bytes) {
                // A huge value: copied once into a buffer of its own that
                // the page takes over.
                std::string* text = nullptr;
                std::vector<uint8_t>* huge = nullptr;
                fetch_huge(i, columns, text, huge);
                need(1 + sizeof(uint64_t));
                const uint32_t index = text ? page.keep_huge(*text) : page.keep_huge(*huge);
                base[at] = static_cast<char>(text ? sql_row_page::bytes_huge_text_mark : sql_row_page::bytes_huge_mark);
                std::memcpy(base + at + 1, &index, sizeof index);
                at += 1 + sizeof index;
                bytes += c.length;
                continue;
            }
            const size_t length = c.length;
            if (length < sql_row_page::bytes_long_mark) {
                // Copied in whole steps while they stay within the received
                // row; the page's bytes beyond the row are free.
                constexpr size_t step = 32;
                const size_t whole = (length + step - 1) / step * step;
                need(1 + whole);
                char* const out = base + at;
                out[0] = static_cast<char>(length);
                const char* const from = c.data;
                if (reinterpret_cast<const unsigned char*>(from) + whole <= row_end_) {
                    for (size_t k = 0; k < length; k += step) std::memcpy(out + 1 + k, from + k, step);
                } else {
                    std::memcpy(out + 1, from, length);
                }
                at += 1 + length;
            } else {
                need(1 + sizeof(uint64_t) + length);
                char* const out = base + at;
                out[0] = static_cast<char>(sql_row_page::bytes_long_mark);
                const uint64_t n = length;
                std::memcpy(out + 1, &n, sizeof n);
                std::memcpy(out + 1 + sizeof n, c.data, length);
                at += 1 + sizeof n + length;
            }
            bytes += length;
            continue;
        }
        }
        std::memcpy(slot, &number, sizeof number);
        bytes += 8;
    }
    const uint64_t counted = bytes;
    std::memcpy(base + start, &counted, sizeof counted);
    if (count) std::memcpy(base + start + nulls_at, &first_nulls, sizeof first_nulls);
    page.end_row(at, bytes);
    return true;
}
