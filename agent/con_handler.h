// The console's reporter of caught exceptions (error_handler::handle is
// defined in con_handler.cpp).
#pragma once
#include <cstdint>
#include <string>

// How many level-0 reports handle() made and returned from; main uses it
// so that a run with reported errors does not end with exit code 0.
uint32_t console_reported_errors();

// Reports a problem that does not stop the run (a log file that cannot be
// written): "Error:" and the text on the standard output unless silent. It
// counts as a reported error.
void console_report_problem(const std::string& text);
