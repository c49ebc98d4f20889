#include "sql_row_page.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "tk_excep.h"

namespace {
constexpr const char* page_source = "sql_row_page";
// First bytes of a text cell that are no length of their own.
constexpr uint8_t text_null = 254;
constexpr uint8_t text_long = 255;
// First bytes of a binary bytes cell that are no length of their own: an
// 8-byte length follows, or the 4-byte index of a huge value's buffer.
constexpr uint8_t bytes_long = 253;
constexpr uint8_t bytes_huge_text = 254;
constexpr uint8_t bytes_huge = 255;
static_assert(bytes_long == sql_row_page::bytes_long_mark && bytes_huge_text == sql_row_page::bytes_huge_text_mark &&
              bytes_huge == sql_row_page::bytes_huge_mark);

template <class T>
T take(const char* base, size_t& at) {
    T v;
    std::memcpy(&v, base + at, sizeof(T));
    at += sizeof(T);
    return v;
}
}  // namespace

sql_row_layout::sql_row_layout(const sql_cell* shapes, size_t n) : shapes_(shapes, shapes + n) {
    for (size_t i = 0; i < n; ++i) {
        const uint32_t cell = static_cast<uint32_t>(i * sizeof(sql_cell));
        kinds_.push_back(shapes[i].kind);
        switch (shapes[i].kind) {
        case sql_cell::int64: numbers_.push_back(cell + offsetof(sql_cell, i)); break;
        case sql_cell::uint64: numbers_.push_back(cell + offsetof(sql_cell, u)); break;
        case sql_cell::real8:
            numbers_.push_back(cell + offsetof(sql_cell, d));
            numbers_.push_back(cell + offsetof(sql_cell, digits));
            numbers_.push_back(cell + offsetof(sql_cell, point));
            break;
        case sql_cell::temporal: times_.push_back(cell); break;
        case sql_cell::bytes: bytes_.push_back(cell); break;
        default: throw tk_mail_assertion(page_source, 3);
        }
    }
    fixed_bytes_ = sizeof(uint64_t) * (1 + (n + 63) / 64 + numbers_.size()) + times_.size() * sizeof(MYSQL_TIME);
}

void sql_row_layout::prepare(sql_cell* cells, MYSQL_TIME* times) const {
    for (size_t i = 0; i < shapes_.size(); ++i) {
        sql_cell& c = cells[i];
        c = sql_cell();
        c.kind = shapes_[i].kind;
        if (c.kind != sql_cell::temporal) continue;
        times[i] = MYSQL_TIME{};
        c.time = &times[i];
        c.time_type = shapes_[i].time_type;
        c.decimals = shapes_[i].decimals;
    }
}

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

char* sql_row_page::room_at(size_t at, size_t n) {
    const size_t row_start = used_;
    used_ = at;
    room(n);
    used_ = row_start;
    return data_.get();
}

uint32_t sql_row_page::keep_huge(std::string& text) {
    huge_texts_.push_back(std::move(text));
    text.clear();
    return static_cast<uint32_t>(huge_texts_.size() - 1);
}

uint32_t sql_row_page::keep_huge(std::vector<uint8_t>& bytes) {
    huge_bytes_.push_back(std::move(bytes));
    bytes.clear();
    return static_cast<uint32_t>(huge_bytes_.size() - 1);
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

void sql_row_page::add_cells(const sql_row_layout& layout, sql_cell* cells, const uint64_t* null_bits,
                             size_t row_bytes) {
    // Room for the fixed part at once, then for each bytes cell as it comes
    // (a length mark, an 8-byte length and its bytes, unless a huge value's
    // buffer moves over).
    size_t at = used_;
    char* base = capacity_ - at >= layout.fixed_bytes_ ? data_.get() : room(layout.fixed_bytes_) - at;
    size_t end = capacity_;
    auto need = [&](size_t bytes) {
        if (end - at >= bytes) return;
        used_ = at;
        base = room(bytes);
        base -= at;
        end = capacity_;
    };
    const uint64_t counted = row_bytes;
    std::memcpy(base + at, &counted, sizeof counted);
    at += sizeof counted;
    const size_t words = layout.null_words();
    for (size_t w = 0; w < words; ++w) {
        std::memcpy(base + at, null_bits + w, sizeof(uint64_t));
        at += sizeof(uint64_t);
    }
    // A NULL number's eight bytes are whatever its cell holds.
    const char* const first = reinterpret_cast<const char*>(cells);
    for (uint32_t value : layout.numbers_) {
        std::memcpy(base + at, first + value, sizeof(uint64_t));
        at += sizeof(uint64_t);
    }
    // A NULL date's bytes are left as they are.
    for (uint32_t cell : layout.times_) {
        const sql_cell& c = *reinterpret_cast<const sql_cell*>(first + cell);
        if (c.kind != sql_cell::null) std::memcpy(base + at, c.time, sizeof(MYSQL_TIME));
        at += sizeof(MYSQL_TIME);
    }
    for (uint32_t cell : layout.bytes_) {
        sql_cell& c = *reinterpret_cast<sql_cell*>(reinterpret_cast<char*>(cells) + cell);
        if (c.kind == sql_cell::null) continue;
        if (c.length < bytes_long && !c.text_owner && !c.bytes_owner) {
            need(1 + c.length);
            char* out = base + at;
            out[0] = static_cast<char>(c.length);
            if (c.length) std::memcpy(out + 1, c.data, c.length);
            at += 1 + c.length;
            continue;
        }
        need(1 + sizeof(uint64_t));
        uint32_t index = 0;
        if (c.text_owner) {
            base[at] = static_cast<char>(bytes_huge_text);
            index = static_cast<uint32_t>(huge_texts_.size());
            huge_texts_.push_back(std::move(*c.text_owner));
            c.text_owner->clear();
        } else if (c.bytes_owner) {
            base[at] = static_cast<char>(bytes_huge);
            index = static_cast<uint32_t>(huge_bytes_.size());
            huge_bytes_.push_back(std::move(*c.bytes_owner));
            c.bytes_owner->clear();
        } else {
            base[at] = static_cast<char>(bytes_long);
            const uint64_t length = c.length;
            std::memcpy(base + at + 1, &length, sizeof length);
            at += 1 + sizeof length;
            need(c.length);
            std::memcpy(base + at, c.data, c.length);
            at += c.length;
            continue;
        }
        std::memcpy(base + at + 1, &index, sizeof index);
        at += 1 + sizeof index;
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

void sql_row_page::row_missing() { throw tk_mail_assertion(page_source, 1); }

void sql_row_page::check_row() {
    if (read_rows_ >= rows_) throw tk_mail_assertion(page_source, 1);
    ++read_rows_;
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
