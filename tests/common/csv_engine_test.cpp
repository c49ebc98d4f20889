#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "csv_test_util.h"
#include "csv_util.h"
#include "tk_excep.h"
#include "unprivileged.h"

namespace fs = std::filesystem;
using csv_test::temp_dir;
using csv_test::write_bytes;

namespace {

TEST(CsvEngine, ListsRegularCsvFilesOnlyIgnoringCase) {
    temp_dir dir;
    write_bytes(dir.file("Orders.CSV"), "x");
    write_bytes(dir.file("items.csv"), "x");
    write_bytes(dir.file("notes.txt"), "x");
    write_bytes(dir.file("csv"), "x");
    fs::create_directory(dir.file("folder.csv"));
    fs::create_symlink(dir.file("notes.txt"), dir.file("link.csv"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling.csv"));

    csv_engine eng(dir.wpath(), L"");
    // Links are entries of the folder, whatever they point to.
    EXPECT_EQ(eng.get_table_names(), (std::vector<std::wstring>{L"dangling", L"items", L"link", L"orders"}));
    EXPECT_TRUE(eng.is_table_exist(L"ORDERS"));
    EXPECT_TRUE(eng.is_table_exist(L"orders"));
    EXPECT_FALSE(eng.is_table_exist(L"folder"));
    EXPECT_FALSE(eng.is_table_exist(L"notes"));
    EXPECT_TRUE(eng.is_table_exist(L"dangling"));
}

TEST(CsvEngine, NonAsciiNamesCompareIgnoringCase) {
    temp_dir dir;
    write_bytes(dir.file("\xc3\x84rger.csv"), "x");  // Ärger
    csv_engine eng(dir.wpath(), L"");
    EXPECT_TRUE(eng.is_table_exist(L"\u00e4RGER"));
}

TEST(CsvEngine, FullFileNameKeepsTheFolderAsGiven) {
    csv_engine eng(L"/tmp", L"");
    csv_engine mixed_case_folder(L"/tmp/../tmp/", L"");
    EXPECT_EQ(eng.get_full_file_name(L"Orders"), L"/tmp/orders.csv");
    EXPECT_EQ(eng.get_full_file_name(L"Orders.CSV"), L"/tmp/orders.csv");
    EXPECT_EQ(eng.get_full_file_name(L"\u00c4rger"), L"/tmp/\u00c4rger.csv");  // A to Z only
    EXPECT_EQ(mixed_case_folder.get_full_file_name(L"T"), L"/tmp/../tmp/t.csv");
    csv_engine prefixed(L"/tmp", L"P");
    EXPECT_EQ(prefixed.get_full_file_name(L"t"), L"/tmp/p_t.csv");

    temp_dir dir;
    fs::create_directory(dir.file("MyData"));
    csv_engine upper(dir.wfile("MyData"), L"");
    EXPECT_EQ(upper.get_full_file_name(L"Orders"), dir.wfile("MyData/orders.csv"));
}

TEST(CsvEngine, DeleteTabRemovesTheRealFile) {
    temp_dir dir;
    write_bytes(dir.file("Orders.CSV"), "x");
    write_bytes(dir.file("keep.csv"), "x");
    csv_engine eng(dir.wpath(), L"");
    EXPECT_TRUE(eng.delete_tab(L"orders"));
    EXPECT_FALSE(fs::exists(dir.file("Orders.CSV")));
    EXPECT_TRUE(fs::exists(dir.file("keep.csv")));
    // The listing is a snapshot.
    EXPECT_TRUE(eng.is_table_exist(L"orders"));
    // A listed file that is gone already (another process deleted it) is no error.
    EXPECT_TRUE(eng.delete_tab(L"orders"));
    EXPECT_TRUE(fs::exists(dir.file("keep.csv")));
    // A name that was never there is an internal error.
    try {
        eng.delete_tab(L"never");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("common/csv_util", 497));
    }
}

TEST(CsvEngine, DeleteTabOfAnUnlistedNameUsesTheFullFileName) {
    temp_dir dir;
    csv_engine eng(dir.wpath(), L"");
    write_bytes(dir.file("late.csv"), "x");  // created after the listing
    EXPECT_TRUE(eng.delete_tab(L"Late"));
    EXPECT_FALSE(fs::exists(dir.file("late.csv")));
    EXPECT_THROW(eng.delete_tab(L"never"), tk_mail_assertion);
}

TEST(CsvEngine, DeleteAllTables) {
    temp_dir dir;
    write_bytes(dir.file("a.csv"), "x");
    write_bytes(dir.file("B.Csv"), "x");
    write_bytes(dir.file("notes.txt"), "x");
    fs::create_directory(dir.file("sub.csv"));
    csv_engine eng(dir.wpath(), L"");
    eng.delete_all_tables();
    EXPECT_FALSE(fs::exists(dir.file("a.csv")));
    EXPECT_FALSE(fs::exists(dir.file("B.Csv")));
    EXPECT_TRUE(fs::exists(dir.file("notes.txt")));
    EXPECT_TRUE(fs::is_directory(dir.file("sub.csv")));

    csv_engine empty(dir.wpath(), L"");
    EXPECT_TRUE(empty.get_table_names().empty());
    EXPECT_NO_THROW(empty.delete_all_tables());
}

TEST(CsvEngine, MissingFolderIsAnInternalError) {
    temp_dir dir;
    try {
        csv_engine eng(dir.wfile("missing"), L"");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("common/csv_util", 475));
    }
}

TEST(CsvEngine, FailedDeleteIsALevelOneError) {
    if (fennrow_test::rerun_unprivileged()) return;
    temp_dir dir;
    write_bytes(dir.file("locked.csv"), "x");
    csv_engine eng(dir.wpath(), L"");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    try {
        eng.delete_tab(L"locked");
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_NE(e.message().find("Permission denied"), std::string::npos) << e.message();
    }
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_TRUE(fs::exists(dir.file("locked.csv")));
}

}  // namespace
