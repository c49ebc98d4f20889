#include "udb_record.h"

#include "text.h"
#include "tk_log.h"

namespace {

const udb_field& empty_field() {
    static const udb_field field;
    return field;
}

}  // namespace

udb_record::udb_record(const udb_record& that) : udb_list_owner(that) {}

udb_record& udb_record::operator=(const udb_record& that) {
    items_ = that.items_;
    return *this;
}

udb_record::udb_record(udb_record&& that) noexcept : udb_list_owner(std::move(that)) {}

udb_record& udb_record::operator=(udb_record&& that) noexcept {
    items_ = std::move(that.items_);
    return *this;
}

udb_record::~udb_record() {
    tk_log(1, "udb_record::dtor");
    reset();
}

void udb_record::reset() {
    tk_log(1, "udb_record::reset");
    items_.clear();
}

int udb_record::find_index(const std::wstring& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        const udb_field* f = items_[i];
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
    return *items_[static_cast<size_t>(pos)];
}

uint32_t udb_record::get_total_size() const {
    tk_log(1, "udb_record::get_total_size");
    uint32_t total = 0;
    const int count = static_cast<int>(items_.size());
    for (int i = 0; i < count; ++i) {
        const udb_field* f = items_[static_cast<size_t>(i)];
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
