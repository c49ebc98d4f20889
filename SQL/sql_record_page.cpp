#include "sql_record_page.h"

#include <algorithm>

void sql_record_page::clear() {
    clear_from(0, count);
    recycle();
}

void sql_record_page::recycle() {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] > reuse_limit) slots[i].reset();
        bytes[i] = 0;
    }
    count = 0;
}

void sql_record_page::clear_from(size_t first, size_t last) {
    for (size_t i = first; i < last && i < max_rows; ++i)
        if (slots[i]) slots[i]->clear_values();
}

uint64_t sql_record_page::serial_for(const sql_columns& columns) {
    const bool same = names_serial != 0 && names.size() == columns.size() &&
                      std::equal(names.begin(), names.end(), columns.begin(),
                                 [](const std::wstring& name, const sql_column& c) { return name == c.name; });
    if (same) return names_serial;
    names.clear();
    for (const sql_column& c : columns) names.push_back(c.name);
    names_serial = sql_record::new_names_serial();
    return names_serial;
}
