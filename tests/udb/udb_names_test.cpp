// Names map: mapped names and replacement of names in statement texts.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "param_names.h"
#include "udb_names_map.h"
#include "utf8.h"

namespace {
using name_map = udb_names_map::name_map;
}

struct replace_case {
    const char* what;
    name_map map;
    const wchar_t* prefix;
    const wchar_t* suffix;
    bool case_sensitive;
    const wchar_t* text;
    const wchar_t* expected;
};

class global_replace : public ::testing::TestWithParam<replace_case> {};

TEST_P(global_replace, replaces_whole_names_once) {
    const replace_case& c = GetParam();
    EXPECT_EQ(udb_names_map::do_global_replace2(c.text, c.map, c.prefix, c.suffix, c.case_sensitive), c.expected)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    cases, global_replace,
    ::testing::Values(
        replace_case{"whole words only; '_' and '$' belong to names",
                     {{L"id", L"key_id"}}, L"", L"", false,
                     L"id, pid, id_x, x_id, $id, id$ and (id)", L"key_id, pid, id_x, x_id, $id, id$ and (key_id)"},
        replace_case{"a name at the very end", {{L"id", L"k"}}, L"", L"", false, L"max(id", L"max(k"},
        replace_case{"quotes are added to a bare target",
                     {{L"id", L"key_id"}}, L"`", L"`", false, L"select id from t", L"select `key_id` from t"},
        replace_case{"a quoted target is not quoted again",
                     {{L"id", L"`key_id`"}}, L"`", L"`", false, L"select id from t", L"select `key_id` from t"},
        replace_case{"a name already quoted in the text keeps one pair",
                     {{L"id", L"key_id"}}, L"`", L"`", false, L"select `id`, id from t",
                     L"select `key_id`, `key_id` from t"},
        replace_case{"quoted name and quoted target",
                     {{L"id", L"`key_id`"}}, L"`", L"`", false, L"`id`", L"`key_id`"},
        replace_case{"one pass: a replacement is not replaced again",
                     {{L"a", L"b"}, {L"b", L"c"}}, L"", L"", false, L"a b a", L"b c b"},
        replace_case{"a target holding its own source is not rescanned",
                     {{L"t", L"t t"}}, L"", L"", false, L"t", L"t t"},
        replace_case{"an empty source is skipped", {{L"", L"x"}, {L"id", L"k"}}, L"", L"", false, L"id", L"k"},
        replace_case{"ignoring case", {{L"Id", L"k"}}, L"", L"", false, L"ID iD id", L"k k k"},
        replace_case{"case-sensitive", {{L"Id", L"k"}}, L"", L"", true, L"ID Id id", L"ID k id"},
        replace_case{"ignoring case beyond ASCII", {{L"größe", L"g"}}, L"", L"", false, L"GRÖSSE GRÖßE", L"GRÖSSE g"},
        replace_case{"the longest name wins",
                     {{L"order", L"o"}, {L"order items", L"oi"}}, L"", L"", false, L"order items, order",
                     L"oi, o"},
        replace_case{"letters of other scripts belong to names",
                     {{L"id", L"k"}}, L"", L"", false, L"éid idé id", L"éid idé k"},
        replace_case{"nothing mapped", {}, L"`", L"`", false, L"select id", L"select id"}),
    [](const auto& info) { return test_names::ident(info.param.what); });

TEST(udb_names_map, replace1_uses_table_and_field_maps_in_one_pass) {
    udb_names_map m;
    m.add_tn_mapping(L"orders", L"ord");
    m.add_tn_mapping(L"ord", L"never");
    m.add_fn_map(L"orders", {{L"id", L"oid"}, {L"oid", L"never"}});
    EXPECT_EQ(m.do_global_replace1(L"select o.id, oid from orders o join ord", L"`", L"`"),
              L"select o.`oid`, `never` from `ord` o join `never`");
}

TEST(udb_names_map, add_fn_map_keeps_an_existing_entry) {
    udb_names_map m;
    m.add_fn_map(L"t", {{L"a", L"x"}});
    m.add_fn_map(L"t", {{L"a", L"y"}});
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"a"), L"x");
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"A"), L"A");  // exact keys
    EXPECT_EQ(m.get_fn_mapped_name(L"T", L"a"), L"a");
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"b"), L"b");
}

TEST(udb_names_map, table_names) {
    udb_names_map m;
    m.add_tn_mapping(L"Orders", L"ord");
    EXPECT_EQ(m.get_tn_mapped_name(L"ORDERS", false), L"ord");
    EXPECT_EQ(m.get_tn_mapped_name(L"ORDERS", true), L"ORDERS");
    EXPECT_EQ(m.get_tn_mapped_name(L"Orders", true), L"ord");
    EXPECT_EQ(m.get_tn_mapped_name(L"items", false), L"items");
}

TEST(udb_names_map, original_field_names) {
    udb_names_map m;
    m.add_fn_map(L"Orders", {{L"order id", L"order_id"}, {L"Name", L"name_"}});
    EXPECT_EQ(m.get_fn_orig_name(L"Orders", L"order_id", true), L"order id");
    EXPECT_EQ(m.get_fn_orig_name(L"Orders", L"ORDER_ID", true), L"ORDER_ID");
    EXPECT_EQ(m.get_fn_orig_name(L"Orders", L"ORDER_ID", false), L"order id");
    // Ignoring case holds for the table too.
    EXPECT_EQ(m.get_fn_orig_name(L"orders", L"name_", false), L"Name");
    EXPECT_EQ(m.get_fn_orig_name(L"orders", L"name_", true), L"name_");
    EXPECT_EQ(m.get_fn_orig_name(L"other", L"name_", false), L"name_");
    EXPECT_EQ(m.get_fn_orig_name(L"Orders", L"unknown", false), L"unknown");
}

TEST(udb_names_map, ignoring_case_does_not_depend_on_the_locale) {
    std::string saved = setlocale(LC_ALL, nullptr) ? setlocale(LC_ALL, nullptr) : "C";
    if (!setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    std::wstring out = udb_names_map::do_global_replace2(L"ÄRGER IDX", {{L"ärger", L"a"}, {L"Idx", L"i"}}, L"", L"");
    udb_names_map m;
    m.add_tn_mapping(L"Straße", L"s");
    std::wstring mapped = m.get_tn_mapped_name(L"STRAßE", false);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(out, L"a i");
    EXPECT_EQ(mapped, L"s");
}
