// The table-list file: one table name per line.
#pragma once
#include <string>
#include <vector>

// Reads the names of a table-list file: lines of any length, "\r\n" or "\n"
// line ends, empty lines skipped, other lines kept as they stand. A UTF-8
// byte-order mark at the start is dropped (the ANSI code page is UTF-8 here,
// so files with and without it read alike). Throws tk_exception (level 1)
// when the file cannot be opened or read.
std::vector<std::wstring> read_table_list(const std::string& path);

// Replaces the converter's selected tables by the file's names; ends the
// program with a message when the file does not exist.
void process_tab_file(const std::string& path);
