#include "sql_stmt_kind.h"

#include <cctype>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The first position after the blanks and comments at pos. An executable
// comment ("/*!" or "/*M!") is text the server runs, so it ends the skip.
size_t skip_blanks_and_comments(std::string_view s, size_t pos) {
    while (pos < s.size()) {
        if (is_blank(s[pos])) {
            ++pos;
        } else if (s[pos] == '#' ||
                   (s.compare(pos, 2, "--") == 0 &&
                    (pos + 2 == s.size() || is_blank(s[pos + 2]) ||
                     static_cast<unsigned char>(s[pos + 2]) < 0x20))) {
            const size_t end = s.find('\n', pos);
            pos = end == std::string_view::npos ? s.size() : end + 1;
        } else if (s.compare(pos, 2, "/*") == 0 && s.compare(pos, 3, "/*!") != 0 && s.compare(pos, 4, "/*M!") != 0) {
            const size_t end = s.find("*/", pos + 2);
            pos = end == std::string_view::npos ? s.size() : end + 2;
        } else {
            break;
        }
    }
    return pos;
}

bool is_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// True when the word (upper case) stands at pos, not as part of a longer name.
bool word_at(std::string_view s, size_t pos, std::string_view word) {
    if (s.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[pos + i])) != word[i]) return false;
    return pos + word.size() == s.size() || !is_name_char(s[pos + word.size()]);
}

}  // namespace

bool sql_is_empty_statement(std::string_view statement) {
    size_t pos = skip_blanks_and_comments(statement, 0);
    // Semicolons alone end no statement either.
    while (pos < statement.size() && statement[pos] == ';') pos = skip_blanks_and_comments(statement, pos + 1);
    return pos == statement.size();
}

std::string sql_no_rows_reason(std::string_view statement) {
    if (sql_is_empty_statement(statement)) return "The query is empty: it holds only blanks and comments";
    const size_t pos = skip_blanks_and_comments(statement, 0);
    if (word_at(statement, pos, "CALL"))
        return "A procedure call (CALL) is not converted: its rows are not the result of one statement";
    return "The statement returned no rows";
}
