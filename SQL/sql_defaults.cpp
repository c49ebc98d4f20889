#include "sql_types.h"

#include "tk_log.h"

ole_variant get_variant(VARTYPE vartype, std::string_view text) {
    if (tk_log_wants(1)) tk_log(1, "get_variant(char)");
    if (vartype == VT_BOOL && text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x20) {
        ole_variant v;
        v.set_bool(text[0] != 0);
        return v;
    }
    return ole_variant::from_string(text, vartype);
}

ole_variant get_variant(VARTYPE vartype, const std::wstring& text) {
    if (tk_log_wants(1)) tk_log(1, "get_variant(wchar_t)");
    if (vartype == VT_BOOL && text.size() == 1 && text[0] < 0x20) {
        ole_variant v;
        v.set_bool(text[0] != 0);
        return v;
    }
    return ole_variant::from_wstring(text, vartype);
}
