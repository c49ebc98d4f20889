#include "sql_view_text.h"

#include "tk_log.h"

namespace {

bool is_space(wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t' || c == L' '; }

}  // namespace

bool sql_code_scanner::step(const std::wstring& text, size_t pos) {
    const wchar_t c = text[pos];
    if (escaped_) {
        escaped_ = false;
        return false;
    }
    if (quote_) {
        if (c == L'\\' && quote_ != L'`')
            escaped_ = true;
        else if (c == quote_)
            quote_ = 0;  // a doubled quote opens again at once
        return false;
    }
    if (line_comment_) {
        if (c == L'\n') line_comment_ = false;
        return false;
    }
    if (block_comment_) {
        if (c == L'/' && pos >= block_start_ + 3 && text[pos - 1] == L'*') block_comment_ = false;
        return false;
    }
    const wchar_t next = pos + 1 < text.size() ? text[pos + 1] : 0;
    if (c == L'\'' || c == L'"' || c == L'`') {
        quote_ = c;
        return false;
    }
    // "--" starts a comment only before white space, a control character or the end.
    if (c == L'#' || (c == L'-' && next == L'-' && (pos + 2 >= text.size() || text[pos + 2] <= L' '))) {
        line_comment_ = true;
        return false;
    }
    if (c == L'/' && next == L'*') {
        block_comment_ = true;
        block_start_ = pos;
        return false;
    }
    return true;
}

std::wstring sql_collapse_white_space(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    sql_code_scanner scanner;
    bool collapsed = false;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const wchar_t c = text[pos];
        const bool code = scanner.step(text, pos);
        if (code && is_space(c)) {
            if (!collapsed) {
                out.push_back(L' ');
                collapsed = true;
            }
            continue;
        }
        out.push_back(c);
        // The line end of a line comment separates like a blank.
        collapsed = !code && c == L'\n' && !scanner.in_literal();
    }
    return out;
}

bool sql_view_converter::check_isnull_for_replace(const std::wstring& text, int32_t pos) {
    if (tk_log_wants(1))
        tk_wlog(1, L"sql_view_converter::check_isnull_for_replace(%s,%d)", text.c_str(), static_cast<int>(pos));
    if (pos < 0 || static_cast<size_t>(pos) >= text.size()) return false;
    size_t i = static_cast<size_t>(pos) + 6;
    if (i >= text.size()) return false;
    int depth = 0, commas = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'(') {
            ++depth;
        } else if (c == L')') {
            if (depth-- == 1) break;
        } else if (c == L',') {
            ++commas;
        }
    }
    return commas == 1;
}
