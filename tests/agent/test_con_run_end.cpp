// A console run that a level-1 report ends while its stream and its count
// still wait for the server: the run unwinds instead of ending the process,
// and leaves no thread running and no file open.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "agent_util.h"
#include "con_handler.h"
#include "file_size_limit.h"
#include "kvr_conv.h"
#include "process_threads.h"
#include "tk_utils.h"

namespace {

using agent_test::temp_dir;

// How many descriptors of this process name a file under the folder.
size_t open_files_under(const std::string& folder) {
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char target[4096];
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
            if (len <= 0) continue;
            if (std::string(target, static_cast<size_t>(len)).rfind(folder + "/", 0) == 0) ++n;
        }
        ::closedir(d);
    }
    return n;
}

FENNROW_SERVER_TESTS(ConsoleRunEnd);

TEST(ConsoleRunEnd, ALevel1ReportUnwindsTheRunWithItsThreads) {
    const fennrow_test::test_server s = fennrow_test::require_test_server();
    fennrow_test::test_database db("run_end");
    db.conn().exec("CREATE TABLE after_t (id INT); INSERT INTO after_t VALUES (7)");
    // A stored query may not take a lock itself; a function of the database may.
    db.conn().exec("CREATE FUNCTION wait_lock(name VARCHAR(64)) RETURNS INT NO SQL RETURN GET_LOCK(name, 600)");
    temp_dir dir;
    const std::string out = dir / "out";
    std::filesystem::create_directories(out);
    // Row 2000 of the stream (and of its count) waits for this lock, which
    // the test holds until the run is over.
    fennrow_test::test_sql_conn locker;
    const std::string lock_name = "fn_run_end_" + std::to_string(::getpid());
    ASSERT_EQ(locker.scalar("SELECT GET_LOCK(" + locker.literal(lock_name) + ", 0)"), "1");

    console_error_handler handler;
    handler.suppress = true;
    kellvar_converter conv(kellvar_program::console, handler);
    conv.set_silent(true);
    conv.store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
    conv.connect_mysql_server();
    conv.source = tk_from_utf8(db.name());
    conv.destination = tk_from_utf8(out);
    conv.table_queries = {{L"slow", tk_from_utf8("SELECT seq AS id, REPEAT('x', 1000) AS pad, IF(seq = 2000, wait_lock(" +
                                                 locker.literal(lock_name) + "), 0) AS s FROM seq_1_to_3000")}};
    conv.selected_tables = {L"after_t"};

    // Files may grow to a few KB only (below): the first block of records
    // cannot be written, a level-1 failure, long before row 2000.
    bool ended_with_the_rest_withheld = false;
    size_t files_open_at_the_end = 0;
    const size_t threads_before = fennrow_test::thread_count();
    {
        fennrow_test::file_size_limit small_files(4096);
        ASSERT_TRUE(small_files.active());
        std::thread worker([&] { conv(); });
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!conv.done.load() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended_with_the_rest_withheld = conv.done.load();
        // Once the run is done nothing of it may still hold a file of the folder.
        files_open_at_the_end = open_files_under(out);
        locker.exec("DO RELEASE_LOCK(" + locker.literal(lock_name) + ")");
        worker.join();
    }

    EXPECT_TRUE(ended_with_the_rest_withheld) << "the run waited for the withheld rows";
    EXPECT_TRUE(handler.ended());
    EXPECT_TRUE(conv.run_stopped.load());
    EXPECT_GE(conv.errors_reported.load(), 1u);
    const std::vector<udb_converter::name_query> left = {conv.table_queries[0], {L"after_t", L""}};
    EXPECT_EQ(conv.not_converted, left);
    EXPECT_EQ(files_open_at_the_end, 0u);
    EXPECT_TRUE(fennrow_test::threads_back_to(threads_before));
    // The next entry was not reached.
    EXPECT_FALSE(std::filesystem::exists(out + "/after_t.csv"));
}

}  // namespace
