// Input file of the CSV reader: hands out one record's raw text at a time.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "unique_file.h"

class csv_input {
public:
    csv_input() = default;
    ~csv_input();
    csv_input(const csv_input&) = delete;
    csv_input& operator=(const csv_input&) = delete;

    // Throws tk_exception_ex (level 1) "Error opening CSV file ", the path, ": "
    // and the system's text.
    void open(const std::wstring& path);
    bool is_open() const { return file_ != nullptr; }
    void close();
    // Back to the first record (the byte-order mark is skipped again).
    void rewind();

    // The UTF-8 text of the next record, without its line end: a record goes
    // on over line breaks inside quotes. `delim` is the delimiter's UTF-8
    // form. False at the end of the file or on a read failure (which ends
    // the file too).
    bool read_record(std::string& out, std::string_view delim);
    // No record is left (set by the read that found none).
    bool at_end() const { return at_end_; }

private:
    plat::unique_file file_;
    char* line_ = nullptr;  // getline's buffer, grown as needed
    size_t line_cap_ = 0;
    bool at_start_ = true;
    bool at_end_ = false;
};
