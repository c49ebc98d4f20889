// Creating tables on a MySQL server: column clauses, index clauses and the
// CREATE TABLE statement, checked against the rules of old and new servers
// and against the test server.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "param_names.h"
#include "sql_excep.h"
#include "sql_idx_init.h"
#include "sql_init.h"
#include "sql_write_util.h"
#include "tk_excep.h"
#include "udb_props.h"

namespace {

using namespace sql_write_test;
using chunks = std::vector<std::wstring>;

constexpr uint32_t new_server = 0x50000;
constexpr uint32_t old_server = 0x40000;

// An engine that is not connected: the rules follow the version set here.
class offline_engine_test : public ::testing::Test {
protected:
    void use(uint32_t version) { engine_.set_server_version(version); }
    sql_engine engine_;
};

// Target columns for the index tests.
udb_schema index_columns() {
    std::vector<t_ftd> cols;
    for (int i = 1; i <= 17; ++i) cols.push_back(column(L"c" + std::to_wstring(i), VT_I4, 4));
    cols.push_back(column(L"s200", VT_I4, 200));
    cols.push_back(column(L"s56", VT_I4, 56));
    cols.push_back(column(L"s57", VT_I4, 57));
    cols.push_back(column(L"s1000", VT_I4, 1000));
    cols.push_back(column(L"s536", VT_I4, 536));
    cols.push_back(column(L"s537", VT_I4, 537));
    cols.push_back(column(L"t768", VT_BSTR, 768));
    cols.push_back(column(L"u768", VT_BSTR, 768));
    cols.push_back(column(L"t769", VT_BSTR, 769));
    cols.push_back(column(L"t0", VT_BSTR, 0));
    cols.push_back(column(L"b", VT_BLOB, 10));
    cols.push_back(column(L"bo", VT_BLOB_OBJECT, 10));
    cols.push_back(column(L"ba", VT_BYTE_ARRAY, 10));
    cols.push_back(column(L"id", VT_I4, 4, true, true));
    return schema_of(cols);
}

std::vector<std::wstring> first_columns(int n) {
    std::vector<std::wstring> out;
    for (int i = 1; i <= n; ++i) out.push_back(L"c" + std::to_wstring(i));
    return out;
}

std::wstring quoted_list(const std::vector<std::wstring>& names) {
    std::wstring out;
    for (size_t i = 0; i < names.size(); ++i) out += (i ? L", `" : L"`") + names[i] + L"`";
    return out;
}

chunks index_chunks(const udb_indexes& indexes, const std::wstring& auto_name = {},
                    const udb_names_map::name_map& names = {}) {
    const udb_schema target = index_columns();
    sql_indexes_initializer init(target, indexes, auto_name, names, false);
    chunks out;
    init.get_init_chunks(out);
    return out;
}

struct index_case {
    const char* what;
    uint32_t version;
    udb_index index;
    const wchar_t* chunk;  // null: refused
};

class index_rules : public offline_engine_test, public ::testing::WithParamInterface<index_case> {};

TEST_P(index_rules, one_index) {
    const index_case& c = GetParam();
    use(c.version);
    const chunks out = index_chunks(indexes_of({c.index}));
    if (c.chunk) {
        ASSERT_EQ(out.size(), 1u) << c.what;
        EXPECT_EQ(out[0], c.chunk) << c.what;
    } else {
        EXPECT_TRUE(out.empty()) << c.what << ": " << u(out.empty() ? L"" : out[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, index_rules,
    ::testing::Values(
        index_case{"17 columns", new_server, udb_index(L"i", false, false, false, first_columns(17)), nullptr},
        index_case{"old key 256", old_server, udb_index(L"k", false, false, false, {L"s200", L"s56"}),
                   L"INDEX `k` (`s200`, `s56`)"},
        index_case{"old key 257", old_server, udb_index(L"k", false, false, false, {L"s200", L"s57"}), nullptr},
        index_case{"new key 1536", new_server, udb_index(L"k", false, false, false, {L"s1000", L"s536"}),
                   L"INDEX `k` (`s1000`, `s536`)"},
        index_case{"new key 1537", new_server, udb_index(L"k", false, false, false, {L"s1000", L"s537"}), nullptr},
        index_case{"text 768", new_server, udb_index(L"t", true, false, false, {L"t768"}), L"UNIQUE `t` (`t768`)"},
        index_case{"text 769", new_server, udb_index(L"t", false, false, false, {L"t769"}), nullptr},
        index_case{"long text", new_server, udb_index(L"t", false, false, false, {L"t0"}), nullptr},
        index_case{"two texts past the key bytes", new_server,
                   udb_index(L"t", false, false, false, {L"t768", L"u768"}), nullptr},
        index_case{"blob", new_server, udb_index(L"b", false, false, false, {L"c1", L"b"}), nullptr},
        index_case{"blob object", new_server, udb_index(L"b", false, false, false, {L"bo"}), nullptr},
        index_case{"byte array", new_server, udb_index(L"b", false, false, false, {L"ba"}), nullptr},
        index_case{"missing column", new_server, udb_index(L"m", false, false, false, {L"c1", L"nope"}), nullptr},
        index_case{"no columns", new_server, udb_index(L"e", false, false, false, {}), nullptr},
        index_case{"primary key", new_server, udb_index(L"PRIMARY", true, true, false, {L"C1"}),
                   L"PRIMARY KEY (`C1`)"},
        index_case{"nameless index", new_server, udb_index(L"", false, false, false, {L"c2"}), L"INDEX (`c2`)"},
        index_case{"reserved word on an old server", old_server, udb_index(L"order", false, false, false, {L"c3"}),
                   L"INDEX `order00000` (`c3`)"},
        index_case{"reserved word on a new server", new_server, udb_index(L"order", false, false, false, {L"c3"}),
                   L"INDEX `order` (`c3`)"},
        index_case{"illegal character", new_server, udb_index(L"a+b", false, false, false, {L"c3"}),
                   L"INDEX `a_b` (`c3`)"}),
    [](const auto& info) { return test_names::ident(info.param.what); });

TEST_F(offline_engine_test, sixteen_columns_are_the_most) {
    use(new_server);
    const chunks out = index_chunks(indexes_of({udb_index(L"i16", false, false, false, first_columns(16)),
                                                udb_index(L"i17", false, false, false, first_columns(17))}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], L"INDEX `i16` (" + quoted_list(first_columns(16)) + L")");
}

TEST_F(offline_engine_test, index_count_limit_by_version) {
    for (const auto& [version, limit] : {std::pair<uint32_t, size_t>{old_server, 15}, {new_server, 63}}) {
        use(version);
        std::vector<udb_index> list;
        for (int i = 0; i < 70; ++i) list.emplace_back(L"i" + std::to_wstring(i), false, false, false,
                                                       std::vector<std::wstring>{L"c1"});
        // A refused index does not count.
        list.insert(list.begin(), udb_index(L"refused", false, false, false, {L"b"}));
        const chunks out = index_chunks(indexes_of(list));
        ASSERT_EQ(out.size(), limit) << std::hex << version;
        EXPECT_EQ(out.back(), L"INDEX `i" + std::to_wstring(limit - 1) + L"` (`c1`)");

        // The auto-increment column still gets its index after the limit.
        const chunks with_auto = index_chunks(indexes_of(list), L"id");
        ASSERT_EQ(with_auto.size(), limit + 1);
        EXPECT_EQ(with_auto.back(), L"INDEX `id` (`id`)");
    }
}

TEST_F(offline_engine_test, auto_increment_column_always_leads_some_index) {
    use(new_server);
    struct auto_case {
        const char* what;
        std::vector<udb_index> list;
        chunks expected;
    };
    const std::vector<auto_case> cases = {
        {"no index", {}, {L"INDEX `id` (`id`)"}},
        {"first column of an index", {udb_index(L"k", false, false, false, {L"ID", L"c1"})},
         {L"INDEX `k` (`ID`, `c1`)"}},
        {"refused index", {udb_index(L"k", false, false, false, {L"id", L"b"})}, {L"INDEX `id` (`id`)"}},
        {"second column only", {udb_index(L"k", false, false, false, {L"c1", L"id"})},
         {L"INDEX `k` (`c1`, `id`)", L"INDEX `id` (`id`)"}},
        {"its name is taken", {udb_index(L"id", false, false, false, {L"c1"})},
         {L"INDEX `id` (`c1`)", L"INDEX `id00000` (`id`)"}},
        {"primary key", {udb_index(L"PRIMARY", true, true, false, {L"id"})}, {L"PRIMARY KEY (`id`)"}},
    };
    for (const auto_case& c : cases) EXPECT_EQ(index_chunks(indexes_of(c.list), L"id"), c.expected) << c.what;
}

TEST_F(offline_engine_test, index_columns_take_target_names_ignoring_case) {
    use(new_server);
    const udb_names_map::name_map names = {{L"Source Col", L"c5"}, {L"other", L"c6"}};
    const chunks out = index_chunks(indexes_of({udb_index(L"k", false, false, false, {L"source col", L"c7"})}), {},
                                    names);
    EXPECT_EQ(out, (chunks{L"INDEX `k` (`c5`, `c7`)"}));
}

TEST_F(offline_engine_test, second_primary_key_becomes_unique) {
    use(new_server);
    const chunks out = index_chunks(indexes_of({udb_index(L"PRIMARY", true, true, false, {L"c1"}),
                                                udb_index(L"pk2", true, true, false, {L"c2"})}));
    EXPECT_EQ(out, (chunks{L"PRIMARY KEY (`c1`)", L"UNIQUE `pk2` (`c2`)"}));
}

// --- Column clauses -----------------------------------------------------------------

chunks column_chunks(const udb_schema& schema, const udb_indexes& indexes, std::wstring& auto_name,
                     const udb_properties* props = nullptr, udb_names_map::name_map* names = nullptr) {
    sql_schema_initializer init(L"t", schema, indexes, &auto_name, false);
    chunks out;
    init.get_init_chunks(out, props);
    if (names) *names = init.get_names_map();
    return out;
}

TEST_F(offline_engine_test, column_clauses_on_a_new_server) {
    use(new_server);
    t_ftd note = column(L"note", VT_BSTR, 10);
    note.description = L"it's a \\ path";
    note.def_value = ole_variant(std::wstring(L"n'a"));
    t_ftd wide = column(L"wide", VT_BSTR, 21845);
    wide.def_value = ole_variant(std::wstring(L"x"));
    t_ftd wider = column(L"wider", VT_BSTR, 21846);
    wider.def_value = ole_variant(std::wstring(L"x"));
    t_ftd lng = column(L"lng", VT_BSTR, 0);
    lng.def_value = ole_variant(std::wstring(L"x"));
    t_ftd flagged_text = column(L"flagged", VT_BSTR, 5, false, true);
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4, false, true), note, wide, wider, lng,
                                         column(L"k", VT_I2, 2), flagged_text});
    const udb_indexes indexes = indexes_of({udb_index(L"PRIMARY", true, true, false, {L"k"})});
    std::wstring auto_name = L"stale";
    const chunks out = column_chunks(schema, indexes, auto_name);
    EXPECT_EQ(auto_name, L"id");
    EXPECT_EQ(out, (chunks{
                       L"`id` INT NOT NULL AUTO_INCREMENT",
                       L"`note` VARCHAR(10) CHARACTER SET utf8mb4 DEFAULT 'n\\'a' COMMENT 'it\\'s a \\\\ path'",
                       L"`wide` MEDIUMTEXT CHARACTER SET utf8mb4 DEFAULT 'x'",
                       L"`wider` MEDIUMTEXT CHARACTER SET utf8mb4",
                       L"`lng` LONGTEXT CHARACTER SET utf8mb4",
                       L"`k` SMALLINT NOT NULL",
                       L"`flagged` VARCHAR(5) CHARACTER SET utf8mb4 NOT NULL",
                   }));
}

TEST_F(offline_engine_test, only_character_columns_take_a_character_set) {
    use(new_server);
    t_ftd shape = column(L"shape", VT_BSTR, 0);
    shape.reserved = 2;  // geometry
    t_ftd raw = column(L"raw", VT_BLOB, 0);
    const udb_schema schema = schema_of({shape, raw, column(L"name", VT_BSTR, 20)});
    std::wstring auto_name;
    const chunks out = column_chunks(schema, indexes_of({}), auto_name);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].find(L"CHARACTER SET"), std::wstring::npos) << out[0];
    EXPECT_EQ(out[1].find(L"CHARACTER SET"), std::wstring::npos) << out[1];
    EXPECT_NE(out[2].find(L"CHARACTER SET"), std::wstring::npos) << out[2];
}

TEST_F(offline_engine_test, column_clauses_on_old_servers) {
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4, false, true), column(L"name", VT_BSTR, 20),
                                         column(L"ref", VT_I4, 4)});
    const udb_indexes indexes = indexes_of({udb_index(L"r", false, false, false, {L"ref"})});
    std::wstring auto_name;
    use(0x40000);
    EXPECT_EQ(column_chunks(schema, indexes, auto_name),
              (chunks{L"id INT NOT NULL AUTO_INCREMENT", L"name VARCHAR(20)", L"ref INT"}));
    // Below 3.23.2 every index column is NOT NULL.
    use(0x31701);
    EXPECT_EQ(column_chunks(schema, indexes, auto_name),
              (chunks{L"id INT NOT NULL AUTO_INCREMENT", L"name VARCHAR(20)", L"ref INT NOT NULL"}));
}

TEST_F(offline_engine_test, column_names_the_server_refuses_are_renamed) {
    use(new_server);
    const udb_schema schema =
        schema_of({column(L"a+b", VT_I4, 4), column(L"Id", VT_I4, 4), column(L"ID", VT_I4, 4), column(L" x", VT_I4, 4)});
    std::wstring auto_name;
    udb_names_map::name_map names;
    const chunks out = column_chunks(schema, udb_indexes(), auto_name, nullptr, &names);
    EXPECT_EQ(out, (chunks{L"`a_b` INT", L"`Id` INT", L"`id00000` INT", L"`x` INT"}));
    EXPECT_EQ(names, (udb_names_map::name_map{{L"a+b", L"a_b"}, {L"ID", L"id00000"}, {L" x", L"x"}}));
}

TEST_F(offline_engine_test, second_auto_increment_column_asserts) {
    use(new_server);
    const udb_schema schema = schema_of({column(L"a", VT_I4, 4, false, true), column(L"b", VT_I8, 8, false, true)});
    std::wstring auto_name;
    try {
        column_chunks(schema, udb_indexes(), auto_name);
        ADD_FAILURE() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(std::string(e.what()), make_err_meggase("sql_init", 140));
    }
}

TEST_F(offline_engine_test, column_character_sets_come_from_the_properties) {
    use(new_server);
    udb_properties table;
    table.add_properties(L"name").get_map()[L"character_set"] = L"latin1";
    const udb_schema schema = schema_of({column(L"name", VT_BSTR, 5), column(L"other", VT_BSTR, 5)});
    std::wstring auto_name;
    EXPECT_EQ(column_chunks(schema, udb_indexes(), auto_name, &table),
              (chunks{L"`name` VARCHAR(5) CHARACTER SET latin1", L"`other` VARCHAR(5) CHARACTER SET utf8mb4"}));
    table.add_properties(L"name").get_map()[L"character_set"] = L"latin1 COLLATE x; DROP";
    try {
        column_chunks(schema, udb_indexes(), auto_name, &table);
        ADD_FAILURE() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
    }
}

// --- CREATE TABLE on the server -------------------------------------------------------

class create_test : public mode_fixture {};

FENNROW_SERVER_MODE_TESTS(create_test);

TEST_P(create_test, statement_text_and_result) {
    auto& d = open();
    t_ftd note = column(L"note", VT_BSTR, 10);
    note.description = L"it's";
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4, false, true), note});
    statement_log log(write_prefixes());
    auto t = d.create_table(L"t1", schema, udb_indexes());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0],
              "CREATE TABLE `t1` (`id` INT NOT NULL AUTO_INCREMENT, `note` VARCHAR(10) CHARACTER SET utf8mb4 "
              "COMMENT 'it\\'s', INDEX `id` (`id`)) ENGINE=InnoDB");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->get_name(), L"t1");
    ASSERT_EQ(t->get_schema().size(), 2u);
    EXPECT_TRUE(t->get_schema()[0]->auto_increment);
    EXPECT_EQ(t->get_schema()[1]->size, 10u);
    EXPECT_EQ(t->get_indexes().size(), 1u);
    EXPECT_TRUE(d.is_table_exist(L"T1"));
    const auto comment = rows("SELECT column_comment FROM information_schema.columns WHERE table_schema = '" +
                              db_.name() + "' AND column_name = 'note'");
    ASSERT_EQ(comment.size(), 1u);
    EXPECT_EQ(*comment[0][0], "it's");
}

TEST_P(create_test, existing_table_is_opened_and_nothing_is_sent) {
    db_.conn().exec("CREATE TABLE old_t (a INT, b VARCHAR(3))");
    auto& d = open();
    statement_log log(write_prefixes());
    auto t = d.create_table(L"OLD_T", schema_of({column(L"x", VT_I4, 4)}), udb_indexes());
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(t->get_schema().size(), 2u);
    EXPECT_EQ(t->get_schema()[0]->name, L"a");
}

TEST_P(create_test, table_without_indexes_gets_no_index_clause) {
    auto& d = open();
    statement_log log(write_prefixes());
    d.create_table(L"plain", schema_of({column(L"a", VT_I4, 4), column(L"b", VT_R8, 8)}), udb_indexes());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "CREATE TABLE `plain` (`a` INT, `b` DOUBLE) ENGINE=InnoDB");
}

TEST_P(create_test, indexes_and_renamed_columns_reach_the_server) {
    auto& d = open();
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4, false, true), column(L"a+b", VT_BSTR, 20),
                                         column(L"doc", VT_BSTR, 0), column(L"k", VT_I4, 4)});
    // The auto-increment column sits in a refused index: it gets an index of its own.
    const udb_indexes indexes =
        indexes_of({udb_index(L"PRIMARY", true, true, false, {L"k"}), udb_index(L"u", true, false, false, {L"a+b"}),
                    udb_index(L"lob", false, false, false, {L"id", L"doc"})});
    auto t = d.create_table(L"with keys", schema, indexes);
    const auto keys = rows("SELECT index_name, column_name, non_unique FROM information_schema.statistics WHERE "
                           "table_schema = '" + db_.name() + "' ORDER BY index_name, seq_in_index");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(*keys[0][0], "id");
    EXPECT_EQ(*keys[0][1], "id");
    EXPECT_EQ(*keys[1][0], "PRIMARY");
    EXPECT_EQ(*keys[1][1], "k");
    EXPECT_EQ(*keys[2][0], "u");
    EXPECT_EQ(*keys[2][1], "a_b");
    EXPECT_EQ(*keys[2][2], "0");
    // The new name is recorded for the table.
    EXPECT_EQ(d.get_names_map().get_fn_mapped_name(L"with keys", L"a+b"), L"a_b");
    EXPECT_EQ(t->get_key_pos(), 0);
}

TEST_P(create_test, table_properties_choose_engine_and_character_set) {
    udb_properties props;
    udb_properties& table = props.add_properties(L"props_t");
    table.get_map()[L"engine"] = L"MyISAM";
    table.get_map()[L"character set"] = L"latin1";
    engine_->set_properties(&props);
    auto& d = open();
    statement_log log(write_prefixes());
    d.create_table(L"props_t", schema_of({column(L"a", VT_BSTR, 5)}), udb_indexes());
    engine_->set_properties(nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0],
              "CREATE TABLE `props_t` (`a` VARCHAR(5) CHARACTER SET utf8mb4) character set latin1 ENGINE=MyISAM");
    const auto status = rows("SELECT engine, table_collation FROM information_schema.tables WHERE table_schema = '" +
                             db_.name() + "' AND table_name = 'props_t'");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(*status[0][0], "MyISAM");
    EXPECT_EQ(status[0][1]->substr(0, 6), "latin1");
}

// Older servers: bare column names, no character sets, the table type by
// its old keyword and MyISAM below 3.23.35. (The test server refuses TYPE=.)
TEST_P(create_test, statement_for_old_servers) {
    auto& d = open();
    const uint32_t version = engine_->get_server_version();
    const udb_schema schema = schema_of({column(L"id", VT_I4, 4, false, true), column(L"name", VT_BSTR, 5)});
    std::vector<std::string> texts;
    for (uint32_t old : {0x40016u, 0x31722u}) {
        engine_->set_server_version(old);
        statement_log log(write_prefixes());
        EXPECT_THROW(d.create_table(L"old_t", schema, udb_indexes()), sql_exception);
        engine_->set_server_version(version);
        ASSERT_EQ(log.lines.size(), 1u);
        texts.push_back(log.lines[0]);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "CREATE TABLE `old_t` (id INT NOT NULL AUTO_INCREMENT, name VARCHAR(5), INDEX `id` (`id`)) "
                         "TYPE=InnoDB",
                         "CREATE TABLE `old_t` (id INT NOT NULL AUTO_INCREMENT, name VARCHAR(5), INDEX `id` (`id`)) "
                         "TYPE=MyISAM",
                     }));
    EXPECT_FALSE(d.is_table_exist(L"old_t"));
}

TEST_P(create_test, refused_statement_changes_nothing) {
    auto& d = open();
    t_ftd bad = column(L"a", VT_I4, 4);
    bad.native_type = L"NO_SUCH_TYPE";
    EXPECT_THROW(d.create_table(L"bad_t", schema_of({bad}), udb_indexes()), sql_exception);
    EXPECT_FALSE(d.is_table_exist(L"bad_t"));
    EXPECT_TRUE(d.get_names_map().fields.empty());
}

TEST_P(create_test, native_type_of_a_mysql_source_is_kept) {
    auto& d = open();
    t_ftd e = column(L"e", VT_BSTR, 1);
    e.native_type = L"enum('a','b')";
    t_ftd v = column(L"v", VT_BSTR, 7);
    v.native_type = L"varchar(7)";
    statement_log log(write_prefixes());
    d.create_table(L"native_t", schema_of({e, v}), udb_indexes());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0],
              "CREATE TABLE `native_t` (`e` enum('a','b'), `v` varchar(7) CHARACTER SET utf8mb4) ENGINE=InnoDB");
}

INSTANTIATE_TEST_SUITE_P(modes, create_test, every_server_mode(), server_mode_param_name);

}  // namespace
