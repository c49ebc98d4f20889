#include "udb_record.h"

#include <stdexcept>

#include "text.h"
#include "tk_log.h"

namespace {

const udb_field& empty_field() {
    static const udb_field field;
    return field;
}

}  // namespace

udb_record::udb_record(const udb_record& that) {
    fields_.reserve(that.fields_.size());
    for (const udb_field* f : that.fields_) fields_.push_back(f ? new udb_field(*f) : nullptr);
}

udb_record& udb_record::operator=(const udb_record& that) {
    if (this != &that) {
        udb_record copy(that);
        *this = std::move(copy);
    }
    return *this;
}

udb_record::udb_record(udb_record&& that) noexcept : fields_(std::move(that.fields_)) { that.fields_.clear(); }

udb_record& udb_record::operator=(udb_record&& that) noexcept {
    if (this != &that) {
        reset();
        fields_.swap(that.fields_);
    }
    return *this;
}

udb_record::~udb_record() {
    tk_log(1, "udb_record::dtor");
    reset();
    container().swap(fields_);
}

udb_field* udb_record::at(size_t i) const {
    if (i >= fields_.size()) throw std::out_of_range("invalid vector subscript");
    return fields_[i];
}

void udb_record::push_back(udb_field* field) {
    try {
        fields_.push_back(field);
    } catch (...) {
        delete field;
        throw;
    }
}

void udb_record::reset() {
    tk_log(1, "udb_record::reset");
    for (udb_field* f : fields_) delete f;
    fields_.clear();
}

void udb_record::truncate(size_t n) {
    while (fields_.size() > n) {
        delete fields_.back();
        fields_.pop_back();
    }
}

int udb_record::find_index(const std::wstring& name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        const udb_field* f = fields_[i];
        if (!f) continue;
        if (tk_log_wants(1)) tk_wlog(1, L"Processing %s", f->get_name().c_str());
        if (plat::equal_nocase(f->get_name(), name)) return static_cast<int>(i);
    }
    return -1;
}

bool udb_record::find_field(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_record::find_field(%s)", name.c_str());
    return find_index(name) >= 0;
}

const udb_field& udb_record::get_field(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_record::get_field(%s)", name.c_str());
    int pos = find_index(name);
    if (pos < 0) return empty_field();
    tk_log(1, "Field found at pos=%d", pos);
    return *fields_[static_cast<size_t>(pos)];
}

uint32_t udb_record::get_total_size() const {
    tk_log(1, "udb_record::get_total_size");
    uint32_t total = 0;
    const int count = static_cast<int>(fields_.size());
    for (int i = 0; i < count; ++i) {
        const udb_field* f = fields_[static_cast<size_t>(i)];
        if (!f) {
            tk_log(3, "Incorrect field #%d", i);
            continue;
        }
        if (f->get_type() != VT_EMPTY) total += f->get_size();
        tk_log(1, "size=%d", static_cast<int>(total));
        tk_log(1, "processed field %d of %d", i + 1, count);
    }
    return total;
}
