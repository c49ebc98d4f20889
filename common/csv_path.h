// File names of CSV files as the system opens them.
#pragma once
#include <string>

// The native (UTF-8) form of a path; false when the path is empty or holds a
// character no file name can hold (zero, a surrogate, beyond U+10FFFF).
bool csv_native_path(const std::wstring& path, std::string& out);
