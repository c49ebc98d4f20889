#include "conv_table_line.h"

void conv_table_line::show(const std::string& text, bool exact, uint64_t count) {
    shown_ = true;
    show_(text, exact, count);
}

void conv_table_line::counted_before(bool known, uint64_t count) {
    if (shown_) return;
    show(known ? std::to_string(count) : std::string("?"), known, count);
}

void conv_table_line::count_beside(poll_fn poll) {
    poll_ = std::move(poll);
    counting_ = static_cast<bool>(poll_);
}

void conv_table_line::poll() {
    if (shown_ || !counting_) return;
    uint64_t count = 0;
    switch (poll_(count)) {
    case sql_counter::outcome::pending:
        return;
    case sql_counter::outcome::no_connection:
        // The table's end tells the count.
        counting_ = false;
        return;
    case sql_counter::outcome::known:
        show(std::to_string(count), true, count);
        return;
    case sql_counter::outcome::unknown:
        show("?", false, 0);
        return;
    }
}

void conv_table_line::at_end(bool complete, uint64_t records) {
    if (shown_) return;
    poll();
    if (shown_) return;
    if (!complete) {
        show("?", false, 0);
        return;
    }
    // A table whose count is still running has as many records as the file
    // received; the progress keeps what it had.
    show(std::to_string(records), !counting_, records);
}
