// BRENNOCK's usage text and option errors: exact texts, streams and exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_util.h"
#include "param_names.h"

namespace {

using namespace agent_test;

const std::string usage =
    "BRENNOCK v1.5 - copies the tables of a MySQL database into CSV files\n"
    "Usage: BRENNOCK.EXE OPTIONS\n"
    "\n"
    "   --dest=...     path to the folder where CSV files will be stored\n"
    "   --help         display this help message and exit\n"
    "   --host=...     MySQL server IP address or network name\n"
    "   --inc_fnames   include MySQL field names into CSV files\n"
    "   --logfile=...  path to the file where execution trace will be written\n"
    "   --mode=...     how to process an existing CSV folder\n"
    "                  (0 - overwrite the entire folder, 1 - overwrite existing\n"
    "                  files only, 2 - skip existing files)\n"
    "   --n_delim=...  delimiter symbol to use in the resultinig CSV file\n"
    "                  (0 - pipe and plus |+, 1 - semicolon, 2 - comma)\n"
    "   --port=...     MySQL port\n"
    "   --profile=...  path to the file to load conversion settings from\n"
    "   --pswd=...     MySQL user password\n"
    "   --silent       disable program output\n"
    "   --src=...      MySQL database name\n"
    "   --tab_def      convert table definitions only\n"
    "   --tab_file=... file containing the list of tables to convert\n"
    "                  (one table name per line)\n"
    "   --user=...     MySQL user\n"
    "\n"
    "NOTES:\n"
    "   1) If you omit 'tab_file' parameter, all database tables will be converted.\n"
    "   2) If you omit 'mode' parameter, default mode 'overwrite the entire\n"
    "      folder' will be used.\n"
    "   3) Command line parameters that contain spaces should be enclosed in\n"
    "      quotes (for example --dest=\"c:\\my database\")\n"
    "   5) It is necessary to specify 'port' parameter only if it differs from\n"
    "      the default MySQL port 3306.\n";

struct option_case {
    const char* what;
    std::vector<std::string> args;
    std::string err;  // the whole standard error stream
};

void PrintTo(const option_case& c, std::ostream* os) { *os << c.what; }

const std::string mode_msg = "Invalid merge/overwrite mode\n";
const std::string delim_msg = "Invalid CSV delimiter\n";
const std::string no_dest = "You should enter path to CSV folder\n";
const std::string no_src = "You should enter MySQL database name\n";
const std::string no_tab_file = "Table names file does not exist.\nPlease verify the correct path/name was given.\n";

// None of these reaches the server: each ends before connecting.
std::vector<option_case> option_cases() {
    return {
        {"no argument", {}, usage},
        {"help", {"--help"}, usage},
        {"help after good options", {"--src=a", "--dest=/nonexistent/x", "--help"}, usage},
        {"unknown argument", {"--src=a", "--dest=/nonexistent/x", "bogus"}, usage},
        {"many unknown arguments",
         {"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10", "a11", "a12", "a13", "a14", "a15",
          "a16", "a17", "a18", "a19", "a20", "a21", "a22", "a23", "a24", "a25"},
         usage},
        {"options behind an unknown one still apply", {"bogus", "--mode=7"}, mode_msg},
        {"silent, then unknown", {"--silent", "bogus"}, ""},
        {"unknown, then silent", {"bogus", "--silent"}, ""},
        {"silent help", {"--silent", "--help"}, ""},
        {"silent bad mode", {"--silent", "--mode=9"}, ""},
        {"mode 02", {"--src=a", "--dest=/x", "--mode=02"}, mode_msg},
        {"mode 3", {"--mode=3"}, mode_msg},
        {"mode -1", {"--mode=-1"}, mode_msg},
        {"mode empty", {"--mode="}, mode_msg},
        {"mode with blank", {"--mode= 1"}, mode_msg},
        {"delimiter 3", {"--n_delim=3"}, delim_msg},
        {"delimiter -1", {"--n_delim=-1"}, delim_msg},
        {"delimiter letter", {"--n_delim=x"}, delim_msg},
        {"delimiter empty", {"--n_delim="}, delim_msg},
        {"missing dest", {"--src=shop"}, no_dest},
        {"blank dest", {"--src=shop", "--dest=   "}, no_dest},
        {"missing src", {"--dest=/nonexistent/out"}, no_src},
        {"missing src after good mode", {"--mode=2", "--n_delim=0", "--dest=/nonexistent/out"}, no_src},
        {"missing table-list file", {"--tab_file=/nonexistent/tables.txt"}, no_tab_file},
        {"table-list file is a folder", {"--tab_file=/tmp"}, no_tab_file},
    };
}

class option_errors : public ::testing::TestWithParam<option_case> {};

TEST_P(option_errors, message_on_stderr_and_exit_255) {
    const option_case& c = GetParam();
    const run_result r = run_brennock(c.args);
    EXPECT_EQ(r.status, 255) << c.what << "\n" << r;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
}

INSTANTIATE_TEST_SUITE_P(table, option_errors, ::testing::ValuesIn(option_cases()),
                         [](const auto& info) { return test_names::ident(info.param.what); });

TEST(option_errors, missing_src_creates_no_folder) {
    temp_dir dir;
    const run_result r = run_brennock({"--dest=" + dir / "out"});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_FALSE(exists(dir / "out"));
}

// Failures reported through the error handler: "Error:" and the text on the
// standard output, exit code 255, nothing converted.
class server_errors : public ::testing::Test {
protected:
    fennrow_test::test_server srv = fennrow_test::require_test_server();
    fennrow_test::test_database db{"agent_err"};
    temp_dir dir;

    void SetUp() override {
        db.conn().exec("CREATE TABLE t1 (id INT PRIMARY KEY); INSERT INTO t1 VALUES (1)");
    }

    std::vector<std::string> args(const std::string& password) {
        return {"--host=" + srv.host, "--port=" + std::to_string(srv.port), "--user=" + srv.user,
                "--pswd=" + password, "--src=" + db.name(), "--dest=" + dir / "out"};
    }
};

FENNROW_SERVER_TESTS(server_errors);

TEST_F(server_errors, bad_port) {
    for (const char* port : {"--port=abc", "--port=0", "--port=x1", "--port=70000"}) {
        const run_result r = run_brennock(join(args(srv.password), {port}));
        EXPECT_EQ(r.status, 255) << port << "\n" << r;
        EXPECT_EQ(r.out, "Error:\nInvalid port number\n") << port;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(exists(dir / "out"));
}

TEST_F(server_errors, refused_login_shows_no_password) {
    const std::string wrong = "Wr0ngSecret7";
    const run_result r = run_brennock(args(wrong));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nAccess denied for user '" + srv.user + "'@'" + srv.host + "' (using password: YES)\n")
        << r;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find(wrong), std::string::npos);
    EXPECT_FALSE(exists(dir / "out"));

    // Silent: nothing at all, the same exit code.
    const run_result q = run_brennock(join(args(wrong), {"--silent"}));
    EXPECT_EQ(q.status, 255) << q;
    EXPECT_EQ(q.out + q.err, "");
}

TEST_F(server_errors, refused_connection) {
    // Port 1: nothing listens there.
    std::vector<std::string> a = args(srv.password);
    a[1] = "--port=1";
    const run_result r = run_brennock(a);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out.rfind("Error:\nCan't connect to", 0), 0u) << r;
    EXPECT_EQ(r.err, "");
}

TEST_F(server_errors, unknown_database) {
    std::vector<std::string> a = args(srv.password);
    a[4] = "--src=" + db.name() + "_none";
    const run_result r = run_brennock(a);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nUnknown database '" + db.name() + "_none'\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(dir / "out"));
}

TEST_F(server_errors, destination_is_a_file) {
    write_file(dir / "out", "keep me");
    const run_result r = run_brennock(args(srv.password));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nYou should enter path to CSV folder, not a file name\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "out"), "keep me");
}

TEST_F(server_errors, bad_log_file_folder) {
    const run_result r = run_brennock(join(args(srv.password), {"--logfile=" + dir / "no/such/x.log"}));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nLogfile path does not exist. Please verify the correct path was given.\n");
    EXPECT_FALSE(exists(dir / "out"));
}

TEST_F(server_errors, missing_profile) {
    const run_result r = run_brennock(join(args(srv.password), {"--profile=" + dir / "none.ini"}));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error:\nProfile does not exist. Please verify the correct path/name was given.\n");
    EXPECT_EQ(r.err, "");
}

}  // namespace
