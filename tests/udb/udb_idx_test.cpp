// Index lists, the record key and the filter built from a tagged key.
#include <gtest/gtest.h>

#include <string>

#include "tk_excep.h"
#include "udb_idx.h"
#include "udb_recordset.h"
#include "utf8.h"

namespace {

enum kind { plain, unique, primary, constraint };

std::string kind_name(kind k) {
    static const char* const names[] = {"plain", "unique", "primary", "constraint"};
    return names[k];
}

udb_index make_index(const std::wstring& name, kind k, std::vector<std::wstring> fields = {}) {
    return udb_index(name, k == unique || k == constraint, k == primary, k == constraint, std::move(fields));
}

class test_recordset : public udb_recordset {
public:
    test_recordset() : udb_recordset(L"t") {}
    void append_record(const udb_record&) override {}
};

}  // namespace

struct merge_case {
    kind first;
    kind second;
    kind expected;          // flags of the index left in the list
    const wchar_t* fields;  // first field of the surviving index
};

class index_merge : public ::testing::TestWithParam<merge_case> {};

TEST_P(index_merge, one_index_survives_with_the_stronger_kind) {
    const merge_case& c = GetParam();
    udb_indexes list;
    list.push_back(make_index(L"pk", c.first, {L"old"}));
    list.push_back(make_index(L"PK", c.second, {L"new"}));
    ASSERT_EQ(list.size(), 1u);
    const udb_index& idx = list[0];
    EXPECT_EQ(idx.primary, c.expected == primary);
    EXPECT_EQ(idx.unique_constraint, c.expected == constraint);
    EXPECT_EQ(idx.unique, c.expected == unique || c.expected == constraint);
    EXPECT_EQ(idx.fields.at(0), c.fields);
}

INSTANTIATE_TEST_SUITE_P(rules, index_merge,
                         ::testing::Values(merge_case{plain, primary, primary, L"new"},
                                           merge_case{unique, primary, primary, L"new"},
                                           merge_case{primary, unique, primary, L"old"},
                                           merge_case{primary, primary, primary, L"old"},
                                           merge_case{constraint, unique, constraint, L"old"},
                                           merge_case{constraint, primary, primary, L"new"},
                                           merge_case{unique, constraint, constraint, L"new"},
                                           merge_case{plain, constraint, constraint, L"new"},
                                           merge_case{unique, plain, unique, L"old"},
                                           merge_case{plain, plain, plain, L"old"},
                                           merge_case{plain, unique, unique, L"new"}),
                         [](const auto& info) {
                             return kind_name(info.param.first) + "_then_" + kind_name(info.param.second);
                         });

TEST(udb_indexes, distinct_names_keep_insertion_order) {
    udb_indexes list;
    list.push_back(make_index(L"b", plain));
    list.push_back(make_index(L"a", unique));
    list.push_back(make_index(L"c", primary));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, L"b");
    EXPECT_EQ(list[2].name, L"c");
    EXPECT_EQ(list.find2(L"A"), 1);
    EXPECT_EQ(list.find2(L"d"), -1);
    EXPECT_FALSE(list.is_acceptable_name(L"C"));
    EXPECT_TRUE(list.is_acceptable_name(L"d"));
}

TEST(udb_indexes, fetching_a_missing_index_is_an_internal_error) {
    udb_indexes list;
    list.push_back(make_index(L"a", plain, {L"x"}));
    list.get_index(L"A").fields.push_back(L"y");
    EXPECT_EQ(list[0].fields, (std::vector<std::wstring>{L"x", L"y"}));
    try {
        list.get_index(L"b");
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("UDB/udb_idx", 179));
    }
}

TEST(udb_indexes, index_fields) {
    udb_indexes list;
    list.push_back(make_index(L"i", plain, {L"a", L"b"}));
    list.push_back(make_index(L"p", primary, {L"id"}));
    EXPECT_TRUE(list.is_idx_field(L"b", false));
    EXPECT_FALSE(list.is_idx_field(L"B", false));  // exact names
    EXPECT_FALSE(list.is_idx_field(L"b", true));
    EXPECT_TRUE(list.is_idx_field(L"id", true));
    EXPECT_TRUE(list.has_index_on_fields({L"A"}));
    EXPECT_FALSE(list.has_index_on_fields({L"b"}));
}

struct starts_case {
    std::vector<std::wstring> names;
    bool expected;
};

TEST(udb_index, starts_with_fields) {
    udb_index idx = make_index(L"i", plain, {L"Alpha", L"Beta"});
    const starts_case cases[] = {
        {{}, true},
        {{L"alpha"}, true},
        {{L"ALPHA", L"beta"}, true},
        {{L"beta"}, false},
        {{L"alpha", L"gamma"}, false},
        {{L"alpha", L"beta", L"gamma"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(idx.starts_with_fields(c.names), c.expected) << c.names.size();
}

TEST(udb_recordset, add_index_chooses_the_record_key) {
    test_recordset a;
    EXPECT_EQ(a.get_key_pos(), -1);
    a.add_index(make_index(L"plain", plain));
    EXPECT_EQ(a.get_key_pos(), -1);
    a.add_index(make_index(L"u", unique));
    EXPECT_EQ(a.get_key_pos(), 1);
    a.add_index(make_index(L"u2", unique));
    EXPECT_EQ(a.get_key_pos(), 1);
    a.add_index(make_index(L"pk", primary));
    EXPECT_EQ(a.get_key_pos(), 3);

    test_recordset b;
    b.add_index(make_index(L"pk", primary));
    b.add_index(make_index(L"u", unique));
    EXPECT_EQ(b.get_key_pos(), 0);
    b.add_index(make_index(L"PK", plain));  // name taken: nothing is added
    b.add_index(make_index(L"U", primary));
    EXPECT_EQ(b.get_indexes().size(), 2u);
    EXPECT_EQ(b.get_key_pos(), 0);
    EXPECT_FALSE(b.get_indexes()[1].primary);
}

TEST(udb_recordset, get_key_copies_the_key_fields) {
    test_recordset rs;
    EXPECT_THROW(
        {
            udb_record r;
            rs.get_key(r);
        },
        tk_exception);
    try {
        udb_record r;
        rs.get_key(r);
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_STREQ(e.what(), "There's no primary/unique key");
    }

    rs.add_index(make_index(L"pk", primary, {L"B", L"a"}));
    udb_record r;
    r.push_back(new udb_field(L"a", 0, ole_variant(std::wstring(L"one"))));
    r.push_back(new udb_field(L"c", 0, ole_variant(std::wstring(L"skip"))));
    r.push_back(new udb_field(L"b", 0, ole_variant(std::wstring(L"two"))));
    auto key = rs.get_key(r);
    ASSERT_TRUE(key);
    ASSERT_EQ(key->size(), 2u);
    EXPECT_EQ((*key)[0]->get_name(), L"b");
    EXPECT_EQ((*key)[0]->get_bstr(), L"two");
    EXPECT_EQ((*key)[1]->get_bstr(), L"one");
    EXPECT_NE((*key)[0], r[2]);

    udb_record partial;
    partial.push_back(new udb_field(L"b", 0, ole_variant(std::wstring(L"two"))));
    EXPECT_EQ(rs.get_key(partial), nullptr);
}

TEST(udb_recordset, base_cursor) {
    test_recordset rs;
    EXPECT_EQ(rs.get_record(), nullptr);
    EXPECT_TRUE(rs.is_eof());
    EXPECT_FALSE(rs.is_query());
    EXPECT_EQ(rs.get_owner(), nullptr);
    EXPECT_TRUE(rs.get_schema().flag);
    EXPECT_EQ(rs.get_record_count(), 0u);
}

class filter_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        udb_schema& s = rs.get_schema();
        s.push_back(new t_ftd(0, L"a", VT_BSTR, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(0, L"b", VT_I4, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(0, L"c", VT_BYTE_ARRAY, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(0, L"r", VT_R8, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(0, L"we\"ird", VT_BSTR, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(0, L"g", VT_BLOB, false, false, ole_variant(), 0, L""));
    }
    test_recordset rs;
};

struct filter_case {
    const wchar_t* key;
    const wchar_t* expected;
};

TEST_F(filter_fixture, values_are_escaped_by_type) {
    const filter_case cases[] = {
        {L"", L""},
        {L"<a>x</a><b>5</b>", L"\"a\"='x'  and \"b\"=5"},
        {L"<A>x</A>", L"\"a\"='x' "},
        {L"<a>&lt;b&gt; &amp; c</a>", L"\"a\"='<b> & c' "},
        {L"<a>&amp;lt;</a>", L"\"a\"='&lt;' "},
        {L"<a>O'Brien</a>", L"\"a\"='O''Brien' "},
        {L"<a>'; drop table t; --</a>", L"\"a\"='''; drop table t; --' "},
        {L"<a></a>", L"\"a\"='' "},
        {L"<b></b>", L"\"b\"='' "},
        {L"<b>-12</b>", L"\"b\"=-12"},
        {L"<r>-1.5e3</r>", L"\"r\"=-1.5e3"},
        {L"<r>.5</r>", L"\"r\"=.5"},
        {L"<b>5 or 1=1</b>", L"\"b\"='5 or 1=1' "},
        {L"<b>1e</b>", L"\"b\"='1e' "},
        {L"<b>0x10</b>", L"\"b\"='0x10' "},
        {L"<c>0xABcd09</c>", L"\"c\"=0xABcd09"},
        {L"<c>0x</c>", L"\"c\"='' "},
        {L"<c></c>", L"\"c\"='' "},
        {L"<c>x' or '1</c>", L"\"c\"=0x7827206F72202731"},
        {L"<g>ä</g>", L"\"g\"=0xC3A4"},
        {L"<we\"ird>v</we\"ird>", L"\"we\"\"ird\"='v' "},
    };
    for (const auto& c : cases) EXPECT_EQ(rs.get_filter_subquery(c.key), c.expected) << plat::utf8_encode(c.key);
}

TEST_F(filter_fixture, a_field_outside_the_schema_is_refused) {
    try {
        rs.get_filter_subquery(L"<a>x</a><zz>1</zz>");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 0u);
        EXPECT_STREQ(e.what(), "The structure of data source does not conform to the destination table.");
    }
}

TEST_F(filter_fixture, a_malformed_key_is_refused_not_shortened) {
    for (const wchar_t* key : {L"<a>x", L"<a>x</b>", L"<a>x</a>junk", L"<a>x</a", L"a", L"<>x</>", L"<a>x<b>y</b></a>"}) {
        EXPECT_THROW(rs.get_filter_subquery(key), tk_exception) << plat::utf8_encode(key);
    }
}
