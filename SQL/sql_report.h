// Where the writing side reports a failure it goes on after (a view that
// could not be created, a row the server refused, an update or delete that
// failed or found no row). The program installs its error handler here.
#pragma once
#include <functional>
#include <string>

class tk_exception;

// Receives the exception and its context ("View 'v'", "Table 't', row 3").
// A reporter that throws ends the operation that reports.
using sql_error_reporter = std::function<void(const tk_exception& e, const std::string& context)>;

// Installs the process's reporter (an empty one removes it). Set it while no
// writing operation runs.
void sql_set_error_reporter(sql_error_reporter reporter);
bool sql_has_error_reporter();

// Logs the failure (level 3) and hands it to the reporter, if one is set.
void sql_report_error(const tk_exception& e, const std::string& context);
