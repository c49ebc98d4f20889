// Where the console program's log goes when no log file is named: beside the
// program, with the program's name and the extension ".log".
#pragma once
#include <string>

std::string tk_default_log_path();
// The same rule for any program path.
std::string tk_log_path_for(const std::string& program_path);
