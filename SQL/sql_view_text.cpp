#include "sql_view_text.h"

#include "tk_log.h"

std::wstring sql_collapse_white_space(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    bool in_single = false, in_double = false, collapsed = false;
    for (wchar_t c : text) {
        const bool space = c == L'\r' || c == L'\n' || c == L'\t' || c == L' ';
        if (space && !in_single && !in_double) {
            if (!collapsed) {
                out.push_back(L' ');
                collapsed = true;
            }
            continue;
        }
        if (c == L'\'' && !in_double)
            in_single = !in_single;
        else if (c == L'"' && !in_single)
            in_double = !in_double;
        out.push_back(c);
        collapsed = false;
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
