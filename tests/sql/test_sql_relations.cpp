// Foreign-key constraints created on the test server and read back with the
// foreign-key parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sql_excep.h"
#include "sql_fk_parser.h"
#include "sql_write_util.h"
#include "tk_excep.h"

namespace {

using namespace sql_write_test;

class relation_test : public mode_fixture {
protected:
    // parent(id PK), child(id PK, parent+id -> parent_id, up), other(a).
    void make_tables(sql_write_database& d) {
        d.create_table(L"parent", schema_of({column(L"id", VT_I4, 4, true)}),
                       indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
        d.create_table(L"child",
                       schema_of({column(L"id", VT_I4, 4, true), column(L"parent+id", VT_I4, 4),
                                  column(L"up", VT_I4, 4)}),
                       indexes_of({udb_index(L"PRIMARY", true, true, false, {L"id"})}));
        d.create_table(L"other", schema_of({column(L"a", VT_I4, 4)}), udb_indexes());
        d.get_names_map().add_tn_mapping(L"Parent Table", L"parent");
    }
    std::vector<udb_relationship> parsed(const std::string& table) {
        std::vector<udb_relationship> out;
        // Read with backquoted names, as the engine's session reads it,
        // whatever the server's own mode.
        db_.conn().exec("SET @saved_mode = @@SESSION.sql_mode, SESSION sql_mode = ''");
        const auto r = rows("SHOW CREATE TABLE " + table);
        db_.conn().exec("SET SESSION sql_mode = @saved_mode");
        sql_fk_parser parser(w(table), *r.at(0).at(1));
        parser.do_parse(out);
        std::sort(out.begin(), out.end(),
                  [](const udb_relationship& a, const udb_relationship& b) { return a.constraint_name < b.constraint_name; });
        return out;
    }
    std::string fk_checks() {
        return sql_test::scalar(engine_->get_connection(), "SELECT @@foreign_key_checks").value_or("?");
    }
    // A statement on a table that no LOCK TABLES names works only when
    // nothing is locked.
    void expect_unlocked() {
        EXPECT_NO_THROW(database().query_append("INSERT INTO `other` VALUES (1)"));
    }
};

FENNROW_SERVER_MODE_TESTS(relation_test);

TEST_P(relation_test, empty_list_switches_checks_off_and_on) {
    auto& d = open();
    statement_log log(write_prefixes());
    d.create_relationships({});
    EXPECT_EQ(log.lines, (std::vector<std::string>{"SET FOREIGN_KEY_CHECKS = 0", "SET FOREIGN_KEY_CHECKS = 1"}));
}

TEST_P(relation_test, constraints_map_names_lock_each_table_once_and_read_back) {
    auto& d = open();
    make_tables(d);
    const std::vector<udb_relationship> rels = {
        udb_relationship(L"fk_parent", L"", L"CHILD", L"Parent Table", {L"parent+id"}, {L"id"},
                         L"ON DELETE CASCADE"),
        udb_relationship(L"fk_up", L"", L"child", L"child", {L"up"}, {L"id"}, L""),
    };
    statement_log log(write_prefixes());
    d.create_relationships(rels);
    const std::vector<std::string> expected = {
        "SET FOREIGN_KEY_CHECKS = 0",
        "LOCK TABLES `parent` WRITE, `child` WRITE",
        "ALTER TABLE `child` ADD INDEX (`parent_id`)",
        "ALTER TABLE `child` ADD CONSTRAINT `fk_parent` FOREIGN KEY(`parent_id`) REFERENCES `parent`(`id`) ON "
        "DELETE CASCADE",
        "LOCK TABLES `child` WRITE",
        "ALTER TABLE `child` ADD INDEX (`up`)",
        "ALTER TABLE `child` ADD CONSTRAINT `fk_up` FOREIGN KEY(`up`) REFERENCES `child`(`id`)",
        "UNLOCK TABLES",
        "SET FOREIGN_KEY_CHECKS = 1",
    };
    EXPECT_EQ(log.lines, expected);

    const auto back = parsed("child");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].constraint_name, L"fk_parent");
    EXPECT_EQ(back[0].pk_table, L"parent");
    EXPECT_EQ(back[0].fk_flds, std::vector<std::wstring>{L"parent_id"});
    EXPECT_EQ(back[0].pk_flds, std::vector<std::wstring>{L"id"});
    EXPECT_NE(back[0].rule.find(L"ON DELETE CASCADE"), std::wstring::npos) << u(back[0].rule);
    EXPECT_EQ(back[1].constraint_name, L"fk_up");
    EXPECT_EQ(back[1].pk_table, L"child");
    EXPECT_TRUE(back[1].rule.empty()) << u(back[1].rule);

    EXPECT_EQ(fk_checks(), "1");
    expect_unlocked();
}

TEST_P(relation_test, failure_still_unlocks_and_switches_checks_on) {
    auto& d = open();
    make_tables(d);
    const std::vector<udb_relationship> rels = {
        udb_relationship(L"fk_ok", L"", L"child", L"parent", {L"parent+id"}, {L"id"}, L""),
        udb_relationship(L"fk_bad", L"", L"child", L"nope", {L"up"}, {L"id"}, L""),
        udb_relationship(L"fk_late", L"", L"child", L"child", {L"up"}, {L"id"}, L""),
    };
    try {
        d.create_relationships(rels);
        ADD_FAILURE() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 0u);
        EXPECT_STREQ(e.what(), "Table 'nope' not exists");
    }
    EXPECT_EQ(fk_checks(), "1");
    expect_unlocked();
    const auto back = parsed("child");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].constraint_name, L"fk_ok");

    // A constraint the server refuses: the same.
    try {
        d.create_relationships({udb_relationship(L"fk_type", L"", L"child", L"parent", {L"up", L"id"}, {L"id"}, L"")});
        ADD_FAILURE() << "no exception";
    } catch (const sql_exception&) {
    }
    EXPECT_EQ(fk_checks(), "1");
    expect_unlocked();
}

TEST_P(relation_test, constraint_names_are_unique_in_the_database) {
    auto& d = open();
    make_tables(d);
    d.create_table(L"child2", schema_of({column(L"p", VT_I4, 4)}), udb_indexes());
    d.create_relationships({
        udb_relationship(L"fk", L"", L"child", L"parent", {L"parent+id"}, {L"id"}, L""),
        udb_relationship(L"FK", L"", L"child2", L"parent", {L"p"}, {L"id"}, L""),
    });
    ASSERT_EQ(parsed("child").size(), 1u);
    EXPECT_EQ(parsed("child")[0].constraint_name, L"fk");
    const auto second = parsed("child2");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].constraint_name, L"fk00000");
}

TEST_P(relation_test, rule_text_must_be_words) {
    auto& d = open();
    make_tables(d);
    try {
        d.create_relationships(
            {udb_relationship(L"fk", L"", L"child", L"parent", {L"parent+id"}, {L"id"}, L"ON DELETE CASCADE; DROP")});
        ADD_FAILURE() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 0u);
    }
    EXPECT_TRUE(parsed("child").empty());
    EXPECT_EQ(fk_checks(), "1");
}

TEST_P(relation_test, append_mode_and_old_servers_send_nothing) {
    {
        auto& d = open(sql_database::mode_append);
        statement_log log(write_prefixes());
        d.create_relationships({udb_relationship(L"fk", L"", L"a", L"b", {L"x"}, {L"y"}, L"")});
        EXPECT_TRUE(log.lines.empty());
    }
    auto& d = open();
    const uint32_t version = engine_->get_server_version();
    engine_->set_server_version(0x3172B);
    statement_log log(write_prefixes());
    d.create_relationships({udb_relationship(L"fk", L"", L"a", L"b", {L"x"}, {L"y"}, L"")});
    engine_->set_server_version(version);
    EXPECT_TRUE(log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(modes, relation_test, every_server_mode(), server_mode_param_name);

}  // namespace
