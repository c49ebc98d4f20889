// Settings profile: a UTF-8 text file of "[section]" lines and key=value
// lines. List sections hold one entry per table or query: a table as its
// name alone, a query as name=query text. Every text reads back as it was
// stored (see udb_prof_line.h).
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

inline constexpr const wchar_t* udb_section_available_queries = L"Available Queries";
inline constexpr const wchar_t* udb_section_selected_tables = L"Selected Tables";
inline constexpr const wchar_t* udb_section_selected_views = L"Selected Views";
inline constexpr const wchar_t* udb_section_generic = L"Generic settings";

// A larger profile file is refused.
inline constexpr size_t udb_profile_max_bytes = 16 * 1024 * 1024;

class udb_profile {
public:
    using entry = std::pair<std::wstring, std::wstring>;
    using entry_list = std::vector<entry>;

    // Holds the four empty sections "Available Queries", "Selected Tables",
    // "Selected Views" and "Generic settings".
    udb_profile();

    // Adds an empty section unless one of that name exists.
    void add_section(const std::wstring& name);
    // Appends the pair (the section is created when missing); an existing
    // pair with the same key stays in front of it.
    void set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // The first value of the key in the section; empty when either is missing.
    std::wstring get_value(const std::wstring& section, const std::wstring& key) const;

    // The list sections; a missing one throws (level 1).
    const entry_list& get_available_queries() const;
    const entry_list& get_selected_tables() const;
    const entry_list& get_selected_views() const;

    // Reads the file into this profile. Throws tk_exception (level 1) when
    // the file does not exist, cannot be opened or read (with the system's
    // reason), is larger than udb_profile_max_bytes or cannot be parsed; a
    // pipe or FIFO is read as tk_read_bounded says. CR LF and LF line ends and a leading byte-order mark
    // are accepted; bad UTF-8 bytes become U+FFFD.
    bool load(const std::wstring& path);
    // Writes the profile (CR LF line ends, no byte-order mark), replacing the
    // file; a new file is readable by its owner only. False when the file
    // cannot be opened, written or closed.
    bool store(const std::wstring& path) const;

    // The file's text as store writes it: every text as it stands, or, when
    // one of them cannot stand on its line, escaped (udb_prof_line.h).
    std::string to_text() const;
    bool needs_escapes() const;

    const std::map<std::wstring, entry_list>& sections() const { return sections_; }
    const std::map<std::wstring, std::vector<std::wstring>>& plain_lists() const { return plain_lists_; }

private:
    const entry_list& get_list(const wchar_t* section) const;

    std::map<std::wstring, entry_list> sections_;
    std::map<std::wstring, std::vector<std::wstring>> plain_lists_;
};
