#include "sql_fk_parser.h"

#include <cstring>

#include "text.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

constexpr auto npos = std::string::npos;

bool is_word_char(char ch) {
    unsigned char u = static_cast<unsigned char>(ch);
    return u >= 0x80 || ch == '_' || (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') ||
           (ch >= 'A' && ch <= 'Z');
}

char ascii_upper(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch; }

// Compares n characters ignoring the case of A to Z only (no locale).
bool same_ascii_nocase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

// Position of keyword in chunk, ignoring ASCII case, outside backquoted
// names and quoted strings (a comment or a name that holds the keyword does
// not count), and not in the middle of a longer word; npos when absent.
size_t find_keyword(const std::string& chunk, const char* keyword) {
    const size_t n = std::strlen(keyword);
    char quote = 0;
    for (size_t i = 0; i < chunk.size(); ++i) {
        const char ch = chunk[i];
        if (quote) {
            if (ch == '\\' && quote != '`') {
                ++i;
            } else if (ch == quote) {
                if (i + 1 < chunk.size() && chunk[i + 1] == quote)
                    ++i;
                else
                    quote = 0;
            }
            continue;
        }
        if (ch == '`' || ch == '\'' || ch == '"') {
            quote = ch;
            continue;
        }
        if (i + n > chunk.size()) break;
        if (!same_ascii_nocase(chunk.data() + i, keyword, n)) continue;
        if (keyword[0] != ' ' && i > 0 && is_word_char(chunk[i - 1])) continue;
        return i;
    }
    return npos;
}

// Reads a backquoted name starting at pos (the opening backquote); a doubled
// backquote is one backquote. pos ends after the closing backquote (or at the
// end of an unclosed name).
std::string read_quoted(const std::string& s, size_t& pos) {
    std::string out;
    ++pos;
    while (pos < s.size()) {
        if (s[pos] == '`') {
            if (pos + 1 < s.size() && s[pos + 1] == '`') {
                out += '`';
                pos += 2;
                continue;
            }
            ++pos;
            return out;
        }
        out += s[pos++];
    }
    return out;
}

void skip_blanks(const std::string& s, size_t& pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

// The first occurrence of ch at or after pos outside backquoted names.
size_t find_outside_names(const std::string& s, char ch, size_t pos) {
    bool quoted = false;
    for (; pos < s.size(); ++pos) {
        if (s[pos] == '`')
            quoted = !quoted;  // a doubled backquote toggles twice
        else if (!quoted && s[pos] == ch)
            return pos;
    }
    return npos;
}

// The constraint name between CONSTRAINT and FOREIGN KEY.
std::string constraint_name(const std::string& text) {
    std::string name = tk_trim(text);
    if (!name.empty() && name[0] == '`') {
        size_t pos = 0;
        return read_quoted(name, pos);
    }
    for (char& ch : name)
        if (ch == '`') ch = ' ';
    return tk_trim(name);
}

// The referenced table starting at pos; a database qualifier before a point
// is passed over, so `db`.`parent` gives parent. pos ends after the name.
std::string referenced_table(const std::string& s, size_t& pos) {
    std::string name;
    for (;;) {
        skip_blanks(s, pos);
        if (pos < s.size() && s[pos] == '`') {
            name = read_quoted(s, pos);
        } else {
            size_t start = pos;
            while (pos < s.size() && s[pos] != ' ' && s[pos] != '(' && s[pos] != '.' &&
                   s[pos] != '`')
                ++pos;
            name = s.substr(start, pos - start);
        }
        size_t after = pos;
        skip_blanks(s, after);
        if (after < s.size() && s[after] == '.') {
            pos = after + 1;
            continue;
        }
        return name;
    }
}

}  // namespace

sql_fk_parser::sql_fk_parser(const std::wstring& table_name, const std::string& create_text)
    : table_name_(table_name) {
    tk_log(2, "sql_fk_parser::ctor(%s)", create_text.c_str());
    lines_ = tk_split(create_text, '\n');
}

void sql_fk_parser::do_parse(std::vector<udb_relationship>& list) {
    tk_log(2, "sql_fk_parser::do_parse");
    tk_log(1, "Got %d chunks", static_cast<int>(lines_.size()));
    for (size_t i = 0; i < lines_.size(); ++i) {
        tk_log(1, "Processing FK chunk #%d", static_cast<int>(i));
        const std::string chunk = tk_trim(lines_[i]);

        const size_t c = find_keyword(chunk, "CONSTRAINT ");
        if (c == npos) {
            tk_log(1, "CONSTRAINT is not found");
            continue;
        }
        tk_log(1, "CONSTRAINT is found at position %d", static_cast<int>(c));

        const size_t f = find_keyword(chunk, " FOREIGN KEY");
        if (f == npos || f < c + 11) {
            tk_log(1, "FOREIGN KEY is not found");
            continue;
        }
        tk_log(1, "FOREIGN KEY is found at position %d", static_cast<int>(f));

        const std::string name = constraint_name(chunk.substr(c + 11, f - (c + 11)));
        tk_log(1, "Got FK name: %s", name.c_str());

        const size_t r = find_keyword(chunk, "REFERENCES ");
        if (r == npos || r < f + 12) {
            tk_log(1, "REFERENCES is not found");
            continue;
        }

        const std::string fk_text = tk_trim(chunk.substr(f + 12, r - (f + 12)));
        tk_log(1, "Got FK columns: %s", fk_text.c_str());

        size_t pos = r + 11;
        const std::string pk_table = tk_trim(referenced_table(chunk, pos));
        tk_log(1, "Got PK table: %s", pk_table.c_str());

        std::string pk_text;
        const size_t open = find_outside_names(chunk, '(', pos);
        if (open == npos) {
            pos = chunk.size();
        } else {
            const size_t close = find_outside_names(chunk, ')', open + 1);
            const size_t end = close == npos ? chunk.size() : close;
            pk_text = tk_trim(chunk.substr(open + 1, end - (open + 1)));
            pos = close == npos ? chunk.size() : close + 1;
        }
        tk_log(1, "Got PK columns: %s", pk_text.c_str());

        tk_log(1, "fk_info[length()-1]='%c'", chunk.empty() ? ' ' : chunk.back());
        std::string rule = chunk.substr(pos);
        if (!rule.empty() && rule.back() == ',') rule.pop_back();
        rule = tk_trim(rule);
        tk_log(1, "Got FK rule: %s", rule.c_str());

        std::vector<std::wstring> fk_flds, pk_flds;
        get_columns(tk_from_utf8(fk_text), fk_flds);
        get_columns(tk_from_utf8(pk_text), pk_flds);
        const std::wstring wname = tk_from_utf8(name);

        bool known = false;
        for (const auto& rel : list)
            if (rel.fk_table == table_name_ && plat::equal_nocase(rel.constraint_name, wname)) known = true;
        if (known) {
            if (tk_log_wants(1)) tk_wlog(1, L"Relationship '%s' is known already", wname.c_str());
            continue;
        }
        list.push_back(udb_relationship(wname, std::wstring(), table_name_,
                                        tk_from_utf8(pk_table), fk_flds, pk_flds,
                                        tk_from_utf8(rule)));
    }
}

bool sql_fk_parser::get_columns(const std::wstring& text, std::vector<std::wstring>& columns) {
    tk_log(1, "sql_fk_parser::get_columns");
    bool quoted = false;
    std::wstring name;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (ch != L'`') {
            if (quoted) name += ch;
            continue;
        }
        if (!quoted) {
            quoted = true;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == L'`') {
            name += L'`';
            ++i;
            continue;
        }
        quoted = false;
        if (tk_log_wants(1)) tk_wlog(1, L"GOT FK COLUMN: %s", name.c_str());
        columns.push_back(name);
        name.clear();
    }
    return true;
}
