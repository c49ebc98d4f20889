#include "sql_engi.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include "sql_cut.h"
#include "sql_db.h"
#include "sql_excep.h"
#include "sql_opt_files.h"
#include "sql_run.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_props.h"

namespace {

constexpr const char* engi_source = "sql_engi";
constexpr const char* option_group = "VT MySQL Lib";

// A direct reference, so that the database object is linked wherever the
// engine is (a registration at start-up alone may be left out by the linker).
sql_engine::database_factory s_database_factory = &sql_database::create;

// A character set name goes into a statement as it stands: letters, digits
// and '_' only.
bool is_plain_word(const std::wstring& text) {
    if (text.empty()) return false;
    for (wchar_t c : text) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                        (c >= L'0' && c <= L'9') || c == L'_';
        if (!ok) return false;
    }
    return true;
}

// Raises the session variable to at least that many seconds; a server that
// refuses is logged, and the session goes on.
// A step of the session's set-up that failed. A set-up cut on purpose (a
// run that ended, a count no longer needed) is dropped by its caller: no
// failure of the session is logged for it.
void log_setup_failure(const char* what, const char* reason) {
    if (sql_call_cut::this_thread_cut()) {
        tk_log(2, "Setting %s was cut: %s", what, reason);
        return;
    }
    tk_log(3, "Failed to set %s", what);
    tk_log(2, "Cannot set %s: %s", what, reason);
}

void raise_session_timeout(MYSQL* connection, const std::string& variable, unsigned seconds) {
    tk_log(2, "Setting %s...", variable.c_str());
    const std::string least = std::to_string(seconds);
    try {
        sql_execute(connection, "set session " + variable + "=cast(if(@@session." + variable + " < " + least +
                                    "," + least + ",@@session." + variable + ") as unsigned);");
    } catch (const tk_exception& e) {
        log_setup_failure(variable.c_str(), e.what());
    }
}

// The keys that ask to verify the server's certificate.
const std::vector<std::string> verify_keys{"ssl-verify-server-cert", "tls-verify-peer"};

// A boolean line as the server's own client reads it: the key alone, a
// number other than 0, or "on", "true", "yes".
bool asks_on(const sql_option_line& line) {
    if (!line.value) return true;
    std::string word = *line.value;
    if (!word.empty() && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-' || word[0] == '+'))
        return std::atoi(word.c_str()) != 0;
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "on" || word == "true" || word == "yes";
}

}  // namespace

// The engine's connection is the one every MySQL failure is read from.
sql_exception::sql_exception() : sql_exception(tk_singleton<sql_engine>::instance()->get_connection()) {}

sql_engine::sql_engine() { initialize(); }

sql_engine::~sql_engine() {
    tk_log(2, "sql_engine::dtor");
    if (connected_) {
        try {
            sql_execute(connection_.get(), std::string_view("SET FOREIGN_KEY_CHECKS = 1"));
        } catch (const tk_exception& e) {
            tk_log(2, "Cannot turn ON foreign key check: %s", e.what());
        }
    }
    // The connection closes with its owner.
    tk_log(2, "sql_engine::dtor - END");
}

void sql_engine::initialize() { set_client_options(connection_.get()); }

void sql_engine::set_client_options(MYSQL* mysql) {
    tk_log(1, "sql_engine::initialize");
    tk_log(1, "sql_engine::initialize - 1");
    if (mysql_options(mysql, MYSQL_READ_DEFAULT_GROUP, option_group) != 0) throw sql_exception(mysql);
    tk_log(1, "sql_engine::initialize - 2");
    unsigned int timeout = connect_timeout;
    if (mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout) != 0) throw sql_exception(mysql);
    // A connect that waits for the server can be cut from another thread.
    int (*wait)(my_socket, my_bool, int) = &sql_call_cut::io_wait;
    if (mysql_optionsv(mysql, MARIADB_OPT_IO_WAIT, wait) != 0) throw sql_exception(mysql);
    // TLS whenever the server offers it, as the server's own client does; the
    // option files can still name a CA and ask to verify the server.
    my_bool tls = 1;
    if (mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &tls) != 0) throw sql_exception(mysql);
    tk_log(1, "sql_engine::initialize - END");
}

void sql_engine::set_verification(MYSQL* mysql) {
    const std::vector<sql_option_line> lines = sql_find_option(verify_keys, option_group);
    if (lines.empty() || !asks_on(lines.back())) return;
    // The library applies its lines after this, each value read as a number.
    const sql_option_line* applied = nullptr;
    for (const sql_option_line& line : lines)
        if (line.applied) applied = &line;
    if (applied && std::atoi(applied->value.value_or("").c_str()) == 0)
        throw sql_exception("The client library reads " + applied->key + " in " + applied->file +
                                " as off: write " + applied->key + "=1 to verify the server",
                            CR_SSL_CONNECTION_ERROR);
    tk_log(2, "The server's certificate is verified");
    my_bool on = 1;
    if (mysql_options(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on) != 0) throw sql_exception(mysql);
}

bool sql_engine::parse_server_version(std::string_view text, uint32_t& version) {
    constexpr std::string_view compat_prefix = "5.5.5-";
    if (text.substr(0, compat_prefix.size()) == compat_prefix) text.remove_prefix(compat_prefix.size());
    uint32_t parts[3] = {0, 0, 0};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (p == end || *p != '.') return false;
            ++p;
        }
        auto r = std::from_chars(p, end, parts[i]);
        if (r.ec != std::errc()) return false;
        p = r.ptr;
    }
    version = (parts[0] << 16) | (parts[1] << 8) | parts[2];
    return true;
}

void sql_engine::connect(const std::string& host, const std::string& user, const std::string& password,
                         int32_t port) {
    // The password never reaches the log.
    tk_log(2, "sql_engine::connect(%s,%s,%s,%d)", host.c_str(), user.c_str(),
           password.empty() ? "" : "*****", static_cast<int>(port));
    if (connected_) {
        tk_log(2, "Connection was established already - disconnecting first...");
        connected_ = false;
        connection_.reset();
        initialize();
    }
    tk_log(3, "Connecting to MySQL server...");
    set_verification(connection_.get());
    if (!mysql_real_connect(connection_.get(), host.c_str(), user.c_str(), password.c_str(), nullptr,
                            static_cast<unsigned int>(port), nullptr, CLIENT_REMEMBER_OPTIONS | CLIENT_FOUND_ROWS)) {
        // This client library reports a refused TCP connection with the socket
        // error's number; the system knows it by the TCP one.
        const bool tcp = !host.empty() && host != "localhost";
        if (tcp && mysql_errno(connection_.get()) == CR_CONNECTION_ERROR)
            throw sql_exception(std::string(mysql_error(connection_.get())), CR_CONN_HOST_ERROR);
        throw sql_exception(connection_.get());
    }
    connected_ = true;
    setup_session(connection_.get());

    const char* info = mysql_get_server_info(connection_.get());
    if (!info || !*info) return;
    tk_log(2, "Got MySQL server version: %s", info);
    uint32_t version = 0;
    if (!parse_server_version(info, version)) {
        tk_log(3, "Invalid MySQL version: %s", info);
        throw tk_mail_assertion(engi_source, 375);
    }
    server_version_ = version;
    tk_log(1, "Hex version: %08X", server_version_);
    if (server_version_ == 0x40100 && !password.empty()) throw sql_auth_not_supported_exception();

    try {
        sql_execute(connection_.get(), std::string_view("SET FOREIGN_KEY_CHECKS = 0"));
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
}

void sql_engine::setup_session(MYSQL* connection) {
    tk_log(2, "Setting UTF-8 collation...");
    if (mysql_set_character_set(connection, "utf8mb4") != 0) {
        log_setup_failure("UTF-8 collation", mysql_error(connection));
        // Servers without utf8mb4 still speak the 3-byte form.
        if (mysql_set_character_set(connection, "utf8") != 0)
            tk_log(2, "Cannot set UTF-8 collation: %s", mysql_error(connection));
    }

    set_session_sql_mode(connection);
    raise_session_timeout(connection, "wait_timeout", session_wait_timeout);
    // A streamed result holds the server until the client has read it: a slow
    // reader (a long table, a dialog waiting for the user) must not be cut off.
    raise_session_timeout(connection, "net_write_timeout", session_net_write_timeout);
}

std::string sql_engine::session_sql_mode(std::string_view server_mode) {
    // Modes that make quotes, backslashes or an empty text mean something
    // else, and the combinations that switch them on.
    static constexpr std::string_view dropped[] = {"NO_BACKSLASH_ESCAPES", "ANSI_QUOTES", "EMPTY_STRING_IS_NULL",
                                                   "ANSI", "DB2", "MAXDB", "MSSQL", "ORACLE", "POSTGRESQL"};
    std::string mode;
    bool strict = false, zero_kept = false;
    while (!server_mode.empty()) {
        const size_t comma = server_mode.find(',');
        std::string_view name = server_mode.substr(0, comma);
        server_mode.remove_prefix(comma == std::string_view::npos ? server_mode.size() : comma + 1);
        bool plain = !name.empty();
        for (char c : name) plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
        if (!plain || std::find(std::begin(dropped), std::end(dropped), name) != std::end(dropped)) continue;
        if (name == "STRICT_ALL_TABLES") strict = true;
        if (name == "NO_AUTO_VALUE_ON_ZERO") zero_kept = true;
        if (!mode.empty()) mode += ',';
        mode += name;
    }
    // Writes fail instead of storing altered values, whatever the table type.
    if (!strict) mode += mode.empty() ? "STRICT_ALL_TABLES" : ",STRICT_ALL_TABLES";
    // A 0 written into an AUTO_INCREMENT column is stored as 0, not renumbered.
    if (!zero_kept) mode += ",NO_AUTO_VALUE_ON_ZERO";
    return mode;
}

void sql_engine::set_session_sql_mode(MYSQL* connection) {
    tk_log(2, "Setting sql_mode...");
    try {
        std::string server_mode;
        {
            sql_result_ptr result = sql_open_stream(connection, std::string_view("SELECT @@SESSION.sql_mode"));
            if (!result) throw sql_exception(std::string("No result for sql_mode"), CR_UNKNOWN_ERROR);
            if (MYSQL_ROW row = sql_fetch_row(connection, result.get())) {
                const unsigned long* lengths = sql_fetch_lengths(result.get());
                if (row[0]) server_mode.assign(row[0], lengths[0]);
                while (sql_fetch_row(connection, result.get())) {
                }
            }
        }
        const std::string mode = session_sql_mode(server_mode);
        tk_log(2, "sql_mode: server '%s', session '%s'", server_mode.c_str(), mode.c_str());
        sql_execute(connection, "SET SESSION sql_mode = '" + mode + "'");
    } catch (const tk_exception& e) {
        log_setup_failure("sql_mode", e.what());
    }
}

bool sql_engine::is_old_version() const {
    tk_log(1, "is_old_version(%08X)", server_version_);
    return server_version_ < 0x40100;
}

void sql_engine::set_blob_to_text(bool on) {
    tk_log(2, "sql_engine::set_blob_to_text(%d)", on ? 1 : 0);
    blob_to_text_ = on;
}

std::wstring sql_engine::get_safe_name(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_engine::get_safe_name(%s)", name.c_str());
    std::wstring quoted;
    quoted.reserve(name.size() + 2);
    quoted.push_back(L'`');
    for (wchar_t c : name) {
        if (c == L'`') quoted.push_back(L'`');
        quoted.push_back(c);
    }
    quoted.push_back(L'`');
    if (tk_log_wants(1)) tk_wlog(1, L"Returns [%s]", quoted.c_str());
    return quoted;
}

void sql_engine::set_database_factory(database_factory factory) { s_database_factory = factory; }

sql_engine::database_factory sql_engine::get_database_factory() { return s_database_factory; }

std::unique_ptr<udb_database> sql_engine::create_db(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_engine::create_db (%s)", name.c_str());
    if (tk_log_wants(3)) tk_wlog(3, L"Creating MySQL database '%s'", name.c_str());
    if (!is_plain_word(character_set))
        throw tk_exception(L"Invalid character set name: " + character_set, 1);
    const std::wstring statement = L"CREATE DATABASE " + get_safe_name(name) + L" character set " + character_set;
    if (tk_log_wants(2)) tk_wlog(2, L"Run SQL-query: %s", statement.c_str());
    sql_execute(connection_.get(), statement);
    return open_db(name, 2, std::wstring());
}

std::unique_ptr<udb_database> sql_engine::open_db(const std::wstring& name, uint32_t mode,
                                                  const std::wstring& /*text*/) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_engine::open_db (%s)", name.c_str());
    if (tk_log_wants(3)) tk_wlog(3, L"Opening MySQL database '%s'", name.c_str());
    if (mysql_select_db(connection_.get(), tk_to_utf8(name).c_str()) != 0) throw sql_exception(connection_.get());
    if (!s_database_factory) throw tk_exception(std::string("MySQL database objects are not available"), 2);
    return s_database_factory(name, connection_.get(), mode);
}

bool sql_engine::is_db_exist(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"sql_engine::is_db_exist(%s)", name.c_str());
    const int result = mysql_select_db(connection_.get(), tk_to_utf8(name).c_str());
    tk_log(1, "n_result=%d", result);
    if (result == 0) return true;
    const unsigned int number = mysql_errno(connection_.get());
    if (number == ER_BAD_DB_ERROR || number == ER_DBACCESS_DENIED_ERROR || number == ER_WRONG_DB_NAME)
        return false;
    throw sql_exception(connection_.get());
}

void sql_engine::db_delete(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_engine::db_delete(%s)", name.c_str());
    if (tk_log_wants(3)) tk_wlog(3, L"Deleting MySQL database '%s'", name.c_str());
    try {
        sql_execute(connection_.get(), std::string_view("SET FOREIGN_KEY_CHECKS = 0"));
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
    sql_execute(connection_.get(), L"DROP DATABASE " + get_safe_name(name));
    try {
        sql_execute(connection_.get(), std::string_view("SET FOREIGN_KEY_CHECKS = 1"));
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot turn on foreign key check: %s", e.what());
    }
}

void sql_engine::set_properties(udb_properties* properties) {
    tk_log(1, "sql_engine::set_properties");
    properties_ = properties;
    if (!properties) return;
    const auto& values = properties->get_map();
    auto it = values.find(L"engine");
    if (it != values.end()) {
        table_type = it->second;
        if (tk_log_wants(1)) tk_wlog(1, L"Set tab.type='%s'", table_type.c_str());
    } else {
        tk_log(1, "Set InnoDB as default");
        table_type = L"InnoDB";
    }
    it = values.find(L"character set");
    if (it != values.end()) character_set = it->second;
}

std::vector<std::wstring> sql_engine::get_contents() {
    tk_log(2, "sql_engine::get_contents");
    std::vector<std::wstring> names;
    try {
        sql_result_ptr result = sql_open_stream(connection_.get(), std::string_view("SHOW DATABASES"));
        if (!result) return names;
        if (mysql_num_fields(result.get()) < 1) return names;
        while (MYSQL_ROW row = sql_fetch_row(connection_.get(), result.get())) {
            const unsigned long* lengths = sql_fetch_lengths(result.get());
            if (!row[0]) continue;
            names.push_back(tk_from_utf8(std::string(row[0], lengths[0])));
            if (tk_log_wants(2)) tk_wlog(2, L"Got database (1): %s", names.back().c_str());
        }
    } catch (const std::exception& e) {
        tk_log(3, "Failed to list the databases");
        tk_log(2, "ERROR: %s", e.what());
    }
    return names;
}

uint32_t sql_engine::get_max_allowed_packet() {
    tk_log(1, "sql_engine::get_max_allowed_packet");
    if (max_allowed_packet_ != 0) return max_allowed_packet_;
    if (!connected_) return 0;
    sql_result_ptr result =
        sql_open_stream(connection_.get(), std::string_view("SHOW VARIABLES LIKE 'max_allowed_packet'"));
    if (!result) throw sql_exception(std::string("No result for max_allowed_packet"), CR_UNKNOWN_ERROR);
    if (mysql_num_fields(result.get()) < 2) throw std::out_of_range("invalid vector subscript");
    uint32_t value = 0;
    if (MYSQL_ROW row = sql_fetch_row(connection_.get(), result.get())) {
        const unsigned long* lengths = sql_fetch_lengths(result.get());
        if (row[1]) {
            uint64_t v = 0;
            auto r = std::from_chars(row[1], row[1] + lengths[1], v);
            if (r.ec == std::errc()) value = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
        }
        // The rest of the stream is read and dropped when the result is freed.
        while (sql_fetch_row(connection_.get(), result.get())) {
        }
    }
    max_allowed_packet_ = value;
    tk_log(1, "max_packet_size=%d", static_cast<int>(value));
    return value;
}
