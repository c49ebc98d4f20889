// The CSV folder in a hostile world: links in the folder, part files of
// tables that did not complete, and one conversion at a time per folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "csv_lock.h"
#include "csv_out.h"
#include "csv_test_util.h"
#include "csv_util.h"
#include "tk_excep.h"
#include "unprivileged.h"

namespace fs = std::filesystem;
using csv_test::read_bytes;
using csv_test::temp_dir;
using csv_test::write_bytes;

namespace {

const wchar_t semicolon[] = L";";

bool is_link(const std::string& path) { return fs::is_symlink(fs::symlink_status(path)); }

// The names in the folder, sorted.
std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A link in place of the file: never written through, for both ways of
// opening; a part file gets its name by replacing the link itself.
TEST(CsvFolderSafety, LinksAreNeverWrittenThrough) {
    temp_dir dir;
    write_bytes(dir.file("victim"), "precious");
    fs::create_symlink(dir.file("victim"), dir.file("direct.csv"));
    fs::create_symlink(dir.file("victim"), dir.file("part.csv"));
    fs::create_symlink(dir.file("victim"), dir.file("part.csv.part"));

    try {
        csv_file f(dir.wfile("direct.csv"), semicolon);
        FAIL() << "opened through a link";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_NE(e.message().find(dir.file("direct.csv")), std::string::npos) << e.message();
    }

    csv_file f(dir.wfile("part.csv"), semicolon, csv_file::target::part_file);
    EXPECT_EQ(f.output_path(), dir.file("part.csv.part"));
    f.complete();
    EXPECT_EQ(f.output_path(), dir.file("part.csv"));
    EXPECT_FALSE(is_link(dir.file("part.csv")));
    EXPECT_EQ(read_bytes(dir.file("part.csv")), "\xEF\xBB\xBF");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("part.csv.part"))));
    EXPECT_TRUE(is_link(dir.file("direct.csv")));
    EXPECT_EQ(read_bytes(dir.file("victim")), "precious");
}

// A file that is not completed keeps its part name and its bytes; the final
// name is untouched until complete().
TEST(CsvFolderSafety, APartFileGetsItsNameOnlyWhenComplete) {
    temp_dir dir;
    write_bytes(dir.file("t.csv"), "old");
    {
        csv_output out;
        out.open_partial(dir.wfile("t.csv"));
        out.buffer() = "half";
        out.close();
        EXPECT_EQ(out.path(), dir.file("t.csv.part"));
    }
    EXPECT_EQ(read_bytes(dir.file("t.csv.part")), "half");
    EXPECT_EQ(read_bytes(dir.file("t.csv")), "old");
    {
        csv_output out;  // a stale part file is replaced
        out.open_partial(dir.wfile("t.csv"));
        out.buffer() = "whole";
        out.complete();
    }
    EXPECT_EQ(read_bytes(dir.file("t.csv")), "whole");
    EXPECT_FALSE(fs::exists(dir.file("t.csv.part")));
}

// A part file given up goes, pending bytes and all; the file of the final
// name is untouched, and a file already complete is never given up.
TEST(CsvFolderSafety, AGivenUpPartFileGoesAndTheEarlierFileStays) {
    temp_dir dir;
    write_bytes(dir.file("t.csv"), "old");
    {
        csv_output out;
        out.open_partial(dir.wfile("t.csv"));
        out.buffer() = "written";
        out.flush();
        out.buffer() = "pending";
        out.discard();
        EXPECT_FALSE(out.is_open());
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("t.csv.part"))));
        out.discard();  // twice is once
    }
    EXPECT_EQ(read_bytes(dir.file("t.csv")), "old");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"t.csv"}));

    csv_file f(dir.wfile("t.csv"), semicolon, csv_file::target::part_file);
    f.complete();
    f.discard();
    EXPECT_EQ(read_bytes(dir.file("t.csv")), "\xEF\xBB\xBF");
}

// A new file in place of a table's listed files: the other spellings go,
// the new file and other tables stay.
TEST(CsvFolderSafety, ANewFileReplacesEverySpellingOfItsTable) {
    temp_dir dir;
    write_bytes(dir.file("Mix.CSV"), "old 1");
    write_bytes(dir.file("MIX.csv"), "old 2");
    write_bytes(dir.file("mix.csv"), "old 3");
    write_bytes(dir.file("other.csv"), "other");
    csv_engine eng(dir.wpath(), std::wstring());
    csv_file f(eng.get_full_file_name(L"Mix"), semicolon, csv_file::target::part_file);
    f.complete();
    eng.delete_replaced(L"Mix", f.output_path());
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"mix.csv", "other.csv"}));
    EXPECT_EQ(read_bytes(dir.file("mix.csv")), "\xEF\xBB\xBF");
}

// Links are listed (as existing tables) and deleted themselves; part files
// are never tables and go only with delete_part_files.
TEST(CsvFolderSafety, ListingSeesLinksAndKeepsPartFilesApart) {
    temp_dir dir;
    write_bytes(dir.file("victim.csv"), "precious");
    fs::create_directory(dir.file("elsewhere"));
    fs::create_symlink(dir.file("victim.csv"), dir.file("elsewhere/l.csv"));
    fs::create_symlink(dir.file("nowhere"), dir.file("elsewhere/dangling.csv"));
    write_bytes(dir.file("elsewhere/a.csv.part"), "half");
    write_bytes(dir.file("elsewhere/notes.part"), "x");

    csv_engine eng(dir.wfile("elsewhere"), L"");
    EXPECT_EQ(eng.get_table_names(), (std::vector<std::wstring>{L"dangling", L"l"}));
    EXPECT_FALSE(eng.is_table_exist(L"a"));
    EXPECT_FALSE(eng.is_table_exist(L"a.csv"));
    EXPECT_TRUE(eng.delete_tab(L"l"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("elsewhere/l.csv"))));
    EXPECT_EQ(read_bytes(dir.file("victim.csv")), "precious");

    eng.delete_all_tables();  // l.csv is gone already: no error
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("elsewhere/dangling.csv"))));
    EXPECT_TRUE(fs::exists(dir.file("elsewhere/a.csv.part")));
    eng.delete_part_files();
    EXPECT_FALSE(fs::exists(dir.file("elsewhere/a.csv.part")));
    EXPECT_TRUE(fs::exists(dir.file("elsewhere/notes.part")));
    EXPECT_EQ(read_bytes(dir.file("victim.csv")), "precious");
}

// A second holder waits, then gets a level-1 error naming the folder; the
// folder is free again once the first lets go. Another spelling of the same
// folder is the same folder.
TEST(CsvFolderSafety, OneLockPerFolder) {
    temp_dir dir;
    fs::create_symlink(dir.path(), dir.path() + ".alias");
    {
        csv_folder_lock first(dir.wpath());
        EXPECT_TRUE(first.is_for(dir.wpath() + L"/."));
        const auto start = std::chrono::steady_clock::now();
        try {
            csv_folder_lock second(dir.wpath() + L".alias", 300);
            ADD_FAILURE() << "locked twice";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(e.message(), "The folder " + dir.path() + ".alias is in use by another conversion");
        }
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    }
    EXPECT_NO_THROW(csv_folder_lock again(dir.wpath(), 0));
    fs::remove(dir.path() + ".alias");
    try {
        csv_folder_lock missing(dir.wfile("missing"), 0);
        FAIL() << "locked a missing folder";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.message(), "Cannot open the folder " + dir.file("missing") + ": No such file or directory");
    }
}

// Errors of the file system name the path they concern.
TEST(CsvFolderSafety, FileSystemErrorsNameThePath) {
    if (fennrow_test::rerun_unprivileged()) return;
    temp_dir dir;
    fs::create_directory(dir.file("ro"));
    write_bytes(dir.file("ro/t.csv"), "x");
    ASSERT_EQ(::chmod(dir.file("ro").c_str(), 0555), 0);
    const std::string ro = dir.file("ro");
    try {
        csv_file f(dir.wfile("ro/t.csv"), semicolon, csv_file::target::part_file);
        ADD_FAILURE() << "created a file in a read-only folder";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message(), "Error opening CSV file " + ro + "/t.csv.part: Permission denied");
    }
    try {
        csv_engine eng(dir.wfile("ro"), L"");
        eng.delete_all_tables();
        ADD_FAILURE() << "deleted in a read-only folder";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message(), "Cannot delete " + ro + "/t.csv: Permission denied");
    }
    ASSERT_EQ(::chmod(ro.c_str(), 0), 0);
    try {
        csv_engine eng(dir.wfile("ro"), L"");
        ADD_FAILURE() << "listed a folder that may not be read";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.message(), "Cannot read the folder " + ro + ": Permission denied");
    }
    ::chmod(ro.c_str(), 0755);
}

}  // namespace
