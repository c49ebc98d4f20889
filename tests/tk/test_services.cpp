// Clipboard seam, bug-report mail, library versions and the default log path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tk_bug.h"
#include "tk_clipb.h"
#include "tk_dllver.h"
#include "tk_log.h"
#include "tk_logpath.h"

namespace {

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_bytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string exe_path() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-svc-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const char* p = std::getenv("PATH");
        saved_path = p ? p : "";
    }
    void TearDown() override {
        setenv("PATH", saved_path.c_str(), 1);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    // Runs f with a logger of every level writing to a file; returns the log.
    template <class F>
    std::string logged(F f) {
        std::string log = dir + "/trace.log";
        {
            tk_logger logger(log.c_str(), true, 1, false);
            f();
        }
        return read_bytes(log);
    }
    std::string dir, saved_path;
};

// ---- clipboard

TEST(Clipboard, TextGoesToTheInstalledWriterOnly) {
    std::vector<std::wstring> got;
    tk_set_clipboard_writer([&](const std::wstring& t) {
        got.push_back(t);
        return true;
    });
    tk_copy_to_clipboard2(L"Internal error: \ncode=74\u00C4");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], L"Internal error: \ncode=74\u00C4");

    tk_set_clipboard_writer(nullptr);
    tk_copy_to_clipboard2(L"dropped");
    EXPECT_EQ(got.size(), 1u);
}

TEST(Clipboard, AFailingWriterDoesNotThrow) {
    tk_set_clipboard_writer([](const std::wstring&) -> bool { throw std::runtime_error("no display"); });
    EXPECT_NO_THROW(tk_copy_to_clipboard2(L"x"));
    tk_set_clipboard_writer(nullptr);
}

// ---- bug report

std::tm local(int y, int mo, int d, int h, int mi) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = 42;
    return t;
}

TEST(BugReport, DateTextIsUnpadded) {
    EXPECT_EQ(tk_bug_date_text(local(2024, 3, 5, 9, 7)), "2024/3/5 9:7");
    EXPECT_EQ(tk_bug_date_text(local(1999, 12, 31, 23, 59)), "1999/12/31 23:59");
    EXPECT_EQ(tk_bug_date_text(local(2025, 1, 1, 0, 0)), "2025/1/1 0:0");
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        EXPECT_EQ(tk_bug_date_text(local(2024, 3, 5, 9, 7)), "2024/3/5 9:7");
        std::setlocale(LC_ALL, "C");
    }
}

TEST(BugReport, MessageCarriesSubjectBodyDateAndRecipient) {
    std::tm t = local(2024, 3, 5, 9, 7);
    tk_bug_message m = tk_make_bug_message("Kellvar 2.1", "Internal error: \ncode=ab", &t);
    EXPECT_EQ(m.subject, "Bug report on Kellvar 2.1");
    EXPECT_EQ(m.date_received, "2024/3/5 9:7");
    EXPECT_EQ(m.note_text, "Internal error: \ncode=ab");
    EXPECT_EQ(m.recipient, tk_bug_support_address());
    EXPECT_NE(std::string(tk_bug_support_address()).find('@'), std::string::npos);

    tk_bug_message no_clock = tk_make_bug_message("", "b", nullptr);
    EXPECT_EQ(no_clock.subject, "Bug report on ");
    EXPECT_EQ(no_clock.date_received, "");

    EXPECT_EQ(tk_bug_mail_arguments(m),
              (std::vector<std::string>{"--utf8", "--subject", "Bug report on Kellvar 2.1", "--body",
                                        "Internal error: \ncode=ab", tk_bug_support_address()}));
}

class BugMail : public TempDirTest {};

TEST_F(BugMail, FindProgramTakesExecutableFilesOnly) {
    std::string bin1 = dir + "/bin1", bin2 = dir + "/bin2";
    ASSERT_EQ(mkdir(bin1.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(bin2.c_str(), 0755), 0);
    write_bytes(bin1 + "/tool", "data");  // not executable
    ASSERT_EQ(mkdir((bin1 + "/tool2").c_str(), 0755), 0);  // a folder
    write_bytes(bin2 + "/tool", "#!/bin/sh\n");
    write_bytes(bin2 + "/tool2", "#!/bin/sh\n");
    chmod((bin2 + "/tool").c_str(), 0755);
    chmod((bin2 + "/tool2").c_str(), 0755);
    setenv("PATH", (bin1 + ":" + bin2).c_str(), 1);
    if (geteuid() != 0) {  // root may run anything
        EXPECT_EQ(tk_find_program("tool"), bin2 + "/tool");
    }
    EXPECT_EQ(tk_find_program("tool2"), bin2 + "/tool2");
    EXPECT_EQ(tk_find_program("missing"), "");
}

TEST_F(BugMail, HandsTheMessageToXdgEmailWithoutAShell) {
    // The stand-in writes each argument followed by a zero byte.
    std::string script = dir + "/xdg-email";
    write_bytes(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/args\"\nexit 3\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    setenv("PATH", dir.c_str(), 1);

    const std::string body = "Internal error: \ncode=6a; $(touch pwned) `x` 'q' \"d\"";
    std::string log = logged([&] { tk_send_bug("Kellvar", body); });

    std::string raw = read_bytes(dir + "/args");
    std::vector<std::string> args;
    for (size_t start = 0, end; (end = raw.find('\0', start)) != std::string::npos; start = end + 1)
        args.push_back(raw.substr(start, end - start));
    EXPECT_EQ(args, (std::vector<std::string>{"--utf8", "--subject", "Bug report on Kellvar", "--body", body,
                                              tk_bug_support_address()}));
    EXPECT_EQ(access((dir + "/pwned").c_str(), F_OK), -1);
    EXPECT_NE(log.find("xdg-email returns 3"), std::string::npos) << log;
}

TEST_F(BugMail, WithoutXdgEmailNothingIsSent) {
    setenv("PATH", dir.c_str(), 1);
    std::string log = logged([] { tk_send_bug("Kellvar", "body"); });
    EXPECT_NE(log.find("Failed to locate xdg-email"), std::string::npos) << log;
    EXPECT_EQ(log.find("xdg-email returns"), std::string::npos) << log;
}

// ---- library version

class LibraryVersion : public TempDirTest {};

TEST_F(LibraryVersion, LibrariesWithoutDllGetVersionGiveZero) {
    uint32_t v = 1;
    std::string log = logged([&] { v = get_dll_version(L"libc.so.6"); });
    EXPECT_EQ(v, 0u);
    EXPECT_NE(log.find("get_dll_version failed to obtain DllGetVersion"), std::string::npos) << log;

    log = logged([&] { v = get_dll_version(L"libno-such-library-here.so"); });
    EXPECT_EQ(v, 0u);
    EXPECT_NE(log.find("get_dll_version failed to load DLL"), std::string::npos) << log;
}

// ---- default log path

TEST(DefaultLogPath, ReplacesTheProgramsExtension) {
    EXPECT_EQ(tk_log_path_for("/opt/fennrow/BRENNOCK"), "/opt/fennrow/BRENNOCK.log");
    EXPECT_EQ(tk_log_path_for("/opt/fennrow/kellvar.bin"), "/opt/fennrow/kellvar.log");
    EXPECT_EQ(tk_log_path_for("/opt/v1.2/tool"), "/opt/v1.2/tool.log");
    EXPECT_EQ(tk_log_path_for("/opt/x/.hidden"), "/opt/x/.hidden.log");
}

TEST(DefaultLogPath, LiesBesideTheRunningProgram) {
    std::string exe = exe_path();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(tk_default_log_path(), exe + ".log");  // the test program has no extension

    // A logger built without a path uses it; built disabled, it touches no file.
    struct stat before {};
    bool existed = stat((exe + ".log").c_str(), &before) == 0;
    tk_logger logger(nullptr, false, 3, false);
    EXPECT_EQ(logger.path, exe + ".log");
    struct stat after {};
    EXPECT_EQ(stat((exe + ".log").c_str(), &after) == 0, existed);
}

}  // namespace
