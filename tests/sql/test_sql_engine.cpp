// The MySQL engine against the test server: connection, session set-up,
// failures as exceptions, databases.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "sql_cut.h"
#include "sql_db.h"
#include "param_names.h"
#include "sql_excep.h"
#include "sql_recs.h"
#include "sql_run.h"
#include "sql_test_util.h"
#include "tk_log.h"
#include "udb_props.h"

using fennrow_test::test_database;
using fennrow_test::test_sql_conn;
using sql_test::engine_session;
using sql_test::scalar;
using sql_test::scalar_number;

namespace {

// A port on 127.0.0.1 on which nobody listens (bound once, then released).
unsigned free_port() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) ::close(s);
        return 0;
    }
    ::close(s);
    return ntohs(a.sin_port);
}

// What a logger of that level writes while work runs (into a file of its own,
// removed afterwards).
template <class Work>
std::string logged(int level, Work&& work) {
    char dir[] = "/tmp/fn-sql-log.XXXXXX";
    if (!::mkdtemp(dir)) {
        ADD_FAILURE() << "no temporary folder";
        return std::string();
    }
    const std::string path = std::string(dir) + "/trace.log";
    {
        tk_logger logger(path.c_str(), true, level, false);
        work();
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path.c_str());
    ::rmdir(dir);
    return text.str();
}

// Stand-in for the database object, so that open_db and create_db can be
// checked on their own.
class probe_database : public udb_database {
public:
    probe_database(const std::wstring& name, MYSQL* connection, uint32_t mode)
        : udb_database(name, mode, false), connection(connection) {}
    std::unique_ptr<udb_recordset> create_table(const std::wstring&, const udb_schema&, const udb_indexes&) override {
        return nullptr;
    }
    using udb_database::create_table;
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, uint32_t) override {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, uint32_t) override { return nullptr; }
    bool try_query(const std::wstring&) override { return false; }
    MYSQL* connection;
};

std::unique_ptr<udb_database> make_probe(const std::wstring& name, MYSQL* connection, uint32_t mode) {
    return std::make_unique<probe_database>(name, connection, mode);
}

struct factory_scope {
    factory_scope() : saved(sql_engine::get_database_factory()) { sql_engine::set_database_factory(&make_probe); }
    ~factory_scope() { sql_engine::set_database_factory(saved); }
    sql_engine::database_factory saved;
};

FENNROW_SERVER_TESTS(SqlEngine);
FENNROW_SERVER_WIDE_TEST(SqlEngine, PacketLimitIsReadOnceServerWide);

TEST(SqlEngine, ConnectSetsUpTheSession) {
    engine_session s;
    ASSERT_TRUE(s.engine.is_connected());
    MYSQL* m = s.conn();

    uint32_t expected = 0;
    ASSERT_TRUE(sql_engine::parse_server_version(*scalar(m, "SELECT VERSION()"), expected));
    EXPECT_EQ(s.engine.get_server_version(), expected);
    EXPECT_GE(s.engine.get_server_version(), 0x0A0000u);  // the "5.5.5-" prefix is not taken for the version
    EXPECT_FALSE(s.engine.is_old_version());

    EXPECT_EQ(scalar(m, "SELECT @@character_set_client"), "utf8mb4");
    EXPECT_EQ(scalar(m, "SELECT @@character_set_results"), "utf8mb4");
    EXPECT_GE(scalar_number(m, "SELECT @@session.wait_timeout"), 28800);
    EXPECT_GE(scalar_number(m, "SELECT @@session.net_write_timeout"), 28800);
    EXPECT_EQ(scalar_number(m, "SELECT @@session.foreign_key_checks"), 0);
}

TEST(SqlEngine, FourByteCharactersSurviveTheSession) {
    engine_session s;
    // The session's character set decides what the server sends: a 4-byte
    // character reaches the client as its four UTF-8 bytes.
    EXPECT_EQ(scalar(s.conn(), "SELECT HEX(CONVERT(_utf8mb4 x'F09F9880' USING utf8mb4))"), "F09F9880");
    EXPECT_EQ(scalar(s.conn(), "SELECT _utf8mb4 x'F09F9880'"), "\xF0\x9F\x98\x80");
}

struct failure_case {
    const char* what;
    unsigned number;
    const char* text;  // part of the server's message
};

class SqlEngineFailure : public ::testing::TestWithParam<failure_case> {};

FENNROW_SERVER_TESTS(SqlEngineFailure);

TEST_P(SqlEngineFailure, BecomesSqlExceptionWithCodeAndText) {
    sql_test::use_empty_home();
    const failure_case& c = GetParam();
    const auto srv = fennrow_test::require_test_server();
    sql_engine engine;
    factory_scope factory;
    try {
        if (c.number == 1045) {
            engine.connect(srv.host, srv.user, srv.password + "-wrong", static_cast<int32_t>(srv.port));
        } else if (c.number == 2003) {
            const unsigned port = free_port();
            ASSERT_NE(port, 0u);
            engine.connect("127.0.0.1", srv.user, srv.password, static_cast<int32_t>(port));
        } else {
            engine.connect(srv.host, srv.user, srv.password, static_cast<int32_t>(srv.port));
            engine.open_db(L"fn_no_such_database_here", 1, std::wstring());
        }
        FAIL() << c.what << ": no exception";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.code(), 0x400000u | c.number) << c.what << ": " << e.what();
        EXPECT_EQ(e.error_number(), c.number);
        EXPECT_EQ(e.level(), 0u);
        EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
    }
    EXPECT_EQ(engine.is_connected(), c.number == 1049);
}

INSTANTIATE_TEST_SUITE_P(All, SqlEngineFailure,
                         ::testing::Values(failure_case{"refused login", 1045, "Access denied"},
                                           failure_case{"nothing listening", 2003, "Can't connect"},
                                           failure_case{"unknown database", 1049, "Unknown database"}),
                         [](const auto& info) { return test_names::ident(info.param.what); });

TEST(SqlEngine, FailedLoginCanBeRetried) {
    sql_test::use_empty_home();
    const auto srv = fennrow_test::require_test_server();
    sql_engine engine;
    EXPECT_THROW(engine.connect(srv.host, srv.user, "nope", static_cast<int32_t>(srv.port)), sql_exception);
    engine.connect(srv.host, srv.user, srv.password, static_cast<int32_t>(srv.port));
    EXPECT_TRUE(engine.is_connected());
    EXPECT_EQ(scalar(engine.get_connection(), "SELECT @@character_set_client"), "utf8mb4");
}

TEST(SqlEngine, SecondConnectClosesTheFirst) {
    engine_session s;
    const unsigned long first = mysql_thread_id(s.conn());
    s.engine.connect(s.server.host, s.server.user, s.server.password, static_cast<int32_t>(s.server.port));
    const unsigned long second = mysql_thread_id(s.conn());
    EXPECT_NE(first, second);
    EXPECT_EQ(scalar_number(s.conn(), "SELECT @@session.foreign_key_checks"), 0);

    test_sql_conn observer;
    const std::string probe =
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(first);
    long long left = 1;
    for (int i = 0; i < 100 && left != 0; ++i) {  // the server ends the old session on its own time
        left = std::stoll(*observer.scalar(probe));
        if (left) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(left, 0) << "the first session is still open";
}

TEST(SqlEngine, PasswordNeverReachesTheLog) {
    sql_test::use_empty_home();
    const auto srv = fennrow_test::require_test_server();
    const std::string log = logged(1, [&] {
        sql_engine engine;
        EXPECT_THROW(engine.connect(srv.host, srv.user, "Secret-Wrong-Pw", static_cast<int32_t>(srv.port)),
                     sql_exception);
        engine.connect(srv.host, srv.user, srv.password, static_cast<int32_t>(srv.port));
    });
    EXPECT_NE(log.find("sql_engine::connect(" + srv.host + "," + srv.user + ","), std::string::npos) << log;
    EXPECT_EQ(log.find("Secret-Wrong-Pw"), std::string::npos);
    EXPECT_EQ(log.find(srv.password), std::string::npos);
}

// A session set-up that fails is logged as a failure, unless its call was cut
// on purpose (a run that ended, a count no longer needed): its caller drops
// that session, and the log holds no failure for it.
TEST(SqlEngine, ACutSetUpLogsNoFailure) {
    for (const bool cut_on_purpose : {true, false}) {
        SCOPED_TRACE(cut_on_purpose ? "cut" : "connection lost");
        engine_session s;
        const std::string log = logged(3, [&] {
            sql_call_cut cut;
            sql_call_cut::scope cuttable(cut);
            // What a cut of the count connection does: the call's waits end
            // and the socket is shut down.
            if (cut_on_purpose) cut.cut();
            ASSERT_EQ(::shutdown(static_cast<int>(mysql_get_socket(s.conn())), SHUT_RDWR), 0);
            sql_engine::setup_session(s.conn());
        });
        EXPECT_EQ(log.find("Failed to set") == std::string::npos, cut_on_purpose) << log;
    }
}

TEST(SqlEngine, ListsAndTestsDatabases) {
    test_database db("engine_list");
    engine_session s;
    const std::vector<std::wstring> names = s.engine.get_contents();
    EXPECT_NE(std::find(names.begin(), names.end(), tk_from_utf8(db.name())), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), L"information_schema"), names.end());

    EXPECT_TRUE(s.engine.is_db_exist(tk_from_utf8(db.name())));
    EXPECT_EQ(scalar(s.conn(), "SELECT DATABASE()"), db.name());
    EXPECT_FALSE(s.engine.is_db_exist(L"fn_no_such_database_here"));
}

TEST(SqlEngine, PacketLimitIsReadOnceServerWide) {
    {
        engine_session s;
        const std::string server_packet = fennrow_test::global_setting("max_allowed_packet");
        EXPECT_EQ(std::to_string(s.engine.get_max_allowed_packet()), server_packet);
        // A value the server does not have, set after the engine connected.
        fennrow_test::global_setting_scope smaller("max_allowed_packet",
                                                   server_packet == "67108864" ? "33554432" : "67108864");
        EXPECT_EQ(std::to_string(s.engine.get_max_allowed_packet()), server_packet);
    }

    // One engine at a time.
    sql_engine idle;
    EXPECT_EQ(idle.get_max_allowed_packet(), 0u);
}

TEST(SqlEngine, CreatesOpensAndDeletesDatabases) {
    engine_session s;
    factory_scope factory;
    test_sql_conn observer;
    const std::wstring name = L"fn_engine_we`ird_" + std::to_wstring(::getpid());
    const std::string narrow = tk_to_utf8(name);
    const std::string exists = "SELECT DEFAULT_CHARACTER_SET_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
                               observer.literal(narrow);
    {
        std::unique_ptr<udb_database> db = s.engine.create_db(name);
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(db->get_name(), name);
        EXPECT_EQ(db->get_mode(), 2u);
        EXPECT_EQ(static_cast<probe_database*>(db.get())->connection, s.conn());
        EXPECT_EQ(scalar(s.conn(), "SELECT DATABASE()"), narrow);
    }
    EXPECT_EQ(observer.scalar(exists), "utf8mb4");
    {
        std::unique_ptr<udb_database> db = s.engine.open_db(name, 1, L"unused");
        EXPECT_EQ(db->get_mode(), 1u);
    }
    s.engine.db_delete(name);
    EXPECT_EQ(observer.scalar(exists), std::nullopt);
    EXPECT_THROW(s.engine.db_delete(name), sql_exception);
}

TEST(SqlEngine, OpenDbBuildsTheDatabaseObject) {
    test_database db("engine_open");
    db.conn().exec("CREATE TABLE t1 (id INT)");
    engine_session s;
    std::unique_ptr<udb_database> opened = s.engine.open_db(tk_from_utf8(db.name()), 1, std::wstring());
    auto* sql_db = dynamic_cast<sql_database*>(opened.get());
    ASSERT_NE(sql_db, nullptr);
    EXPECT_EQ(sql_db->get_connection(), s.conn());
    EXPECT_TRUE(sql_db->is_table_exist(L"t1"));
}

TEST(SqlEngine, CharacterSetNameCannotChangeTheStatement) {
    engine_session s;
    factory_scope factory;
    s.engine.character_set = L"utf8mb4; DROP DATABASE mysql";
    try {
        s.engine.create_db(L"fn_engine_never_" + std::to_wstring(::getpid()));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
    }
    EXPECT_EQ(scalar(s.conn(), "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME LIKE 'fn_engine_never_%'"),
              "0");
}

TEST(SqlEngine, PropertiesSetEngineAndCharacterSet) {
    sql_engine engine;
    udb_properties props;
    props.get_map()[L"engine"] = L"MyISAM";
    props.get_map()[L"character set"] = L"latin1";
    engine.set_properties(&props);
    EXPECT_EQ(engine.table_type, L"MyISAM");
    EXPECT_EQ(engine.character_set, L"latin1");
    EXPECT_EQ(engine.get_properties(), &props);

    udb_properties other;
    other.get_map()[L"Engine"] = L"Aria";  // keys are exact
    engine.set_properties(&other);
    EXPECT_EQ(engine.table_type, L"InnoDB");
    EXPECT_EQ(engine.character_set, L"latin1");
}

TEST(SqlEngine, FailuresLeaveTheConnectionUsable) {
    test_database db("engine_sync");
    db.conn().exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1),(2),(3)");
    engine_session s;
    s.use(db.name());
    MYSQL* m = s.conn();

    // A refused statement, then the next one works.
    EXPECT_THROW(sql_open_stream(m, std::string_view("SELECT * FROM no_such_table")), sql_exception);
    EXPECT_EQ(scalar(m, "SELECT COUNT(*) FROM t"), "3");

    // A stream dropped after its first row.
    {
        sql_result_ptr r = sql_open_stream(m, std::string_view("SELECT id FROM t"));
        ASSERT_NE(r, nullptr);
        ASSERT_NE(sql_fetch_row(m, r.get()), nullptr);
    }
    EXPECT_EQ(scalar(m, "SELECT 7"), "7");

    // A recordset that fails while being built.
    EXPECT_THROW(sql_recordset(nullptr, m, L"no_such_table", nullptr), sql_exception);
    EXPECT_EQ(scalar(m, "SELECT 8"), "8");

    // The engine's own exception reads the engine's connection.
    EXPECT_NE(mysql_query(m, "SELEKT 1"), 0);
    const sql_exception e;
    EXPECT_EQ(e.code(), 0x400000u | 1064u);
    EXPECT_EQ(scalar(m, "SELECT 9"), "9");
}

}  // namespace
