// The table-list file: one table name per line.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Limits of a table-list file.
inline constexpr size_t table_list_max_line = 64 * 1024;
inline constexpr size_t table_list_max_bytes = 16 * 1024 * 1024;

// Reads the names of a table-list file: lines of up to 64 KiB, "\r\n" or "\n"
// line ends, empty lines skipped, other lines kept as they stand. A UTF-8
// byte-order mark at the start is dropped (the ANSI code page is UTF-8 here,
// so files with and without it read alike). Throws tk_exception (level 1)
// when the file cannot be opened or read, or passes a limit above; a pipe or
// FIFO is read as tk_read_bounded says.
std::vector<std::wstring> read_table_list(const std::string& path);

// Replaces the converter's selected tables by the file's names; ends the
// program with a message when the file does not exist.
void process_tab_file(const std::string& path);
