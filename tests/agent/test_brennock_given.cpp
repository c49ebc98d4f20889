// Whole runs of BRENNOCK on what the user gave, which must come back
// unchanged: stored queries and table names of a saved profile, paths that
// are not UTF-8, long and slow table lists, and the messages about them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "agent_util.h"
#include "con_handler.h"
#include "kvr_conv.h"
#include "tk_bounded_read.h"
#include "tk_utils.h"

namespace {

using namespace agent_test;

class brennock_given : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_given"};
    temp_dir dir;
    std::string out = dir / "out";

    std::vector<std::string> args(const std::vector<std::string>& extra) const {
        return join(join(server_args(srv), {"--src=" + db.name(), "--dest=" + out}), extra);
    }
    std::string db_line(int tables) const {
        return "Converting database " + db.name() + "(" + std::to_string(tables) + " tables)\n";
    }
    static std::string table_line(const std::string& name, const std::string& records) {
        return "Converting table " + name + "(" + records + " records)\n";
    }
    // A profile as the wizard saves it: the converter stores the entries
    // with this run's connection, database and folder.
    std::string store_profile(const std::vector<udb_converter::name_query>& entries) {
        const std::string path = dir / "saved.kvr";
        console_error_handler handler;
        kellvar_converter conv(kellvar_program::console, handler);
        conv.table_queries = entries;
        conv.source = tk_from_utf8(db.name());
        conv.destination = tk_from_utf8(out);
        conv.store_mysql_settings(srv.host, srv.user, srv.password, std::to_string(srv.port));
        EXPECT_TRUE(conv.store_profile_file(tk_from_utf8(path)));
        return path;
    }
};

// --- A saved profile runs what was written ----------------------------------

struct saved_entry {
    std::string name, query;  // no query: a table
    std::string records;      // of its line
    std::string file;         // the file's name and text, when checked
    std::string text;
};

FENNROW_SERVER_TESTS(brennock_given);

TEST_F(brennock_given, a_saved_profile_runs_every_table_and_query_as_written) {
    db.conn().exec(
        "CREATE TABLE victim (id INT); INSERT INTO victim VALUES (1), (2);"
        "CREATE TABLE `[sect]` (id INT); INSERT INTO `[sect]` VALUES (3);"
        "CREATE TABLE `a=b` (id INT); INSERT INTO `a=b` VALUES (4), (5), (6);"
        "CREATE TABLE ` lead` (id INT); INSERT INTO ` lead` VALUES (7);"
        "CREATE TABLE `back\\slash` (id INT); INSERT INTO `back\\slash` VALUES (8);"
        "CREATE TABLE other (id INT); INSERT INTO other VALUES (9)");
    const std::vector<saved_entry> entries = {
        {"dash", "SELECT * FROM victim -- every row\nWHERE id = 1", "1", "dash.csv", "id\r\n1\r\n"},
        {"hash", "SELECT * FROM victim # every row\r\nWHERE id = 1", "1", "hash.csv", "id\r\n1\r\n"},
        {"quoted", "SELECT 'a\nb' AS s, \"c\r\nd\" AS t FROM victim\nWHERE id = 2", "1", "quoted.csv",
         "s;t\r\n\"a\nb\";\"c\r\nd\"\r\n"},
        {"slashes", "SELECT 'x\\\\y\\n' AS s", "1", "slashes.csv", "s\r\n\"x\\y\n\"\r\n"},
        {"blanks", "  SELECT id FROM victim WHERE id = 2 -- last\n  ", "1", "blanks.csv", "id\r\n2\r\n"},
        {"q=eq", "SELECT id = 1 AS e FROM victim", "2", "", ""},
        {"[q]", "SELECT 1 AS one", "1", "", ""},
        {" padded ", "SELECT 2 AS two", "1", "", ""},
        {"[sect]", "", "1", "", ""},
        {"a=b", "", "3", "", ""},
        {" lead", "", "1", "", ""},
        {"back\\slash", "", "1", "", ""},
        {"victim", "", "2", "victim.csv", "id\r\n1\r\n2\r\n"},
    };
    std::vector<udb_converter::name_query> stored;
    for (const saved_entry& e : entries) stored.emplace_back(tk_from_utf8(e.name), tk_from_utf8(e.query));
    const std::string profile = store_profile(stored);

    const run_result r = run_brennock({"--profile=" + profile});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err, "");
    std::string want = db_line(static_cast<int>(entries.size()));
    for (const saved_entry& e : entries) want += table_line(e.name, e.records);
    EXPECT_EQ(r.out, want);
    for (const saved_entry& e : entries)
        if (!e.file.empty()) {
            EXPECT_EQ(read_file(out + "/" + e.file), bom + e.text) << e.name;
        }
    EXPECT_FALSE(exists(out + "/other.csv"));
}

TEST_F(brennock_given, a_profile_written_before_escapes_runs_as_it_always_did) {
    db.conn().exec("CREATE TABLE victim (id INT); INSERT INTO victim VALUES (1), (2)");
    // A backslash of such a profile is the query's own.
    const std::string profile = dir / "old.kvr";
    profile_spec p = profile_for(srv);
    p.database = db.name();
    p.dest = out;
    p.entries = "q=SELECT 'a\\nb' AS s, id FROM victim WHERE id = 2\r\nvictim\r\n";
    write_file(profile, profile_text(p));
    const run_result r = run_brennock({"--profile=" + profile});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(2) + table_line("q", "1") + table_line("victim", "2"));
    EXPECT_EQ(read_file(out + "/q.csv"), bom + "s;id\r\n\"a\nb\";2\r\n");
}

// --- Paths are the user's bytes ---------------------------------------------

TEST_F(brennock_given, a_folder_or_profile_path_that_is_not_utf8_is_refused_and_nothing_else_is_touched) {
    db.conn().exec("CREATE TABLE victim (id INT); INSERT INTO victim VALUES (1)");
    const std::string latin1 = dir / "B\xFC" "cher";
    ASSERT_EQ(mkdir(latin1.c_str(), 0755), 0);
    write_file(latin1 + "/old.csv", "old");
    const std::string profile = dir / "p\xFC.kvr";
    write_file(profile, "[Generic settings]\r\nsrc=" + db.name() + "\r\n");
    const std::string shown_dir = dir.path() + "/B\\xfccher";
    struct refused_case {
        std::vector<std::string> options;
        std::string message;
    };
    const std::vector<refused_case> cases = {
        {{"--dest=" + latin1}, "The path of --dest= is not valid UTF-8: " + shown_dir},
        {{"--dest=" + latin1 + "/sub", "--mode=0"}, "The path of --dest= is not valid UTF-8: " + shown_dir + "/sub"},
        {{"--profile=" + profile}, "The path of --profile= is not valid UTF-8: " + dir.path() + "/p\\xfc.kvr"},
    };
    for (const refused_case& c : cases) {
        std::vector<std::string> all = join(server_args(srv), {"--src=" + db.name()});
        all = join(all, c.options);
        const run_result r = run_brennock(all);
        EXPECT_EQ(r.status, 255) << r;
        EXPECT_EQ(r.err, c.message + "\n") << r;
        EXPECT_EQ(r.out, "");
        // The folder keeps its file, and no other folder appeared.
        EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"B\xFC" "cher", "p\xFC.kvr"}));
        EXPECT_EQ(list_dir(latin1), (std::vector<std::string>{"old.csv"}));
    }
}

TEST_F(brennock_given, a_table_list_and_a_log_file_are_used_by_their_bytes_and_shown_escaped) {
    db.conn().exec("CREATE TABLE victim (id INT); INSERT INTO victim VALUES (1)");
    const std::string list = dir / "t\xE4" "bles.txt";
    write_file(list, "victim\n");
    const std::string log = dir / "l\xF6g.txt";
    const run_result r = run_brennock(args({"--tab_file=" + list, "--logfile=" + log}));
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, db_line(1) + table_line("victim", "1"));
    EXPECT_NE(read_file(log).find("Converting table victim (1 records)"), std::string::npos) << read_file(log);
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"l\xF6g.txt", "out", "t\xE4" "bles.txt"}));

    // A message that names such a file shows its bytes escaped.
    const std::string big = dir / "b\xFCg.txt";
    write_file(big, std::string(70000, 'x') + "\n");
    const run_result refused = run_brennock(args({"--tab_file=" + big}));
    EXPECT_EQ(refused.status, 255) << refused;
    EXPECT_EQ(refused.out, "Error:\nThe table names file " + dir.path() + "/b\\xfcg.txt has a line longer than 64 KiB\n");
}

// --- Table lists of any length and speed ------------------------------------

TEST_F(brennock_given, a_table_list_of_the_largest_size_is_read_with_each_name_once) {
    db.conn().exec("CREATE TABLE victim (id INT); INSERT INTO victim VALUES (1)");
    // Names of nine bytes and their line ends up to 16 MiB; every tenth
    // line repeats a name, which is converted or reported once.
    std::string text;
    size_t distinct = 0;
    for (size_t i = 0;; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%08zu\n", i % 10 == 9 ? i - 1 : i);
        if (text.size() + 10 + 14 > 16 * 1024 * 1024) break;  // room for the two lines of victim
        text += name;
        if (i % 10 != 9) ++distinct;
    }
    text += "victim\nvictim\n";
    write_file(dir / "tables.txt", text);
    const run_result r = run_brennock(args({"--tab_file=" + dir / "tables.txt"}));
    EXPECT_EQ(r.status, 255) << r.out.substr(0, 1000);
    EXPECT_EQ(r.out, db_line(static_cast<int>(distinct + 1)) + table_line("victim", "1"));
    EXPECT_EQ(count_of(r.err, " not exists\n"), distinct);
    EXPECT_EQ(r.err.substr(0, 46), "Table n00000000 not exists\nTable n00000001 not");
    EXPECT_EQ(count_of(r.err, "Table n00000008 not exists\n"), 1u);
}

// A pipe whose writer is still there is read to its end, however long the
// writer is silent; only a FIFO that no program writes to is given up.
TEST_F(brennock_given, a_slow_writer_of_the_table_list_is_waited_for) {
    db.conn().exec("CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (1); CREATE TABLE t2 (id INT)");
    const std::string fifo = dir / "tables.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Longer than the wait for a FIFO without a writer.
    const auto silence = std::chrono::seconds(tk_input_wait_seconds + 1);
    for (bool named : {false, true}) {
        // The unnamed pipe is reached through this process's descriptor, as
        // a shell's "<(...)" is.
        int ends[2] = {-1, -1};
        if (!named) {
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        }
        const std::string list =
            named ? fifo : "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(ends[0]);
        run_result r;
        std::thread program([&] { r = run_brennock(args({"--tab_file=" + list})); });
        // A FIFO's open blocks until the program opened it for reading.
        const int writer = named ? open(fifo.c_str(), O_WRONLY | O_CLOEXEC) : ends[1];
        EXPECT_GE(writer, 0);
        EXPECT_EQ(write(writer, "t1\n", 3), 3);
        std::this_thread::sleep_for(silence);
        EXPECT_EQ(write(writer, "t2\n", 3), 3);
        close(writer);
        program.join();
        if (!named) close(ends[0]);
        EXPECT_EQ(r.status, 0) << (named ? "FIFO\n" : "pipe\n") << r;
        EXPECT_EQ(r.out, db_line(2) + table_line("t1", "1") + table_line("t2", "0")) << named;
    }
}

// --- Messages that tell the truth -------------------------------------------

TEST_F(brennock_given, the_tables_line_comes_before_every_report_about_it) {
    db.conn().exec(
        "CREATE TABLE t1 (id INT); INSERT INTO t1 VALUES (1);"
        "CREATE TABLE t2 (id INT); INSERT INTO t2 VALUES (2);"
        "CREATE PROCEDURE rows_out() SELECT id FROM t1");
    // The part file of t1 cannot be created: a folder holds its name.
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((out + "/t1.csv.part").c_str(), 0755), 0);
    const std::string profile = dir / "p.kvr";
    profile_spec p = profile_for(srv);
    p.database = db.name();
    p.dest = out;
    p.mode = 1;
    p.entries = "change=UPDATE t2 SET id = 3\r\ncall=CALL rows_out()\r\ncomment=-- nothing but a comment\r\nt2\r\nt1\r\n";
    write_file(profile, profile_text(p));
    const run_result r = run_brennock({"--profile=" + profile});
    // A file that cannot be created ends the console program.
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> v;
        for (size_t start = 0; start < r.out.size();) {
            const size_t end = r.out.find('\n', start);
            v.push_back(r.out.substr(start, end - start));
            start = end + 1;
        }
        return v;
    }();
    ASSERT_EQ(lines.size(), 14u) << r;
    EXPECT_EQ(lines[0], "Converting database " + db.name() + "(5 tables)");
    const struct {
        std::string name, message;
    } reports[] = {
        {"change", "change: Cannot execute statement in a READ ONLY transaction"},
        {"call", "call: A procedure call (CALL) is not converted: its rows are not the result of one statement"},
        {"comment", "comment: The query is empty: it holds only blanks and comments"},
        {"t1", "t1: Error opening CSV file " + out + "/t1.csv.part: Is a directory"},
    };
    for (size_t i = 0; i < 4; ++i) {
        const size_t at = 1 + 3 * i + (i == 3 ? 1 : 0);
        EXPECT_EQ(lines[at], "Converting table " + reports[i].name + "(? records)") << r;
        EXPECT_EQ(lines[at + 1], "Error:") << r;
        EXPECT_EQ(lines[at + 2], reports[i].message) << r;
    }
    EXPECT_EQ(lines[10], "Converting table t2(1 records)");
    // Nothing was changed by the refused statement.
    EXPECT_EQ(db.conn().scalar("SELECT id FROM t2"), std::optional<std::string>("2"));
}

TEST_F(brennock_given, a_table_list_line_is_shown_whole_and_escaped) {
    db.conn().exec(
        "CREATE TABLE nulls (id INT); INSERT INTO nulls VALUES (1);"
        "CREATE TABLE `r\xE2\x80\xAEtxt.exe` (id INT); INSERT INTO `r\xE2\x80\xAEtxt.exe` VALUES (2)");
    write_file(dir / "tables.txt", std::string("nulls\0victim\n", 13) + "r\xE2\x80\xAEtxt.exe\n" +
                                       "no\xE2\x81\xA6" "such\xE2\x81\xA9\n");
    const run_result r = run_brennock(args({"--tab_file=" + dir / "tables.txt"}));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.err, "Table nulls\\x00victim not exists\nTable no\\u2066such\\u2069 not exists\n");
    EXPECT_EQ(r.out, db_line(3) + table_line("r\\u202etxt.exe", "1"));
}

}  // namespace
