// View texts moved out of a MySQL database.
#include "sql_db.h"
#include "sql_engi.h"
#include "tk_log.h"

std::wstring sql_database::refine_view_out(const std::wstring& definition) const {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_database::refine_view_out(%s)", definition.c_str());
    std::wstring text = definition;

    // The first comment only.
    const size_t open = text.find(L"/*");
    const size_t close = open == std::wstring::npos ? open : text.find(L"*/", open + 2);
    if (close != std::wstring::npos)
        text.erase(open, close - open + 2);

    // This database's qualifier, as the server quotes it (`db`.).
    const std::wstring qualifier = sql_engine::get_safe_name(name_) + L".";
    for (size_t pos; (pos = text.find(qualifier)) != std::wstring::npos;) {
        tk_log(1, "Remove template found at pos=%d", static_cast<int>(pos));
        text.erase(pos, qualifier.size());
    }
    return text;
}
