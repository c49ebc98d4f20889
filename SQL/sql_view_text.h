// Text operations of the rewriting of view definitions for MySQL targets.
#pragma once
#include <cstdint>
#include <string>

// Walks an SQL text and tells which characters are code: not inside a
// literal ('...' or "...", backslash escapes and doubled quotes), a quoted
// name (`...`) or a comment (-- or # to the line end, /* ... */).
class sql_code_scanner {
public:
    // Whether text[pos] is code; call for every position, in order.
    bool step(const std::wstring& text, size_t pos);
    // The last character stepped was inside a literal or a quoted name.
    bool in_literal() const { return quote_ != 0 || escaped_; }

private:
    wchar_t quote_ = 0;
    bool escaped_ = false;
    bool line_comment_ = false;
    bool block_comment_ = false;
    size_t block_start_ = 0;
};

// Every run of blanks, tabs, carriage returns and line feeds in code becomes
// one blank (also at the start and end); literals, quoted names and comments
// stay as they are, a line comment with its line end.
std::wstring sql_collapse_white_space(const std::wstring& text);

class sql_view_converter {
public:
    // Whether the call whose six-letter function name starts at pos has
    // exactly two arguments: counts the commas from pos + 6 up to the ')'
    // that closes the first '(' (nested commas count too).
    static bool check_isnull_for_replace(const std::wstring& text, int32_t pos);
};
