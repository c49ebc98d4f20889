#include "sql_report.h"

#include "tk_excep.h"
#include "tk_log.h"

namespace {
sql_error_reporter& reporter() {
    static sql_error_reporter r;
    return r;
}
}  // namespace

void sql_set_error_reporter(sql_error_reporter r) { reporter() = std::move(r); }

bool sql_has_error_reporter() { return static_cast<bool>(reporter()); }

void sql_report_error(const tk_exception& e, const std::string& context) {
    tk_log(3, "%s: %s", context.c_str(), e.what());
    if (const sql_error_reporter& r = reporter()) r(e, context);
}
