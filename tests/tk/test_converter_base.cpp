#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cctype>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"
#include "tk_conv.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "unprivileged.h"

namespace {

namespace fs = std::filesystem;

using fennrow_test::read_file;

class SetLogfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-conv-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        // Permission cases leave folders without write access.
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(dir, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    std::string dir;
};

TEST(ConverterBase, StartsEmptyAndStoresSilent) {
    tk_converter c;
    EXPECT_FALSE(c.done.load());
    EXPECT_FALSE(c.silent);
    EXPECT_TRUE(c.source.empty());
    EXPECT_TRUE(c.destination.empty());
    EXPECT_TRUE(c.log_file.empty());
    c.set_silent(true);
    EXPECT_TRUE(c.silent);
    c.set_done();
    EXPECT_TRUE(c.is_run_done());
}

TEST_F(SetLogfileTest, WithoutLoggerNothingIsCheckedOrStored) {
    ASSERT_EQ(tk_singleton<tk_logger>::peek(), nullptr);
    tk_converter c;
    for (const std::string& name : {dir, dir + "/missing/x.log", std::string(), dir + "/ok.log"}) {
        EXPECT_NO_THROW(c.set_logfile(name)) << name;
        EXPECT_TRUE(c.log_file.empty()) << name;
    }
    EXPECT_FALSE(fs::exists(dir + "/ok.log"));
}

TEST_F(SetLogfileTest, EmptyNameLeavesTheLoggerOff) {
    tk_logger logger(nullptr, false, 3, false);
    const std::string default_path = logger.path;
    tk_converter c;
    EXPECT_NO_THROW(c.set_logfile(""));
    EXPECT_FALSE(logger.enabled);
    EXPECT_EQ(logger.path, default_path);
}

struct refusal {
    const char* what;
    bool needs_non_root;
    // Prepares the folder and returns the name to pass.
    std::function<std::string(const std::string& dir)> prepare;
    const char* text;
};

void PrintTo(const refusal& r, std::ostream* os) { *os << r.what; }

const char* const existing_path = "Logfile name specifies an existing path.";
const char* const read_only = "Logfile name specifies an existing read-only file.";
const char* const no_path = "Logfile path does not exist.\nPlease verify the correct path was given.";
const char* const no_access =
    "Cannot create log file. Make sure you have sufficient\nprivileges to create files in the directory.";

const refusal refusals[] = {
    {"existing folder", false, [](const std::string& d) { return d; }, existing_path},
    {"existing folder with a slash", false, [](const std::string& d) { return d + "/"; }, existing_path},
    {"folder without access is still a folder first", false,
     [](const std::string& d) {
         fs::create_directory(d + "/locked");
         ::chmod((d + "/locked").c_str(), 0500);
         return d + "/locked";
     },
     existing_path},
    {"folder that does not exist", false, [](const std::string& d) { return d + "/nope/run.log"; }, no_path},
    {"name under a file", false,
     [](const std::string& d) {
         std::ofstream(d + "/plain") << "x";
         return d + "/plain/run.log";
     },
     no_path},
    {"read-only file", true,
     [](const std::string& d) {
         std::ofstream(d + "/ro.log") << "old";
         ::chmod((d + "/ro.log").c_str(), 0444);
         return d + "/ro.log";
     },
     read_only},
    {"folder without write access", true,
     [](const std::string& d) {
         fs::create_directory(d + "/ro");
         ::chmod((d + "/ro").c_str(), 0555);
         return d + "/ro/run.log";
     },
     no_access},
};

class SetLogfileRefusal : public SetLogfileTest, public ::testing::WithParamInterface<refusal> {};

TEST_P(SetLogfileRefusal, IsLevelOneWithItsText) {
    const refusal& c = GetParam();
    if (c.needs_non_root && fennrow_test::rerun_unprivileged()) return;
    std::string name = c.prepare(dir);
    tk_logger logger(nullptr, false, 3, false);
    const std::string default_path = logger.path;
    tk_converter conv;
    try {
        conv.set_logfile(name);
        ADD_FAILURE() << "accepted";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), c.text);
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.code(), 0u);
    }
    EXPECT_FALSE(logger.enabled);
    EXPECT_EQ(logger.path, default_path);
    if (c.text == no_path || c.text == no_access) {
        EXPECT_FALSE(fs::exists(name));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SetLogfileRefusal, ::testing::ValuesIn(refusals),
                         [](const ::testing::TestParamInfo<refusal>& info) {
                             std::string n;
                             for (const char* p = info.param.what; *p; ++p)
                                 n.push_back(std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             return n;
                         });

TEST_F(SetLogfileTest, RelativeNameIsKeptAbsoluteAndSwitchesTheLogOn) {
    std::string target = dir + "/run.log";
    std::string relative = fs::path(target).lexically_relative(fs::current_path()).string();
    ASSERT_FALSE(relative.empty());
    ASSERT_NE(relative.front(), '/');

    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    conv.set_logfile(relative);
    EXPECT_TRUE(logger.enabled);
    EXPECT_EQ(logger.path, target);
    EXPECT_EQ(conv.log_file, target);

    tk_log(2, "below the level");
    tk_log(3, "milestone %d", 1);
    EXPECT_EQ(read_file(target), "milestone 1\r\n");
}

TEST_F(SetLogfileTest, ExistingWritableFileIsAcceptedAndEmptiedOnce) {
    std::string target = dir + "/./sub/../old.log";
    std::ofstream(dir + "/old.log") << "earlier run\n";
    fs::create_directory(dir + "/sub");
    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    conv.set_logfile(target);
    EXPECT_EQ(logger.path, dir + "/old.log");
    tk_log(3, "first");
    tk_log(3, "second");
    EXPECT_EQ(read_file(dir + "/old.log"), "first\r\nsecond\r\n");
}

}  // namespace
