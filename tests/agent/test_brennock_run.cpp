// Whole runs of BRENNOCK against the test server: output lines, files,
// modes, table-list files, profiles, the log file and --silent.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "agent_util.h"

namespace {

using namespace agent_test;

const std::string cafe = "caf\xC3\xA9";
const std::string t1_csv = bom + "id;name\r\n1;Anna\r\n2;\"Bo; x\"\r\n";
const std::string t2_csv = bom + "code\r\nx\r\n";
const std::string cafe_csv = bom + "a\r\n5\r\n";

class brennock_run : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_run"};
    temp_dir dir;
    std::string out = dir / "out";

    void SetUp() override {
        db.conn().exec(
            "CREATE TABLE t1 (id INT PRIMARY KEY, name VARCHAR(20));"
            "INSERT INTO t1 VALUES (1, 'Anna'), (2, 'Bo; x');"
            "CREATE TABLE t2 (code VARCHAR(10)); INSERT INTO t2 VALUES ('x');"
            "CREATE TABLE `" + cafe + "` (a INT); INSERT INTO `" + cafe + "` VALUES (5)");
    }

    // Connection, source and destination, then the extra options.
    run_result run(const std::vector<std::string>& extra) {
        return run_brennock(join(join(server_args(srv), {"--src=" + db.name(), "--dest=" + out}), extra));
    }

    std::string db_line(int tables) const {
        return "Converting database " + db.name() + "(" + std::to_string(tables) + " tables)\n";
    }
    static std::string table_line(const std::string& name, int records) {
        return "Converting table " + name + "(" + std::to_string(records) + " records)\n";
    }
    std::string csv(const std::string& name) const { return read_file(out + "/" + name); }
};

FENNROW_SERVER_TESTS(brennock_run);

TEST_F(brennock_run, all_tables_by_default) {
    // Without --logfile the default log beside the program is neither
    // written nor emptied.
    const std::string default_log = std::string(BRENNOCK_PATH) + ".log";
    const bool had_log = exists(default_log);
    const std::string old_log = had_log ? read_file(default_log) : std::string();

    const run_result r = run({});
    EXPECT_EQ(exists(default_log), had_log);
    if (had_log) {
        EXPECT_EQ(read_file(default_log), old_log);
    }
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(3) + table_line(cafe, 1) + table_line("t1", 2) + table_line("t2", 1));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{cafe + ".csv", "t1.csv", "t2.csv"}));
    EXPECT_EQ(csv("t1.csv"), t1_csv);
    EXPECT_EQ(csv("t2.csv"), t2_csv);
    EXPECT_EQ(csv(cafe + ".csv"), cafe_csv);
    EXPECT_EQ(r.out.find(srv.password), std::string::npos);
}

TEST_F(brennock_run, silent_prints_nothing) {
    out = dir / "new/deeper/out";  // created with its missing parents
    const run_result r = run({"--silent"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(csv("t1.csv"), t1_csv);
}

TEST_F(brennock_run, definitions_only_and_double_pipe) {
    const run_result r = run({"--tab_def", "--n_delim=0"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(csv("t1.csv"), bom + "id|+name\r\n");
    EXPECT_EQ(csv("t2.csv"), bom + "code\r\n");
}

TEST_F(brennock_run, table_list_with_mark_crlf_and_non_ascii_names) {
    write_file(dir / "tables.txt", bom + cafe + "\r\n\r\nt2\r\n");
    const run_result r = run({"--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(2) + table_line(cafe, 1) + table_line("t2", 1));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{cafe + ".csv", "t2.csv"}));
    EXPECT_EQ(csv(cafe + ".csv"), cafe_csv);
}

TEST_F(brennock_run, table_list_of_empty_lines_converts_every_table) {
    write_file(dir / "tables.txt", bom + "\r\n\r\n");
    const run_result r = run({"--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(3) + table_line(cafe, 1) + table_line("t1", 2) + table_line("t2", 1));
}

// A listed table the database does not hold: one line on the standard error
// stream, the other tables are converted, and the exit code tells that not
// everything was.
TEST_F(brennock_run, missing_table_line_and_the_run_goes_on) {
    write_file(dir / "tables.txt", "t1\nnosuch\nt2\n");
    const run_result r = run({"--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, db_line(3) + table_line("t1", 2) + table_line("t2", 1));
    EXPECT_EQ(r.err, "Table nosuch not exists\n");
    EXPECT_EQ(list_dir(out), (std::vector<std::string>{"t1.csv", "t2.csv"}));
    EXPECT_EQ(csv("t2.csv"), t2_csv);

    const run_result q = run({"--tab_file=" + dir / "tables.txt", "--silent"});
    EXPECT_EQ(q.status, 255) << q;
    EXPECT_EQ(q.out + q.err, "");
}

struct mode_case {
    int mode;
    bool other_kept;   // a CSV file of no listed table
    bool t1_kept;      // an old file of a converted table
};

void PrintTo(const mode_case& c, std::ostream* os) { *os << "mode " << c.mode; }

class brennock_mode : public brennock_run, public ::testing::WithParamInterface<mode_case> {};

FENNROW_SERVER_TESTS(brennock_mode);

TEST_P(brennock_mode, on_a_folder_with_old_files) {
    const mode_case& c = GetParam();
    std::filesystem::create_directories(out);
    write_file(out + "/t1.csv", "old t1");
    write_file(out + "/OTHER.CSV", "old other");
    write_file(out + "/notes.txt", "notes");

    const run_result r = run({"--mode=" + std::to_string(c.mode)});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err, "");
    const std::string expected_out =
        db_line(3) + table_line(cafe, 1) + (c.t1_kept ? "" : table_line("t1", 2)) + table_line("t2", 1);
    EXPECT_EQ(r.out, expected_out);

    EXPECT_EQ(read_file(out + "/notes.txt"), "notes");
    EXPECT_EQ(exists(out + "/OTHER.CSV"), c.other_kept);
    EXPECT_EQ(csv("t1.csv"), c.t1_kept ? "old t1" : t1_csv);
    EXPECT_EQ(csv("t2.csv"), t2_csv);
    EXPECT_EQ(csv(cafe + ".csv"), cafe_csv);
}

INSTANTIATE_TEST_SUITE_P(modes, brennock_mode,
                         ::testing::Values(mode_case{0, false, false}, mode_case{1, true, false},
                                           mode_case{2, true, true}),
                         [](const auto& info) { return "mode" + std::to_string(info.param.mode); });

TEST_F(brennock_run, log_file_holds_only_milestones_and_no_password) {
    const std::string log = dir / "run.log";
    write_file(log, "left from an earlier run\n");
    const run_result r = run({"--logfile=" + log});
    EXPECT_EQ(r.status, 0) << r;

    const std::string text = read_file(log);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "a line without CR LF in\n" << text;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    const std::regex stamp(R"(\d\d/\d\d/\d{4} at \d\d:\d\d:\d\d)");
    const std::vector<std::string> expected = {
        "Connecting to MySQL server...",
        "Conversion started on @",
        "Opening MySQL database '" + db.name() + "'",
        "Converting database " + db.name() + " (3 tables)",
        "Converting table " + cafe + " (1 records)",
        "Converting table t1 (2 records)",
        "Converting table t2 (1 records)",
        "Conversion ended on @",
    };
    ASSERT_EQ(lines.size(), expected.size()) << text;
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t at = expected[i].find('@');
        if (at == std::string::npos) {
            EXPECT_EQ(lines[i], expected[i]);
        } else {
            EXPECT_EQ(lines[i].substr(0, at), expected[i].substr(0, at));
            EXPECT_TRUE(std::regex_match(lines[i].substr(at), stamp)) << lines[i];
        }
    }
    EXPECT_EQ(text.find(srv.password), std::string::npos);
}

TEST_F(brennock_run, log_file_records_errors) {
    const std::string log = dir / "run.log";
    write_file(dir / "tables.txt", "nosuch\n");
    const run_result r = run({"--logfile=" + log, "--tab_file=" + dir / "tables.txt"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_NE(read_file(log).find("\r\nTable nosuch not exists\r\n"), std::string::npos) << read_file(log);

    const run_result u = run_brennock(join(server_args(srv), {"--src=" + db.name() + "_none", "--dest=" + out,
                                                              "--logfile=" + log}));
    EXPECT_EQ(u.status, 255) << u;
    const std::string text = read_file(log);
    EXPECT_EQ(text, "Connecting to MySQL server...\r\nError:\nUnknown database '" + db.name() + "_none'\r\n");
    EXPECT_EQ(text.find(srv.password), std::string::npos);
}

TEST_F(brennock_run, profile_settings_and_the_options_around_it) {
    const std::string profile = dir / "p.ini";
    write_file(profile,
               "[Generic settings]\r\nsrc=" + db.name() + "\r\ndest=" + dir / "pout" +
                   "\r\nmode=0\r\n\r\n"
                   "[MySQL settings]\r\nhost=" + srv.host + "\r\nuser=" + srv.user + "\r\npassword=" +
                   srv.password + "\r\nport=" + std::to_string(srv.port) +
                   "\r\n\r\n"
                   "[CSV settings]\r\nInclude field names=0\r\nCSV delimiter=2\r\n\r\n"
                   "[Selected Tables]\r\nt1\r\ntwo=SELECT code, 'a,b' AS v FROM t2\r\n\r\n");

    // The connection options before the profile are not used; its settings stand.
    const run_result r = run_brennock({"--host=bogus.invalid", "--user=nobody", "--pswd=bad", "--port=1",
                                       "--n_delim=0", "--dest=" + dir / "ignored", "--profile=" + profile});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "Converting database " + db.name() + "(2 tables)\n" + table_line("t1", 2) +
                         table_line("two", 1));
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(dir / "ignored"));
    EXPECT_EQ(list_dir(dir / "pout"), (std::vector<std::string>{"t1.csv", "two.csv"}));
    EXPECT_EQ(read_file(dir / "pout/t1.csv"), bom + "1,Anna\r\n2,Bo; x\r\n");
    EXPECT_EQ(read_file(dir / "pout/two.csv"), bom + "x,\"a,b\"\r\n");

    // Options behind the profile overwrite what it set.
    const run_result s = run_brennock(
        {"--profile=" + profile, "--n_delim=0", "--inc_fnames", "--dest=" + dir / "pout2", "--silent"});
    EXPECT_EQ(s.status, 0) << s;
    EXPECT_EQ(s.out + s.err, "");
    EXPECT_EQ(read_file(dir / "pout2/t1.csv"), bom + "id|+name\r\n1|+Anna\r\n2|+Bo; x\r\n");
    EXPECT_FALSE(exists(dir / "pout/ignored"));
}

}  // namespace
