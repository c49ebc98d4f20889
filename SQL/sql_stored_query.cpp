#include "sql_stored_query.h"

#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_query_check.h"
#include "sql_query_text.h"
#include "tk_utils.h"

std::string sql_stored_query_problem(sql_engine& engine, const std::wstring& query) {
    const std::string statement = tk_to_utf8(sql_select_statement(query, true));
    std::string reason = sql_query_problem(engine.get_connection(), statement);
    if (!reason.empty()) {
        sql_exception state(engine.get_connection());
        if (sql_is_connection_lost(state)) throw state;
    }
    return reason;
}
