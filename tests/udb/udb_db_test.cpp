// Database, engine, custom conversion, properties and small value classes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tk_excep.h"
#include "udb_db.h"
#include "udb_dump.h"
#include "udb_engine.h"
#include "udb_props.h"
#include "udb_recordset.h"
#include "udb_relationship.h"
#include "udb_rule.h"
#include "utf8.h"

namespace {

class test_db : public udb_database {
public:
    test_db(bool case_sensitive, std::vector<std::wstring> tables) : udb_database(L"db", 1, case_sensitive) {
        tables_ = std::move(tables);
    }
    using udb_database::create_table;
    std::unique_ptr<udb_recordset> create_table(const std::wstring&, const udb_schema&, const udb_indexes&) override {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, uint32_t) override {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, uint32_t) override { return nullptr; }
    bool try_query(const std::wstring&) override { return true; }
    void create_index(const std::wstring& table, uint32_t flags, const udb_index& index) override {
        made.push_back(table + L":" + std::to_wstring(flags) + L":" + index.name);
    }
    std::vector<std::wstring> made;
};

class recording_db : public test_db {
public:
    recording_db() : test_db(false, {}) {}
    std::unique_ptr<udb_recordset> query(const std::wstring& text) override {
        statements.push_back(text);
        return nullptr;
    }
    std::vector<std::wstring> statements;
};

class test_engine : public udb_engine {
public:
    std::unique_ptr<udb_database> create_db(const std::wstring&) override { return nullptr; }
    std::unique_ptr<udb_database> open_db(const std::wstring&, uint32_t, const std::wstring&) override {
        return std::make_unique<test_db>(false, std::vector<std::wstring>{});
    }
};

std::string temp_folder() {
    char tmpl[] = "/tmp/fn_udb_XXXXXX";
    char* p = mkdtemp(tmpl);
    return p ? std::string(p) : std::string();
}

}  // namespace

TEST(udb_database, table_existence_by_case_rule) {
    test_db exact(true, {L"Orders", L"items"});
    test_db loose(false, {L"Orders", L"items"});
    EXPECT_TRUE(exact.is_table_exist(L"Orders"));
    EXPECT_FALSE(exact.is_table_exist(L"ORDERS"));
    EXPECT_TRUE(loose.is_table_exist(L"ORDERS"));
    EXPECT_FALSE(loose.is_table_exist(L"order"));
    test_db empty(false, {});
    EXPECT_FALSE(empty.is_table_exist(L"x"));
}

TEST(udb_database, table_existence_follows_every_change_of_the_list) {
    test_db exact(true, {L"a", L"b", L"c"});
    std::vector<std::wstring>& names = exact.get_table_names();
    EXPECT_TRUE(exact.is_table_exist(L"b"));
    names.push_back(L"d");  // grown
    EXPECT_TRUE(exact.is_table_exist(L"d"));
    names[1] = L"x";  // renamed in place, same size
    EXPECT_FALSE(exact.is_table_exist(L"b"));
    EXPECT_TRUE(exact.is_table_exist(L"x"));
    EXPECT_TRUE(exact.delete_tab(L"a"));  // shifted
    EXPECT_FALSE(exact.is_table_exist(L"a"));
    EXPECT_TRUE(exact.is_table_exist(L"c"));
    EXPECT_TRUE(exact.is_table_exist(L"d"));
    names.clear();
    EXPECT_FALSE(exact.is_table_exist(L"c"));
    names.push_back(L"c");
    EXPECT_TRUE(exact.is_table_exist(L"c"));
}

TEST(udb_database, delete_tab_removes_only_the_first_match) {
    test_db db(false, {L"a", L"T", L"b", L"t"});
    EXPECT_TRUE(db.delete_tab(L"t"));
    EXPECT_EQ(db.get_table_names(), (std::vector<std::wstring>{L"a", L"b", L"t"}));
    test_db exact(true, {L"T"});
    EXPECT_FALSE(exact.delete_tab(L"t"));
    EXPECT_EQ(exact.get_table_names().size(), 1u);
}

TEST(udb_database, empty_table_runs_a_delete_statement) {
    recording_db db;
    db.empty_table(L"`my table`");
    EXPECT_EQ(db.statements, std::vector<std::wstring>{L"delete from `my table`"});
}

TEST(udb_database, create_indexes_creates_each_index_in_order) {
    test_db db(false, {});
    udb_indexes list;
    list.push_back(udb_index(L"b", false, false));
    list.push_back(udb_index(L"a", true, false));
    db.create_indexes(L"t", 7, list);
    EXPECT_EQ(db.made, (std::vector<std::wstring>{L"t:7:b", L"t:7:a"}));
}

TEST(udb_database, unsupported_base_operations_are_internal_errors) {
    test_db db(false, {});
    try {
        db.query(L"select 1");
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("udb_db", 111));
    }
    try {
        db.create_table(L"t", udb_schema(), udb_indexes(), L"p");
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("udb_db", 50));
    }
    EXPECT_THROW(db.empty_table(L"t"), tk_mail_assertion);
}

TEST(udb_database, members_from_the_constructor) {
    std::unique_ptr<udb_database> db = test_engine().open_db(L"x", 0, L"");
    EXPECT_EQ(db->get_name(), L"db");
    EXPECT_EQ(db->get_mode(), 1u);
    EXPECT_FALSE(db->is_case_sensitive());
    EXPECT_TRUE(db->get_views().empty());
    EXPECT_TRUE(db->get_relationships().empty());
}

TEST(udb_engine, file_tests_and_deletion) {
    std::string dir = temp_folder();
    ASSERT_FALSE(dir.empty());
    std::string file = dir + "/data.db";
    std::ofstream(file) << "x";
    test_engine engine;
    EXPECT_TRUE(engine.is_db_exist(plat::utf8_decode(file)));
    EXPECT_FALSE(engine.is_db_exist(plat::utf8_decode(dir)));
    EXPECT_FALSE(engine.is_db_exist(plat::utf8_decode(dir + "/missing")));

    engine.db_delete(plat::utf8_decode(file));
    EXPECT_FALSE(std::filesystem::exists(file));
    try {
        engine.db_delete(plat::utf8_decode(file));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.code(), static_cast<uint32_t>(ENOENT));
        EXPECT_EQ(e.message(), "Cannot delete " + file + ": No such file or directory");
    }
    std::filesystem::remove_all(dir);

    udb_properties props;
    engine.set_properties(&props);
    EXPECT_EQ(engine.get_properties(), &props);
}

TEST(udb_properties, values_and_children) {
    udb_properties engine;
    engine.get_map()[L"engine"] = L"InnoDB";
    udb_properties& table = engine.add_properties(L"Orders");
    table.get_map()[L"character set"] = L"latin1";
    table.add_properties(L"name").get_map()[L"character_set"] = L"utf8mb4";

    EXPECT_EQ(engine.get_value(L"engine"), L"InnoDB");
    EXPECT_EQ(engine.get_value(L"character set"), L"");
    EXPECT_EQ(engine.get_map().count(L"character set"), 0u);  // reading adds nothing
    ASSERT_NE(engine.get_properties(L"orders"), nullptr);
    EXPECT_EQ(engine.get_properties(L"ORDERS")->get_value(L"character set"), L"latin1");
    EXPECT_EQ(engine.get_properties(L"Orders")->get_properties(L"NAME")->get_value(L"character_set"), L"utf8mb4");
    EXPECT_EQ(engine.get_properties(L"items"), nullptr);
    EXPECT_EQ(&engine.add_properties(L"Orders"), &table);
}

namespace {

// Accepts text columns and values holding the text "x".
class text_rule : public udb_rule {
public:
    bool is_acceptable(const ole_variant& v) const override { return v.type() == VT_BSTR && v.get_bstr() == L"x"; }
    bool is_acceptable(const t_ftd& c) const override { return c.vartype == VT_BSTR; }
    std::wstring handle(const ole_variant&) const override { return L"'X'"; }
    std::wstring handle(const t_ftd& c) const override { return L"TEXT(" + c.name + L")"; }
};

}  // namespace

TEST(udb_custom_conversion, without_the_object_nothing_is_accepted) {
    ASSERT_EQ(udb_custom_conversion::peek(), nullptr);
    t_ftd text_column(10, L"c", VT_BSTR, false, false, ole_variant(), 0, L"");
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(text_column));
    EXPECT_EQ(udb_custom_conversion::handle1(text_column), L"");
    ole_variant x(std::wstring(L"x"));
    EXPECT_FALSE(udb_custom_conversion::is_acceptable2(x));
    EXPECT_EQ(udb_custom_conversion::handle2(x), L"");
}

TEST(udb_custom_conversion, registered_rules_decide) {
    udb_custom_conversion conv;
    t_ftd text_column(10, L"c", VT_BSTR, false, false, ole_variant(), 0, L"");
    t_ftd int_column(4, L"n", VT_I4, false, false, ole_variant(), 0, L"");
    ole_variant x(std::wstring(L"x"));
    ole_variant y(std::wstring(L"y"));
    // Registered but empty: no rule, no failure.
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(text_column));
    EXPECT_EQ(udb_custom_conversion::handle2(y), L"");

    conv.add_rule(std::make_unique<text_rule>());
    EXPECT_TRUE(udb_custom_conversion::is_acceptable1(text_column));
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(int_column));
    EXPECT_EQ(udb_custom_conversion::handle1(text_column), L"TEXT(c)");
    EXPECT_EQ(udb_custom_conversion::handle1(int_column), L"");
    EXPECT_TRUE(udb_custom_conversion::is_acceptable2(x));
    EXPECT_EQ(udb_custom_conversion::handle2(x), L"'X'");
    try {
        udb_custom_conversion::handle2(y);
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("udb_rule", 88));
    }
}

TEST(dump_options, defaults) {
    dump_options d;
    EXPECT_EQ(d.dump_line_break, 0);
    EXPECT_TRUE(d.dump_new_version);
    EXPECT_TRUE(d.dump_add_lock);
    EXPECT_TRUE(d.dump_insert_comments);
    EXPECT_FALSE(d.dump_create_db);
    EXPECT_TRUE(d.dump_create_table);
}

TEST(udb_relationship, constructor_order_and_copy) {
    udb_relationship r(L"fk_a", L"", L"child", L"parent", {L"x", L"y"}, {L"p", L"q"}, L"ON DELETE CASCADE");
    udb_relationship c(r);
    EXPECT_EQ(c.constraint_name, L"fk_a");
    EXPECT_EQ(c.fk_table, L"child");
    EXPECT_EQ(c.pk_table, L"parent");
    EXPECT_EQ(c.rule, L"ON DELETE CASCADE");
    EXPECT_EQ(c.fk_flds, (std::vector<std::wstring>{L"x", L"y"}));
    EXPECT_EQ(c.pk_flds, (std::vector<std::wstring>{L"p", L"q"}));
}
