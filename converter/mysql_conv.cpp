#include "mysql_conv.h"

#include <memory>

#include "error_handler.h"
#include "sql_excep.h"
#include "sql_stored_query.h"
#include "sql_report.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_db.h"
#include "udb_prof.h"

namespace {

// The dump flags of the section, in their order.
struct dump_key {
    const wchar_t* key;
    bool dump_options::*flag;
};
constexpr dump_key dump_keys[] = {
    {L"dump new version", &dump_options::dump_new_version},
    {L"dump add lock to insert", &dump_options::dump_add_lock},
    {L"dump insert comments", &dump_options::dump_insert_comments},
    {L"dump create database", &dump_options::dump_create_db},
    {L"dump create table", &dump_options::dump_create_table},
};

}  // namespace

mysql_converter_impl::mysql_converter_impl(error_handler& handler) : m_handler(handler) {
    tk_log(2, "mysql_converter_impl::ctor");
    // Failures the writing side goes on after reach the program's error handler.
    sql_set_error_reporter([&handler](const tk_exception& e, const std::string& context) {
        handler.set_context(tk_from_utf8(context));
        handler.handle(e, false);
    });
}

mysql_converter_impl::~mysql_converter_impl() {
    tk_log(2, "mysql_converter_impl::dtor");
    sql_set_error_reporter(nullptr);
}

int32_t mysql_converter_impl::parse_port(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    int32_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > 65535) return 0;
    }
    return digits == 0 ? 0 : value;
}

void mysql_converter_impl::connect_mysql_server() {
    tk_log(2, "mysql_converter_impl::connect_mysql_server");
    const int32_t number = parse_port(port);
    if (number == 0) throw tk_exception(std::string("Invalid port number"), 1);
    engine.connect(host, user, password, number);
}

void mysql_converter_impl::store_mysql_settings(const std::string& new_host, const std::string& new_user,
                                                const std::string& new_password, const std::string& new_port) {
    // The password itself never reaches the log.
    tk_log(2, "mysql_converter_impl::store_mysql_settings(%s,%s,%s,%s)", new_host.c_str(), new_user.c_str(),
           new_password.empty() ? "" : "*****", new_port.c_str());
    user = tk_trim(new_user);
    password = tk_trim(new_password);
    host = tk_trim(new_host);
    port = tk_trim(new_port);
    if (port.empty()) port = mysql_default_port;
}

bool mysql_converter_impl::check_query(const std::wstring& database, const std::wstring& query) {
    std::string reason;
    try {
        return check_query(database, query, reason);
    } catch (const std::exception& e) {
        tk_log(2, "The query cannot be checked: %s", e.what());
        return false;
    }
}

bool mysql_converter_impl::check_query(const std::wstring& database, const std::wstring& query, std::string& reason) {
    if (tk_log_wants(2))
        tk_wlog(2, L"mysql_converter_impl::check_query(%s,%s)", database.c_str(), query.c_str());
    try {
        std::unique_ptr<udb_database> db = engine.open_db(database, 1, std::wstring());
        // The statement the conversion would stream is prepared but never
        // executed: nothing the text says is done.
        reason = sql_stored_query_problem(engine, query);
        if (!reason.empty()) {
            tk_log(2, "Query check failed: %s", reason.c_str());
            return false;
        }
        return true;
    } catch (const tk_exception& e) {
        // A server that does not answer has not judged the query.
        if (sql_is_connection_lost(e)) throw;
        reason = e.what();
        tk_log(2, "Query check failed: %s", e.what());
        return false;
    } catch (const std::exception& e) {
        reason = e.what();
        tk_log(2, "Query check failed: %s", e.what());
        return false;
    } catch (...) {
        reason.clear();
        tk_log(2, "Query check failed");
        return false;
    }
}

bool mysql_converter_impl::load_profile(const udb_profile& profile) {
    tk_log(2, "mysql_converter_impl::load_profile");
    const std::wstring section = mysql_section_settings;
    host = tk_to_utf8(profile.get_value(section, L"host"));
    const std::wstring u = profile.get_value(section, L"user");
    if (!u.empty()) user = tk_to_utf8(u);
    const std::wstring p = profile.get_value(section, L"password");
    if (!p.empty()) password = tk_to_utf8(p);
    const std::wstring n = profile.get_value(section, L"port");
    if (!n.empty()) port = tk_to_utf8(n);

    const std::wstring line_break = profile.get_value(section, L"dump line break");
    if (!line_break.empty()) dump.dump_line_break = line_break == L"1" ? 1 : 0;
    for (const dump_key& k : dump_keys) {
        const std::wstring v = profile.get_value(section, k.key);
        if (!v.empty()) dump.*k.flag = v == L"1";
    }
    return true;
}

bool mysql_converter_impl::store_profile(udb_profile& profile) const {
    tk_log(2, "mysql_converter_impl::store_profile");
    const std::wstring section = mysql_section_settings;
    profile.set_value(section, L"host", tk_from_utf8(host));
    profile.set_value(section, L"user", tk_from_utf8(user));
    profile.set_value(section, L"password", tk_from_utf8(password));
    profile.set_value(section, L"port", tk_from_utf8(port));
    profile.set_value(section, L"dump line break", dump.dump_line_break ? L"1" : L"0");
    for (const dump_key& k : dump_keys) profile.set_value(section, k.key, dump.*k.flag ? L"1" : L"0");
    return true;
}
