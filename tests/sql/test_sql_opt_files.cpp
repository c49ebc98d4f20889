// The client option files as the client library reads them: which lines of
// ~/.my.cnf and of the files it includes set a key, and which of them the
// library applies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "sql_opt_files.h"

namespace {

class OptionFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fn-optfiles.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        if (const char* old = std::getenv("HOME")) saved_ = old;
        ::setenv("HOME", home_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_)
            ::setenv("HOME", saved_->c_str(), 1);
        else
            ::unsetenv("HOME");
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(home_ + "/" + name, std::ios::binary) << text;
    }

    // The lines found in files of the home folder (the system's own files
    // take part as well).
    std::vector<sql_option_line> found() {
        std::vector<sql_option_line> mine;
        for (sql_option_line& line : sql_find_option({"ssl-verify-server-cert", "tls-verify-peer"}, "my group"))
            if (line.file.compare(0, home_.size(), home_) == 0) mine.push_back(std::move(line));
        return mine;
    }

    std::string home_;
    std::optional<std::string> saved_;
};

TEST_F(OptionFiles, keys_of_the_read_groups_in_order) {
    write(".my.cnf",
          "# comment\n"
          "[mysqld]\nssl-verify-server-cert\n"
          "[client]\nssl-verify-server-cert\n"
          "  ssl_verify_server_cert = 'on'  \n"
          "ssl-verify-server-certificate=1\n"
          "!include " + home_ + "/more.cnf\n"
          "[ my group ]\ntls-verify-peer=0\n"
          "[my group]\n; tls-verify-peer=1\ntls-verify-peer");
    write("more.cnf", "[client-server]\ntls_verify_peer=1\n");

    const std::vector<sql_option_line> lines = found();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].key, "ssl-verify-server-cert");
    EXPECT_EQ(lines[0].value, std::nullopt);
    EXPECT_FALSE(lines[0].applied);  // alone on an ended line
    EXPECT_EQ(lines[1].value, "on");
    EXPECT_TRUE(lines[1].applied);
    EXPECT_EQ(lines[2].file, home_ + "/more.cnf");
    EXPECT_EQ(lines[2].key, "tls-verify-peer");
    EXPECT_EQ(lines[2].value, "1");
    // The last line has no line end: the library applies it.
    EXPECT_EQ(lines[3].file, home_ + "/.my.cnf");
    EXPECT_EQ(lines[3].value, std::nullopt);
    EXPECT_TRUE(lines[3].applied);
}

TEST_F(OptionFiles, included_folder_and_where_the_library_stops) {
    std::filesystem::create_directory(home_ + "/conf.d");
    write("conf.d/a.cnf", "[client]\nssl-verify-server-cert=1\n");
    write("conf.d/b.txt", "[client]\nssl-verify-server-cert=2\n");
    write(".my.cnf", "!includedir " + home_ + "/conf.d\n[client]\n!includedir " + home_ +
                         "/missing\nssl-verify-server-cert=3\n");
    std::vector<sql_option_line> lines = found();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].file, home_ + "/conf.d/a.cnf");

    // A key before any group ends the file for the library.
    write(".my.cnf", "ssl-verify-server-cert=1\n[client]\nssl-verify-server-cert=1\n");
    EXPECT_TRUE(found().empty());
}

}  // namespace
