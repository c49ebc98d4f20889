// View texts moved out of and into a MySQL database.
#include <memory>
#include <string>
#include <vector>

#include "sql_db_write.h"
#include "sql_engi.h"
#include "sql_report.h"
#include "sql_view_text.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_names_map.h"
#include "udb_recordset.h"
#include "udb_vali.h"

namespace {

sql_engine& engine() { return *tk_singleton<sql_engine>::instance(); }

bool matches_nocase(const std::wstring& text, size_t pos, const std::wstring& word) {
    if (word.size() > text.size() - pos) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (plat::ascii_lower(text[pos + i]) != word[i]) return false;
    return true;
}

enum class rewrite_rule { always, two_arguments, swap_date_arguments };

// The arguments of the call whose "(" ends at pos: the positions of its
// top-level commas and of its closing ")" (npos when it has none).
struct call_arguments {
    std::vector<size_t> commas;
    size_t close = std::wstring::npos;
};

call_arguments find_arguments(const std::wstring& text, size_t pos) {
    call_arguments a;
    sql_code_scanner scanner;
    int depth = 0;
    for (size_t i = pos; i < text.size(); ++i) {
        if (!scanner.step(text, i)) continue;
        if (text[i] == L'(') {
            ++depth;
        } else if (text[i] == L')') {
            if (depth == 0) {
                a.close = i;
                return a;
            }
            --depth;
        } else if (text[i] == L',' && depth == 0) {
            a.commas.push_back(i);
        }
    }
    return a;
}

std::wstring trimmed(const std::wstring& text, size_t from, size_t to) {
    while (from < to && text[from] == L' ') ++from;
    while (to > from && text[to - 1] == L' ') --to;
    return text.substr(from, to - from);
}

// One rewrite pass: each whole word found in code, ignoring case, becomes
// the replacement when the rule allows it.
std::wstring rewrite(const std::wstring& text, const std::wstring& word, const std::wstring& replacement,
                     rewrite_rule rule) {
    std::wstring out;
    out.reserve(text.size() + 16);
    sql_code_scanner scanner;
    for (size_t pos = 0; pos < text.size();) {
        const bool code = scanner.step(text, pos);
        const bool word_start = pos == 0 || !udb_names_map::is_name_char(text[pos - 1]);
        if (!code || !word_start || !matches_nocase(text, pos, word) ||
            (rule == rewrite_rule::two_arguments &&
             !sql_view_converter::check_isnull_for_replace(text, static_cast<int32_t>(pos)))) {
            out.push_back(text[pos++]);
            continue;
        }
        // A name that only starts with the word is not the function.
        const size_t end = pos + word.size();
        if (word.back() != L'(' && end < text.size() && udb_names_map::is_name_char(text[end])) {
            out.push_back(text[pos++]);
            continue;
        }
        out += replacement;
        // The scanner has seen the first character, which is code; the rest
        // of the word holds no quote.
        for (size_t i = pos + 1; i < end; ++i) scanner.step(text, i);
        pos = end;
        if (rule == rewrite_rule::swap_date_arguments) {
            // datediff(unit, start, end) counts from start to end; MySQL's
            // DATEDIFF(a, b) is a minus b: datediff(end, start).
            const call_arguments a = find_arguments(text, pos);
            if (a.commas.size() == 2 && a.close != std::wstring::npos) {
                const std::wstring start = trimmed(text, a.commas[0] + 1, a.commas[1]);
                const std::wstring finish = trimmed(text, a.commas[1] + 1, a.close);
                tk_log(1, "Erase at pos=%d, len=%d", static_cast<int>(out.size()),
                       static_cast<int>(a.commas[0] + 1 - pos));
                out += finish + L", " + start;
                for (size_t i = pos; i < a.close; ++i) scanner.step(text, i);
                pos = a.close;
            }
        }
    }
    return out;
}

// Brackets around names become backquotes (a backquote inside is doubled);
// brackets inside literals stay.
std::wstring brackets_to_backquotes(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + 8);
    sql_code_scanner scanner;
    bool in_bracket = false;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const wchar_t c = text[pos];
        if (in_bracket) {
            if (c == L']') {
                out.push_back(L'`');
                in_bracket = false;
            } else {
                if (c == L'`') out.push_back(L'`');
                out.push_back(c);
            }
            continue;
        }
        const bool code = scanner.step(text, pos);
        if (code && c == L'[') {
            out.push_back(L'`');
            in_bracket = true;
        } else if (code && c == L']') {
            out.push_back(L'`');
        } else {
            out.push_back(c);
        }
    }
    // An unclosed bracket name still ends as a quoted name.
    if (in_bracket) out.push_back(L'`');
    return out;
}

}  // namespace

std::wstring sql_write_database::refine_view_in(const std::wstring& query) const {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::refine_view_in(%s)", query.c_str());
    std::wstring text = sql_collapse_white_space(query);
    // Brackets first, so that a mapped name in brackets is quoted once.
    text = brackets_to_backquotes(text);
    if (tk_log_wants(2)) tk_wlog(2, L"After replacing []: result=%s", text.c_str());
    text = names_map_.do_global_replace1(text, L"`", L"`");
    if (tk_log_wants(2)) tk_wlog(2, L"After do_global_replace: result=%s", text.c_str());

    text = rewrite(text, L"isnull", L"ifnull", rewrite_rule::two_arguments);
    // getdate() is the date and time; len() counts characters.
    text = rewrite(text, L"getdate", L"now", rewrite_rule::always);
    text = rewrite(text, L"len(", L"char_length(", rewrite_rule::always);
    text = rewrite(text, L"datediff(", L"datediff(", rewrite_rule::swap_date_arguments);
    text = rewrite(text, L"dateadd", L"date_add", rewrite_rule::two_arguments);
    text = rewrite(text, L"replicate", L"repeat", rewrite_rule::two_arguments);
    return text;
}

void sql_write_database::create_views(const name_pairs& views) {
    tk_log(2, "sql_database::create_views");
    failed_views_.clear();
    std::vector<std::wstring> names;
    names.reserve(views.size());
    for (const name_pair& v : views) names.push_back(v.first);
    std::unique_ptr<udb_validator> validator = engine().create_tn_validator(names, {});

    for (const auto& [name, query_text] : views) {
        if (tk_log_wants(2)) {
            tk_wlog(2, L"Processing '%s'", name.c_str());
            tk_wlog(2, L"\t'%s'", query_text.c_str());
        }
        try {
            if (query_text.size() < 6 || !plat::equal_nocase(std::wstring_view(query_text).substr(0, 6), L"select")) {
                tk_log(2, "Skip non-select query");
                continue;
            }
            std::wstring view_name = name;
            if (!validator->is_acceptable(name)) {
                view_name = validator->get_safe_name(name);
                names_map_.add_tn_mapping(name, view_name);
                if (tk_log_wants(2)) tk_wlog(2, L"Store generated view name '%s'", view_name.c_str());
                validator->add_existing_name(view_name);
            }
            const std::wstring refined = refine_view_in(query_text);
            query(L"CREATE OR REPLACE VIEW " + sql_engine::get_safe_name(view_name) + L" AS " + refined);
            bool listed = false;
            for (name_pair& v : views_) {
                if (plat::equal_nocase(v.first, view_name)) {
                    v.second = refined;
                    listed = true;
                }
            }
            if (!listed) views_.emplace_back(view_name, refined);
        } catch (const tk_exception& e) {
            tk_log(2, "Error while creating view:\n%s\n", e.what());
            const std::string context = "View '" + tk_to_utf8(name) + "'";
            failed_views_.push_back(name);
            if (view_error_reporter_)
                view_error_reporter_(e, context);
            else
                sql_report_error(e, context);
        }
    }
    if (!failed_views_.empty() && tk_log_wants(3)) {
        std::wstring list;
        for (const std::wstring& v : failed_views_) list += (list.empty() ? L"" : L", ") + v;
        tk_wlog(3, L"Views not created: %s", list.c_str());
    }
}
