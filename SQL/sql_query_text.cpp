#include "sql_query_text.h"

#include "sql_engi.h"
#include "tk_log.h"

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v'; }

// Position of the last character that is neither blank nor inside a comment;
// npos when there is none.
size_t last_significant(const std::wstring& q) {
    size_t last = std::wstring::npos;
    const size_t n = q.size();
    size_t i = 0;
    while (i < n) {
        const wchar_t c = q[i];
        if (c == L'\'' || c == L'"' || c == L'`') {
            // A quoted string or name: to its closing quote (doubled quotes and,
            // outside backquotes, backslash escapes stay inside).
            size_t j = i + 1;
            while (j < n) {
                if (c != L'`' && q[j] == L'\\') {
                    j += 2;
                    continue;
                }
                if (q[j] == c) {
                    if (j + 1 < n && q[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            last = j < n ? j : n - 1;
            i = j + 1;
            continue;
        }
        if (c == L'#' || (c == L'-' && i + 1 < n && q[i + 1] == L'-' && (i + 2 == n || is_blank(q[i + 2])))) {
            while (i < n && q[i] != L'\n') ++i;
            continue;
        }
        if (c == L'/' && i + 1 < n && q[i + 1] == L'*' && !(i + 2 < n && q[i + 2] == L'!')) {
            const size_t end = q.find(L"*/", i + 2);
            i = end == std::wstring::npos ? n : end + 2;
            continue;
        }
        if (!is_blank(c)) last = i;
        ++i;
    }
    return last;
}

}  // namespace

std::wstring sql_strip_query_end(const std::wstring& query) {
    std::wstring q = query;
    for (;;) {
        const size_t last = last_significant(q);
        if (last == std::wstring::npos || q[last] != L';') break;
        q.erase(last, 1);
    }
    while (!q.empty() && is_blank(q.back())) q.pop_back();
    return q;
}

std::wstring sql_select_statement(const std::wstring& name_or_query, bool is_query) {
    if (is_query) {
        tk_log(1, "...as query");
        // As written: a wrapping derived table would lose its ORDER BY and
        // refuse duplicate column names and statements other than SELECT.
        return sql_strip_query_end(name_or_query);
    }
    tk_log(1, "...as table");
    return L"SELECT * FROM " + sql_engine::get_safe_name(name_or_query);
}
