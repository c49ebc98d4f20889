// Failures the MySQL writing side goes on after reach the program's error
// handler.
#include "conv_test_util.h"
#include "sql_db_write.h"

namespace {

FENNROW_SERVER_TESTS(WriteReports);

TEST(WriteReports, ViewFailureReachesTheErrorHandler) {
    fennrow_test::test_database db{"wreports"};
    conv_test::connected c;
    std::unique_ptr<udb_database> opened = c.conv.engine.open_db(tk_from_utf8(db.name()), 0, std::wstring());
    auto& d = dynamic_cast<sql_write_database&>(*opened);
    d.create_views({{L"v_fail", L"select * from nowhere"}, {L"v_ok", L"select 1 as one"}});
    const std::vector<conv_test::handled_call> calls = conv_test::handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].context, "View 'v_fail'");
    EXPECT_EQ(calls[0].level, 0u);
    EXPECT_FALSE(calls[0].no_abort);
    EXPECT_NE(calls[0].text.find("nowhere"), std::string::npos) << calls[0].text;
    EXPECT_EQ(db.conn().scalar("SELECT COUNT(*) FROM information_schema.views WHERE table_schema = DATABASE()"),
              "1");
}

}  // namespace
