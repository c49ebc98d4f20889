// The console's reporter of caught exceptions.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "error_handler.h"
#include "tk_excep.h"

// Thrown by the console handler after a report that ends the run: the run
// unwinds as a stop does (its threads joined, its files closed) and main
// ends the process with -1.
class console_run_end : public tk_final_exception {};

// Reports on the standard output; level 1 and 2 end the run.
class console_error_handler : public error_handler {
public:
    console_error_handler() = default;
    // The console ignores no_abort: there is no dialog to abort from.
    // Levels 1 and 2 throw console_run_end once reported.
    void handle(const tk_exception& e, bool no_abort) override;
    // A report ended the run: the program ends with -1.
    bool ended() const { return m_ended; }

private:
    [[noreturn]] void end_run();

    std::atomic<bool> m_ended{false};
};

// How many level-0 reports handle() made and returned from; main uses it
// so that a run with reported errors does not end with exit code 0.
uint32_t console_reported_errors();

// Reports a problem that does not stop the run (a log file that cannot be
// written): "Error:" and the text on the standard output unless silent. It
// counts as a reported error.
void console_report_problem(const std::string& text);
