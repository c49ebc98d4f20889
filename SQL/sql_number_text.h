// The general ways of the number texts of sql_types.h, which the fast ways
// fall back to (and are checked against).
#pragma once
#include <cstddef>

// sql_float_text by the exact value's rounding to six digits, for every float.
size_t sql_float_text_general(float value, char* out);
