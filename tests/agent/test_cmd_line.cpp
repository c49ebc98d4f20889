// The option matcher and the number check of --mode= / --n_delim=.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "con_options.h"
#include "param_names.h"
#include "tk_cmdli.h"
#include "tk_excep.h"

namespace {

struct parsed {
    int32_t id;
    std::string value;
};

// Every argument's id and value, and the unmatched list.
std::vector<parsed> parse_all(std::vector<std::string> args, std::vector<std::string>* unmatched = nullptr) {
    args.insert(args.begin(), "BRENNOCK");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ansi_cmd_line cl(static_cast<int>(args.size()), argv.data(), brennock_options);
    std::vector<parsed> out;
    for (; cl.has_more(); cl.next()) out.push_back({cl.id(), cl.value()});
    if (unmatched) *unmatched = cl.unmatched();
    return out;
}

struct match_case {
    const char* arg;
    int32_t id;
    const char* value;
};

void PrintTo(const match_case& c, std::ostream* os) { *os << '"' << c.arg << '"'; }

class option_match : public ::testing::TestWithParam<match_case> {};

TEST_P(option_match, gives_id_and_value) {
    const match_case& c = GetParam();
    std::vector<std::string> unmatched;
    const std::vector<parsed> got = parse_all({c.arg}, &unmatched);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, c.id) << c.arg;
    EXPECT_EQ(got[0].value, c.value) << c.arg;
    if (c.id == tk_cmd_unmatched) {
        ASSERT_EQ(unmatched.size(), 1u);
        EXPECT_EQ(unmatched[0], c.arg);
    } else {
        EXPECT_TRUE(unmatched.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    table, option_match,
    ::testing::Values(match_case{"--dest=/srv/out", opt_dest, "/srv/out"},
                      match_case{"--dest=", opt_dest, ""},
                      match_case{"--dest==x", opt_dest, "=x"},
                      match_case{"--help", opt_help, ""},
                      match_case{"--host=db", opt_host, "db"},
                      match_case{"--inc_fnames", opt_inc_fnames, ""},
                      match_case{"--logfile=a b.log", opt_logfile, "a b.log"},
                      match_case{"--mode=2", opt_mode, "2"},
                      match_case{"--n_delim=0", opt_n_delim, "0"},
                      match_case{"--profile=p.ini", opt_profile, "p.ini"},
                      match_case{"--port=3307", opt_port, "3307"},
                      match_case{"--pswd=s=e;c", opt_pswd, "s=e;c"},
                      match_case{"--silent", opt_silent, ""},
                      // An argument that only begins with an option counts as it.
                      match_case{"--silently", opt_silent, "ly"},
                      match_case{"--src=shop", opt_src, "shop"},
                      match_case{"--tab_def", opt_tab_def, ""},
                      match_case{"--tab_file=t.txt", opt_tab_file, "t.txt"},
                      match_case{"--user=\xC3\xA9mile", opt_user, "\xC3\xA9mile"},
                      // Exact bytes, case-sensitive; the "=" is part of the option.
                      match_case{"--dest", tk_cmd_unmatched, "--dest"},
                      match_case{"--DEST=x", tk_cmd_unmatched, "--DEST=x"},
                      match_case{"--hel", tk_cmd_unmatched, "--hel"},
                      match_case{"-help", tk_cmd_unmatched, "-help"},
                      match_case{" --help", tk_cmd_unmatched, " --help"},
                      match_case{"", tk_cmd_unmatched, ""},
                      match_case{"shop", tk_cmd_unmatched, "shop"}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.arg); });

TEST(cmd_line, no_argument_has_nothing) {
    char name[] = "BRENNOCK";
    char* argv[] = {name, nullptr};
    ansi_cmd_line cl(1, argv, brennock_options);
    EXPECT_FALSE(cl.has_more());
    EXPECT_TRUE(cl.unmatched().empty());
    // Moving past the end is an internal error with its own code.
    try {
        cl.next();
        ADD_FAILURE() << "next() past the end did not throw";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(std::string(e.what()), make_err_meggase("tk_cmdli.cpp", 60));
    }
}

TEST(cmd_line, arguments_in_order_with_unmatched_between) {
    std::vector<std::string> unmatched;
    const auto got = parse_all({"--src=a", "x", "--dest=b", "y", "--silent"}, &unmatched);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].id, opt_src);
    EXPECT_EQ(got[1].id, tk_cmd_unmatched);
    EXPECT_EQ(got[2].id, opt_dest);
    EXPECT_EQ(got[2].value, "b");
    EXPECT_EQ(got[3].id, tk_cmd_unmatched);
    EXPECT_EQ(got[4].id, opt_silent);
    EXPECT_EQ(unmatched, (std::vector<std::string>{"x", "y"}));
}

// No limit on how many arguments fail to match.
TEST(cmd_line, many_unmatched_arguments_are_all_kept) {
    std::vector<std::string> args;
    for (int i = 0; i < 60; ++i) args.push_back("junk" + std::to_string(i));
    args.push_back("--src=last");
    std::vector<std::string> unmatched;
    const auto got = parse_all(args, &unmatched);
    ASSERT_EQ(got.size(), 61u);
    ASSERT_EQ(unmatched.size(), 60u);
    EXPECT_EQ(unmatched.front(), "junk0");
    EXPECT_EQ(unmatched.back(), "junk59");
    EXPECT_EQ(got.back().id, opt_src);
    EXPECT_EQ(got.back().value, "last");
}

struct choice_case {
    const char* text;
    bool ok;
    int32_t n;
};

void PrintTo(const choice_case& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class choice_check : public ::testing::TestWithParam<choice_case> {};

TEST_P(choice_check, exact_decimal_from_0_to_2) {
    const choice_case& c = GetParam();
    int32_t n = 12345;
    EXPECT_EQ(parse_choice(c.text, 2, n), c.ok) << '"' << c.text << '"';
    if (c.ok) {
        EXPECT_EQ(n, c.n) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(table, choice_check,
                         ::testing::Values(choice_case{"0", true, 0}, choice_case{"1", true, 1},
                                           choice_case{"2", true, 2}, choice_case{"3", false, 3},
                                           choice_case{"-1", false, -1}, choice_case{"02", false, 2},
                                           choice_case{"+1", false, 1}, choice_case{" 1", false, 1},
                                           choice_case{"1 ", false, 1}, choice_case{"x", false, 0},
                                           choice_case{"", false, 0}, choice_case{"1x", false, 1},
                                           choice_case{"4294967296", false, 0},
                                           choice_case{"-4294967295", false, 0}),
                         [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

}  // namespace
