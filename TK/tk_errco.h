// Friendlier texts for error codes, looked up by the error handlers.
#pragma once
#include <cstdint>
#include <map>
#include <string>

struct tk_error_row {
    uint32_t code;
    const char* text;
};

class tk_error_converter {
public:
    tk_error_converter();
    tk_error_converter(uint32_t count, const tk_error_row* rows);

    // Inserts the rows; when a code occurs twice the first row's text stays.
    // A null table is an internal error.
    void load_map(uint32_t count, const tk_error_row* rows);
    // The text for the code, or an empty text when none is known.
    std::string convert(uint32_t code) const;

private:
    std::map<uint32_t, std::string> map_;
};
