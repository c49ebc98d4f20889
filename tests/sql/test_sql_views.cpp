// Views for a MySQL target: query texts of another dialect rewritten, views
// created, listed, and failures reported one view at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sql_excep.h"
#include "sql_write_util.h"
#include "tk_excep.h"

namespace {

using namespace sql_write_test;

class view_test : public mode_fixture {};

struct rewrite_case {
    const wchar_t* in;
    const wchar_t* out;
};

FENNROW_SERVER_MODE_TESTS(view_test);

TEST_P(view_test, queries_are_rewritten_for_mysql) {
    auto& d = open();
    d.get_names_map().add_tn_mapping(L"Orders", L"orders_2");
    const rewrite_case cases[] = {
        {L"select isnull([a],0), getdate(), len([b]) from [t]", L"select ifnull(`a`,0), now(), char_length(`b`) from `t`"},
        {L"SELECT ISNULL(a, 0), GetDate() FROM t", L"SELECT ifnull(a, 0), now() FROM t"},
        {L"select datediff(day, x, y) from t", L"select datediff(y, x) from t"},
        {L"select datediff(dd, f(a, '),'), (b)) - 1 from t", L"select datediff((b), f(a, '),')) - 1 from t"},
        {L"select datediff(x, y), datediff(x) from t", L"select datediff(x, y), datediff(x) from t"},
        {L"select isnull(a) from t", L"select isnull(a) from t"},
        {L"select isnull(a,f(b,c)) from t", L"select isnull(a,f(b,c)) from t"},
        {L"select dateadd(d,x), dateadd(d,1,x) from t", L"select date_add(d,x), dateadd(d,1,x) from t"},
        {L"select replicate('a',3) from t", L"select repeat('a',3) from t"},
        {L"SELECT  a,\r\n\tb  FROM t ", L"SELECT a, b FROM t "},
        {L"select '[x]  isnull(a,b)', \"len(\" from t", L"select '[x]  isnull(a,b)', \"len(\" from t"},
        {L"select 'it\\'s [x]', [y] from t", L"select 'it\\'s [x]', `y` from t"},
        {L"select myisnull(a,b), strlen(x), isnull_x(a,b) from t", L"select myisnull(a,b), strlen(x), isnull_x(a,b) from t"},
        {L"select * from [Orders] join Orders o", L"select * from `orders_2` join `orders_2` o"},
        {L"select [a`b] from t", L"select `a``b` from t"},
    };
    for (const rewrite_case& c : cases) EXPECT_EQ(u(d.refine_view_in(c.in)), u(c.out)) << u(c.in);
}

TEST_P(view_test, views_are_created_listed_and_failures_reported) {
    db_.conn().exec("CREATE TABLE t (a INT, b VARCHAR(5)); INSERT INTO t VALUES (1, 'x'), (NULL, 'y')");
    auto& d = open();
    std::vector<std::string> reports;
    d.set_view_error_reporter([&](const tk_exception& e, const std::string& context) {
        reports.push_back(context + ": " + std::to_string(e.level()));
    });
    statement_log log({"CREATE"});
    d.create_views({
        {L"v_one", L"select isnull([a],0) as a0, len([b]) as lb from [t]"},
        {L"v_fail", L"select * from nowhere"},
        {L"v|x", L"SELECT b FROM t"},
        {L"v_blank", L" select 1"},
        {L"v_update", L"update t set a = 1"},
    });
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "CREATE OR REPLACE VIEW `v_one` AS select ifnull(`a`,0) as a0, char_length(`b`) as lb from `t`",
                  "CREATE OR REPLACE VIEW `v_fail` AS select * from nowhere",
                  "CREATE OR REPLACE VIEW `v_x` AS SELECT b FROM t",
              }));
    EXPECT_EQ(reports, std::vector<std::string>{"View 'v_fail': 0"});
    EXPECT_EQ(d.get_names_map().get_tn_mapped_name(L"v|x", false), L"v_x");
    EXPECT_EQ(rows("SELECT GROUP_CONCAT(a0 ORDER BY a0) FROM v_one")[0][0], "0,1");

    auto names = [](const udb_database::name_pairs& views) {
        std::vector<std::wstring> out;
        for (const auto& v : views) out.push_back(v.first);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(names(d.get_views()), (std::vector<std::wstring>{L"v_one", L"v_x"}));
    auto& again = open();
    EXPECT_EQ(names(again.get_views()), (std::vector<std::wstring>{L"v_one", L"v_x"}));
}

TEST_P(view_test, reporter_that_throws_ends_the_operation) {
    auto& d = open();
    d.set_view_error_reporter([](const tk_exception&, const std::string&) { throw tk_final_exception(); });
    EXPECT_THROW(d.create_views({{L"v_fail", L"select * from nowhere"}, {L"v_after", L"select 1 as one"}}),
                 tk_final_exception);
    EXPECT_TRUE(rows("SHOW FULL TABLES WHERE Table_type = 'VIEW'").empty());
}

TEST_P(view_test, failures_without_a_reporter_are_logged_and_skipped) {
    auto& d = open();
    d.create_views({{L"v_fail", L"select * from nowhere"}, {L"v_after", L"select 1 as one"}});
    EXPECT_EQ(rows("SHOW FULL TABLES WHERE Table_type = 'VIEW'").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(modes, view_test, every_server_mode(), server_mode_param_name);

}  // namespace
