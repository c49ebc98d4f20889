// The thread's "last error": set by every platform wrapper from errno.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

uint32_t get_last_error();
void set_last_error(uint32_t code);
// Sets the last error from the current errno and returns it.
uint32_t set_last_error_from_errno();
// The system's text for a code (strerror's); empty when there is none.
std::string system_error_text(uint32_t code);

}  // namespace plat
