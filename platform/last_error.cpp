#include "last_error.h"

#include <cerrno>
#include <cstring>

namespace plat {

namespace {
thread_local uint32_t g_last_error = 0;
}

uint32_t get_last_error() { return g_last_error; }
void set_last_error(uint32_t code) { g_last_error = code; }

uint32_t set_last_error_from_errno() {
    g_last_error = static_cast<uint32_t>(errno);
    return g_last_error;
}

std::string system_error_text(uint32_t code) {
    // MySQL codes (0x400000 | n) and codes beyond errno's range have no system text.
    if (code == 0 || code > 4095) return {};
    char buf[256];
    const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);  // GNU form
    if (!text) return {};
    std::string s(text);
    if (s.starts_with("Unknown error")) return {};
    return s;
}

}  // namespace plat
