// Reading a small input file whole, with limits, from any kind of file.
#pragma once
#include <cstddef>
#include <string>

// How long a pipe, FIFO or device may stay silent before reading gives up.
inline constexpr int tk_input_wait_seconds = 10;

enum class tk_read_status {
    ok,
    open_failed,    // errno in err
    read_failed,    // errno in err
    too_large,      // more than max_bytes
    line_too_long,  // a line (without its line end) longer than max_line bytes
    no_data,        // a pipe, FIFO or device gave nothing for tk_input_wait_seconds
};

// Reads the whole file into out. A regular file or a terminal is read as
// usual; any other file (pipe, FIFO, device) is opened without waiting for a
// writer and read only while data keeps coming, so that neither the open nor
// a read can block for ever. Reading stops at the first limit passed, so
// memory stays bounded by the limits. max_line 0: no line limit.
tk_read_status tk_read_bounded(const std::string& path, size_t max_bytes, size_t max_line, std::string& out,
                               int& err);
