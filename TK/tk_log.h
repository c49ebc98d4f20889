// The levelled log: lines go to the logger's file when a logger exists and is on.
// Levels: 1 detail, 2 function entry, 3 information and errors.
#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "tk_singl.h"

class tk_logger : public tk_singleton<tk_logger> {
public:
    // A null path means the default one beside the program (tk_default_log_path);
    // built enabled, the file is emptied at once.
    tk_logger(const char* path, bool enabled, int min_level, bool timestamps);
    ~tk_logger() override = default;

    void truncate_once();

    // Called once, with a text naming the file, when the log file cannot be
    // opened or written; from then on nothing more is written to it.
    std::function<void(const std::string&)> on_failure;
    // Set by whichever thread meets the failure or empties the file first.
    std::atomic<bool> failed{false};

    std::string path;
    int min_level = 3;
    bool line_end = true;
    bool enabled = false;
    std::atomic<bool> truncated{false};
    bool timestamps = false;
};

// Switch for the code page of wide lines: set means ANSI, clear means UTF-8.
// Nothing sets it; both are UTF-8 here.
extern bool tk_log_ansi_output;

// True when a line of this level would be written: callers on hot paths
// test this before building arguments.
inline bool tk_log_wants(int level) {
    const tk_logger* lg = tk_singleton<tk_logger>::peek();
    return lg && lg->enabled && level >= lg->min_level;
}

void tk_log(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void tk_wlog(int level, const wchar_t* fmt, ...);
