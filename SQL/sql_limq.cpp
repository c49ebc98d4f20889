#include "sql_limq.h"

#include <errmsg.h>

#include "sql_engi.h"
#include "sql_excep.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {
constexpr const char* limq_source = "sql_limq";

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
        // The closing parenthesis on a line of its own: a trailing "-- comment"
        // in the query does not swallow it.
        return L"SELECT * FROM (" + sql_strip_query_end(name_or_query) + L"\n) as temp___table";
    }
    tk_log(1, "...as table");
    return L"SELECT * FROM " + sql_engine::get_safe_name(name_or_query);
}

void sql_page::clear() {
    for (size_t i = 0; i < count; ++i) {
        if (!slots[i]) continue;
        if (bytes[i] > reuse_limit)
            slots[i].reset();
        else
            slots[i]->clear_values();
        bytes[i] = 0;
    }
    count = 0;
}

sql_limited_query::sql_limited_query(MYSQL* connection, const std::wstring& name_or_query, bool is_query,
                                     bool blob_to_text)
    : connection_(connection) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_limited_query::sql_limited_query(%s)", name_or_query.c_str());
    const std::wstring statement = sql_select_statement(name_or_query, is_query);
    if (tk_log_wants(1)) tk_wlog(1, L"sql_database::do_query2(%s)", statement.c_str());
    result_ = sql_open_stream(connection_, statement);
    if (!result_) throw sql_exception(std::string("The statement returned no rows"), CR_UNKNOWN_ERROR);
    columns_ = sql_describe_columns(result_.get(), blob_to_text);
    tk_log(1, "sql_limited_query - at the end");
}

sql_limited_query::~sql_limited_query() {
    tk_log(2, "sql_limited_query::~sql_limited_query");
    close();
}

void sql_limited_query::close() {
    if (!result_) return;
    result_.reset();  // unread rows are read and dropped
    try {
        sql_drop_more_results(connection_);
    } catch (const tk_exception& e) {
        tk_log(2, "ERROR: %s", e.what());
    }
}

size_t sql_limited_query::store_to(sql_page* page) {
    if (tk_log_wants(1)) tk_log(1, "sql_limited_query::store_to(n_max_records=%d)", static_cast<int>(sql_page::max_rows));
    if (!page) throw tk_mail_assertion(limq_source, 66);
    page->clear();
    if (!result_) return 0;
    size_t total = 0;
    while (page->count < sql_page::max_rows && total < sql_page::max_bytes) {
        MYSQL_ROW row;
        try {
            row = sql_fetch_row(connection_, result_.get());
        } catch (...) {
            // The stream is broken: nothing more comes from it.
            result_.reset();
            page->clear();
            throw;
        }
        if (!row) {
            close();
            break;
        }
        const unsigned long* lengths = mysql_fetch_lengths(result_.get());
        size_t row_bytes = 0;
        for (size_t i = 0; i < columns_.size(); ++i) row_bytes += lengths[i];
        const size_t slot = page->count;
        if (!page->slots[slot]) page->slots[slot] = std::make_unique<sql_record>();
        page->bytes[slot] = row_bytes;
        // A cell that cannot be converted ends the fill; the rows before it stay.
        page->slots[slot]->assign_row(columns_, lengths, row);
        ++page->count;
        total += row_bytes;
    }
    return page->count;
}
