// Reads the foreign keys of one table out of its SHOW CREATE TABLE text.
#pragma once
#include <string>
#include <vector>

#include "udb_relationship.h"

class sql_fk_parser {
public:
    // create_text is the narrow (UTF-8) text the server returned.
    sql_fk_parser(const std::wstring& table_name, const std::string& create_text);
    ~sql_fk_parser() = default;

    // Appends one relationship per foreign key line; a relationship already
    // in the list (same referencing table and constraint name) is not added again.
    void do_parse(std::vector<udb_relationship>& list);

    // Appends the backquoted names of text to columns (a doubled backquote
    // inside a name is one backquote); unquoted words are not names.
    static bool get_columns(const std::wstring& text, std::vector<std::wstring>& columns);

    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::wstring table_name_;
    std::vector<std::string> lines_;
};
