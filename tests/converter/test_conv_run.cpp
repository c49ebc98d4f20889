// The conversion run against the test server: whole databases into CSV
// folders, compared byte for byte with the files of tests/data/converter.
#include <sys/resource.h>

#include <chrono>
#include <map>
#include <set>
#include <csignal>
#include <optional>
#include <thread>

#include "conv_test_util.h"
#include "csv_lock.h"
#include "process_threads.h"
#include "sql_row_stream.h"

namespace {

using conv_test::exists;
using conv_test::expected;
using conv_test::folder_contents;
using conv_test::handled_calls;
using conv_test::read_file;
using conv_test::temp_dir;
using conv_test::write_file;
using files = std::map<std::string, std::string>;

const std::string bom = "\xEF\xBB\xBF";

// Tables of many column types, an empty table, names with blanks, dots and
// non-ASCII letters, two names that differ only in case, two that give the
// same file name, and a view.
const char* const create_sql =
    "CREATE TABLE types (id INT NOT NULL PRIMARY KEY,"
    " ti TINYINT, tu TINYINT UNSIGNED, mi MEDIUMINT UNSIGNED, bi BIGINT, bu BIGINT UNSIGNED,"
    " de DECIMAL(10,2), fl FLOAT, db DOUBLE, d DATE, dt DATETIME, tm TIME, yr YEAR, bt BIT(1),"
    " ch CHAR(4), vc VARCHAR(40), tx TEXT, bl BLOB, vb VARBINARY(8), en ENUM('red','green'));"
    "INSERT INTO types VALUES"
    " (1,-128,255,16777215,-9223372036854775808,18446744073709551615,12.50,2.5,0.1,'2024-02-29',"
    "  '2024-03-01 13:45:07','10:20:30',2024,b'1','x,y','plain','Grüße ß','blob text',0x414243,'green'),"
    " (2,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL),"
    " (3,0,0,0,0,0,-0.05,-1,-2.25,'1999-12-31','2000-01-01 00:00:00','-01:02:03',1999,b'0','',"
    "  'semi;colon','say \"hi\"\nnext','a|+b','','red');"
    "CREATE TABLE empty_t (id INT, name VARCHAR(5));"
    "CREATE TABLE `a b` (v VARCHAR(10)); INSERT INTO `a b` VALUES ('a b');"
    "CREATE TABLE `a.b` (v VARCHAR(10)); INSERT INTO `a.b` VALUES ('a.b');"
    "CREATE TABLE `Größe` (v VARCHAR(10)); INSERT INTO `Größe` VALUES ('Größe');"
    "CREATE TABLE `Mix` (v VARCHAR(10)); INSERT INTO `Mix` VALUES ('Mix');"
    "CREATE TABLE `mix` (v VARCHAR(10)); INSERT INTO `mix` VALUES ('mix');"
    "CREATE VIEW v_types AS SELECT id, vc FROM types";

const wchar_t* const stored_query = L"SELECT id, vc FROM types WHERE id <> 2 ORDER BY id DESC LIMIT 10;";

// The files of a run over every entry (tests/data/converter/full).
files full_set() {
    files f;
    for (const char* name : {"a_b.csv", "a_b000.csv", "big_ones.csv", "empty_t.csv", "größe.csv", "mix.csv",
                             "mix000.csv", "types.csv"})
        f[name] = expected(std::string("full/") + name);
    return f;
}

class ConversionRun : public ::testing::Test {
protected:
    void SetUp() override {
        db.conn().exec(create_sql);
        conv().source = tk_from_utf8(db.name());
        conv().destination = out.wpath();
    }

    kellvar_converter& conv() { return c.conv; }

    // The stored query first, then every table, in a fixed order.
    void select_all() {
        conv().console_run = false;
        conv().table_queries = {{L"big_ones", stored_query}};
        conv().selected_tables = {L"types", L"empty_t", L"a b", L"a.b", L"Größe", L"Mix", L"mix"};
    }

    void expect_clean_end() {
        EXPECT_TRUE(conv().done.load());
        EXPECT_EQ(conv().errors_reported.load(), 0u);
        EXPECT_TRUE(handled_calls().empty());
        EXPECT_EQ(conv().progress.table_count.load(), 0u);
        EXPECT_EQ(conv().progress.tables_done.load(), 0u);
    }

    fennrow_test::test_database db{"run"};
    temp_dir out;
    conv_test::connected c;
};

FENNROW_SERVER_TESTS(ConversionRun);

TEST_F(ConversionRun, EveryEntryBecomesItsFile) {
    select_all();
    conv()();
    expect_clean_end();
    EXPECT_EQ(folder_contents(out.path()), full_set());
    EXPECT_EQ(conv().progress.current_table.get(), L"mix");
    EXPECT_EQ(conv().progress.record_count.load(), 1u);
    EXPECT_EQ(conv().progress.current_record.load(), 1u);
    // The tables were appended behind the stored query, and stay there.
    ASSERT_EQ(conv().table_queries.size(), 8u);
    EXPECT_EQ(conv().table_queries[0].first, L"big_ones");
    EXPECT_EQ(conv().table_queries[1], (udb_converter::name_query{L"types", L""}));

    // A second run of the same lists converts each entry once again.
    std::filesystem::remove_all(out.path());
    std::filesystem::create_directory(out.path());
    conv().set_done(false);
    conv()();
    expect_clean_end();
    EXPECT_EQ(conv().table_queries.size(), 8u);
    EXPECT_EQ(folder_contents(out.path()), full_set());
}

struct format_case {
    uint32_t delimiter;
    bool header;
    bool definitions_only;
    const char* expected_file;  // null: the byte-order mark alone
};

std::ostream& operator<<(std::ostream& os, const format_case& f) {
    return os << "delimiter " << f.delimiter << (f.header ? ", header" : ", no header")
              << (f.definitions_only ? ", definitions only" : "");
}

const format_case format_cases[] = {
    {0, true, false, "types_pipe.csv"},      {1, true, false, "full/types.csv"},
    {2, true, false, "types_comma.csv"},     {1, false, false, "types_noheader.csv"},
    {1, true, true, "types_defs.csv"},       {2, false, true, nullptr},
};

class RunFormat : public ConversionRun, public ::testing::WithParamInterface<format_case> {};

FENNROW_SERVER_TESTS(RunFormat);

TEST_P(RunFormat, DelimiterHeaderAndDefinitionsOnly) {
    const format_case& f = GetParam();
    conv().console_run = false;
    conv().selected_tables = {L"types", L"empty_t"};
    conv().delimiter_index = f.delimiter;
    conv().include_field_names = f.header;
    conv().definitions_only = f.definitions_only;
    conv()();
    expect_clean_end();
    const std::string empty_table = f.header ? bom + (f.delimiter == 1 ? "id;name\r\n"
                                                      : f.delimiter == 2 ? "id,name\r\n"
                                                                         : "id|+name\r\n")
                                             : bom;
    const files want = {{"types.csv", f.expected_file ? expected(f.expected_file) : bom},
                        {"empty_t.csv", empty_table}};
    EXPECT_EQ(folder_contents(out.path()), want);
}

INSTANTIATE_TEST_SUITE_P(Table, RunFormat, ::testing::ValuesIn(format_cases), [](const auto& info) {
    const format_case& f = info.param;
    return "delimiter" + std::to_string(f.delimiter) + (f.header ? "_header" : "_no_header") +
           (f.definitions_only ? "_definitions_only" : "");
});

TEST_F(ConversionRun, DelimiterOutOfRangeFailsBeforeAnyFile) {
    select_all();
    conv().delimiter_index = 3;
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    ASSERT_EQ(handled_calls().size(), 1u);
    EXPECT_EQ(handled_calls()[0].text, "Invalid CSV delimiter");
    EXPECT_TRUE(folder_contents(out.path()).empty());
}

// A folder holding files of an earlier run and others.
void put_old_files(const temp_dir& dir) {
    write_file(dir.file("types.csv"), "OLD types");
    write_file(dir.file("old_other.csv"), "OLD other");
    write_file(dir.file("MIX.CSV"), "OLD MIX");
    write_file(dir.file("notes.txt"), "keep");
}

struct mode_case {
    int mode;
    files (*want)();
};

std::ostream& operator<<(std::ostream& os, const mode_case& m) { return os << "mode " << m.mode; }

const mode_case mode_cases[] = {
    // 0: the CSV files are deleted first (check_dest); other files stay.
    {0, [] {
         files f = full_set();
         f["notes.txt"] = "keep";
         return f;
     }},
    // 1: each file of the run replaces its old file (MIX.CSV by mix.csv).
    {1, [] {
         files f = full_set();
         f["notes.txt"] = "keep";
         f["old_other.csv"] = "OLD other";
         return f;
     }},
    // 2: existing files are kept and their tables skipped.
    {2, [] {
         files f = full_set();
         f.erase("mix.csv");
         f["types.csv"] = "OLD types";
         f["MIX.CSV"] = "OLD MIX";
         f["notes.txt"] = "keep";
         f["old_other.csv"] = "OLD other";
         return f;
     }},
};

class RunMode : public ConversionRun, public ::testing::WithParamInterface<mode_case> {};

FENNROW_SERVER_TESTS(RunMode);

TEST_P(RunMode, ExistingFilesFollowTheMode) {
    put_old_files(out);
    select_all();
    conv().set_mode(GetParam().mode);
    conv().check_dest();
    conv()();
    expect_clean_end();
    EXPECT_EQ(folder_contents(out.path()), GetParam().want());
}

INSTANTIATE_TEST_SUITE_P(Table, RunMode, ::testing::ValuesIn(mode_cases),
                         [](const auto& info) { return "mode" + std::to_string(info.param.mode); });

TEST_F(ConversionRun, MistypedDatabaseLeavesTheFolderAlone) {
    put_old_files(out);
    const files before = folder_contents(out.path());
    select_all();
    conv().source = L"fn_no_such_database";
    conv().set_mode(0);
    try {
        conv().check_dest();
        ADD_FAILURE() << "check_dest accepted a database that does not exist";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_STREQ(e.what(), "Unknown database 'fn_no_such_database'");
    }
    EXPECT_EQ(folder_contents(out.path()), before);

    // The run itself fails as well, reports it and ends.
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    ASSERT_EQ(handled_calls().size(), 1u);
    EXPECT_TRUE(handled_calls()[0].no_abort);
    EXPECT_NE(handled_calls()[0].text.find("fn_no_such_database"), std::string::npos) << handled_calls()[0].text;
    EXPECT_EQ(folder_contents(out.path()), before);
}

TEST_F(ConversionRun, CheckDestCreatesFoldersAndRefusesFiles) {
    conv().destination = tk_from_utf8(out.file("new/deeper"));
    conv().check_dest();
    EXPECT_TRUE(std::filesystem::is_directory(out.file("new/deeper")));

    write_file(out.file("plain"), "x");
    conv().destination = tk_from_utf8(out.file("plain"));
    try {
        conv().check_dest();
        ADD_FAILURE() << "a file was accepted as the destination";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_STREQ(e.what(), "You should enter path to CSV folder, not a file name");
    }
    EXPECT_EQ(read_file(out.file("plain")), "x");

    // Modes 1 and 2 delete nothing before the run.
    put_old_files(out);
    const files before = folder_contents(out.path());
    conv().destination = out.wpath();
    for (int mode : {1, 2}) {
        conv().set_mode(mode);
        conv().check_dest();
        EXPECT_EQ(folder_contents(out.path()), before);
    }
}

TEST_F(ConversionRun, ConsoleRunConvertsTheWholeDatabaseWhenNothingIsSelected) {
    conv().console_run = true;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    conv()();
    const std::string out_text = testing::internal::GetCapturedStdout();
    const std::string err_text = testing::internal::GetCapturedStderr();
    expect_clean_end();
    EXPECT_EQ(err_text, "");
    EXPECT_NE(out_text.find("Converting database " + db.name() + "(7 tables)\n"), std::string::npos) << out_text;
    EXPECT_NE(out_text.find("Converting table types(3 records)\n"), std::string::npos) << out_text;
    EXPECT_NE(out_text.find("Converting table Größe(1 records)\n"), std::string::npos) << out_text;
    // The view is no table; the tables are those of the full run.
    files want = full_set();
    want.erase("big_ones.csv");
    files got = folder_contents(out.path());
    EXPECT_EQ(got.size(), want.size());
    for (const auto& [name, text] : want) EXPECT_TRUE(got.count(name)) << name;
    EXPECT_EQ(got["types.csv"], want["types.csv"]);
}

TEST_F(ConversionRun, ConsoleRunChecksTablesButNotStoredQueries) {
    conv().console_run = true;
    conv().table_queries = {{L"big_ones", stored_query}};
    conv().selected_tables = {L"nope", L"TYPES"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    conv()();
    const std::string out_text = testing::internal::GetCapturedStdout();
    const std::string err_text = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(err_text, "Table nope not exists\n");
    EXPECT_NE(out_text.find("Converting database " + db.name() + "(3 tables)\n"), std::string::npos) << out_text;
    EXPECT_NE(out_text.find("Converting table big_ones(2 records)\n"), std::string::npos) << out_text;
    // The table is read in the server's spelling; messages keep the user's.
    EXPECT_NE(out_text.find("Converting table TYPES(3 records)\n"), std::string::npos) << out_text;
    // A missing table is a failure of the run, though the others converted.
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    const files want = {{"big_ones.csv", expected("full/big_ones.csv")}, {"types.csv", expected("full/types.csv")}};
    EXPECT_EQ(folder_contents(out.path()), want);
}

TEST_F(ConversionRun, SilentConsoleRunPrintsNothing) {
    conv().console_run = true;
    conv().set_silent(true);
    conv().selected_tables = {L"nope", L"types"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    conv()();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    EXPECT_EQ(read_file(out.file("types.csv")), expected("full/types.csv"));
}

TEST_F(ConversionRun, WizardRunReportsAMissingTableAndGoesOn) {
    conv().console_run = false;
    conv().selected_tables = {L"nope", L"types"};
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    ASSERT_EQ(handled_calls().size(), 1u);
    EXPECT_EQ(handled_calls()[0].level, 0u);
    EXPECT_EQ(handled_calls()[0].text, "Table nope not exists");
    EXPECT_FALSE(handled_calls()[0].no_abort);
    EXPECT_EQ(folder_contents(out.path()), (files{{"types.csv", expected("full/types.csv")}}));
}

// The count says 0 while the stream yields three rows: the file holds them.
TEST_F(ConversionRun, TableEndsAtTheEndOfItsStreamNotAtTheCount) {
    // More rows than one page, so that they are counted.
    db.conn().exec("CREATE TABLE t3 (id INT PRIMARY KEY); INSERT INTO t3 SELECT seq FROM seq_1_to_300");
    conv().console_run = false;
    conv().table_queries = {
        {L"grows", L"SELECT id FROM t3 WHERE 1 <= (SELECT COUNT(*) FROM information_schema.processlist"
                   L" WHERE id = CONNECTION_ID() AND info LIKE 'SELECT id FROM t3 %') ORDER BY id"}};
    conv()();
    expect_clean_end();
    EXPECT_EQ(conv().progress.record_count.load(), 0u);
    EXPECT_EQ(conv().progress.current_record.load(), 300u);
    std::string rows = bom + "id\r\n";
    for (int i = 1; i <= 300; ++i) rows += std::to_string(i) + "\r\n";
    EXPECT_EQ(read_file(out.file("grows.csv")), rows);
}

// Row 300 of the stream fails on the server: reported with its table and
// record, the file keeps the 299 rows before it, the next entry is converted.
TEST_F(ConversionRun, StreamFailureMidTableIsReportedWithItsRecord) {
    db.conn().exec("CREATE TABLE t400 (id INT PRIMARY KEY);"
                   "INSERT INTO t400 SELECT seq FROM seq_1_to_400;"
                   "CREATE TABLE multi (k INT, v INT); INSERT INTO multi VALUES (300,1),(300,2)");
    conv().console_run = false;
    conv().table_queries = {
        {L"broken", L"SELECT id, (SELECT v FROM multi WHERE multi.k = t400.id) AS v FROM t400 ORDER BY id"}};
    conv().selected_tables = {L"types"};
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 0u);
    EXPECT_FALSE(calls[0].no_abort);
    EXPECT_NE(calls[0].text.find("Subquery returns more than 1 row"), std::string::npos) << calls[0].text;
    // Every whole row received before the failing one reaches the file.
    const size_t written = 299;
    EXPECT_EQ(calls[0].context, "broken, record #" + std::to_string(written + 1));
    // The table did not complete: its records stay under the part name, which
    // the report names.
    std::string want = bom + "id;v\r\n";
    for (size_t i = 1; i <= written; ++i) want += std::to_string(i) + ";\r\n";
    EXPECT_EQ(read_file(out.file("broken.csv.part")), want);
    EXPECT_FALSE(exists(out.file("broken.csv")));
    EXPECT_NE(calls[0].text.find("(the records written so far are in " + out.file("broken.csv.part") + ")"),
              std::string::npos)
        << calls[0].text;
    EXPECT_EQ(read_file(out.file("types.csv")), expected("full/types.csv"));
    EXPECT_EQ(conv().progress.table_count.load(), 0u);  // the run itself ended normally
}

// A file that cannot be written is a reported failure, not a success.
TEST_F(ConversionRun, WriteFailureIsReportedWithItsTable) {
    // Files may grow only to the size of the small table's file.
    const std::string small = expected("full/empty_t.csv");
    ASSERT_LT(small.size(), expected("full/types.csv").size());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = small.size();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    conv().console_run = false;
    conv().selected_tables = {L"types", L"empty_t"};
    conv()();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 1u);
    EXPECT_EQ(calls[0].context, "types");
    EXPECT_EQ(calls[0].text, "Error writing CSV file " + out.file("types.csv.part") + ": File too large");
    EXPECT_FALSE(exists(out.file("types.csv")));
    EXPECT_EQ(read_file(out.file("empty_t.csv")), expected("full/empty_t.csv"));
}

TEST_F(ConversionRun, DoneAlsoWhenTheRunScopeCannotOpen) {
    select_all();
    conv().on_run_start = [] { throw tk_exception(std::string("no progress timer"), 0); };
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    ASSERT_EQ(handled_calls().size(), 1u);
    EXPECT_EQ(handled_calls()[0].text, "no progress timer");
    EXPECT_TRUE(folder_contents(out.path()).empty());
}

TEST_F(ConversionRun, StdExceptionEndsTheRunThroughTheHook) {
    select_all();
    std::vector<std::string> shown;
    conv().on_run_error = [&](const std::string& text) { shown.push_back(text); };
    conv().on_run_start = [] { throw std::runtime_error("out of luck"); };
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(shown, std::vector<std::string>{"out of luck"});
    EXPECT_EQ(conv().errors_reported.load(), 1u);
}

// The wizard's run takes the same folder lock as the console: a folder that
// another conversion holds is reported by name and nothing is written.
TEST_F(ConversionRun, AFolderInUseByAnotherConversionIsReported) {
    select_all();
    {
        csv_folder_lock other(out.wpath());
        conv()();
    }
    EXPECT_TRUE(conv().done.load());
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 1u);
    EXPECT_EQ(calls[0].text, "The folder " + out.path() + " is in use by another conversion");
    EXPECT_TRUE(folder_contents(out.path()).empty());
    // The run lets the folder go when it ends.
    EXPECT_NO_THROW(csv_folder_lock after(out.wpath(), 0));
}

TEST_F(ConversionRun, StopBeforeTheRunWritesNothing) {
    select_all();
    conv().request_stop();
    conv()();
    EXPECT_TRUE(conv().done.load());
    EXPECT_TRUE(handled_calls().empty());
    EXPECT_TRUE(folder_contents(out.path()).empty());
}

// A run stopped in the middle of a table: its records stay under the part
// name, and nothing has the table's own name.
TEST_F(ConversionRun, AStoppedTableStaysAPartFile) {
    constexpr uint64_t rows = 1000000;
    db.conn().exec("CREATE TABLE big (id INT PRIMARY KEY); INSERT INTO big SELECT seq FROM seq_1_to_" +
                   std::to_string(rows));
    conv().console_run = false;
    conv().selected_tables = {L"big"};
    std::thread worker([this] { conv()(); });
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (conv().progress.current_record.load() == 0 && !conv().done.load() &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::yield();
    conv().request_stop();
    worker.join();
    conv().reset_stop();
    EXPECT_TRUE(conv().done.load());
    EXPECT_TRUE(handled_calls().empty());
    ASSERT_LT(conv().progress.current_record.load(), rows) << "the table was complete before the stop";
    EXPECT_EQ(folder_contents(out.path()).count("big.csv"), 0u);
    // The records written before the stop, whole lines in order (the stop
    // may come as early as after the first).
    const std::string part = read_file(out.file("big.csv.part"));
    ASSERT_EQ(part.rfind(bom + "id\r\n1\r\n", 0), 0u) << part.substr(0, 20);
    std::string expected = bom + "id\r\n";
    for (uint64_t id = 1; expected.size() < part.size(); ++id) expected += std::to_string(id) + "\r\n";
    EXPECT_TRUE(part == expected) << "the part file is no run of whole lines from 1: ..."
                                  << part.substr(part.size() > 40 ? part.size() - 40 : 0);
}

// The run waits on a table that another session has locked; the stop
// request cuts the wait short, and the next run connects again.
TEST_F(ConversionRun, StopEndsARunThatWaitsOnTheServer) {
    db.conn().exec("CREATE TABLE locked_t (id INT); INSERT INTO locked_t VALUES (1)");
    fennrow_test::test_sql_conn locker(db.name());
    locker.exec("LOCK TABLES locked_t WRITE");
    conv().console_run = false;
    conv().selected_tables = {L"types", L"locked_t", L"empty_t"};
    std::thread worker([this] { conv()(); });
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (conv().progress.current_table.get() != L"locked_t" && !conv().done.load() &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(conv().done.load()) << "the run did not wait for the locked table";
    conv().request_stop();
    // Only the stop can end the wait: the lock is held until the run is done
    // (or, should the stop fail to cut the wait, until a generous limit).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!conv().done.load() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool ended_by_stop = conv().done.load();
    locker.exec("UNLOCK TABLES");
    worker.join();

    EXPECT_TRUE(ended_by_stop) << "the stop request did not end the waiting run";
    EXPECT_TRUE(conv().done.load());
    EXPECT_TRUE(handled_calls().empty());
    // A stop while the table's stream waits leaves its part file with the
    // header alone; a stop while the table is looked up leaves none.
    files left = folder_contents(out.path());
    if (left.count("locked_t.csv.part")) {
        EXPECT_EQ(left["locked_t.csv.part"], bom + "id\r\n");
        left.erase("locked_t.csv.part");
    }
    EXPECT_EQ(left, (files{{"types.csv", expected("full/types.csv")}}));

    conv().reset_stop();
    conv().set_done(false);
    conv().table_queries.clear();
    conv().selected_tables = {L"locked_t"};
    conv()();
    expect_clean_end();
    EXPECT_EQ(read_file(out.file("locked_t.csv")), bom + "id\r\n1\r\n");
}

// A stream ended in the middle, by a stop or by a failure of its statement:
// the run leaves no thread and no connection of its own behind, and the
// file holds the whole rows received before.
class StreamCut : public ConversionRun {
protected:
    using sessions = std::map<std::string, std::string>;  // id -> command

    // The server's sessions on this process's sockets, the asking one aside.
    sessions own_sessions() {
        const std::set<unsigned> ports = fennrow_test::own_tcp_ports();
        sessions out;
        for (const auto& r :
             checker.rows("SELECT ID, HOST, COMMAND FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID()")) {
            if (!r[0] || !r[1]) continue;
            const size_t colon = r[1]->rfind(':');
            if (colon == std::string::npos) continue;
            if (ports.count(static_cast<unsigned>(std::stoul(r[1]->substr(colon + 1)))))
                out[*r[0]] = r[2].value_or("");
        }
        return out;
    }

    // Runs the conversion on a thread, calls act once ready() holds, and
    // waits for the run's end.
    template <class Ready, class Act>
    void run_and(Ready ready, Act act) {
        threads_before = fennrow_test::thread_count();
        sessions_before = own_sessions();
        std::thread worker([this] { conv()(); });
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        bool was_ready = false;
        while (!conv().done.load() && std::chrono::steady_clock::now() < give_up && !(was_ready = ready()))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_TRUE(was_ready) << "the run ended before it could be cut";
        act();
        worker.join();
        conv().reset_stop();
    }

    // No thread more than before the run, and no session of this process
    // that was not there before (one that stays is idle when idle is set).
    void expect_nothing_left(bool idle) {
        EXPECT_TRUE(fennrow_test::threads_back_to(threads_before))
            << fennrow_test::thread_count() << " threads, " << threads_before << " before the run";
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        sessions now;
        auto left = [&] {
            now = own_sessions();
            for (const auto& [id, command] : now)
                if (!sessions_before.count(id) || (idle && command != "Sleep")) return true;
            return false;
        };
        while (left() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const auto& [id, command] : now) {
            EXPECT_TRUE(sessions_before.count(id)) << "session " << id << " (" << command << ") was left behind";
            if (idle) {
                EXPECT_EQ(command, "Sleep") << "session " << id;
            }
        }
    }

    // The rows of the slow query, 1..n, as its file holds them.
    static std::string slow_rows(size_t n) {
        std::string rows = bom + "id;pad;s\r\n";
        for (size_t i = 1; i <= n; ++i) rows += std::to_string(i) + ";" + std::string(1000, 'x') + ";0\r\n";
        return rows;
    }

    // A stored query whose stream waits on the server at its row 2000, after
    // about 2 MB that the server has sent.
    void use_slow_query() {
        conv().console_run = false;
        conv().table_queries = {{L"slow", tk_from_utf8("SELECT seq AS id, REPEAT('x', 1000) AS pad, IF(seq = 2000, " +
                                                       marker + ", 0) AS s FROM seq_1_to_3000")}};
        conv().selected_tables.clear();
    }

    // The session that runs the slow query's stream, once it waits at row 2000.
    std::optional<std::string> waiting_stream() {
        // Whole pages of rows reach the file while the rest wait in the page
        // being filled.
        if (conv().progress.current_record.load() < 1000) return std::nullopt;
        return checker.scalar("SELECT ID FROM information_schema.PROCESSLIST WHERE STATE = 'User sleep' AND INFO LIKE " +
                              checker.literal("%" + marker + "%") + " AND INFO NOT LIKE '%COUNT(%' LIMIT 1");
    }

    const std::string marker = "SLEEP(" + std::to_string(120 + getpid() % 50) + ")";
    fennrow_test::test_sql_conn checker;
    size_t threads_before = 0;
    sessions sessions_before;
};

FENNROW_SERVER_TESTS(StreamCut);

// Stopped while its rows come at full speed (the receiver fills pages or
// waits for one).
TEST_F(StreamCut, StoppedAtFullSpeed) {
    db.conn().exec("CREATE TABLE big (id INT PRIMARY KEY); INSERT INTO big SELECT seq FROM seq_1_to_1000000");
    conv().console_run = false;
    conv().selected_tables = {L"big"};
    run_and([this] { return conv().progress.current_record.load() > 1000; }, [this] { conv().request_stop(); });
    EXPECT_TRUE(handled_calls().empty());
    expect_nothing_left(false);
    const std::string part = read_file(out.file("big.csv.part"));
    const uint64_t rows = conv().progress.current_record.load();
    ASSERT_LT(rows, 1000000u);
    std::string want = bom + "id\r\n";
    for (uint64_t i = 1; i <= rows; ++i) want += std::to_string(i) + "\r\n";
    EXPECT_EQ(part.size(), want.size());
    EXPECT_TRUE(part == want) << "the file is not the rows 1.." << rows;
}

// Stopped while the receiver waits on the server for the next row.
TEST_F(StreamCut, StoppedWhileWaitingOnTheServer) {
    use_slow_query();
    run_and([this] { return waiting_stream().has_value(); }, [this] { conv().request_stop(); });
    EXPECT_TRUE(handled_calls().empty());
    expect_nothing_left(false);
    const uint64_t rows = conv().progress.current_record.load();
    EXPECT_GE(rows, 1000u);
    EXPECT_LT(rows, 2000u);
    EXPECT_TRUE(read_file(out.file("slow.csv.part")) == slow_rows(rows)) << "the file is not the rows 1.." << rows;
}

// The stream's statement is killed from another session: the table ends
// with every row received before it, and the run goes on.
TEST_F(StreamCut, FailedWhenItsStatementIsKilled) {
    use_slow_query();
    conv().selected_tables = {L"empty_t"};
    run_and([this] { return waiting_stream().has_value(); },
            [this] {
                if (const auto id = waiting_stream()) checker.exec("KILL QUERY " + *id);
            });
    expect_nothing_left(true);
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 0u);
    EXPECT_NE(calls[0].text.find("interrupted"), std::string::npos) << calls[0].text;
    // The rows before the waiting one all came (the server sends what it
    // holds before the failure).
    EXPECT_EQ(calls[0].context, "slow, record #2000");
    EXPECT_TRUE(read_file(out.file("slow.csv.part")) == slow_rows(1999)) << "the file is not the rows 1..1999";
    EXPECT_EQ(read_file(out.file("empty_t.csv")), expected("full/empty_t.csv"));
}

// The run's session is killed while a stored query streams (not while it is
// counted); the wizard gets the same reconnect as the console program.
class LostConnection : public ConversionRun {
protected:
    const std::string marker = "SLEEP(" + std::to_string(200 + getpid() % 100) + ")";

    void run_and_kill() {
        conv().console_run = false;
        // Counted at once, wherever it is counted; streamed slowly.
        conv().table_queries = {{L"q", tk_from_utf8("SELECT " + marker + " AS s FROM seq_1_to_1")}};
        conv().selected_tables = {L"empty_t"};
        std::thread worker([this] { conv()(); });
        fennrow_test::test_sql_conn killer;
        std::optional<std::string> id;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!id && std::chrono::steady_clock::now() < give_up) {
            id = killer.scalar(
                "SELECT id FROM information_schema.processlist WHERE id <> CONNECTION_ID() AND info LIKE " +
                killer.literal("%" + marker + "%") + " AND info NOT LIKE 'SELECT COUNT(*)%' LIMIT 1");
            if (!id) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(id.has_value()) << "the run never asked for the stored query";
        if (id) killer.exec("KILL CONNECTION " + *id);
        worker.join();
    }
};

FENNROW_SERVER_TESTS(LostConnection);

TEST_F(LostConnection, TheRunConnectsAgainAndGoesOn) {
    run_and_kill();
    EXPECT_TRUE(conv().done.load());
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 0u);
    EXPECT_EQ(calls[0].context, "q");
    EXPECT_FALSE(calls[0].no_abort);
    EXPECT_EQ(read_file(out.file("empty_t.csv")), expected("full/empty_t.csv"));
}

TEST_F(LostConnection, ARefusedReconnectEndsTheRunWithOneReport) {
    // The session in use stays; only a new login is refused.
    conv().password = "not-the-password";
    run_and_kill();
    EXPECT_TRUE(conv().done.load());
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].level, 1u);
    EXPECT_EQ(calls[0].context, "q");
    EXPECT_NE(calls[0].text.find("; connecting again failed: Access denied"), std::string::npos) << calls[0].text;
    // The report carries the failed connect's code, by which the wizard names the cause.
    EXPECT_EQ(calls[0].code, 0x400415u);
    EXPECT_FALSE(exists(out.file("empty_t.csv")));
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    // The run ended as an Abort ends it: what was not converted is known.
    EXPECT_TRUE(conv().run_stopped.load());
    ASSERT_EQ(conv().not_converted.size(), 2u);
    EXPECT_EQ(conv().not_converted[0].first, L"q");
    EXPECT_EQ(conv().not_converted[1].first, L"empty_t");
}

// The run's session is killed while the run waits, idle, between two tables
// (in the report of a missing one): the next table, of which nothing was
// read, is converted on a new session, and nothing else is reported.
TEST_F(ConversionRun, AnIdleSessionLostBetweenTablesCostsTheNextTableNothing) {
    conv().console_run = false;
    conv().selected_tables = {L"empty_t", L"nosuch", L"types"};
    const std::string first_session = std::to_string(mysql_thread_id(conv().engine.get_connection()));
    fennrow_test::test_sql_conn killer;
    struct hook_scope {
        explicit hook_scope(std::function<void()> hook) { conv_test::set_handle_hook(std::move(hook)); }
        ~hook_scope() { conv_test::set_handle_hook(nullptr); }
    } kill_in_report([&] {
        conv_test::set_handle_hook(nullptr);
        killer.exec("KILL CONNECTION " + first_session);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (killer.scalar("SELECT COUNT(*) FROM information_schema.processlist WHERE id = " + first_session) !=
                   "0" &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    conv()();
    EXPECT_TRUE(conv().done.load());
    const auto calls = handled_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, "Table nosuch not exists");
    EXPECT_EQ(conv().errors_reported.load(), 1u);
    EXPECT_EQ(folder_contents(out.path()),
              (files{{"empty_t.csv", expected("full/empty_t.csv")}, {"types.csv", expected("full/types.csv")}}));
    EXPECT_NE(std::to_string(mysql_thread_id(conv().engine.get_connection())), first_session);
}

}  // namespace

TEST(ConversionRunUnconnected, IsReportedAndEndsWithoutTouchingTheFolder) {
    conv_test::use_empty_home();
    conv_test::clear_handled_calls();
    conv_test::recording_handler handler;
    kellvar_converter conv(kellvar_program::console, handler);
    conv_test::temp_dir out;
    conv.source = L"anything";
    conv.destination = out.wpath();
    conv.selected_tables = {L"t"};
    conv();
    EXPECT_TRUE(conv.done.load());
    EXPECT_EQ(conv.errors_reported.load(), 1u);
    ASSERT_EQ(conv_test::handled_calls().size(), 1u);
    EXPECT_EQ(conv_test::handled_calls()[0].text, "Not connected to the MySQL server");
    EXPECT_TRUE(folder_contents(out.path()).empty());
}
