// Text operations of the rewriting of view definitions for MySQL targets.
#pragma once
#include <cstdint>
#include <string>

// Every run of blanks, tabs, carriage returns and line feeds outside quoted
// literals becomes one blank (also at the start and end). Quotes toggle on
// each quote character; escapes and doubled quotes are not recognised.
std::wstring sql_collapse_white_space(const std::wstring& text);

class sql_view_converter {
public:
    // Whether the call whose six-letter function name starts at pos has
    // exactly two arguments: counts the commas from pos + 6 up to the ')'
    // that closes the first '(' (nested commas count too).
    static bool check_isnull_for_replace(const std::wstring& text, int32_t pos);
};
