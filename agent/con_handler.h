// The console's reporter of caught exceptions.
#pragma once
#include <cstdint>
#include <string>

#include "error_handler.h"

// Reports on the standard output; level 1 and 2 end the process with -1.
class console_error_handler : public error_handler {
public:
    console_error_handler() = default;
    // The console ignores no_abort: there is no dialog to abort from.
    void handle(const tk_exception& e, bool no_abort) override;
};

// How many level-0 reports handle() made and returned from; main uses it
// so that a run with reported errors does not end with exit code 0.
uint32_t console_reported_errors();

// Reports a problem that does not stop the run (a log file that cannot be
// written): "Error:" and the text on the standard output unless silent. It
// counts as a reported error.
void console_report_problem(const std::string& text);
