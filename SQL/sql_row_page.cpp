#include "sql_row_page.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "tk_excep.h"

namespace {
constexpr const char* page_source = "sql_row_page";
// First bytes of a text cell that are no length of their own.
constexpr uint8_t text_null = 254;
constexpr uint8_t text_long = 255;
// A date or time in its fields' own widths.
struct packed_time {
    uint16_t year;
    uint8_t month, day;
    uint32_t hour;
    uint8_t minute, second, neg;
    int8_t time_type;
    uint32_t second_part;
    uint8_t field_type, decimals;
};

template <class T>
T take(const char* base, size_t& at) {
    T v;
    std::memcpy(&v, base + at, sizeof(T));
    at += sizeof(T);
    return v;
}
}  // namespace

void sql_row_page::clear() {
    used_ = read_at_ = rows_ = read_rows_ = bytes_ = 0;
    if (capacity_ > keep_capacity) {
        data_.reset();
        capacity_ = 0;
    }
    huge_texts_.clear();
    huge_bytes_.clear();
}

char* sql_row_page::room(size_t n) {
    if (capacity_ - used_ < n) {
        const size_t wanted = std::max({used_ + n, capacity_ * 2, size_t{64} << 10});
        std::unique_ptr<char[]> grown(new char[wanted]);
        if (used_) std::memcpy(grown.get(), data_.get(), used_);
        data_ = std::move(grown);
        capacity_ = wanted;
    }
    return data_.get() + used_;
}

void sql_row_page::put_text(const char* data, size_t length) {
    char* out = room(1 + sizeof(uint64_t) + length + 1);
    size_t at = 1;
    if (length < text_null) {
        out[0] = static_cast<char>(length);
    } else {
        out[0] = static_cast<char>(text_long);
        const uint64_t n = length;
        std::memcpy(out + 1, &n, sizeof n);
        at += sizeof n;
    }
    if (length) std::memcpy(out + at, data, length);
    out[at + length] = '\0';
    used_ += at + length + 1;
}

void sql_row_page::add_cells(sql_cell* cells, size_t n, size_t row_bytes) {
    // One pass: room is made for each cell as it comes, for at most a tag,
    // a length, eight bytes (or a packed time) and its bytes, unless a huge
    // value's buffer moves over.
    constexpr size_t cell_most = 1 + std::max(sizeof(uint64_t), sizeof(packed_time));
    char* base = data_.get();
    size_t at = used_;
    size_t end = capacity_;
    auto need = [&](size_t bytes) {
        if (end - at >= bytes) return;
        used_ = at;
        base = room(bytes);
        base -= at;
        end = capacity_;
    };
    auto put = [&](const auto& v) {
        std::memcpy(base + at, &v, sizeof v);
        at += sizeof v;
    };
    for (size_t i = 0; i < n; ++i) {
        sql_cell& c = cells[i];
        switch (c.kind) {
        case sql_cell::null:
            need(1);
            base[at++] = static_cast<char>(t_null);
            break;
        case sql_cell::int64:
            need(cell_most);
            base[at++] = static_cast<char>(t_int64);
            put(static_cast<int64_t>(c.i));
            break;
        case sql_cell::uint64:
            need(cell_most);
            base[at++] = static_cast<char>(t_uint64);
            put(static_cast<uint64_t>(c.u));
            break;
        case sql_cell::real8:
            need(cell_most);
            base[at++] = static_cast<char>(t_real8);
            put(c.d);
            break;
        case sql_cell::temporal: {
            const MYSQL_TIME& t = *c.time;
            need(cell_most);
            base[at++] = static_cast<char>(t_temporal);
            put(packed_time{static_cast<uint16_t>(t.year), static_cast<uint8_t>(t.month),
                            static_cast<uint8_t>(t.day), t.hour, static_cast<uint8_t>(t.minute),
                            static_cast<uint8_t>(t.second), static_cast<uint8_t>(t.neg),
                            static_cast<int8_t>(t.time_type), static_cast<uint32_t>(t.second_part),
                            static_cast<uint8_t>(c.time_type), static_cast<uint8_t>(c.decimals)});
            break;
        }
        case sql_cell::bytes:
            if (c.text_owner) {
                need(cell_most);
                base[at++] = static_cast<char>(t_huge_text);
                put(static_cast<uint32_t>(huge_texts_.size()));
                huge_texts_.push_back(std::move(*c.text_owner));
                c.text_owner->clear();
            } else if (c.bytes_owner) {
                need(cell_most);
                base[at++] = static_cast<char>(t_huge_bytes);
                put(static_cast<uint32_t>(huge_bytes_.size()));
                huge_bytes_.push_back(std::move(*c.bytes_owner));
                c.bytes_owner->clear();
            } else if (c.length <= std::numeric_limits<uint8_t>::max()) {
                need(2 + c.length);
                char* out = base + at;
                out[0] = static_cast<char>(t_short_bytes);
                out[1] = static_cast<char>(c.length);
                if (c.length) std::memcpy(out + 2, c.data, c.length);
                at += 2 + c.length;
            } else {
                need(cell_most + c.length);
                base[at++] = static_cast<char>(t_bytes);
                put(static_cast<uint64_t>(c.length));
                if (c.length) std::memcpy(base + at, c.data, c.length);
                at += c.length;
            }
            break;
        }
    }
    used_ = at;
    ++rows_;
    bytes_ += row_bytes;
}

void sql_row_page::add_text(const MYSQL_ROW row, const unsigned long* lengths, size_t n, size_t row_bytes) {
    for (size_t i = 0; i < n; ++i) {
        if (!row[i]) {
            put<uint8_t>(text_null);
            continue;
        }
        put_text(row[i], lengths[i]);
    }
    ++rows_;
    bytes_ += row_bytes;
}

void sql_row_page::check_row() {
    if (read_rows_ >= rows_) throw tk_mail_assertion(page_source, 1);
    ++read_rows_;
}

size_t sql_row_page::read_cells(sql_cell* cells, MYSQL_TIME* times, size_t n) {
    check_row();
    size_t row_bytes = 0;
    // Kept in locals: stores to the cells could otherwise be taken for
    // stores to the page's own fields.
    const char* const base = data_.get();
    size_t at = read_at_;
    for (size_t i = 0; i < n; ++i) {
        sql_cell& c = cells[i];
        c.text_owner = nullptr;
        c.bytes_owner = nullptr;
        switch (take<uint8_t>(base, at)) {
        case t_null:
            c.kind = sql_cell::null;
            continue;
        case t_int64:
            c.kind = sql_cell::int64;
            c.i = take<int64_t>(base, at);
            break;
        case t_uint64:
            c.kind = sql_cell::uint64;
            c.u = take<uint64_t>(base, at);
            break;
        case t_real8:
            c.kind = sql_cell::real8;
            c.d = take<double>(base, at);
            break;
        case t_temporal: {
            const packed_time p = take<packed_time>(base, at);
            MYSQL_TIME& t = times[i];
            t.year = p.year;
            t.month = p.month;
            t.day = p.day;
            t.hour = p.hour;
            t.minute = p.minute;
            t.second = p.second;
            t.second_part = p.second_part;
            t.neg = p.neg;
            t.time_type = static_cast<enum_mysql_timestamp_type>(p.time_type);
            c.kind = sql_cell::temporal;
            c.time = &t;
            c.time_type = static_cast<enum_field_types>(p.field_type);
            c.decimals = p.decimals;
            break;
        }
        case t_short_bytes:
            c.kind = sql_cell::bytes;
            c.length = take<uint8_t>(base, at);
            c.data = base + at;
            at += c.length;
            row_bytes += c.length;
            continue;
        case t_bytes:
            c.kind = sql_cell::bytes;
            c.length = static_cast<unsigned long>(take<uint64_t>(base, at));
            c.data = base + at;
            at += c.length;
            row_bytes += c.length;
            continue;
        case t_huge_text: {
            std::string& owner = huge_texts_[take<uint32_t>(base, at)];
            c.kind = sql_cell::bytes;
            c.text_owner = &owner;
            c.data = owner.data();
            c.length = static_cast<unsigned long>(owner.size());
            row_bytes += c.length;
            continue;
        }
        case t_huge_bytes: {
            std::vector<uint8_t>& owner = huge_bytes_[take<uint32_t>(base, at)];
            c.kind = sql_cell::bytes;
            c.bytes_owner = &owner;
            c.data = reinterpret_cast<const char*>(owner.data());
            c.length = static_cast<unsigned long>(owner.size());
            row_bytes += c.length;
            continue;
        }
        default:
            throw tk_mail_assertion(page_source, 2);
        }
        row_bytes += 8;  // a number, date or time
    }
    read_at_ = at;
    return row_bytes;
}

size_t sql_row_page::read_text(char** row, unsigned long* lengths, size_t n) {
    check_row();
    size_t row_bytes = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t first = get<uint8_t>();
        if (first == text_null) {
            row[i] = nullptr;
            lengths[i] = 0;
            continue;
        }
        const uint64_t length = first == text_long ? get<uint64_t>() : first;
        row[i] = data_.get() + read_at_;
        lengths[i] = static_cast<unsigned long>(length);
        read_at_ += length + 1;
        row_bytes += length;
    }
    return row_bytes;
}
