// The table's line, "Converting table NAME(N records)": the first message
// about a table, shown once. It comes when the record count is known, before
// any report about the table, or at the table's end; "?" only when the count
// is not known by then.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "sql_count.h"

class conv_table_line {
public:
    // Shows the line with its count text; `exact` says that `count` is the
    // table's record count (the progress takes it).
    using show_fn = std::function<void(const std::string& count_text, bool exact, uint64_t count)>;
    // Asks the count running beside the stream; sets count when known.
    using poll_fn = std::function<sql_counter::outcome(uint64_t& count)>;

    explicit conv_table_line(show_fn show) : show_(std::move(show)) {}

    // The count is known (or known to be unknown) before the stream: the
    // line is shown at once.
    void counted_before(bool known, uint64_t count);
    // A count runs beside the stream from now on; poll() asks it.
    void count_beside(poll_fn poll);
    // Between records: shows the line once the count beside the stream is in.
    void poll();
    // The table ends; complete: its stream ended normally after `records`
    // records, which is then the exact count. A failure passes false, and the
    // line comes before its report.
    void at_end(bool complete, uint64_t records);

    bool shown() const { return shown_; }

private:
    void show(const std::string& text, bool exact, uint64_t count);

    show_fn show_;
    poll_fn poll_;
    bool counting_ = false;
    bool shown_ = false;
};
