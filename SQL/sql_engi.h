// The MySQL engine: the process's one connection to a MySQL server.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql_conn.h"
#include "tk_singl.h"
#include "udb_db.h"
#include "udb_engine.h"

class udb_record;
class udb_schema;
class udb_indexes;
class udb_validator;

class sql_engine : public udb_engine, public tk_singleton<sql_engine> {
public:
    // Builds the database object for a database that open_db has selected on
    // the connection (the caller owns it).
    using database_factory = std::unique_ptr<udb_database> (*)(const std::wstring& name,
                                                              MYSQL* connection, uint32_t mode);

    // Session time-outs set by connect (seconds, at least).
    static constexpr unsigned session_wait_timeout = 28800;
    static constexpr unsigned session_net_write_timeout = 28800;
    static constexpr unsigned connect_timeout = 10;

    sql_engine();
    ~sql_engine() override;
    sql_engine(const sql_engine&) = delete;
    sql_engine& operator=(const sql_engine&) = delete;

    // Sets the client object's options; throws sql_exception when the client
    // library refuses one.
    void initialize();
    // The client options of every connection to the server (option group,
    // connect time-out, a wait that a stop can cut, TLS whenever the server
    // offers it); throws sql_exception when the client library refuses one.
    static void set_client_options(MYSQL* connection);
    // Right before a connect: the server's certificate is verified when the
    // option files ask for it with ssl-verify-server-cert (or tls-verify-peer)
    // alone, a line the client library skips. Throws sql_exception when they
    // ask for it in a form the library reads as off ("on", "true").
    static void set_verification(MYSQL* connection);
    // The session of a connection just opened: utf8mb4, the SQL mode of
    // session_sql_mode, long wait and write time-outs. Failures are logged.
    static void setup_session(MYSQL* connection);
    // Opens the connection (closing an open one first) and sets the session up:
    // utf8mb4, the SQL mode of session_sql_mode, long wait and write
    // time-outs, foreign-key checks off. An UPDATE's affected rows are the
    // rows it found, changed or not.
    // Throws sql_exception when the server cannot be reached or refuses the
    // login, sql_auth_not_supported_exception for a 4.1.0 server with a password.
    void connect(const std::string& host, const std::string& user, const std::string& password,
                 int32_t port);

    // CREATE DATABASE, then open_db with mode 2.
    std::unique_ptr<udb_database> create_db(const std::wstring& name) override;
    // Selects the database on the connection and builds its object.
    std::unique_ptr<udb_database> open_db(const std::wstring& name, uint32_t mode,
                                          const std::wstring& text) override;
    void db_delete(const std::wstring& name) override;
    // Selects the database: true when that worked, false when the server does
    // not know it (or refuses it); other failures throw sql_exception.
    bool is_db_exist(const std::wstring& name) override;
    // "engine" (storage engine of new tables) and "character set" keys.
    void set_properties(udb_properties* properties) override;

    // The names of the server's databases; a failure part-way is logged and
    // the names read so far are returned.
    std::vector<std::wstring> get_contents();
    // The server's packet limit, read once (0 when not connected).
    uint32_t get_max_allowed_packet();

    // The name quoted for a statement: in backquotes, each backquote inside
    // doubled, so that no name can change the statement around it.
    static std::wstring get_safe_name(const std::wstring& name);

    // The session's SQL mode for a server mode: the server's modes without
    // NO_BACKSLASH_ESCAPES, ANSI_QUOTES and EMPTY_STRING_IS_NULL (nor the
    // combinations that hold them), with STRICT_ALL_TABLES and
    // NO_AUTO_VALUE_ON_ZERO, so that literals and quotes mean what this
    // engine writes and no row is stored altered.
    static std::string session_sql_mode(std::string_view server_mode);

    void set_blob_to_text(bool on);
    bool is_blob_to_text() const { return blob_to_text_; }
    // The server is older than 4.1.0.
    bool is_old_version() const;
    uint32_t get_server_version() const { return server_version_; }
    // The version the writing side decides by; connect sets it (tools and
    // tests set it to follow the rules of other servers).
    void set_server_version(uint32_t version) { server_version_ = version; }

    // Name validators by the server's rules (new kinds from 4.1.0 on); the
    // caller owns the result. Defined with the validators (sql_vali.cpp).
    std::unique_ptr<udb_validator> create_fn_validator(const udb_record& record) const;
    std::unique_ptr<udb_validator> create_fn_validator(const udb_schema& schema) const;
    std::unique_ptr<udb_validator> create_in_validator(const udb_indexes& indexes) const;
    std::unique_ptr<udb_validator> create_tn_validator(const std::vector<std::wstring>& names1,
                                                       const std::vector<std::wstring>& names2) const;
    bool is_connected() const { return connected_; }
    // The connection; valid until the next connect.
    MYSQL* get_connection() { return connection_.get(); }
    // The socket of the open connection (-1 when none), for a stop request
    // that cuts the connection from another thread.
    int get_socket() const { return connection_.socket(); }

    // Reads "major.minor.patch" (text after the patch ignored; a leading
    // "5.5.5-" compatibility prefix skipped) into major<<16 | minor<<8 | patch.
    static bool parse_server_version(std::string_view text, uint32_t& version);

    // The builder of open_db's objects (sql_database::create unless set).
    static void set_database_factory(database_factory factory);
    static database_factory get_database_factory();

    // Rows are appended to MySQL tables in multi-row batches while set.
    bool fast_insert = true;
    // Character set named when a database is created ("character set" property).
    std::wstring character_set = L"utf8mb4";
    // Storage engine of tables created on the server ("engine" property).
    std::wstring table_type = L"InnoDB";

private:
    static void set_session_sql_mode(MYSQL* connection);

    bool connected_ = false;
    bool blob_to_text_ = false;
    uint32_t server_version_ = 0;
    uint32_t max_allowed_packet_ = 0;
    sql_connection connection_;
};
