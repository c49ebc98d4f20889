#include "con_handler.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "csv_out.h"
#include "tk_escape.h"
#include "tk_log.h"

namespace {
std::atomic<uint32_t> g_reported{0};

void write_line(FILE* to, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), to);
    std::fputc('\n', to);
}

[[noreturn]] void end_process() {
    // The table in work keeps the records written before the error.
    csv_flush_open_files();
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(-1);
}
}  // namespace

uint32_t console_reported_errors() { return g_reported.load(); }

void console_report_problem(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    const error_handler* handler = error_handler::peek();
    if (!handler || !handler->suppress) {
        write_line(stdout, "Error:");
        write_line(stdout, line);
        std::fflush(stdout);
    }
    ++g_reported;
}

void console_error_handler::handle(const tk_exception& e, bool /*no_abort*/) {
    tk_log(2, "error_handler::handle");
    if (e.level() == 2) {
        tk_log(3, "Internal error:\n%s", e.what());
        // Shown even in silent mode.
        write_line(stdout, "Internal error: " + tk_escape_controls(e.what(), true));
        end_process();
    }

    std::string text = report_text(e);
    tk_log(3, "Error:\n%s", text.c_str());
    for (char& c : text)
        if (c == '\n') c = ' ';
    // Names and inputs inside the text cannot drive the terminal.
    text = tk_escape_controls(text);
    if (!suppress) {
        write_line(stdout, "Error:");
        write_line(stdout, text);
        std::fflush(stdout);
    }

    if (e.level() != 0) {
        tk_log(1, "Got 1-level error");
        end_process();
    }
    tk_log(1, "Got 0-level error");
    ++g_reported;
}
