#include "sql_record_page.h"

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
