#include "con_handler.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "tk_escape.h"
#include "tk_log.h"

namespace {
std::atomic<uint32_t> g_reported{0};

void write_line(FILE* to, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), to);
    std::fputc('\n', to);
}
}  // namespace

void console_error_handler::end_run() {
    std::fflush(stdout);
    std::fflush(stderr);
    m_ended = true;
    throw console_run_end();
}

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
        end_run();
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
        end_run();
    }
    tk_log(1, "Got 0-level error");
    ++g_reported;
}
