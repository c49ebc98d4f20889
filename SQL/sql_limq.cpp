#include "sql_limq.h"

#include <errmsg.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <utility>

#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_stmt_kind.h"
#include "sql_query_kind.h"
#include "sql_types.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "utf8.h"

namespace {
constexpr const char* limq_source = "sql_limq";
// Buffers of string and BLOB columns of the binary stream: their first size,
// and the size beyond which a buffer is given back once its value has gone.
constexpr size_t initial_bytes = 256;
constexpr size_t large_bytes = 1u << 20;
// The first server version whose text of a double is its shortest exact text.
constexpr unsigned long binary_min_version = 50500;

// A failed read of the binary stream: the statement's error, or the
// connection's when the failure was the connection's (a broken stream).
sql_exception stream_failure(MYSQL_STMT* stmt, MYSQL* connection) {
    if (mysql_stmt_errno(stmt) != 0) return sql_exception(stmt);
    return sql_exception(connection);
}

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v'; }

// Position of the last character that is neither blank nor inside a comment;
// npos when there is none.
size_t last_significant(const std::wstring& q) {
    size_t last = std::wstring::npos;
    const size_t n = q.size();
    size_t i = 0;
    while (i < n) {
        const wchar_t c = q[i];
        if (c == L'\'' || c == L'"' || c == L'`') {
            // A quoted string or name: to its closing quote (doubled quotes and,
            // outside backquotes, backslash escapes stay inside).
            size_t j = i + 1;
            while (j < n) {
                if (c != L'`' && q[j] == L'\\') {
                    j += 2;
                    continue;
                }
                if (q[j] == c) {
                    if (j + 1 < n && q[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            last = j < n ? j : n - 1;
            i = j + 1;
            continue;
        }
        if (c == L'#' || (c == L'-' && i + 1 < n && q[i + 1] == L'-' && (i + 2 == n || is_blank(q[i + 2])))) {
            while (i < n && q[i] != L'\n') ++i;
            continue;
        }
        if (c == L'/' && i + 1 < n && q[i + 1] == L'*' && !(i + 2 < n && q[i + 2] == L'!')) {
            const size_t end = q.find(L"*/", i + 2);
            i = end == std::wstring::npos ? n : end + 2;
            continue;
        }
        if (!is_blank(c)) last = i;
        ++i;
    }
    return last;
}

}  // namespace

std::wstring sql_strip_query_end(const std::wstring& query) {
    std::wstring q = query;
    for (;;) {
        const size_t last = last_significant(q);
        if (last == std::wstring::npos || q[last] != L';') break;
        q.erase(last, 1);
    }
    while (!q.empty() && is_blank(q.back())) q.pop_back();
    return q;
}

std::wstring sql_select_statement(const std::wstring& name_or_query, bool is_query) {
    if (is_query) {
        tk_log(1, "...as query");
        // As written: a wrapping derived table would lose its ORDER BY and
        // refuse duplicate column names and statements other than SELECT.
        return sql_strip_query_end(name_or_query);
    }
    tk_log(1, "...as table");
    return L"SELECT * FROM " + sql_engine::get_safe_name(name_or_query);
}

void sql_page::clear() {
    clear_from(0, count);
    recycle();
}

void sql_page::recycle() {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] > reuse_limit) slots[i].reset();
        bytes[i] = 0;
    }
    count = 0;
}

void sql_page::clear_from(size_t first, size_t last) {
    for (size_t i = first; i < last && i < max_rows; ++i)
        if (slots[i]) slots[i]->clear_values();
}

sql_limited_query::sql_limited_query(MYSQL* connection, const std::wstring& name_or_query, bool is_query,
                                     bool blob_to_text, bool text_only)
    : connection_(connection), socket_(static_cast<int>(mysql_get_socket(connection))) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_limited_query::sql_limited_query(%s)", name_or_query.c_str());
    const std::wstring statement = sql_select_statement(name_or_query, is_query);
    if (tk_log_wants(1)) tk_wlog(1, L"sql_database::do_query2(%s)", statement.c_str());
    const std::string utf8 = tk_to_utf8(statement);
    // A stored query runs only once the server has said that it gives rows:
    // a statement that changes data is refused without being run.
    bool checked = !is_query;
    if (text_only || !open_binary(utf8, blob_to_text, checked)) {
        if (!checked) sql_check_gives_rows(connection_, utf8);
        result_ = sql_open_stream(connection_, std::string_view(utf8));
        if (!result_) throw sql_exception(std::string("The statement returned no rows"), CR_UNKNOWN_ERROR);
        columns_ = sql_describe_columns(result_.get(), blob_to_text);
        fields_ = mysql_fetch_fields(result_.get());
        field_count_ = mysql_num_fields(result_.get());
    }
    names_serial_ = sql_record::new_names_serial();
    tk_log(1, "sql_limited_query - at the end");
}

sql_limited_query::~sql_limited_query() {
    tk_log(2, "sql_limited_query::~sql_limited_query");
    close();
}

void sql_limited_query::close() {
    // The receiving thread ends before the stream is touched here.
    if (receiving_) {
        queue_.stop();
        receiving_ = false;
        raw_ = nullptr;
    }
    close_stream();
}

bool sql_limited_query::is_open() const {
    // While the thread receives, the stream is its own: only the queue tells.
    if (receiving_) return !queue_.ended();
    return result_ || stmt_;
}

bool sql_limited_query::cut() {
    if (!is_open()) return false;
    tk_log(2, "sql_limited_query::cut - the rows left are not read");
    // A receiver waiting for the server returns at once, and closing finds
    // nothing to read.
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    close();
    return true;
}

void sql_limited_query::close_stream() {
    if (stmt_) {
        stmt_.reset();  // unread rows are read and dropped, then the statement is closed
        return;
    }
    if (!result_) return;
    result_.reset();  // unread rows are read and dropped
    try {
        sql_drop_more_results(connection_);
    } catch (const tk_exception& e) {
        tk_log(2, "ERROR: %s", e.what());
    }
}

void sql_describe_prepared(MYSQL* connection, const std::string& statement,
                           const std::function<void(const MYSQL_FIELD*, unsigned int)>& describe) {
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) throw sql_exception(connection);
    sql_notify_statement(statement);
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        throw sql_exception(stmt.get());
    if (mysql_stmt_field_count(stmt.get()) == 0) throw sql_exception(sql_no_rows_reason(statement), CR_UNKNOWN_ERROR);
    if (!describe) return;
    // The metadata's fields live in the statement: described before it closes.
    sql_result_ptr meta(mysql_stmt_result_metadata(stmt.get()));
    if (!meta) throw sql_exception(stmt.get());
    describe(mysql_fetch_fields(meta.get()), mysql_num_fields(meta.get()));
}

std::string sql_query_problem(MYSQL* connection, const std::string& statement) {
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) {
        const std::string text = mysql_error(connection);
        return text.empty() ? std::string("The query cannot be prepared.") : text;
    }
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        return mysql_stmt_error(stmt.get());
    if (mysql_stmt_param_count(stmt.get()) != 0) return "The query has parameter markers.";
    if (mysql_stmt_field_count(stmt.get()) == 0) return "The query returns no columns.";
    return sql_reading_problem(statement);
}

void sql_check_gives_rows(MYSQL* connection, const std::string& statement) {
    sql_describe_prepared(connection, statement, nullptr);
}

bool sql_limited_query::open_binary(const std::string& statement, bool blob_to_text, bool& checked) {
    // Older servers wrote doubles with fewer digits than read back the same.
    if (mysql_get_server_version(connection_) < binary_min_version) return false;
    sql_stmt_ptr stmt(mysql_stmt_init(connection_));
    if (!stmt) return false;
    sql_notify_statement(statement);
    // Anything unusual goes the text way, which reports any real fault.
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0) {
        tk_log(2, "Prepare failed, reading as text: %s", mysql_stmt_error(stmt.get()));
        return false;
    }
    if (mysql_stmt_param_count(stmt.get()) != 0) return false;
    sql_result_ptr meta(mysql_stmt_result_metadata(stmt.get()));
    if (!meta) return false;
    checked = true;
    const unsigned int n = mysql_num_fields(meta.get());
    const MYSQL_FIELD* fields = mysql_fetch_fields(meta.get());
    for (unsigned int i = 0; i < n; ++i)
        if (!sql_binary_protocol_fits(fields[i])) return false;

    binary_columns_.assign(n, binary_column());
    for (unsigned int i = 0; i < n; ++i) {
        const MYSQL_FIELD& f = fields[i];
        binary_column& c = binary_columns_[i];
        c.type = f.type;
        c.decimals = f.decimals;
        if (const sql_integer_type* integer = sql_integer_type_of(f.type)) {
            c.kind = (f.flags & UNSIGNED_FLAG) ? sql_cell::uint64 : sql_cell::int64;
            c.buffer_type = integer->buffer_type;
            continue;
        }
        switch (f.type) {
        case MYSQL_TYPE_DOUBLE:
            c.kind = sql_cell::real8;
            break;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_TIME:
            c.temporal = true;
            break;
        default:
            c.bytes.resize(initial_bytes);
            break;
        }
    }
    bind_buffers();
    if (mysql_stmt_bind_result(stmt.get(), binds_.data()) != 0) {
        tk_log(2, "Binding failed, reading as text: %s", mysql_stmt_error(stmt.get()));
        return false;
    }
    if (mysql_stmt_execute(stmt.get()) != 0) throw stream_failure(stmt.get(), connection_);
    columns_ = sql_describe_columns(fields, n, blob_to_text);
    fields_ = fields;
    field_count_ = n;
    meta_ = std::move(meta);
    cells_.assign(n, sql_cell());
    stmt_ = std::move(stmt);
    binary_ = true;
    tk_log(1, "Reading by the binary protocol");
    return true;
}

void sql_limited_query::bind_buffers() {
    binds_.assign(binary_columns_.size(), MYSQL_BIND{});
    for (size_t i = 0; i < binary_columns_.size(); ++i) {
        binary_column& c = binary_columns_[i];
        MYSQL_BIND& b = binds_[i];
        b.is_null = &c.is_null;
        b.error = &c.error;
        b.length = &c.length;
        if (c.kind == sql_cell::int64 || c.kind == sql_cell::uint64) {
            // The column's own width: the library then copies the value as it is.
            b.buffer_type = c.buffer_type;
            b.buffer = &c.integer;
            b.is_unsigned = c.kind == sql_cell::uint64;
        } else if (c.kind == sql_cell::real8) {
            b.buffer_type = MYSQL_TYPE_DOUBLE;
            b.buffer = &c.real;
        } else if (c.temporal) {
            b.buffer_type = c.type;
            b.buffer = &c.time;
        } else {
            b.buffer_type = MYSQL_TYPE_BLOB;
            b.buffer = c.bytes.data();
            b.buffer_length = static_cast<unsigned long>(c.bytes.size());
        }
    }
}

int64_t sql_limited_query::signed_integer(const binary_column& c) {
    switch (c.buffer_type) {
    case MYSQL_TYPE_TINY: return c.int8;
    case MYSQL_TYPE_SHORT: return c.int16;
    case MYSQL_TYPE_LONG: return c.int32;
    default: return c.integer;
    }
}

uint64_t sql_limited_query::unsigned_integer(const binary_column& c) {
    switch (c.buffer_type) {
    case MYSQL_TYPE_TINY: return static_cast<uint8_t>(c.int8);
    case MYSQL_TYPE_SHORT: return static_cast<uint16_t>(c.int16);
    case MYSQL_TYPE_LONG: return static_cast<uint32_t>(c.int32);
    default: return static_cast<uint64_t>(c.integer);
    }
}

bool sql_limited_query::huge_reads_as_text(MYSQL_BIND bind, size_t column, unsigned long length) {
    // The rule of a binary cell that may be text: valid UTF-8 without zero
    // bytes that is not "0x" and hex digits only. Read in pieces, so that
    // the value's own buffer is made once, of the kind it reads as.
    constexpr size_t piece = 64u << 10;
    std::vector<char> buf(piece + 4);
    size_t carry = 0;  // bytes of a character cut by the last piece
    bool hex = length >= 2;
    for (unsigned long offset = 0; offset < length;) {
        const size_t n = std::min<size_t>(piece, length - offset);
        bind.buffer = buf.data() + carry;
        bind.buffer_length = static_cast<unsigned long>(n);
        if (mysql_stmt_fetch_column(stmt_.get(), &bind, static_cast<unsigned int>(column), offset) != 0)
            throw stream_failure(stmt_.get(), connection_);
        if (std::memchr(buf.data() + carry, 0, n)) return false;
        const size_t total = carry + n;
        offset += static_cast<unsigned long>(n);
        // The last character may go on in the next piece.
        size_t cut = total;
        if (offset < length) {
            for (size_t back = 1; back <= 4 && back <= total; ++back) {
                if ((static_cast<unsigned char>(buf[total - back]) & 0xC0) != 0x80) {
                    cut = total - back;
                    break;
                }
            }
        }
        const std::string_view checked(buf.data(), cut);
        if (!plat::utf8_valid(checked)) return false;
        for (size_t k = 0; hex && k < checked.size(); ++k) {
            const size_t at = offset - n - carry + k;  // position in the value
            const char ch = checked[k];
            if (at == 0) hex = ch == '0';
            else if (at == 1) hex = ch == 'x' || ch == 'X';
            else hex = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
        }
        carry = total - cut;
        std::memmove(buf.data(), buf.data() + cut, carry);
    }
    return !hex;
}

bool sql_limited_query::fetch_cells(size_t& row_bytes) {
    MYSQL_STMT* stmt = stmt_.get();
    // A large buffer that the last row hardly used goes back (rows of
    // large values keep theirs).
    if (large_held_) {
        large_held_ = false;
        for (binary_column& c : binary_columns_) {
            if (c.bytes.size() <= large_bytes) continue;
            if (c.is_null || c.length < c.bytes.size() / 4) {
                std::vector<char>(initial_bytes).swap(c.bytes);
                rebind_ = true;
            } else {
                large_held_ = true;
            }
        }
    }
    if (rebind_) {
        bind_buffers();
        if (mysql_stmt_bind_result(stmt, binds_.data()) != 0) throw sql_exception(stmt);
        rebind_ = false;
    }
    const int rc = mysql_stmt_fetch(stmt);
    if (rc == MYSQL_NO_DATA) return false;
    if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) throw stream_failure(stmt, connection_);
    row_bytes = 0;
    for (size_t i = 0; i < binary_columns_.size(); ++i) {
        binary_column& c = binary_columns_[i];
        sql_cell& cell = cells_[i];
        // What a record did not take of the last huge value goes.
        if (!c.huge_text.empty()) std::string().swap(c.huge_text);
        if (!c.huge_bytes.empty()) std::vector<uint8_t>().swap(c.huge_bytes);
        if (c.is_null) {
            cell.kind = sql_cell::null;
            continue;
        }
        switch (c.kind) {
        case sql_cell::int64:
            cell.kind = sql_cell::int64;
            cell.i = signed_integer(c);
            row_bytes += 8;
            continue;
        case sql_cell::uint64:
            cell.kind = sql_cell::uint64;
            cell.u = unsigned_integer(c);
            row_bytes += 8;
            continue;
        case sql_cell::real8:
            cell.kind = sql_cell::real8;
            cell.d = c.real;
            row_bytes += 8;
            continue;
        default:
            break;
        }
        if (c.temporal) {
            cell.kind = sql_cell::temporal;
            cell.time = &c.time;
            cell.time_type = c.type;
            cell.decimals = c.decimals;
            row_bytes += 8;
            continue;
        }
        cell.kind = sql_cell::bytes;
        cell.text_owner = nullptr;
        cell.bytes_owner = nullptr;
        if (c.length > large_bytes && c.length > c.bytes.size()) {
            // A huge value: fetched once into a buffer of its own that the
            // record takes over; the bound buffer stays as it is.
            MYSQL_BIND b = binds_[i];
            char* data = nullptr;
            const sql_cell_kind kind = columns_[i].rule.kind;
            if (kind == sql_cell_kind::text ||
                (kind == sql_cell_kind::bytes_or_text && huge_reads_as_text(b, i, c.length))) {
                c.huge_text.resize(c.length);
                data = c.huge_text.data();
                cell.text_owner = &c.huge_text;
            } else {
                c.huge_bytes.resize(c.length);
                data = reinterpret_cast<char*>(c.huge_bytes.data());
                cell.bytes_owner = &c.huge_bytes;
            }
            b.buffer = data;
            b.buffer_length = c.length;
            if (mysql_stmt_fetch_column(stmt, &b, static_cast<unsigned int>(i), 0) != 0)
                throw stream_failure(stmt, connection_);
            cell.data = data;
            cell.length = c.length;
            row_bytes += cell.length;
            continue;
        }
        if (c.length > c.bytes.size()) {
            // Cut short: the whole value into a buffer of its size.
            c.bytes.resize(c.length);
            MYSQL_BIND& b = binds_[i];
            b.buffer = c.bytes.data();
            b.buffer_length = c.length;
            if (mysql_stmt_fetch_column(stmt, &b, static_cast<unsigned int>(i), 0) != 0)
                throw stream_failure(stmt, connection_);
            rebind_ = true;
            if (c.bytes.size() > large_bytes) large_held_ = true;
        }
        cell.data = c.bytes.data();
        cell.length = c.length;
        row_bytes += cell.length;
    }
    return true;
}

size_t sql_limited_query::store_to(sql_page* page) {
    if (tk_log_wants(1)) tk_log(1, "sql_limited_query::store_to(n_max_records=%d)", static_cast<int>(sql_page::max_rows));
    if (!page) throw tk_mail_assertion(limq_source, 66);
    const size_t held = page->count;
    if (failure_) {
        page->clear();
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    if (at_end()) {
        page->clear();
        return 0;
    }
    // The rows are overwritten in place; slots not refilled are emptied below.
    page->recycle();
    const size_t total = receiving_ ? fill_from_queue(page, held) : fill_from_stream(page, held);
    if (page->count < held) page->clear_from(page->count, held);
    // A stream still open after the first page goes on on its own thread.
    if (!receiving_ && !on_caller_thread_ && (result_ || stmt_)) start_receiving(total);
    return page->count;
}

void sql_limited_query::keep_break(sql_page* page, size_t held) {
    if (page->count == 0) {
        if (held > 0) page->clear_from(0, held);
        throw;
    }
    failure_ = std::current_exception();
}

size_t sql_limited_query::fill_from_stream(sql_page* page, size_t held) {
    size_t total = 0;
    while (page->count < sql_page::max_rows && total < sql_page::max_bytes) {
        MYSQL_ROW row = nullptr;
        const unsigned long* lengths = nullptr;
        size_t row_bytes = 0;
        bool got = false;
        try {
            if (binary_) {
                got = fetch_cells(row_bytes);
            } else {
                row = sql_fetch_row(connection_, result_.get());
                got = row != nullptr;
                if (got) lengths = sql_fetch_lengths(result_.get());
            }
        } catch (...) {
            // The stream is broken: nothing more comes from it. The whole
            // rows received before stay in the page; the failure is
            // reported by the next call.
            result_.reset();
            stmt_.reset();
            keep_break(page, held);
            break;
        }
        if (!got) {
            close();
            break;
        }
        if (!binary_)
            for (size_t i = 0; i < columns_.size(); ++i) row_bytes += lengths[i];
        const size_t slot = page->count;
        if (!page->slots[slot]) page->slots[slot] = std::make_unique<sql_record>();
        page->bytes[slot] = row_bytes;
        // A cell that cannot be converted ends the fill; the rows before it stay.
        if (binary_) page->slots[slot]->assign_cells(columns_, cells_.data(), names_serial_);
        else page->slots[slot]->assign_row(columns_, lengths, row, names_serial_);
        ++page->count;
        total += row_bytes;
    }
    return total;
}

void sql_limited_query::start_receiving(size_t held_bytes) {
    const size_t n = columns_.size();
    read_cells_.assign(binary_ ? n : 0, sql_cell());
    times_.assign(binary_ ? n : 0, MYSQL_TIME{});
    text_row_.assign(binary_ ? 0 : n, nullptr);
    text_lengths_.assign(binary_ ? 0 : n, 0);
    raw_ = nullptr;
    // The rows of the first page count until the caller's next page.
    converted_bytes_ = held_bytes;
    receiving_ = true;
    try {
        queue_.start([this](sql_row_queue& queue) { receive(queue); }, held_bytes);
    } catch (const std::system_error& e) {
        // No thread can be started (a process limit): the rest of the
        // stream is read here, page by page.
        tk_log(2, "The rows are received on the caller's thread: %s", e.what());
        receiving_ = false;
        on_caller_thread_ = true;
    }
}

bool sql_limited_query::receive_row(sql_row_page& page) {
    size_t row_bytes = 0;
    if (binary_) {
        if (!fetch_cells(row_bytes)) return false;
        page.add_cells(cells_.data(), cells_.size(), row_bytes);
        return true;
    }
    MYSQL_ROW row = sql_fetch_row(connection_, result_.get());
    if (!row) return false;
    const unsigned long* lengths = sql_fetch_lengths(result_.get());
    for (size_t i = 0; i < columns_.size(); ++i) row_bytes += lengths[i];
    page.add_text(row, lengths, columns_.size(), row_bytes);
    return true;
}

void sql_limited_query::receive(sql_row_queue& queue) {
    sql_row_page* page = nullptr;
    try {
        for (;;) {
            if (queue.stopping()) return;  // the reader closes the stream
            if (!page && !(page = queue.fill_page())) return;
            if (page->rows() >= sql_row_queue::page_rows || page->bytes() >= sql_row_queue::page_bytes ||
                (page->rows() > 0 && !queue.has_room(*page))) {
                queue.hand_over(std::exchange(page, nullptr));
                continue;
            }
            if (!receive_row(*page)) break;
        }
        close_stream();
        queue.finish(page, nullptr);
    } catch (...) {
        // The stream is broken; the rows before the break are read first.
        result_.reset();
        stmt_.reset();
        queue.finish(page, std::current_exception());
    }
}

size_t sql_limited_query::fill_from_queue(sql_page* page, size_t held) {
    // The rows of the caller's last page are gone.
    queue_.release(std::exchange(converted_bytes_, 0));
    // Per row only locals are written here: the receiving thread reads this
    // object's members for every row.
    const size_t n = columns_.size();
    const bool binary = binary_;
    const uint64_t serial = names_serial_;
    sql_cell* cells = read_cells_.data();
    MYSQL_TIME* times = times_.data();
    char** row = text_row_.data();
    unsigned long* lengths = text_lengths_.data();
    size_t total = 0;
    while (page->count < sql_page::max_rows && total < sql_page::max_bytes) {
        if (raw_ && raw_->read_all()) queue_.give_back(std::exchange(raw_, nullptr));
        if (!raw_) {
            try {
                raw_ = queue_.take();
            } catch (...) {
                receiving_ = false;
                keep_break(page, held);
                break;
            }
            if (!raw_) {
                receiving_ = false;  // the thread closed the stream and ended
                break;
            }
        }
        const size_t slot = page->count;
        if (!page->slots[slot]) page->slots[slot] = std::make_unique<sql_record>();
        const size_t row_bytes = binary ? raw_->read_cells(cells, times, n) : raw_->read_text(row, lengths, n);
        // The row's bytes are released with the page even when its
        // conversion fails.
        total += row_bytes;
        page->bytes[slot] = row_bytes;
        try {
            if (binary) page->slots[slot]->assign_cells(columns_, cells, serial);
            else page->slots[slot]->assign_row(columns_, lengths, row, serial);
        } catch (...) {
            converted_bytes_ = total;
            throw;
        }
        ++page->count;
    }
    converted_bytes_ = total;
    return total;
}
