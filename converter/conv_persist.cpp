// The converter's settings outside a run: the registry values, the "CSV
// settings" and stored queries of a profile, and the source's table list.
#include <memory>
#include <utility>

#include "csv_format.h"
#include "kvr_conv.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_db.h"
#include "udb_prof.h"

namespace {

// Leading blanks, then the leading decimal digits; false when there are none
// or the number is not an index of the delimiter table.
bool parse_delimiter_index(const std::wstring& text, uint32_t& index) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits) {
        value = value * 10 + static_cast<uint32_t>(text[i] - L'0');
        if (value >= csv_delimiter_count) return false;
    }
    if (digits == 0) return false;
    index = value;
    return true;
}

}  // namespace

bool kellvar_converter::serialize(bool store) {
    tk_log(1, "serialize( %d )", store ? 1 : 0);
    if (open_key() != 0) {
        tk_log(2, "Cannot open the settings key");
        return false;
    }
    if (!store) {
        blob2text = false;
        include_field_names = true;
        delimiter_index = csv_default_delimiter;
        port = mysql_default_port;
    }
    bool ok = true;
    ok = exchange("blob2text", blob2text, store) && ok;
    ok = exchange(L"dest", destination, store) && ok;
    ok = exchange("host", host, store) && ok;
    ok = exchange("inc_fnames", include_field_names, store) && ok;
    ok = exchange("n_comma", delimiter_index, store) && ok;
    ok = exchange("port", port, store) && ok;
    ok = exchange("pswd", password, store) && ok;
    ok = exchange(L"src", source, store) && ok;
    ok = exchange("user", user, store) && ok;
    // A delimiter outside the table reads as the default.
    if (!store && !csv_is_delimiter_index(delimiter_index)) delimiter_index = csv_default_delimiter;
    close_key();
    return ok;
}

bool kellvar_converter::load_profile(const udb_profile& profile) {
    tk_log(2, "kellvar_converter::load_profile");
    const std::wstring section = kellvar_section_csv;
    // Checked first, so that a refused profile changes nothing.
    const std::wstring delimiter = profile.get_value(section, L"CSV delimiter");
    uint32_t index = delimiter_index;
    if (!delimiter.empty() && !parse_delimiter_index(delimiter, index))
        throw tk_exception(std::string("Invalid CSV delimiter"), 1);

    if (!udb_converter::load_profile(profile)) return false;
    if (!mysql_converter_impl::load_profile(profile)) return false;
    const std::wstring names = profile.get_value(section, L"Include field names");
    if (!names.empty()) include_field_names = names == L"1";
    if (!delimiter.empty()) delimiter_index = index;
    return true;
}

bool kellvar_converter::store_profile(udb_profile& profile) {
    tk_log(2, "kellvar_converter::store_profile");
    // Stored queries go first, each as it was written (the profile file
    // keeps its line breaks); the tables follow from the generic part. The
    // converter's own list is left as it is.
    std::vector<name_query> tables;
    for (const name_query& e : table_queries) {
        if (e.second.empty()) {
            tables.push_back(e);
            continue;
        }
        profile.set_value(udb_section_selected_tables, e.first, e.second);
    }
    std::swap(tables, table_queries);
    bool ok;
    try {
        ok = udb_converter::store_profile(profile);
    } catch (...) {
        std::swap(tables, table_queries);
        throw;
    }
    std::swap(tables, table_queries);
    if (!ok) return false;
    if (!mysql_converter_impl::store_profile(profile)) return false;
    const std::wstring section = kellvar_section_csv;
    profile.set_value(section, L"Include field names", include_field_names ? L"1" : L"0");
    profile.set_value(section, L"CSV delimiter", std::to_wstring(delimiter_index));
    return true;
}

bool kellvar_converter::load_profile_file(const std::wstring& path) {
    if (tk_log_wants(2)) tk_wlog(2, L"kellvar_converter::load_profile_file(%s)", path.c_str());
    udb_profile profile;
    if (!profile.load(path)) return false;
    return load_profile(profile);
}

bool kellvar_converter::store_profile_file(const std::wstring& path) {
    if (tk_log_wants(2)) tk_wlog(2, L"kellvar_converter::store_profile_file(%s)", path.c_str());
    udb_profile profile;
    if (!store_profile(profile)) return false;
    return profile.store(path);
}

void kellvar_converter::get_all_tables(std::vector<std::wstring>& names) {
    tk_log(1, "kellvar_converter::get_all_tables");
    names.clear();
    reconnect_if_cut();
    std::unique_ptr<udb_database> db = engine.open_db(source, 0xA1, std::wstring());
    for (const std::wstring& name : db->get_table_names()) names.push_back(name);
}

void kellvar_converter::reconnect_if_cut() {
    if (!m_connection_cut.load()) return;
    tk_log(2, "The connection was cut: connecting again");
    connect_mysql_server();
    m_connection_cut = false;
}
