// The MySQL database object against the test server: tables and views are
// listed, tables are opened with their columns, indexes and foreign keys,
// statements run, tables are dropped and emptied.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sql_db_write.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_query_check.h"
#include "sql_recs.h"
#include "sql_table.h"
#include "sql_table_write.h"
#include "sql_test_util.h"
#include "sql_write_util.h"
#include "test_server.h"
#include "tk_excep.h"
#include "tk_utils.h"

namespace {

using fennrow_test::quote_name;
using fennrow_test::test_database;
using fennrow_test::test_sql_conn;
using names = std::vector<std::wstring>;

// The record count of a table or query of the server, counted now.
uint64_t counted(udb_recordset& rs) {
    auto& counting = dynamic_cast<sql_recordset&>(rs);
    counting.count();
    EXPECT_TRUE(counting.is_record_count_known());
    return counting.get_record_count();
}

std::wstring w(const std::string& utf8) { return tk_from_utf8(utf8); }

class sql_db_test : public ::testing::Test {
protected:
    void SetUp() override {
        sql_test::use_empty_home();
        const auto srv = fennrow_test::require_test_server();
        engine_ = std::make_unique<sql_engine>();
        engine_->connect(srv.host, srv.user, srv.password, static_cast<int32_t>(srv.port));
        ASSERT_GE(engine_->get_server_version(), 0x50001u);
    }

    std::unique_ptr<udb_database> open(uint32_t mode = 1) { return open(db_.name(), mode); }
    std::unique_ptr<udb_database> open(const std::string& name, uint32_t mode) {
        return engine_->open_db(w(name), mode, std::wstring());
    }
    static sql_write_database& as_sql(udb_database& d) { return dynamic_cast<sql_write_database&>(d); }

    std::vector<std::string> server_tables() {
        std::vector<std::string> out;
        for (const auto& row : db_.conn().rows("SHOW TABLES")) out.push_back(*row[0]);
        std::sort(out.begin(), out.end());
        return out;
    }
    static names sorted(names v) {
        std::sort(v.begin(), v.end());
        return v;
    }
    // Reads every row of a recordset; the first column of each as text.
    static names first_column(udb_recordset& rs) {
        names out;
        rs.reset();
        while (!rs.is_eof()) {
            out.push_back(rs.get_record()->at(0)->to_wstring());
            rs.next();
        }
        return out;
    }

    test_database db_{"sqldb"};
    std::unique_ptr<sql_engine> engine_;
};

template <class F>
void expect_assertion(F&& f, uint32_t line) {
    try {
        f();
        ADD_FAILURE() << "no assertion for line " << line;
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(std::string(e.what()), make_err_meggase("sql_db", line));
    }
}

FENNROW_SERVER_TESTS(sql_db_test);

// With the writing library linked the engine's databases and tables write;
// the reading side alone reads the same table and refuses to create one.
TEST_F(sql_db_test, reading_side_alone_reads_and_does_not_write) {
    db_.conn().exec(
        "CREATE TABLE parent (id INT PRIMARY KEY);"
        "CREATE TABLE child (id INT PRIMARY KEY, pid INT, KEY k_pid (pid),"
        " CONSTRAINT fk_parent FOREIGN KEY (pid) REFERENCES parent (id))");
    auto writing = open(1);
    ASSERT_NE(dynamic_cast<sql_write_database*>(writing.get()), nullptr);
    auto written = writing->get_table(L"child", 1);
    EXPECT_NE(dynamic_cast<sql_write_table*>(written.get()), nullptr);
    EXPECT_EQ(writing->get_relationships().size(), 1u);

    auto reading = sql_database::create(w(db_.name()), engine_->get_connection(), 1);
    EXPECT_EQ(dynamic_cast<sql_write_database*>(reading.get()), nullptr);
    auto table = reading->get_table(L"child", 1);
    ASSERT_NE(dynamic_cast<sql_table*>(table.get()), nullptr);
    EXPECT_EQ(dynamic_cast<sql_write_table*>(table.get()), nullptr);
    // The same columns and indexes; the foreign keys are the writing side's.
    EXPECT_EQ(table->get_schema().size(), written->get_schema().size());
    EXPECT_EQ(table->get_indexes().size(), written->get_indexes().size());
    EXPECT_TRUE(reading->get_relationships().empty());
    EXPECT_EQ(first_column(*table), (names{}));
    expect_assertion([&] { reading->create_table(L"fresh", udb_schema(), udb_indexes()); }, 336);
    EXPECT_EQ(server_tables(), (std::vector<std::string>{"child", "parent"}));
}

TEST_F(sql_db_test, lists_base_tables_and_views) {
    db_.conn().exec(
        "CREATE TABLE orders (id INT PRIMARY KEY, total DECIMAL(10,2));"
        "CREATE TABLE `order lines` (id INT);"
        "CREATE TABLE `a``b` (id INT);"
        "CREATE TABLE `gr\xc3\xb6\xc3\x9f" "e` (id INT);"
        "CREATE TABLE hist (id INT) WITH SYSTEM VERSIONING;"
        "CREATE VIEW v_orders AS SELECT id, total FROM orders WHERE total > 10;"
        "CREATE VIEW `v ``x` AS SELECT 1 AS one");
    auto d = open(1);
    EXPECT_EQ(sorted(d->get_table_names()),
              sorted({L"orders", L"order lines", L"a`b", L"gr\u00f6\u00dfe", L"hist"}));

    const auto& views = d->get_views();
    ASSERT_EQ(views.size(), 2u);
    const auto it = std::find_if(views.begin(), views.end(), [](const auto& v) { return v.first == L"v_orders"; });
    ASSERT_NE(it, views.end());
    // The database's own qualifier is gone; the text runs in another database.
    EXPECT_EQ(it->second.find(w(db_.name())), std::wstring::npos) << tk_to_utf8(it->second);
    EXPECT_NE(it->second.find(L"from `orders` where `orders`.`total` > 10"), std::wstring::npos)
        << tk_to_utf8(it->second);
    EXPECT_TRUE(std::any_of(views.begin(), views.end(), [](const auto& v) { return v.first == L"v `x"; }));

    // The stored view text is a query the server accepts.
    EXPECT_TRUE(d->try_query(it->second));

    auto no_views = open(0xA1);
    EXPECT_TRUE(no_views->get_views().empty());
    EXPECT_EQ(no_views->get_table_names().size(), 5u);
}

// The listing tells the views apart: a database that shows none is not
// asked for view texts; a sequence is no table.
TEST_F(sql_db_test, view_texts_are_read_only_when_views_are_listed) {
    db_.conn().exec("CREATE TABLE t (id INT); CREATE SEQUENCE s");
    const std::string views_query = "SELECT table_name, view_definition FROM information_schema.views";
    for (bool with_view : {false, true}) {
        SCOPED_TRACE(with_view ? "a view" : "no view");
        if (with_view) db_.conn().exec("CREATE VIEW v AS SELECT id FROM t");
        std::vector<std::string> sent;
        std::unique_ptr<udb_database> d;
        {
            sql_write_test::statement_log log({views_query});
            d = open(1);
            sent = log.lines;
        }
        EXPECT_EQ(sent.size(), with_view ? 1u : 0u);
        EXPECT_EQ(d->get_table_names(), names{L"t"});
        EXPECT_EQ(d->get_views().size(), with_view ? 1u : 0u);
    }
}

// A database whose name holds a quote, a backquote and a backslash lists its views.
TEST_F(sql_db_test, awkward_database_name_lists_views) {
    const std::string name = db_.name() + "_q'x`y\\z";
    test_sql_conn& c = db_.conn();
    c.exec("CREATE DATABASE " + quote_name(name));
    struct dropper {
        test_sql_conn& c;
        std::string name;
        ~dropper() { c.try_exec("DROP DATABASE IF EXISTS " + quote_name(name)); }
    } drop{c, name};
    c.exec("CREATE TABLE " + quote_name(name) + ".t (id INT);"
           "CREATE VIEW " + quote_name(name) + ".v AS SELECT id FROM " + quote_name(name) + ".t");

    auto d = open(name, 1);
    EXPECT_EQ(d->get_name(), w(name));
    EXPECT_EQ(d->get_table_names(), names{L"t"});
    ASSERT_EQ(d->get_views().size(), 1u);
    EXPECT_EQ(d->get_views()[0].first, L"v");
    EXPECT_EQ(d->get_views()[0].second.find(L"x``y"), std::wstring::npos) << tk_to_utf8(d->get_views()[0].second);
    EXPECT_TRUE(d->try_query(d->get_views()[0].second));
    auto t = d->get_table(L"t", 1);
    EXPECT_EQ(t->get_schema().size(), 1u);
}

TEST_F(sql_db_test, view_text_loses_its_first_comment_and_own_qualifier) {
    auto d = open(1);
    const std::wstring q = L"`" + w(db_.name()) + L"`.";
    const sql_database& s = as_sql(*d);
    EXPECT_EQ(s.refine_view_out(L"select /* a */ " + q + L"`t`.`x` from " + q + L"`t` /* b */"),
              L"select  `t`.`x` from `t` /* b */");
    EXPECT_EQ(s.refine_view_out(L"select `other`.`t`.`x` from `other`.`t`"), L"select `other`.`t`.`x` from `other`.`t`");
    EXPECT_EQ(s.refine_view_out(L"select 1 */ from t /* x"), L"select 1 */ from t /* x");
}

TEST_F(sql_db_test, table_schema_comes_from_the_server) {
    // A zero date default, which servers with NO_ZERO_DATE refuse.
    db_.conn().exec("SET SESSION sql_mode = ''");
    db_.conn().exec(
        "CREATE TABLE t ("
        " id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,"
        " name VARCHAR(20) NOT NULL,"
        " note VARCHAR(10) DEFAULT 'x''y',"
        " empty_def VARCHAR(10) NOT NULL DEFAULT '',"
        " plain VARCHAR(10) NULL,"
        " price FLOAT(10,2) DEFAULT 1.5,"
        " ratio FLOAT(5,5),"
        " loose FLOAT,"
        " body MEDIUMTEXT,"
        " raw BLOB,"
        " zero_dt DATETIME NOT NULL DEFAULT '0000-00-00 00:00:00',"
        " no_def_dt DATETIME NOT NULL,"
        " now_dt DATETIME NOT NULL DEFAULT current_timestamp(),"
        " now_ts TIMESTAMP(6) NOT NULL DEFAULT CURRENT_TIMESTAMP(6),"
        " fixed_dt DATE DEFAULT '2020-01-02',"
        " flag BIT(1) NOT NULL DEFAULT b'1',"
        " off BIT(1) DEFAULT b'0',"
        " qty INT NOT NULL DEFAULT 42)");
    db_.conn().exec("INSERT INTO t (name, no_def_dt) VALUES ('a', '2021-01-01 00:00:00')");
    auto d = open(1);
    auto t = d->get_table(L"t", 1);
    udb_schema& s = t->get_schema();
    ASSERT_EQ(s.size(), 18u);
    EXPECT_EQ(counted(*t), 1u);

    EXPECT_EQ(s.get_field1(L"name").vartype, VT_BSTR);
    EXPECT_EQ(s.get_field1(L"name").size, 20u);
    EXPECT_TRUE(s.get_field1(L"name").b_not_null);
    EXPECT_EQ(s.get_field1(L"name").def_value.type(), VT_EMPTY);  // NOT NULL without default
    EXPECT_EQ(s.get_field1(L"note").def_value.to_wstring(), L"x'y");
    EXPECT_EQ(s.get_field1(L"empty_def").def_value.type(), VT_BSTR);
    EXPECT_EQ(s.get_field1(L"empty_def").def_value.to_wstring(), L"");
    EXPECT_EQ(s.get_field1(L"plain").def_value.type(), VT_EMPTY);

    EXPECT_EQ(s.get_field1(L"price").vartype, VT_DECIMAL);
    EXPECT_EQ(s.get_field1(L"price").precision, 10);
    EXPECT_EQ(s.get_field1(L"price").scale, 2);
    EXPECT_EQ(s.get_field1(L"price").def_value.to_wstring(), L"1.5");
    EXPECT_EQ(s.get_field1(L"ratio").vartype, VT_R4);
    EXPECT_EQ(s.get_field1(L"loose").vartype, VT_R4);
    EXPECT_EQ(s.get_field1(L"body").vartype, VT_BSTR);

    EXPECT_FALSE(s.get_field1(L"zero_dt").b_not_null);
    EXPECT_EQ(s.get_field1(L"zero_dt").def_value.type(), VT_EMPTY);
    EXPECT_FALSE(s.get_field1(L"no_def_dt").b_not_null);
    for (const wchar_t* now : {L"now_dt", L"now_ts"}) {
        EXPECT_TRUE(s.get_field1(now).b_not_null) << now;
        EXPECT_EQ(s.get_field1(now).reserved, 9u) << now;
    }
    EXPECT_EQ(s.get_field1(L"fixed_dt").def_value.type(), VT_EMPTY);
    EXPECT_NE(s.get_field1(L"fixed_dt").reserved, 9u);

    EXPECT_EQ(s.get_field1(L"flag").vartype, VT_BOOL);
    EXPECT_EQ(s.get_field1(L"flag").def_value.type(), VT_BOOL);
    EXPECT_TRUE(s.get_field1(L"flag").def_value.to_bool());
    EXPECT_EQ(s.get_field1(L"off").def_value.type(), VT_BOOL);
    EXPECT_FALSE(s.get_field1(L"off").def_value.to_bool());
    EXPECT_EQ(s.get_field1(L"qty").def_value.to_long(), 42);
    EXPECT_TRUE(s.get_field1(L"id").auto_increment);

    // The blob-to-text flag is back to what it was, both ways.
    EXPECT_FALSE(engine_->is_blob_to_text());
    engine_->set_blob_to_text(true);
    auto again = d->get_table(L"t", 1);
    EXPECT_TRUE(engine_->is_blob_to_text());
    engine_->set_blob_to_text(false);
}

TEST(sql_table_default, current_timestamp_spellings) {
    const struct {
        const wchar_t* text;
        bool now;
    } cases[] = {
        {L"CURRENT_TIMESTAMP", true},  {L"current_timestamp()", true}, {L"Current_Timestamp(6)", true},
        {L"current_timestamp( 3 )", true}, {L"current_timestamp", true}, {L"current_timestamp(x)", false},
        {L"current_timestamp()x", false}, {L"now()", false},            {L"current_time", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(sql_table::is_current_timestamp(c.text), c.now) << tk_to_utf8(c.text);
}

TEST_F(sql_db_test, indexes_are_discovered_in_column_order) {
    db_.conn().exec(
        "CREATE TABLE t (a INT NOT NULL, b INT NOT NULL, c INT, d INT, e INT,"
        " PRIMARY KEY (b, a), UNIQUE KEY uq (c), KEY idx_de (e, d))");
    auto d = open(1);
    auto t = d->get_table(L"t", 1);
    const udb_indexes& idx = t->get_indexes();
    ASSERT_EQ(idx.size(), 3u);
    const udb_index& pk = idx.get_index(L"PRIMARY");
    EXPECT_TRUE(pk.primary);
    EXPECT_TRUE(pk.unique);
    EXPECT_EQ(pk.fields, (names{L"b", L"a"}));
    const udb_index& uq = idx.get_index(L"uq");
    EXPECT_FALSE(uq.primary);
    EXPECT_TRUE(uq.unique);
    EXPECT_EQ(uq.fields, names{L"c"});
    const udb_index& de = idx.get_index(L"idx_de");
    EXPECT_FALSE(de.unique);
    EXPECT_EQ(de.fields, (names{L"e", L"d"}));
    EXPECT_EQ(t->get_key_pos(), idx.find2(L"PRIMARY"));

    // Modes without bits other than 0x20 and 0x40 read no indexes.
    for (uint32_t mode : {0x00u, 0x20u, 0x40u, 0x60u}) {
        auto bare = d->get_table(L"t", mode);
        EXPECT_TRUE(bare->get_indexes().empty()) << mode;
        EXPECT_EQ(bare->get_schema().size(), 5u);
    }
    EXPECT_EQ(d->get_table(L"t", 0x61)->get_indexes().size(), 3u);
}

TEST_F(sql_db_test, foreign_keys_are_discovered_once) {
    test_database other("sqldb_other");
    other.conn().exec("CREATE TABLE parent (id INT PRIMARY KEY)");
    db_.conn().exec(
        "CREATE TABLE parent (id INT NOT NULL, k INT NOT NULL, PRIMARY KEY (id, k));"
        "CREATE TABLE `a``b` (id INT PRIMARY KEY);"
        "CREATE TABLE child (id INT PRIMARY KEY, pid INT, pk INT, o INT, ab INT,"
        " CONSTRAINT fk_parent FOREIGN KEY (pid, pk) REFERENCES parent (id, k) ON DELETE CASCADE,"
        " CONSTRAINT fk_other FOREIGN KEY (o) REFERENCES " + quote_name(other.name()) + ".parent (id),"
        " CONSTRAINT `fk ``odd` FOREIGN KEY (ab) REFERENCES `a``b` (id) ON UPDATE SET NULL)");
    auto d = open(1);
    auto first = d->get_table(L"child", 1);
    auto second = d->get_table(L"CHILD", 1);
    const auto& rels = d->get_relationships();
    ASSERT_EQ(rels.size(), 3u);
    auto find = [&](const std::wstring& n) {
        auto it = std::find_if(rels.begin(), rels.end(), [&](const auto& r) { return r.constraint_name == n; });
        EXPECT_NE(it, rels.end()) << tk_to_utf8(n);
        return it == rels.end() ? udb_relationship() : *it;
    };
    const udb_relationship p = find(L"fk_parent");
    EXPECT_EQ(p.fk_table, L"child");
    EXPECT_EQ(p.pk_table, L"parent");
    EXPECT_EQ(p.fk_flds, (names{L"pid", L"pk"}));
    EXPECT_EQ(p.pk_flds, (names{L"id", L"k"}));
    EXPECT_EQ(p.rule, L"ON DELETE CASCADE");
    const udb_relationship o = find(L"fk_other");
    EXPECT_EQ(o.pk_table, L"parent");
    EXPECT_EQ(o.fk_flds, names{L"o"});
    const udb_relationship odd = find(L"fk `odd");
    EXPECT_EQ(odd.pk_table, L"a`b");
    EXPECT_EQ(odd.rule, L"ON UPDATE SET NULL");

    // Tables without foreign keys add nothing; no-index modes read none.
    d->get_table(L"parent", 1);
    auto fresh = open(1);
    fresh->get_table(L"child", 0x40);
    EXPECT_TRUE(fresh->get_relationships().empty());
    // The other database can go only once nothing refers to it.
    db_.conn().exec("DROP TABLE child");
}

TEST_F(sql_db_test, names_found_ignoring_case_open_the_listed_table) {
    db_.conn().exec(
        "CREATE TABLE orders (id INT);"
        "INSERT INTO orders VALUES (1), (2);"
        "CREATE TABLE Mixed (id INT); INSERT INTO Mixed VALUES (10);"
        "CREATE TABLE mixed (id INT); INSERT INTO mixed VALUES (20), (21), (22);"
        "CREATE TABLE `a``b` (`x``y` VARCHAR(5)); INSERT INTO `a``b` VALUES ('q');"
        "CREATE TABLE `gr\xc3\xb6\xc3\x9f" "e` (`stra\xc3\x9f" "e` INT); INSERT INTO `gr\xc3\xb6\xc3\x9f" "e` VALUES (7)");
    auto d = open(1);
    auto t = d->get_table(L"ORDERS", 1);
    EXPECT_EQ(t->get_name(), L"orders");
    EXPECT_EQ(counted(*t), 2u);
    EXPECT_EQ(first_column(*t), (names{L"1", L"2"}));

    EXPECT_EQ(counted(*d->get_table(L"Mixed", 1)), 1u);
    EXPECT_EQ(counted(*d->get_table(L"mixed", 1)), 3u);

    auto ab = d->get_table(L"A`B", 1);
    EXPECT_EQ(ab->get_name(), L"a`b");
    ASSERT_EQ(ab->get_schema().size(), 1u);
    EXPECT_EQ(ab->get_schema()[0]->name, L"x`y");
    EXPECT_EQ(first_column(*ab), names{L"q"});

    auto g = d->get_table(L"GR\u00d6\u00dfE", 1);
    EXPECT_EQ(g->get_name(), L"gr\u00f6\u00dfe");
    EXPECT_EQ(g->get_schema()[0]->name, L"stra\u00dfe");
    EXPECT_EQ(first_column(*g), names{L"7"});

    expect_assertion([&] { d->get_table(L"nope", 1); }, 75);
    expect_assertion([&] { d->get_table(L"v", 1); }, 75);
}

TEST_F(sql_db_test, delete_tab_drops_the_table_the_name_stands_for) {
    db_.conn().exec(
        "CREATE TABLE orders (id INT); CREATE TABLE Mixed (id INT); CREATE TABLE mixed (id INT);"
        "CREATE TABLE `a``b` (id INT); CREATE TABLE keep (id INT)");
    {
        auto ro = open(1);
        expect_assertion([&] { ro->delete_tab(L"orders"); }, 446);
    }
    auto d = open(0);
    expect_assertion([&] { d->delete_tab(L"nope"); }, 447);

    EXPECT_TRUE(d->delete_tab(L"ORDERS"));
    EXPECT_EQ(server_tables(), (std::vector<std::string>{"Mixed", "a`b", "keep", "mixed"}));

    // Two tables differ from the name only in case: nothing is dropped.
    EXPECT_FALSE(d->delete_tab(L"MIXED"));
    EXPECT_EQ(server_tables().size(), 4u);

    EXPECT_TRUE(d->delete_tab(L"mixed"));
    EXPECT_EQ(server_tables(), (std::vector<std::string>{"Mixed", "a`b", "keep"}));
    EXPECT_EQ(sorted(d->get_table_names()), sorted({L"Mixed", L"a`b", L"keep"}));

    EXPECT_TRUE(d->delete_tab(L"A`b"));
    EXPECT_EQ(server_tables(), (std::vector<std::string>{"Mixed", "keep"}));
    EXPECT_EQ(sorted(d->get_table_names()), sorted({L"Mixed", L"keep"}));
    EXPECT_FALSE(d->is_table_exist(L"a`b"));
}

TEST_F(sql_db_test, empty_table_quotes_the_listed_name) {
    db_.conn().exec("CREATE TABLE `a``b` (id INT); INSERT INTO `a``b` VALUES (1), (2);"
                    "CREATE TABLE other (id INT); INSERT INTO other VALUES (1)");
    auto d = open(0);
    d->empty_table(L"A`B");
    EXPECT_EQ(db_.conn().scalar("SELECT COUNT(*) FROM `a``b`"), "0");
    EXPECT_EQ(db_.conn().scalar("SELECT COUNT(*) FROM other"), "1");
}

TEST_F(sql_db_test, stored_queries_and_statements_run) {
    db_.conn().exec("CREATE TABLE t (id INT, s VARCHAR(10)); INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    auto d = open(1);

    auto q = d->get_query(L"big ones", L"SELECT s FROM t WHERE id > 1 ORDER BY id;", 1);
    EXPECT_TRUE(q->is_query());
    EXPECT_EQ(q->get_name(), L"big ones");
    EXPECT_EQ(counted(*q), 2u);
    EXPECT_EQ(first_column(*q), (names{L"b", L"c"}));
    q.reset();

    auto rows = d->query(L"SELECT id FROM t ORDER BY id DESC");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(first_column(*rows), (names{L"3", L"2", L"1"}));
    rows.reset();
    EXPECT_EQ(d->query(L"SET @x = 1"), nullptr);

    try {
        d->query(L"SELEC nothing");
        ADD_FAILURE() << "no exception";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.code(), 0x400000u | 1064u);
        EXPECT_EQ(e.level(), 0u);
    }

    // try_query answers, throws nothing and leaves the connection free.
    EXPECT_FALSE(d->try_query(L"SELECT * FROM no_such_table"));
    EXPECT_TRUE(d->try_query(L"SELECT * FROM t"));
    EXPECT_EQ(first_column(*d->query(L"SELECT COUNT(*) FROM t")), names{L"3"});

    auto& s = as_sql(*d);
    s.query_append("INSERT INTO t VALUES (4, '\xc3\xa4')");
    EXPECT_EQ(db_.conn().scalar("SELECT s FROM t WHERE id = 4"), "\xc3\xa4");
    EXPECT_THROW(s.query_append("INSERT INTO nowhere VALUES (1)"), sql_exception);
    EXPECT_EQ(first_column(*d->query(L"SELECT COUNT(*) FROM t")), names{L"4"});
}

// The statement hook sees the statements that only try a query or ask the
// server whether a query can be converted, whether they succeed or not.
TEST_F(sql_db_test, tried_and_checked_statements_pass_the_hook) {
    db_.conn().exec("CREATE TABLE t (id INT)");
    auto d = open(1);
    std::vector<std::string> sent;
    {
        sql_write_test::statement_log log;
        EXPECT_TRUE(d->try_query(L"SELECT id FROM t"));
        EXPECT_FALSE(d->try_query(L"SELECT id FROM no_such_table"));
        EXPECT_EQ(sql_query_problem(engine_->get_connection(), "SELECT id + 1 FROM t"), "");
        EXPECT_NE(sql_query_problem(engine_->get_connection(), "SELECT id FROM no_such_table"), "");
        sent = log.lines;
    }
    for (const char* statement : {"SELECT id FROM t", "SELECT id FROM no_such_table", "SELECT id + 1 FROM t"})
        EXPECT_NE(std::find(sent.begin(), sent.end(), statement), sent.end()) << statement;
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "SELECT id FROM no_such_table"), 2);
}

TEST_F(sql_db_test, fk_index_is_added_only_when_missing) {
    db_.conn().exec("CREATE TABLE t (a INT, b INT, c INT, KEY k_ab (a, b))");
    auto d = open(0);
    auto& s = as_sql(*d);
    auto index_count = [&] { return db_.conn().rows("SHOW INDEX FROM t").size(); };

    s.create_fk_index_if(L"t", {L"A"});
    s.create_fk_index_if(L"t", {L"a", L"b"});
    EXPECT_EQ(index_count(), 2u);

    s.create_fk_index_if(L"T", {L"b"});
    const auto rows = db_.conn().rows("SHOW INDEX FROM t WHERE Column_name = 'b' AND Key_name <> 'k_ab'");
    ASSERT_EQ(rows.size(), 1u);

    // A mapped field name is the column's name on the server.
    d->get_names_map().add_fn_map(L"t", {{L"src_c", L"c"}});
    s.create_fk_index_if(L"t", {L"src_c"});
    EXPECT_EQ(db_.conn().rows("SHOW INDEX FROM t WHERE Column_name = 'c'").size(), 1u);
    // A failing statement is only logged.
    EXPECT_NO_THROW(s.create_fk_index_if(L"t", {L"no_such_column"}));
}

TEST_F(sql_db_test, creating_a_table_in_a_database_read_from_asserts) {
    udb_schema schema;
    udb_indexes indexes;
    auto ro = open(1);
    expect_assertion([&] { ro->create_table(L"n", schema, indexes); }, 336);
    EXPECT_EQ(server_tables(), std::vector<std::string>{});
}

}  // namespace

// Tables opened one after another, and two open at once, each read their own
// rows and columns, whatever the records of the one before held.
TEST_F(sql_db_test, recordsets_open_together_or_in_turn_read_their_own_rows) {
    db_.conn().exec("CREATE TABLE wide3 (a VARCHAR(20), b INT, c VARCHAR(20))");
    db_.conn().exec("INSERT INTO wide3 VALUES ('w1', 1, 'x1'), ('w2', 2, 'x2'), ('w3', 3, NULL)");
    db_.conn().exec("CREATE TABLE one (n INT)");
    db_.conn().exec("INSERT INTO one VALUES (7), (8)");
    auto d = open();
    const auto row_text = [](udb_recordset& rs) {
        std::wstring out;
        udb_record* r = rs.get_record();
        for (size_t i = 0; i < r->size(); ++i) out += (i ? L"|" : L"") + r->at(i)->to_wstring();
        return out;
    };
    {
        auto a = d->get_table(L"wide3", 1);
        auto b = d->get_table(L"one", 1);
        a->reset();
        b->reset();
        EXPECT_EQ(row_text(*a), L"w1|1|x1");
        EXPECT_EQ(row_text(*b), L"7");
        a->next();
        b->next();
        EXPECT_EQ(row_text(*a), L"w2|2|x2");
        EXPECT_EQ(row_text(*b), L"8");
    }
    for (const auto& [table, rows] : std::vector<std::pair<std::wstring, names>>{
             {L"wide3", {L"w1|1|x1", L"w2|2|x2", L"w3|3|"}},
             {L"one", {L"7", L"8"}},
             {L"wide3", {L"w1|1|x1", L"w2|2|x2", L"w3|3|"}}}) {
        auto rs = d->get_table(table, 1);
        names got;
        for (rs->reset(); !rs->is_eof(); rs->next()) got.push_back(row_text(*rs));
        EXPECT_EQ(got, rows) << std::string(table.begin(), table.end());
        EXPECT_EQ(rs->get_record(), nullptr);
    }
}

// Tables read in turn for their rows share one record page and its records:
// nothing of a table before (rows, names, types, sizes, a failed table's
// state) shows in the next one, which reads as on a page of its own.
TEST_F(sql_db_test, tables_read_in_turn_for_their_rows_keep_nothing_of_the_one_before) {
    auto& c = db_.conn();
    c.exec("CREATE TABLE ta (id INT, v VARCHAR(20), d DECIMAL(12,2), t DATETIME)");
    c.exec("INSERT INTO ta VALUES (1, 'one', 1.50, '2024-01-02 03:04:05'), (2, NULL, -2.25, NULL),"
           " (3, 'three three', 0.00, '1999-12-31 23:59:59'), (4, '', 12345.67, '2000-01-01 00:00:00')");
    // The same names with other types, and fewer rows.
    c.exec("CREATE TABLE tb (id VARCHAR(10), v INT, d DATETIME, t DECIMAL(12,2))");
    c.exec("INSERT INTO tb VALUES ('x', 7, '2021-06-07 08:09:10', 9.99), (NULL, NULL, NULL, NULL)");
    // Other names, another count of columns.
    c.exec("CREATE TABLE tc (x DOUBLE, y VARCHAR(5), z BIGINT UNSIGNED)");
    c.exec("INSERT INTO tc VALUES (0.5, 'abc', 18446744073709551615), (-1e300, 'q\"r', 0), (2, NULL, 1)");
    // Other names, the same count of columns.
    c.exec("CREATE TABLE td (k INT, w VARCHAR(20), e DECIMAL(12,2), u DATETIME)");
    c.exec("INSERT INTO td VALUES (5, 'five', 5.55, '2005-05-05 05:05:05'), (6, 'six', 6.66, NULL)");
    c.exec("CREATE TABLE tgone (id INT)");
    c.exec("INSERT INTO tgone VALUES (1)");
    c.exec("CREATE TABLE tempty (id INT, v VARCHAR(20), d DECIMAL(12,2), t DATETIME)");

    // Every part of every row that reaches a file: names, types, sizes and the cells.
    const auto dump = [](udb_recordset& rs) {
        names rows;
        std::wstring header;
        for (size_t i = 0; i < rs.get_schema().size(); ++i) header += rs.get_schema()[i]->name + L",";
        rows.push_back(header);
        for (; !rs.is_eof(); rs.next()) {
            udb_record* r = rs.get_record();
            std::string line;
            for (size_t i = 0; r && i < r->size(); ++i) {
                const udb_field* f = r->at(i);
                line += tk_to_utf8(f->get_name()) + ":" + std::to_string(f->get_type()) + ":" +
                        std::to_string(f->get_declared_size()) + "=";
                f->append_utf8_cell(line);
                line += "|";
            }
            rows.push_back(w(line));
        }
        EXPECT_EQ(rs.get_record(), nullptr);
        return rows;
    };
    // Each table as read on a fresh page.
    const auto alone = [&](const std::wstring& table) {
        auto fresh = open();
        auto rs = fresh->get_table(table, udb_database::table_rows_only);
        rs->reset();
        return dump(*rs);
    };
    std::vector<std::pair<std::wstring, names>> expected;
    for (const wchar_t* t : {L"ta", L"tb", L"tc", L"td", L"tempty"}) expected.emplace_back(t, alone(t));
    ASSERT_EQ(expected[0].second.size(), 5u);
    ASSERT_EQ(expected[1].second.size(), 3u);
    ASSERT_EQ(expected[4].second.size(), 1u);

    auto d = open();
    // The catalog is read with the second table: tgone is in it, then dropped.
    d->get_table(L"ta", udb_database::table_rows_only);
    d->get_table(L"tb", udb_database::table_rows_only);
    c.exec("DROP TABLE tgone");
    const std::vector<std::wstring> order = {L"ta", L"tb", L"ta", L"tgone", L"tc", L"ta", L"td", L"ta", L"tempty", L"tb", L"ta"};
    for (const std::wstring& table : order) {
        SCOPED_TRACE(tk_to_utf8(table));
        auto rs = d->get_table(table, udb_database::table_rows_only);
        ASSERT_TRUE(rs);
        // Before its stream opens, a table shows no rows (not those of the table before).
        EXPECT_TRUE(rs->is_eof());
        EXPECT_EQ(rs->get_record(), nullptr);
        if (table == L"tgone") {
            EXPECT_THROW(rs->reset(), sql_exception);
            EXPECT_TRUE(rs->is_eof());
            EXPECT_EQ(rs->get_record(), nullptr);
            continue;
        }
        rs->reset();
        const auto it = std::find_if(expected.begin(), expected.end(), [&](const auto& e) { return e.first == table; });
        ASSERT_NE(it, expected.end());
        EXPECT_EQ(dump(*rs), it->second);
    }
}
