// The console program's way out: messages that end the process.
#pragma once
#include <string>

// Logs the message at level 3, writes it and an end of line to the standard
// error stream unless the program is silent, and ends the process with -1.
[[noreturn]] void fatal_exit(const std::string& message);

// The usage text, lines joined by "\n", no line end after the last one.
std::string usage_text();

// fatal_exit with the usage text.
[[noreturn]] void show_usage();

// True once --silent was given: the converter's silent flag, or, when the
// converter is already gone, the error handler's quiet flag.
bool console_is_silent();

// Makes std::terminate (an exception that nothing can catch) end the process
// with the internal-error line and exit code -1 instead of an abort.
void install_terminate_handler();
