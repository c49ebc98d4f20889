// Version of a shared library that exports DllGetVersion.
#pragma once
#include <cstdint>
#include <string>

// (major << 16) | minor; 0 when the library cannot be loaded or has no
// DllGetVersion, or the call fails.
uint32_t get_dll_version(const std::wstring& file_name);
