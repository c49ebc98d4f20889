// One line of a settings profile: how a section name, a key=value pair or a
// plain entry is written and read back.
//
// A line is trimmed of blanks, "[...]" names a section, the first "=" splits
// a key (trimmed) from its value. A text that such a line cannot carry (a line
// break, a key with "=" or outer blanks, a value with trailing blanks, a line
// that would read as a section) is written with escapes, and then the profile
// begins with the line udb_profile_escape_mark: only in such a profile is a
// backslash an escape. "\\" backslash, "\n" LF, "\r" CR, "\s" blank, "\="
// equals sign, "\[" opening bracket. A profile without the mark is read as
// it stands.
#pragma once
#include <string>

// Before any section line, so a reader that knows no escapes refuses the file.
inline constexpr const wchar_t* udb_profile_escape_mark = L"escaped texts";

// True when the verbatim line reads back as the same section name.
bool udb_section_reads_back(const std::wstring& name);
// True when the verbatim "key=value" line reads back as the same pair.
bool udb_pair_reads_back(const std::wstring& key, const std::wstring& value);
// True when the verbatim line reads back as the same plain entry.
bool udb_plain_reads_back(const std::wstring& text);

// The line's text, escaped or verbatim.
std::wstring udb_section_line(const std::wstring& name, bool escaped);
std::wstring udb_pair_line(const std::wstring& key, const std::wstring& value, bool escaped);
std::wstring udb_plain_line(const std::wstring& text, bool escaped);

// A line as read, trimmed of blanks and not empty.
struct udb_profile_line {
    enum class kind { section, pair, plain };
    kind what = kind::plain;
    std::wstring key;  // the section name, the key or the plain entry
    std::wstring value;
};
udb_profile_line udb_parse_profile_line(const std::wstring& line, bool escaped);
