#include "tk_errco.h"

#include "tk_excep.h"
#include "tk_log.h"

tk_error_converter::tk_error_converter() { tk_log(2, "tk_error_converter::empty ctor"); }

tk_error_converter::tk_error_converter(uint32_t count, const tk_error_row* rows) {
    tk_log(2, "tk_error_converter::ctor (map size=%d)", static_cast<int>(count));
    load_map(count, rows);
}

void tk_error_converter::load_map(uint32_t count, const tk_error_row* rows) {
    tk_log(2, "tk_error_converter::load_map (map size=%d)", static_cast<int>(count));
    if (!rows) throw tk_mail_assertion("tk_errco", 43);
    for (uint32_t i = 0; i < count; ++i) map_.try_emplace(rows[i].code, rows[i].text ? rows[i].text : "");
}

std::string tk_error_converter::convert(uint32_t code) const {
    tk_log(2, "tk_error_converter::convert(%d)", static_cast<int>(code));
    auto it = map_.find(code);
    if (it == map_.end()) {
        tk_log(1, "Error message not found!");
        return std::string();
    }
    tk_log(1, "Error message has been found: %s", it->second.c_str());
    return it->second;
}
