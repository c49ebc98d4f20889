#include "sql_row_stream.h"

#include <errmsg.h>
#include <sys/socket.h>

#include <iterator>
#include <system_error>
#include <vector>
#include <utility>

#include "sql_binary_reader.h"
#include "sql_excep.h"
#include "sql_query_check.h"
#include "sql_query_text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {
constexpr const char* stream_source = "sql_row_stream";
// The caller keeps a page of converted rows unreleased while it waits for
// the next rows: the queue's budget must leave room beyond it.
static_assert(sql_row_queue::default_budget > sql_record_page::max_bytes);

// Copies of the column descriptions with texts of their own: the client
// library's live only as long as the result or statement (which the
// receiving thread closes at the end of the stream).
void copy_fields(const MYSQL_FIELD* fields, unsigned int n, std::vector<MYSQL_FIELD>& copies, std::string& texts) {
    constexpr char* MYSQL_FIELD::*text_of[] = {&MYSQL_FIELD::name, &MYSQL_FIELD::org_name, &MYSQL_FIELD::table,
                                               &MYSQL_FIELD::org_table, &MYSQL_FIELD::db, &MYSQL_FIELD::catalog,
                                               &MYSQL_FIELD::def};
    constexpr unsigned int MYSQL_FIELD::*length_of[] = {
        &MYSQL_FIELD::name_length, &MYSQL_FIELD::org_name_length, &MYSQL_FIELD::table_length,
        &MYSQL_FIELD::org_table_length, &MYSQL_FIELD::db_length, &MYSQL_FIELD::catalog_length,
        &MYSQL_FIELD::def_length};
    copies.assign(fields, fields + n);
    // Room for every text first: the copies point into texts as it fills.
    size_t room = 0;
    for (const MYSQL_FIELD& f : copies)
        for (size_t k = 0; k < std::size(text_of); ++k)
            if (f.*text_of[k]) room += f.*length_of[k] + 1;
    texts.clear();
    texts.reserve(room);
    for (MYSQL_FIELD& f : copies) {
        f.extension = nullptr;
        for (size_t k = 0; k < std::size(text_of); ++k) {
            char*& text = f.*text_of[k];
            if (!text) continue;
            const size_t at = texts.size();
            texts.append(text, f.*length_of[k]).push_back('\0');
            text = texts.data() + at;
        }
    }
}
}  // namespace

sql_row_stream::sql_row_stream(MYSQL* connection, const std::wstring& name_or_query, bool is_query,
                               bool blob_to_text, bool text_only)
    : connection_(connection), socket_(static_cast<int>(mysql_get_socket(connection))) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_row_stream::sql_row_stream(%s)", name_or_query.c_str());
    const std::wstring statement = sql_select_statement(name_or_query, is_query);
    if (tk_log_wants(1)) tk_wlog(1, L"sql_database::do_query2(%s)", statement.c_str());
    const std::string utf8 = tk_to_utf8(statement);
    // A stored query runs only once the server has said that it gives rows:
    // a statement that changes data is refused without being run.
    bool checked = !is_query;
    if (!text_only) reader_ = sql_binary_reader::open(connection_, utf8, checked);
    if (reader_) {
        binary_ = true;
        columns_ = sql_describe_columns(reader_->fields(), reader_->field_count(), blob_to_text);
        copy_fields(reader_->fields(), reader_->field_count(), fields_, field_texts_);
    } else {
        if (!checked) sql_check_gives_rows(connection_, utf8);
        result_ = sql_open_stream(connection_, std::string_view(utf8));
        if (!result_) throw sql_exception(std::string("The statement returned no rows"), CR_UNKNOWN_ERROR);
        columns_ = sql_describe_columns(result_.get(), blob_to_text);
        copy_fields(mysql_fetch_fields(result_.get()), mysql_num_fields(result_.get()), fields_, field_texts_);
    }
    names_serial_ = sql_record::new_names_serial();
    tk_log(1, "sql_row_stream - at the end");
}

sql_row_stream::~sql_row_stream() {
    tk_log(2, "sql_row_stream::~sql_row_stream");
    close();
}

void sql_row_stream::close() {
    // The receiving thread ends before the stream is touched here.
    if (receiving_) {
        queue_.stop();
        receiving_ = false;
        raw_ = nullptr;
    }
    close_stream();
}

bool sql_row_stream::is_open() const {
    // While the thread receives, the stream is its own: only the queue tells.
    if (receiving_) return !queue_.ended();
    return stream_open();
}

bool sql_row_stream::stream_open() const { return result_ || (reader_ && reader_->is_open()); }

bool sql_row_stream::cut() {
    if (!is_open()) return false;
    tk_log(2, "sql_row_stream::cut - the rows left are not read");
    // A receiver waiting for the server returns at once, and closing finds
    // nothing to read.
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    close();
    return true;
}

void sql_row_stream::drop_broken_stream() {
    result_.reset();
    if (reader_) reader_->close();
}

void sql_row_stream::close_stream() {
    if (reader_ && reader_->is_open()) {
        reader_->close();  // unread rows are read and dropped, then the statement is closed
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

size_t sql_row_stream::store_to(sql_record_page* page) {
    if (tk_log_wants(1))
        tk_log(1, "sql_row_stream::store_to(n_max_records=%d)", static_cast<int>(sql_record_page::max_rows));
    if (!page) throw tk_mail_assertion(stream_source, 66);
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
    if (!receiving_ && !on_caller_thread_ && stream_open()) start_receiving(total);
    return page->count;
}

void sql_row_stream::keep_break(sql_record_page* page, size_t held) {
    if (page->count == 0) {
        if (held > 0) page->clear_from(0, held);
        throw;
    }
    failure_ = std::current_exception();
}

size_t sql_row_stream::fill_from_stream(sql_record_page* page, size_t held) {
    size_t total = 0;
    while (page->count < sql_record_page::max_rows && total < sql_record_page::max_bytes) {
        MYSQL_ROW row = nullptr;
        const unsigned long* lengths = nullptr;
        size_t row_bytes = 0;
        bool got = false;
        try {
            if (binary_) {
                got = reader_->fetch(columns_, row_bytes);
            } else {
                row = sql_fetch_row(connection_, result_.get());
                got = row != nullptr;
                if (got) lengths = sql_fetch_lengths(result_.get());
            }
        } catch (...) {
            // The stream is broken: nothing more comes from it. The whole
            // rows received before stay in the page; the failure is
            // reported by the next call.
            drop_broken_stream();
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
        if (binary_) page->slots[slot]->assign_cells(columns_, reader_->cells(), names_serial_);
        else page->slots[slot]->assign_row(columns_, lengths, row, names_serial_);
        ++page->count;
        total += row_bytes;
    }
    return total;
}

void sql_row_stream::start_receiving(size_t held_bytes) {
    const size_t n = columns_.size();
    read_cells_.assign(binary_ ? n : 0, sql_cell());
    times_.assign(binary_ ? n : 0, MYSQL_TIME{});
    if (binary_) {
        std::vector<sql_cell> shapes;
        for (size_t i = 0; i < n; ++i) shapes.push_back(reader_->shape(i));
        layout_ = sql_row_layout(shapes.data(), n);
        layout_.prepare(read_cells_.data(), times_.data());
        cells_marked_ = false;
    }
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

bool sql_row_stream::receive_row(sql_row_page& page) {
    if (binary_) return reader_->fetch_into(columns_, layout_, page);
    size_t row_bytes = 0;
    MYSQL_ROW row = sql_fetch_row(connection_, result_.get());
    if (!row) return false;
    const unsigned long* lengths = sql_fetch_lengths(result_.get());
    for (size_t i = 0; i < columns_.size(); ++i) row_bytes += lengths[i];
    page.add_text(row, lengths, columns_.size(), row_bytes);
    return true;
}

void sql_row_stream::receive(sql_row_queue& queue) {
    sql_row_page* page = nullptr;
    // Binary rows go straight to the reader.
    sql_binary_reader* const reader = binary_ ? reader_.get() : nullptr;
    try {
        for (;;) {
            if (queue.stopping()) return;  // the reader closes the stream
            if (!page && !(page = queue.fill_page())) return;
            if (queue.must_hand_over(*page)) {
                queue.hand_over(std::exchange(page, nullptr));
                continue;
            }
            if (!(reader ? reader->fetch_into(columns_, layout_, *page) : receive_row(*page))) break;
        }
        close_stream();
        queue.finish(page, nullptr);
    } catch (...) {
        // The stream is broken; the rows before the break are read first.
        drop_broken_stream();
        queue.finish(page, std::current_exception());
    }
}

size_t sql_row_stream::fill_from_queue(sql_record_page* page, size_t held) {
    // The rows of the caller's last page are gone.
    queue_.release(std::exchange(converted_bytes_, 0));
    // Per row only locals are written here: the receiving thread reads this
    // object's members for every row.
    const size_t n = columns_.size();
    const bool binary = binary_;
    const uint64_t serial = names_serial_;
    sql_cell* cells = read_cells_.data();
    const sql_row_layout& layout = layout_;
    bool marked = cells_marked_;
    char** row = text_row_.data();
    unsigned long* lengths = text_lengths_.data();
    size_t total = 0;
    while (page->count < sql_record_page::max_rows && total < sql_record_page::max_bytes) {
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
        const size_t row_bytes = binary ? raw_->read_cells(layout, cells, marked) : raw_->read_text(row, lengths, n);
        // The row's bytes are released with the page even when its
        // conversion fails.
        total += row_bytes;
        page->bytes[slot] = row_bytes;
        try {
            if (binary) page->slots[slot]->assign_cells(columns_, cells, serial);
            else page->slots[slot]->assign_row(columns_, lengths, row, serial);
        } catch (...) {
            converted_bytes_ = total;
            cells_marked_ = marked;
            throw;
        }
        ++page->count;
    }
    converted_bytes_ = total;
    cells_marked_ = marked;
    return total;
}
