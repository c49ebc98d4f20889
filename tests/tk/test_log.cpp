#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>
#include <unistd.h>

#include "test_files.h"
#include "tk_log.h"

namespace {

using fennrow_test::read_file;

using fennrow_test::write_file;

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-log-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/run.log";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string dir, path;
};

TEST_F(LogTest, NothingHappensWithoutLogger) {
    ASSERT_EQ(tk_singleton<tk_logger>::peek(), nullptr);
    tk_log(3, "line %d", 1);
    tk_wlog(3, L"line %s", L"x");
    EXPECT_FALSE(tk_log_wants(3));
    try {
        tk_singleton<tk_logger>::ptr();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), make_err_meggase("..\\TK/tk_singl", 64).c_str());
    }
}

TEST_F(LogTest, FirstCallEmptiesFileOnceEvenBelowLevel) {
    write_file(path, "old contents");
    tk_logger logger(path.c_str(), false, 3, false);
    logger.enabled = true;  // switched on later, as a log-file setting does
    tk_log(2, "dropped");
    EXPECT_EQ(read_file(path), "");
    tk_log(3, "kept %s %" PRId64, "text", static_cast<int64_t>(-9000000000));
    tk_wlog(3, L"wide %s", L"Caf\u00E9 \U0001F600");
    EXPECT_EQ(read_file(path), "kept text -9000000000\r\nwide Caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
}

TEST_F(LogTest, BuiltEnabledEmptiesAtOnceAndLongLinesAreWhole) {
    write_file(path, "old");
    tk_logger logger(path.c_str(), true, 1, false);
    EXPECT_EQ(read_file(path), "");
    std::wstring long_line(30000, L'\u00E9');
    tk_wlog(1, L"%s", long_line.c_str());
    std::string narrow(40000, 'n');
    tk_log(1, "%s", narrow.c_str());
    std::string expected;
    for (int i = 0; i < 30000; ++i) expected += "\xC3\xA9";
    expected += "\r\n" + narrow + "\r\n";
    EXPECT_EQ(read_file(path), expected);
}

TEST_F(LogTest, TimestampPrefix) {
    tk_logger logger(path.c_str(), true, 3, true);
    tk_log(3, "stamped");
    EXPECT_TRUE(std::regex_match(read_file(path), std::regex("\\d\\d:\\d\\d:\\d\\d stamped\r\n")));
}

TEST_F(LogTest, UnopenableFileDropsLineSilently) {
    std::string bad = dir + "/missing/run.log";
    tk_logger logger(bad.c_str(), true, 1, false);
    EXPECT_NO_THROW(tk_log(3, "lost"));
}

// Lines logged from several threads at once to a file that cannot be
// opened tell the failure once, whichever thread meets it first.
TEST_F(LogTest, AFailureMetByManyThreadsIsToldOnce) {
    const std::string bad = dir + "/missing/run.log";
    constexpr int threads = 8, rounds = 50;
    for (int round = 0; round < rounds; ++round) {
        tk_logger logger(bad.c_str(), true, 1, false);
        std::atomic<int> told{0};
        logger.on_failure = [&](const std::string&) { ++told; };
        std::atomic<int> waiting{threads};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                --waiting;
                while (waiting.load() > 0) {
                }
                for (int i = 0; i < 20; ++i) tk_log(3, "line %d", i);
            });
        for (std::thread& t : pool) t.join();
        ASSERT_EQ(told.load(), 1) << "round " << round;
        EXPECT_TRUE(logger.failed);
    }
}

}  // namespace
