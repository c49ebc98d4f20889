// The wizard's friendly texts for error codes (0x400000 plus the MySQL error
// number), given to the error handler at start-up and used by the MySQL page.
#pragma once
#include <cstdint>
#include <string>

#include "tk_errco.h"

class tk_exception;

inline constexpr uint32_t gui_error_table_size = 13;
extern const tk_error_row gui_error_table[gui_error_table_size];

// Shown when a server call of a page gets no answer within its time limit.
extern const char* const gui_no_answer_text;

// Whether a MySQL error says that the server gave no answer or that the
// connection to it broke (lost, gone away, no greeting within its limit).
bool gui_is_no_answer(const tk_exception& e);
// What a page shows for a failed server call: the no-answer text for those
// errors, else the table's text for the code, else the exception's own text.
std::string gui_server_failure_text(const tk_exception& e);
// The friendly text of a connection failure met during a run (no answer, a
// lost connection, a server that cannot be reached) with the exception's own
// text on the line below it; empty for every other error.
std::string gui_connection_failure_text(const tk_exception& e);
