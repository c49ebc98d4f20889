// Foreign keys read out of SHOW CREATE TABLE texts.
#include <gtest/gtest.h>

#include <clocale>
#include <ostream>
#include <string>
#include <vector>

#include "sql_fk_parser.h"

namespace {

using names = std::vector<std::wstring>;

std::vector<udb_relationship> parse(const std::wstring& table, const std::string& text) {
    std::vector<udb_relationship> list;
    sql_fk_parser parser(table, text);
    parser.do_parse(list);
    return list;
}

struct fk_line_case {
    const char* label;
    const char* line;
    const wchar_t* name;
    names fk_flds;
    const wchar_t* pk_table;
    names pk_flds;
    const wchar_t* rule;
};

void PrintTo(const fk_line_case& c, std::ostream* os) { *os << c.label; }

class fk_line : public ::testing::TestWithParam<fk_line_case> {};

TEST_P(fk_line, reads_every_part) {
    const fk_line_case& c = GetParam();
    const auto list = parse(L"child", c.line);
    ASSERT_EQ(list.size(), 1u) << c.line;
    const udb_relationship& r = list[0];
    EXPECT_EQ(r.constraint_name, c.name);
    EXPECT_EQ(r.extra, L"");
    EXPECT_EQ(r.fk_table, L"child");
    EXPECT_EQ(r.pk_table, c.pk_table);
    EXPECT_EQ(r.fk_flds, c.fk_flds);
    EXPECT_EQ(r.pk_flds, c.pk_flds);
    EXPECT_EQ(r.rule, c.rule);
}

const fk_line_case fk_line_cases[] = {
    {"full_line_with_comma",
     "  CONSTRAINT `fk_a` FOREIGN KEY (`x`, `y`) REFERENCES `parent` (`p`, `q`) ON DELETE CASCADE ON UPDATE SET NULL,",
     L"fk_a", {L"x", L"y"}, L"parent", {L"p", L"q"}, L"ON DELETE CASCADE ON UPDATE SET NULL"},
    {"last_line_keeps_whole_rule",
     "  CONSTRAINT `fk_b` FOREIGN KEY (`x`) REFERENCES `parent` (`p`) ON DELETE CASCADE",
     L"fk_b", {L"x"}, L"parent", {L"p"}, L"ON DELETE CASCADE"},
    {"no_rule",
     "  CONSTRAINT `fk_c` FOREIGN KEY (`x`) REFERENCES `parent` (`p`),",
     L"fk_c", {L"x"}, L"parent", {L"p"}, L""},
    {"lower_case_keywords",
     "constraint `fk_d` foreign key (`x`) references `parent` (`p`) on delete restrict",
     L"fk_d", {L"x"}, L"parent", {L"p"}, L"on delete restrict"},
    {"database_qualifier_names_the_table",
     "  CONSTRAINT `fk_e` FOREIGN KEY (`x`) REFERENCES `otherdb`.`parent` (`p`),",
     L"fk_e", {L"x"}, L"parent", {L"p"}, L""},
    {"qualifier_with_blanks_around_the_point",
     "  CONSTRAINT `fk_e2` FOREIGN KEY (`x`) REFERENCES `other db` . `par ent` (`p`)",
     L"fk_e2", {L"x"}, L"par ent", {L"p"}, L""},
    {"unquoted_reference_with_qualifier",
     "CONSTRAINT fk_f FOREIGN KEY (`x`) REFERENCES otherdb.parent (`p`)",
     L"fk_f", {L"x"}, L"parent", {L"p"}, L""},
    {"doubled_backquotes_inside_names",
     "  CONSTRAINT `f``k` FOREIGN KEY (`a``b`) REFERENCES `p``t` (`c``d`) ON UPDATE CASCADE,",
     L"f`k", {L"a`b"}, L"p`t", {L"c`d"}, L"ON UPDATE CASCADE"},
    {"names_with_blanks_commas_and_parentheses",
     "  CONSTRAINT `fk name` FOREIGN KEY (`col one`, `a)b,c`) REFERENCES `my parent` (`x (1)`, `y`),",
     L"fk name", {L"col one", L"a)b,c"}, L"my parent", {L"x (1)", L"y"}, L""},
    {"non_ascii_names_are_utf8",
     "  CONSTRAINT `fk_\xc3\xa4` FOREIGN KEY (`gr\xc3\xb6\xc3\x9f""e`) REFERENCES `\xd0\xb7\xd0\xb0\xd0\xba\xd0\xb0\xd0\xb7` (`\xe2\x82\xac`),",
     L"fk_\u00e4", {L"gr\u00f6\u00dfe"}, L"\u0437\u0430\u043a\u0430\u0437", {L"\u20ac"}, L""},
    {"no_parenthesis_after_the_referenced_table",
     "  CONSTRAINT `fk_g` FOREIGN KEY (`x`) REFERENCES `parent`",
     L"fk_g", {L"x"}, L"parent", {}, L""},
    {"unquoted_columns_give_empty_lists",
     "CONSTRAINT fk_h FOREIGN KEY (x, y) REFERENCES parent (p, q) ON DELETE SET NULL",
     L"fk_h", {}, L"parent", {}, L"ON DELETE SET NULL"},
};

INSTANTIATE_TEST_SUITE_P(fk_parser, fk_line, ::testing::ValuesIn(fk_line_cases),
                         [](const auto& info) { return std::string(info.param.label); });

// Lines that must not give a relationship.
TEST(fk_parser, ignores_lines_without_a_foreign_key) {
    const char* lines[] = {
        "CREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB",
        "  CONSTRAINT `CONSTRAINT_1` CHECK (`a` > 0)",
        "  KEY `fk_x` (`x`),",
        "  `c` int(11) DEFAULT NULL COMMENT 'CONSTRAINT `z` FOREIGN KEY (`c`) REFERENCES `t` (`id`)',",
        "  `CONSTRAINT x FOREIGN KEY (a) REFERENCES b (c)` int(11) DEFAULT NULL,",
        "  `note` varchar(9) DEFAULT 'it''s CONSTRAINT k FOREIGN KEY (`q`) REFERENCES `t` (`id`)',",
        "  CONSTRAINT `fk_no_ref` FOREIGN KEY (`x`)",
        "  CONSTRAINT REFERENCES `t` (`id`) FOREIGN KEY",
        "",
    };
    for (const char* line : lines) EXPECT_TRUE(parse(L"t", line).empty()) << line;
}

TEST(fk_parser, reads_every_constraint_of_a_creation_text) {
    const std::string text =
        "CREATE TABLE `order_lines` (\n"
        "  `id` int(11) NOT NULL AUTO_INCREMENT,\n"
        "  `order_id` int(11) NOT NULL,\n"
        "  `shop` int(11) DEFAULT NULL,\n"
        "  `item` int(11) DEFAULT NULL,\n"
        "  PRIMARY KEY (`id`),\n"
        "  KEY `fk_order` (`order_id`),\n"
        "  CONSTRAINT `fk_order` FOREIGN KEY (`order_id`) REFERENCES `orders` (`id`) ON DELETE CASCADE,\n"
        "  CONSTRAINT `fk_shop` FOREIGN KEY (`shop`, `item`) REFERENCES `stock`.`items` (`shop`, `id`),\n"
        "  CONSTRAINT `chk` CHECK (`id` > 0)\n"
        ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4";
    const auto list = parse(L"order_lines", text);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].constraint_name, L"fk_order");
    EXPECT_EQ(list[0].pk_table, L"orders");
    EXPECT_EQ(list[0].rule, L"ON DELETE CASCADE");
    EXPECT_EQ(list[1].constraint_name, L"fk_shop");
    EXPECT_EQ(list[1].fk_flds, (names{L"shop", L"item"}));
    EXPECT_EQ(list[1].pk_table, L"items");
    EXPECT_EQ(list[1].pk_flds, (names{L"shop", L"id"}));
    EXPECT_EQ(list[1].rule, L"");
    for (const auto& r : list) EXPECT_EQ(r.fk_table, L"order_lines");

    sql_fk_parser parser(L"order_lines", text);
    EXPECT_EQ(parser.lines().size(), 11u);
}

TEST(fk_parser, parsing_a_table_again_adds_nothing) {
    const std::string text =
        "  CONSTRAINT `fk_1` FOREIGN KEY (`a`) REFERENCES `p` (`id`),\n"
        "  CONSTRAINT `fk_2` FOREIGN KEY (`b`) REFERENCES `p` (`id`)";
    std::vector<udb_relationship> list;
    sql_fk_parser(L"c", text).do_parse(list);
    sql_fk_parser(L"c", text).do_parse(list);
    ASSERT_EQ(list.size(), 2u);
    // The same constraint name on another table is another relationship.
    sql_fk_parser(L"d", text).do_parse(list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[2].fk_table, L"d");
    // Earlier entries of the list are kept as they are.
    list.insert(list.begin(), udb_relationship(L"x", L"", L"z", L"p", {L"q"}, {L"id"}, L""));
    sql_fk_parser(L"c", text).do_parse(list);
    EXPECT_EQ(list.size(), 5u);
}

TEST(fk_parser, keywords_are_found_under_a_german_locale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const auto list = parse(L"t", "constraint `fk` foreign key (`i`) references `p` (`I`)");
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].fk_flds, (names{L"i"}));
    EXPECT_EQ(list[0].pk_flds, (names{L"I"}));
}

struct columns_case {
    const wchar_t* text;
    names expected;
};

TEST(fk_parser, get_columns_takes_backquoted_names_only) {
    const columns_case cases[] = {
        {L"(`a`, `b`)", {L"a", L"b"}},
        {L"(`a`, b, `c`)", {L"a", L"c"}},
        {L"(`a`, `unclosed", {L"a"}},
        {L"(`x``y`)", {L"x`y"}},
        {L"(`\u00e4 \u00f6`)", {L"\u00e4 \u00f6"}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        names got{L"kept"};
        EXPECT_TRUE(sql_fk_parser::get_columns(c.text, got));
        names want{L"kept"};
        want.insert(want.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(got, want) << ::testing::PrintToString(std::wstring(c.text));
    }
}

}  // namespace
