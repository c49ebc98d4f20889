// Name rules of MySQL targets: which names the validators of new and old
// servers accept, the replacements they make, the kinds and the engine's
// factories, and that the server takes every name they let through.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sql_vali.h"
#include "sql_write_test_util.h"
#include "test_server.h"
#include "udb_idx.h"
#include "udb_record.h"

using namespace sql_write_test;

namespace {

std::wstring repeat(const std::wstring& s, size_t n) {
    std::wstring out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

enum kind_t { column_kind, table_kind };

struct accept_case {
    const char* what;
    std::wstring name;
    bool column_ok;
    bool table_ok;
};

void PrintTo(const accept_case& c, std::ostream* os) { *os << c.what; }

class NewValidatorAccepts : public ::testing::TestWithParam<accept_case> {};

TEST_P(NewValidatorAccepts, ForColumnsAndTables) {
    const auto& c = GetParam();
    sql_new_validator columns(false), tables(true);
    EXPECT_EQ(columns.is_acceptable(c.name), c.column_ok) << "column name";
    EXPECT_EQ(tables.is_acceptable(c.name), c.table_ok) << "table name";
}

INSTANTIATE_TEST_SUITE_P(
    Names, NewValidatorAccepts,
    ::testing::Values(
        accept_case{"plain", L"order_items", true, true},
        accept_case{"reserved words are quoted", L"order", true, true},
        accept_case{"plus", L"a+b", false, false},
        accept_case{"backquote", L"a`b", false, false},
        accept_case{"quote", L"a'b", false, false},
        accept_case{"double quote", L"a\"b", false, false},
        accept_case{"backslash", L"a\\b", false, false},
        accept_case{"semicolon", L"a;b", false, false},
        accept_case{"caret", L"a^b", false, false},
        accept_case{"asterisk", L"a*b", false, false},
        accept_case{"vertical bar", L"a|b", true, false},
        accept_case{"colon", L"a:b", true, false},
        accept_case{"less", L"a<b", true, false},
        accept_case{"greater", L"a>b", true, false},
        accept_case{"question mark", L"a?b", true, false},
        accept_case{"slash", L"a/b", true, false},
        accept_case{"point", L"a.b", true, true},
        accept_case{"hyphen and blank inside", L"my-table 2", true, true},
        accept_case{"leading blank", L" ab", false, false},
        accept_case{"trailing blank", L"ab ", false, false},
        accept_case{"trailing tab", L"ab\t", false, false},
        accept_case{"trailing line feed", L"ab\n", false, false},
        accept_case{"ideographic space at the end", L"ab\u3000", true, true},
        accept_case{"empty", L"", false, false},
        accept_case{"64 characters", repeat(L"a", 64), true, true},
        accept_case{"65 characters", repeat(L"a", 65), false, false},
        accept_case{"zero character", std::wstring(L"a\0b", 3), false, false},
        accept_case{"beyond U+FFFF", L"a\U0001F600", false, false},
        accept_case{"lone surrogate", std::wstring(L"a") + static_cast<wchar_t>(0xD800), false, false},
        accept_case{"U+FFFF", L"a\uFFFF", true, true},
        accept_case{"64 letters with short file codes", repeat(L"\u00E4", 64), true, true},
        accept_case{"50 symbols fill the file name", repeat(L"\u20AC", 50), true, true},
        accept_case{"51 symbols do not", repeat(L"\u20AC", 51), true, false},
        accept_case{"Cyrillic", repeat(L"\u0436", 64), true, true}),
    [](const auto& info) {
        std::string s;
        for (const char* p = info.param.what; *p; ++p) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return s;
    });

TEST(NewValidator, RefusalsAreLogged) {
    log_capture log;
    sql_new_validator columns(false), tables(true);
    EXPECT_FALSE(columns.is_acceptable(L"a+b"));
    EXPECT_TRUE(log.has_line("The name contains illegal: +"));
    EXPECT_FALSE(columns.is_acceptable(repeat(L"x", 65)));
    EXPECT_TRUE(log.has_line("Invalid length"));
    EXPECT_FALSE(columns.is_acceptable(L" x"));
    EXPECT_TRUE(log.has_line("ID cannot starts or ends with ' '"));
    EXPECT_FALSE(tables.is_acceptable(L"x|y"));
    EXPECT_TRUE(log.has_line("The name contains illegal: |"));
    EXPECT_TRUE(log.has_line("sql_new_validator::is_acceptable(x|y)"));
}

struct safe_case {
    const char* what;
    std::wstring name;
    std::vector<std::wstring> in_use;
    bool table;
    std::wstring expected;
};

void PrintTo(const safe_case& c, std::ostream* os) { *os << c.what; }

class NewValidatorSafeName : public ::testing::TestWithParam<safe_case> {};

TEST_P(NewValidatorSafeName, IsAcceptableAndFree) {
    const auto& c = GetParam();
    sql_new_validator v(c.table);
    for (const auto& n : c.in_use) v.add_existing_name(n);
    const std::wstring safe = v.get_safe_name(c.name);
    EXPECT_EQ(safe, c.expected);
    EXPECT_TRUE(v.is_acceptable(safe));
    EXPECT_FALSE(v.is_duplicated(safe));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NewValidatorSafeName,
    ::testing::Values(
        safe_case{"blanks on both sides", L"  My Name  ", {}, false, L"my name"},
        safe_case{"white space on both sides", L"\t\nab\r ", {}, false, L"ab"},
        safe_case{"plus", L"a+b", {}, false, L"a_b"},
        safe_case{"taken", L"a+b", {L"A_B"}, false, L"a_b00000"},
        safe_case{"table symbols", L"x|y/z", {}, true, L"x_y_z"},
        safe_case{"column keeps the bar", L"x|y", {L"x|y"}, false, L"x|y00000"},
        safe_case{"too long", repeat(L"A", 70), {}, false, repeat(L"a", 63)},
        safe_case{"beyond U+FFFF", L"a\U0001F600b", {}, false, L"a_b"},
        safe_case{"zero character", std::wstring(L"a\0b", 3), {}, false, L"a_b"},
        safe_case{"blanks only", L"   ", {}, false, L"00000"},
        safe_case{"file name budget", repeat(L"\u20AC", 60), {}, true, repeat(L"\u20AC", 49)},
        safe_case{"file name budget when taken", repeat(L"\u20AC", 49), {repeat(L"\u20AC", 49)}, true,
                  repeat(L"\u20AC", 49) + L"00000"}),
    [](const auto& info) {
        std::string s;
        for (const char* p = info.param.what; *p; ++p) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return s;
    });

// --- Old servers ------------------------------------------------------------

TEST(OldValidator, ReservedWordsDigitsAndSymbols) {
    sql_old_validator v;
    EXPECT_EQ(sql_old_validator::reserved_words().size(), 167u);
    for (const wchar_t* word : {L"order", L"ORDER", L"Order", L"zerofill", L"Add", L"sql_big_tables"})
        EXPECT_FALSE(v.is_acceptable(word)) << u8(word);
    for (const wchar_t* name : {L"order_id", L"a$b", L"_", L"x1", L"\u00E4nderung", L"1a"})
        EXPECT_TRUE(v.is_acceptable(name)) << u8(name);
    for (const wchar_t* name : {L"1234", L"", L"a-b", L"a b", L"a.b", L"a\U00020000"})
        EXPECT_FALSE(v.is_acceptable(name)) << u8(name);
    EXPECT_FALSE(v.is_acceptable(repeat(L"a", 65)));
    EXPECT_TRUE(v.is_acceptable(repeat(L"a", 64)));
}

TEST(OldValidator, RefusalsAreLogged) {
    log_capture log;
    sql_old_validator v;
    EXPECT_FALSE(v.is_acceptable(L"ORDER"));
    EXPECT_TRUE(log.has_line("The name is restricted"));
    EXPECT_FALSE(v.is_acceptable(L"a-b"));
    EXPECT_TRUE(log.has_line("Name contains invalid symbol: '-'"));
    EXPECT_FALSE(v.is_acceptable(L"2024"));
    EXPECT_TRUE(log.has_line("Name consists of digits only"));
    EXPECT_FALSE(v.is_acceptable(repeat(L"a", 65)));
    EXPECT_TRUE(log.has_line("The name is too long"));
}

TEST(OldValidator, SafeNames) {
    sql_old_validator v;
    EXPECT_EQ(v.get_safe_name(L"2024"), L"_024");
    EXPECT_EQ(v.get_safe_name(L"a-b"), L"a_b");
    v.add_existing_name(L"a_b");
    EXPECT_EQ(v.get_safe_name(L"a-b"), L"a_b00000");
    EXPECT_EQ(v.get_safe_name(L"Order"), L"order00000");
    EXPECT_EQ(v.get_safe_name(L"x\U00020000y"), L"x_y");
    // An empty name gets a name of its own instead of exhausting the numbers.
    EXPECT_EQ(v.get_safe_name(L""), L"_");
}

// --- Kinds and factories -------------------------------------------------------

TEST(ValidatorKinds, RegisterTheNamesOfTheirArgument) {
    udb_record record;
    record.push_back(std::make_unique<udb_field>(L"Id", 4, ole_variant()));
    record.push_back(std::make_unique<udb_field>(L"Name", 10, ole_variant()));
    udb_schema schema;
    schema.push_back(column(L"Amount", VT_R8));
    udb_indexes indexes;
    indexes.push_back(udb_index(L"PK_orders", true, true, false, {L"Id"}));
    const std::vector<std::wstring> first{L"orders"}, second{L"Order Lines"};

    std::vector<std::pair<std::unique_ptr<udb_validator>, std::wstring>> kinds;
    kinds.emplace_back(std::make_unique<sql_new_fn_validator>(record), L"name");
    kinds.emplace_back(std::make_unique<sql_old_fn_validator>(record), L"NAME");
    kinds.emplace_back(std::make_unique<sql_new_fn_validator>(schema), L"amount");
    kinds.emplace_back(std::make_unique<sql_old_fn_validator>(schema), L"AMOUNT");
    kinds.emplace_back(std::make_unique<sql_new_in_validator>(indexes), L"pk_orders");
    kinds.emplace_back(std::make_unique<sql_old_in_validator>(indexes), L"PK_ORDERS");
    kinds.emplace_back(std::make_unique<sql_new_tn_validator>(first, second), L"order lines");
    kinds.emplace_back(std::make_unique<sql_old_tn_validator>(first, second), L"ORDERS");
    for (auto& [v, taken] : kinds) {
        EXPECT_TRUE(v->is_duplicated(taken)) << u8(taken);
        EXPECT_FALSE(v->is_duplicated(L"other")) << u8(taken);
    }
    // Destroyed through the base: the derived destructors run.
    kinds.clear();
}

TEST(ValidatorKinds, TableKindsFollowTableRules) {
    sql_new_tn_validator tables({}, {});
    sql_new_fn_validator columns(udb_record{});
    sql_new_in_validator indexes(udb_indexes{});
    EXPECT_TRUE(tables.is_table_validator());
    EXPECT_FALSE(tables.is_acceptable(L"a|b"));
    EXPECT_TRUE(columns.is_acceptable(L"a|b"));
    EXPECT_TRUE(indexes.is_acceptable(L"a|b"));
}

TEST(ValidatorFactories, ChooseByServerVersion) {
    udb_record record;
    udb_schema schema;
    udb_indexes indexes;
    for (uint32_t version : {old_server, last_old, first_new, new_server}) {
        engine_at e(version);
        const bool is_new = version >= first_new;
        SCOPED_TRACE(version);
        auto fn1 = e.engine.create_fn_validator(record);
        auto fn2 = e.engine.create_fn_validator(schema);
        auto in = e.engine.create_in_validator(indexes);
        auto tn = e.engine.create_tn_validator({L"a"}, {L"b"});
        EXPECT_EQ(dynamic_cast<sql_new_fn_validator*>(fn1.get()) != nullptr, is_new);
        EXPECT_EQ(dynamic_cast<sql_old_fn_validator*>(fn1.get()) != nullptr, !is_new);
        EXPECT_EQ(dynamic_cast<sql_new_fn_validator*>(fn2.get()) != nullptr, is_new);
        EXPECT_EQ(dynamic_cast<sql_old_fn_validator*>(fn2.get()) != nullptr, !is_new);
        EXPECT_EQ(dynamic_cast<sql_new_in_validator*>(in.get()) != nullptr, is_new);
        EXPECT_EQ(dynamic_cast<sql_old_in_validator*>(in.get()) != nullptr, !is_new);
        EXPECT_EQ(dynamic_cast<sql_new_tn_validator*>(tn.get()) != nullptr, is_new);
        EXPECT_EQ(dynamic_cast<sql_old_tn_validator*>(tn.get()) != nullptr, !is_new);
        EXPECT_TRUE(tn->is_duplicated(L"B"));
    }
}

TEST(FileNameBytes, FollowTheServersEncoding) {
    EXPECT_EQ(sql_names::file_name_bytes(L"Ab_9"), 4u);
    EXPECT_EQ(sql_names::file_name_bytes(L"\u00E9"), 3u);
    EXPECT_EQ(sql_names::file_name_bytes(L"\u00D7"), 5u);  // the multiplication sign has no short code
    EXPECT_EQ(sql_names::file_name_bytes(L"$-. "), 20u);
    EXPECT_EQ(sql_names::file_name_bytes(L"\uFF21\uFF3B"), 8u);
}

FENNROW_SERVER_TESTS(ValidatorsOnServer);

// --- The server takes what the validators let through ----------------------------

TEST(ValidatorsOnServer, SafeNamesAndAcceptedNamesAreTaken) {
    fennrow_test::test_database db("vali");
    const std::vector<std::wstring> names = {
        L"a`b",
        L"x y ",
        L"\tz",
        L"order",
        repeat(L"\u20AC", 60),
        repeat(L"\u00E4", 64),
        repeat(L"q", 70),
        std::wstring(L"ab\0c", 4),
        L"smile\U0001F600",
        L"a/b:c|d",
        L"..",
        L"\u20AC\u3000",
        L"Z\u00D7" + repeat(L"|", 49),
    };
    int n = 0;
    for (const auto& name : names) {
        SCOPED_TRACE(u8(name));
        sql_new_validator tables(true), columns(false);
        const std::wstring table = tables.is_acceptable(name) ? name : tables.get_safe_name(name);
        const std::wstring col = columns.is_acceptable(name) ? name : columns.get_safe_name(name);
        ASSERT_TRUE(tables.is_acceptable(table));
        ASSERT_TRUE(columns.is_acceptable(col));
        const std::string t = u8(sql_engine::get_safe_name(table));
        const std::string c = u8(sql_engine::get_safe_name(col));
        const std::string i = u8(sql_engine::get_safe_name(col));
        std::string error;
        EXPECT_EQ(db.conn().try_exec("CREATE TABLE " + t + " (" + c + " INT, INDEX " + i + " (" + c + "))", &error), 0u)
            << error;
        EXPECT_EQ(db.conn().scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = DATABASE() "
                                   "AND table_name = " + db.conn().literal(u8(table))),
                  "1");
        db.conn().exec("DROP TABLE " + t);
        ++n;
    }
    EXPECT_EQ(n, static_cast<int>(names.size()));
}

TEST(ValidatorsOnServer, OldRulesGiveNamesThatNeedNoQuotes) {
    fennrow_test::test_database db("vali_old");
    sql_old_validator v;
    for (const wchar_t* name : {L"order", L"2024", L"a-b c", L"select"}) {
        const std::wstring safe = v.get_safe_name(name);
        ASSERT_TRUE(v.is_acceptable(safe)) << u8(safe);
        std::string error;
        EXPECT_EQ(db.conn().try_exec("CREATE TABLE " + u8(safe) + " (" + u8(safe) + " INT)", &error), 0u) << error;
    }
}

}  // namespace
