// The console error handler and fatal_exit, each run in a child process so
// that what it prints and how it ends the process can be seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <functional>
#include <stdexcept>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "agent_util.h"
#include "con_exit.h"
#include "con_handler.h"
#include "csv_util.h"
#include "kvr_conv.h"
#include "tk_excep.h"
#include "udb_record.h"

namespace {

using agent_test::run_result;

// Runs body in a forked child with stdout and stderr captured; a body that
// returns ends the child with 0.
run_result in_child(const std::function<void()>& body) {
    run_result r;
    std::fflush(nullptr);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        ADD_FAILURE() << "pipe failed";
        return r;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        try {
            body();
        } catch (...) {
            std::fflush(nullptr);
            _exit(99);
        }
        std::fflush(nullptr);
        _exit(0);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    // The bodies print a few lines only: reading one pipe after the other
    // cannot block the child.
    auto drain = [](int fd, std::string& to) {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) to.append(buf, static_cast<size_t>(n));
        close(fd);
    };
    drain(out_pipe[0], r.out);
    drain(err_pipe[0], r.err);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    return r;
}

TEST(console_handler, level_0_prints_context_and_text_on_one_line_and_returns) {
    const run_result r = in_child([] {
        console_error_handler handler;
        handler.set_context(L"orders", 7);
        const uint32_t before = console_reported_errors();
        handler.handle(tk_exception(std::string("bad value\nin two lines"), 0), false);
        std::printf("returned %u\n", console_reported_errors() - before);
    });
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "Error:\norders, record #7: bad value in two lines\nreturned 1\n");
    EXPECT_EQ(r.err, "");
}

// What a report that ends the run leaves: its lines, and the exception
// that unwinds the run; main turns it into the exit code.
struct end_case {
    const char* name;
    bool quiet;
    tk_exception report;
    std::string out;
};

TEST(console_handler, levels_1_and_2_end_the_run_by_an_exception) {
    const std::string folder_text = "You should enter path to CSV folder, not a file name";
    const end_case cases[] = {
        {"level 1", false, tk_exception(folder_text, 1), "Error:\n" + folder_text + "\n"},
        {"level 1 quiet", true, tk_exception(std::string("fatal"), 1), ""},
        {"level 2 quiet", true, tk_mail_assertion("tk_cmdli.cpp", 60),
         "Internal error: " + make_err_meggase("tk_cmdli.cpp", 60) + "\n"},
    };
    for (const end_case& c : cases) {
        const run_result r = in_child([&] {
            console_error_handler handler;
            handler.suppress = c.quiet;
            // Quiet: neither a level-0 report nor the context is shown.
            if (c.quiet) {
                handler.set_context(L"ignored");
                handler.handle(tk_exception(std::string("gone"), 0), false);
            }
            if (handler.ended()) std::printf("ended early\n");
            try {
                handler.handle(c.report, false);
                std::printf("returned\n");
            } catch (const console_run_end&) {
                std::printf(handler.ended() ? "unwound\n" : "not marked\n");
            }
        });
        EXPECT_EQ(r.status, 0) << c.name << r;
        EXPECT_EQ(r.out, c.out + "unwound\n") << c.name;
        EXPECT_EQ(r.err, "") << c.name;
    }
}

TEST(console_exit, fatal_exit_writes_to_stderr_and_ends_with_255) {
    const run_result r = in_child([] { fatal_exit("Invalid CSV delimiter"); });
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Invalid CSV delimiter\n");
}

// With the converter gone, the handler's quiet flag still keeps it silent
// (and nothing dereferences the destroyed converter).
TEST(console_exit, silent_after_the_converter_is_gone) {
    const run_result r = in_child([] {
        console_error_handler handler;
        {
            kellvar_converter conv(kellvar_program::console, handler);
            conv.set_silent(true);
            handler.suppress = true;
        }
        if (kellvar_converter::peek()) std::printf("converter still registered\n");
        fatal_exit("must not be printed");
    });
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out + r.err, "");

    const run_result loud = in_child([] {
        {
            console_error_handler handler;
            kellvar_converter conv(kellvar_program::console, handler);
        }
        fatal_exit("printed");
    });
    EXPECT_EQ(loud.status, 255) << loud;
    EXPECT_EQ(loud.err, "printed\n");
}

}  // namespace

namespace {

// An exception nothing can catch ends with the internal-error line, not an abort.
TEST(console_exit, terminate_gives_internal_error_and_255) {
    const run_result r = in_child([] {
        install_terminate_handler();
        try {
            throw std::runtime_error("escaped");
        } catch (...) {
            std::terminate();
        }
    });
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Internal error: escaped\n");
}

TEST(console_handler, a_fatal_error_keeps_the_records_already_written) {
    char tmpl[] = "/tmp/fn_handler_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/t.csv";
    const run_result r = in_child([&] {
        console_error_handler handler;
        csv_file file(std::wstring(path.begin(), path.end()), L",");
        udb_record rec;
        rec.push_back(new udb_field(L"a", 0, ole_variant(std::wstring(L"one"))));
        file.append_record(rec);
        file.append_record(rec);
        // A level-1 error ends the run while the records are still buffered.
        handler.handle(tk_exception(std::string("broken"), 1), false);
    });
    // The child's body ended by the exception, which closed the file.
    EXPECT_EQ(r.status, 99) << r;
    EXPECT_EQ(r.out, "Error:\nbroken\n");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "\xEF\xBB\xBFone\r\none\r\n");
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

}  // namespace
