// The running program's own path and folder (/proc/self/exe).
#pragma once
#include <string>

std::string tk_get_module_name();
std::wstring tk_get_module_wname();
// Drive and folder of the program's path, trailing separator kept.
std::string tk_get_module_dir();
std::wstring tk_get_module_wdir();
