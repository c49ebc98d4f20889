#include "udb_conv.h"

#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_prof.h"

namespace {

// Empty: unchanged; "0": false; any other text: true.
void read_flag(const std::wstring& value, bool& flag) {
    if (!value.empty()) flag = value != L"0";
}

const wchar_t* flag_text(bool flag) { return flag ? L"1" : L"0"; }

}  // namespace

udb_converter::udb_converter() { tk_log(2, "udb_converter::ctor"); }

udb_converter::~udb_converter() = default;

void udb_converter::set_mode(int value) {
    tk_log(2, "udb_converter::set_mode(%d)", value);
    mode = value;
}

bool udb_converter::load_profile(const udb_profile& profile) {
    tk_wlog(2, L"udb_converter::load_profile");
    const std::wstring generic = udb_section_generic;

    // Checked before anything is taken, so a refused profile changes nothing.
    const std::wstring mode_text = profile.get_value(generic, L"mode");
    if (!mode_text.empty() && (mode_text.size() != 1 || mode_text[0] < L'0' || mode_text[0] > L'2'))
        throw tk_exception(std::string("Invalid merge/overwrite mode"), 1);

    for (const name_query& e : profile.get_selected_tables()) {
        tk_wlog(2, e.second.empty() ? L"Loading table '%s'" : L"Loading query '%s'", e.first.c_str());
        table_queries.push_back(e);
    }
    for (const name_query& e : profile.get_available_queries()) available_queries.push_back(e);
    for (const name_query& e : profile.get_selected_views()) selected_views.push_back(e);

    std::wstring src = profile.get_value(generic, L"src");
    tk_wlog(2, L"source='%s'", src.c_str());
    if (!src.empty()) source = src;

    std::wstring dest = profile.get_value(generic, L"dest");
    tk_wlog(2, L"dest='%s'", dest.c_str());
    if (!dest.empty()) destination = dest;

    std::wstring logfile = profile.get_value(generic, L"logfile");
    if (!logfile.empty()) {
        std::string narrow;
        tk_unicode_to_ansi3(logfile.c_str(), narrow);
        tk_log(1, "Logfile=%s", narrow.c_str());
        set_logfile(narrow);
    }

    read_flag(profile.get_value(generic, L"only definitions"), definitions_only);
    if (!mode_text.empty()) set_mode(mode_text[0] - L'0');
    read_flag(profile.get_value(generic, L"skip indexes"), skip_indexes);
    return true;
}

bool udb_converter::store_profile(udb_profile& profile) const {
    tk_wlog(2, L"udb_converter::store_profile");
    for (const name_query& e : available_queries) {
        tk_wlog(2, L"Available Query: (%s,%s)", e.first.c_str(), e.second.c_str());
        profile.set_value(udb_section_available_queries, e.first, e.second);
    }
    for (const name_query& e : table_queries) {
        tk_wlog(2, L"Selected Query: (%s,%s)", e.first.c_str(), e.second.c_str());
        profile.set_value(udb_section_selected_tables, e.first, e.second);
    }
    for (const name_query& e : selected_views) {
        tk_wlog(2, L"Selected View: (%s,%s)", e.first.c_str(), e.second.c_str());
        profile.set_value(udb_section_selected_views, e.first, e.second);
    }
    const std::wstring generic = udb_section_generic;
    profile.set_value(generic, L"src", source);
    profile.set_value(generic, L"dest", destination);
    profile.set_value(generic, L"logfile", tk_from_utf8(log_file));
    profile.set_value(generic, L"skip indexes", flag_text(skip_indexes));
    profile.set_value(generic, L"only definitions", flag_text(definitions_only));
    profile.set_value(generic, L"mode", std::wstring(1, static_cast<wchar_t>(L'0' + mode)));
    return true;
}
