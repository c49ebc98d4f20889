// The wizard's friendly texts for error codes (0x400000 plus the MySQL error
// number), given to the error handler at start-up and used by the MySQL page.
#pragma once
#include <cstdint>

#include "tk_errco.h"

inline constexpr uint32_t gui_error_table_size = 13;
extern const tk_error_row gui_error_table[gui_error_table_size];

// Shown when a server call of a page gets no answer within its time limit.
extern const char* const gui_no_answer_text;
