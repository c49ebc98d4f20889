// Both connections of a run to a server that requires TLS, without an option
// file: the engine's and the count's, which takes the same client options.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <mysql.h>

#include "sql_count.h"
#include "sql_engi.h"
#include "sql_test_util.h"
#include "tls_server.h"

namespace {

FENNROW_SERVER_TESTS(TlsSessions);

TEST(TlsSessions, EngineAndCountConnectionsAreEncrypted) {
    sql_test::use_empty_home();
    fennrow_test::temp_folder dir;
    const fennrow_test::certificates certs(dir.path());
    const fennrow_test::tls_server server(certs, dir.path());
    const fennrow_test::test_server& s = server.srv;

    sql_engine engine;
    engine.connect(s.host, s.user, s.password, static_cast<int32_t>(s.port));
    const char* cipher = mysql_get_ssl_cipher(engine.get_connection());
    ASSERT_NE(cipher, nullptr);
    EXPECT_NE(std::string(cipher), "");

    // The count's own session reports the length of its cipher's name.
    sql_counter counter(sql_counter::login{s.host, s.user, s.password, s.port, "information_schema"});
    counter.start(
        "SELECT LENGTH(VARIABLE_VALUE) FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME LIKE 'Ssl_cipher'");
    uint64_t length = 0;
    EXPECT_EQ(counter.wait(length), sql_counter::outcome::known);
    EXPECT_GT(length, 0u);
    counter.finish(engine.get_connection());
}

}  // namespace
