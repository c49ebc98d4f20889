#include "csv_rec.h"

#include "csv_parse.h"
#include "tk_log.h"

namespace {

ole_variant text_value(std::wstring&& text) {
    ole_variant v;
    v.attach_wstring(text);
    return v;
}

}  // namespace

csv_field::csv_field(uint32_t position, std::wstring&& text)
    : csv_field(L"F" + std::to_wstring(position + 1), std::move(text)) {}

csv_field::csv_field(const std::wstring& name, std::wstring&& text)
    : udb_field(name, static_cast<uint32_t>(text.size()), text_value(std::move(text))) {}

csv_field::~csv_field() = default;

csv_record::~csv_record() = default;

void csv_record::do_create(std::wstring_view line, std::wstring_view delim) {
    if (tk_log_wants(1)) {
        tk_wlog(1, L"csv_record::do_create(%s)", std::wstring(line).c_str());
        tk_wlog(1, L"GOT DELIM: %s", std::wstring(delim).c_str());
    }
    reset();
    const size_t limit = (schema_ && !schema_->empty()) ? schema_->size() : SIZE_MAX;
    std::wstring token;
    bool full = false;
    auto make_field = [&] {
        if (full) return;
        const uint32_t pos = static_cast<uint32_t>(size());
        if (limit != SIZE_MAX) {
            const t_ftd* d = schema_->at(pos);
            push_back(new csv_field(d ? d->name : std::wstring(), std::move(token)));
        } else {
            push_back(new csv_field(pos, std::move(token)));
        }
        token.clear();
        if (size() >= limit) full = true;
    };
    csv_scan(line, delim, csv_state::field_start, [&](wchar_t c) {
        if (!full) token.push_back(c);
    }, make_field);
    make_field();
}
