// Path splitting, program path, file tests, folder listing and creation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"
#include "param_names.h"
#include "tk_chdir.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_fname.h"
#include "tk_module.h"
#include "utf8.h"
#include "unprivileged.h"

namespace fs = std::filesystem;

namespace {

class temp_dir {
public:
    temp_dir() {
        char tmpl[] = "/tmp/fn_tk_XXXXXX";
        char* p = mkdtemp(tmpl);
        if (p) path_ = p;
    }
    ~temp_dir() {
        if (path_.empty()) return;
        std::error_code ec;
        // Give back permissions taken away by a test so the tree can go.
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string sub(const std::string& name) const { return path_ + "/" + name; }
    std::wstring wsub(const std::string& name) const { return plat::utf8_decode(sub(name)); }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

using fennrow_test::read_file;


std::string cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

}  // namespace

struct split_case {
    const char* path;
    const char* dir;
    const char* fname;
    const char* ext;
};

class path_split : public ::testing::TestWithParam<split_case> {};

TEST_P(path_split, narrow_and_wide_agree) {
    const split_case& c = GetParam();
    tk_file_name n{std::string(c.path)};
    EXPECT_EQ(n.drive, "");
    EXPECT_EQ(n.dir, c.dir);
    EXPECT_EQ(n.fname, c.fname);
    EXPECT_EQ(n.ext, c.ext);
    EXPECT_EQ(n.get_folder(), c.dir);

    tk_file_wname w{plat::utf8_decode(c.path)};
    EXPECT_EQ(w.dir, plat::utf8_decode(c.dir));
    EXPECT_EQ(w.fname, plat::utf8_decode(c.fname));
    EXPECT_EQ(w.ext, plat::utf8_decode(c.ext));
}

INSTANTIATE_TEST_SUITE_P(cases, path_split,
                         ::testing::Values(split_case{"/a/b/c.txt", "/a/b/", "c", ".txt"},
                                           split_case{"/a/b/", "/a/b/", "", ""},
                                           split_case{"/a/./b/../c.tar.gz", "/a/", "c.tar", ".gz"},
                                           split_case{"//a///b", "/a/", "b", ""},
                                           split_case{"/x/.hidden", "/x/", ".hidden", ""},
                                           split_case{"/x/b.", "/x/", "b", "."},
                                           split_case{"/../..", "/", "", ""},
                                           split_case{"/d.x/f", "/d.x/", "f", ""},
                                           split_case{"/Grüße/straße.csv", "/Grüße/", "straße", ".csv"}),
                         [](const auto& info) {
                             return test_names::indexed(info.index, plat::utf8_decode(info.param.path));
                         });

TEST(path_split, relative_path_is_made_absolute_against_the_working_folder) {
    tk_file_name n{std::string("sub/name.ext")};
    EXPECT_EQ(n.dir, cwd() + "/sub/");
    EXPECT_EQ(n.fname, "name");
    EXPECT_EQ(n.ext, ".ext");
}

TEST(path_split, empty_text_names_the_program_folder_without_name) {
    tk_file_name n{std::string()};
    EXPECT_EQ(n.get_folder(), tk_get_module_dir());
    EXPECT_EQ(n.fname, "");
    tk_file_wname w{std::wstring()};
    EXPECT_EQ(w.get_folder(), tk_get_module_wdir());
    EXPECT_EQ(w.fname, L"");
}

TEST(path_split, null_text_is_an_internal_error_with_its_site) {
    try {
        tk_file_name n(static_cast<const char*>(nullptr));
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("tk_fname", 31));
    }
    try {
        tk_file_wname w(static_cast<const wchar_t*>(nullptr));
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("tk_fname", 83));
    }
}

TEST(path_split, make_path_joins_the_parts_again) {
    tk_file_wname w{std::wstring(L"/srv/data/Orders.csv")};
    EXPECT_EQ(tk_fname_make_path(w), L"/srv/data/Orders.csv");
    w.ext = L".log";
    EXPECT_EQ(tk_fname_make_path(w), L"/srv/data/Orders.log");
    w.ext = L"chm";  // an extension without point gets one
    EXPECT_EQ(tk_fname_make_path(w), L"/srv/data/Orders.chm");
    w.dir = L"/srv";  // a folder without trailing separator
    EXPECT_EQ(tk_fname_make_path(w), L"/srv/Orders.chm");
}

TEST(module_path, is_the_running_program) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(tk_get_module_name(), exe.string());
    EXPECT_EQ(tk_get_module_wname(), plat::utf8_decode(exe.string()));
    std::string dir = tk_get_module_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir, exe.parent_path().string() + "/");
    EXPECT_TRUE(tk_is_path_exist(dir));
}

TEST(file_tests, folder_existence) {
    temp_dir t;
    ASSERT_FALSE(t.path().empty());
    write_file(t.sub("f.txt"), "x");
    ASSERT_EQ(mkdir(t.sub("Ordner äö").c_str(), 0755), 0);

    EXPECT_TRUE(tk_is_path_exist(t.path()));
    EXPECT_TRUE(tk_is_path_exist(t.path() + "/"));
    EXPECT_TRUE(tk_is_path_exist(t.wsub("Ordner äö")));
    EXPECT_FALSE(tk_is_path_exist(t.sub("f.txt")));
    EXPECT_FALSE(tk_is_path_exist(t.sub("missing")));
    EXPECT_FALSE(tk_is_path_exist(std::string()));
    // A lone surrogate has no native form: such a path cannot exist.
    std::wstring bad = plat::utf8_decode(t.path()) + L"/" + std::wstring(1, static_cast<wchar_t>(0xD800));
    EXPECT_FALSE(tk_is_path_exist(bad));
}

TEST(file_tests, the_existence_test_never_changes_the_working_folder) {
    temp_dir t;
    std::string before = cwd();
    EXPECT_TRUE(tk_is_path_exist(t.path()));
    EXPECT_EQ(cwd(), before);
}

TEST(file_tests, not_a_folder_mode) {
    temp_dir t;
    write_file(t.sub("plain"), "x");
    write_file(t.sub("ro"), "x");
    ASSERT_EQ(chmod(t.sub("ro").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(t.sub("dir").c_str(), 0755), 0);

    EXPECT_TRUE(tk_is_file_exist2(t.wsub("plain"), tk_fmode_not_folder));
    EXPECT_TRUE(tk_is_file_exist2(t.wsub("ro"), tk_fmode_not_folder));
    EXPECT_FALSE(tk_is_file_exist2(t.wsub("dir"), tk_fmode_not_folder));
    EXPECT_FALSE(tk_is_file_exist2(t.wsub("missing"), tk_fmode_not_folder));
    EXPECT_TRUE(tk_is_file_exist1(t.sub("plain"), tk_fmode_not_folder));
    EXPECT_FALSE(tk_is_file_exist1(t.sub("dir"), tk_fmode_not_folder));
}

TEST(file_tests, writable_mode) {
    if (fennrow_test::rerun_unprivileged()) return;
    temp_dir t;
    write_file(t.sub("plain"), "x");
    write_file(t.sub("ro"), "x");
    ASSERT_EQ(chmod(t.sub("ro").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(t.sub("dir").c_str(), 0755), 0);
    EXPECT_TRUE(tk_is_file_exist1(t.sub("plain"), tk_fmode_writable));
    EXPECT_FALSE(tk_is_file_exist1(t.sub("ro"), tk_fmode_writable));
    EXPECT_FALSE(tk_is_file_exist1(t.sub("dir"), tk_fmode_writable));
    EXPECT_FALSE(tk_is_file_exist2(t.wsub("ro"), tk_fmode_writable));
}

TEST(file_tests, an_unexpected_mode_neither_creates_nor_empties_a_file) {
    temp_dir t;
    write_file(t.sub("keep"), "content");
    for (uint32_t mode : {0u, 2u, 0x80u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(tk_is_file_exist2(t.wsub("keep"), mode)) << mode;
        EXPECT_EQ(read_file(t.sub("keep")), "content") << mode;
        EXPECT_FALSE(tk_is_file_exist2(t.wsub("new"), mode)) << mode;
        EXPECT_FALSE(fs::exists(t.sub("new"))) << mode;
    }
}

TEST(file_tests, write_access_to_a_folder) {
    temp_dir t;
    EXPECT_EQ(tk_has_access(t.path(), tk_generic_write), 1);
    EXPECT_EQ(tk_has_access(t.path(), tk_generic_read), 1);
    EXPECT_EQ(tk_has_access(t.sub("missing"), tk_generic_write), 0);
    EXPECT_EQ(tk_has_access(t.sub("missing"), tk_generic_read), 0);
}

TEST(file_tests, access_denied_by_permissions) {
    if (fennrow_test::rerun_unprivileged()) return;
    temp_dir t;
    ASSERT_EQ(mkdir(t.sub("ro").c_str(), 0555), 0);
    ASSERT_EQ(mkdir(t.sub("nosearch").c_str(), 0666), 0);
    write_file(t.sub("wo"), "x");
    ASSERT_EQ(chmod(t.sub("wo").c_str(), 0200), 0);

    EXPECT_EQ(tk_has_access(t.sub("ro"), tk_generic_write), 0);
    EXPECT_EQ(tk_has_access(t.sub("ro"), tk_generic_read), 1);
    // Files cannot be created in a folder that may not be searched.
    EXPECT_EQ(tk_has_access(t.sub("nosearch"), tk_generic_write), 0);
    EXPECT_EQ(tk_has_access(t.sub("wo"), tk_generic_read), 0);
    EXPECT_EQ(tk_has_access(t.sub("wo"), tk_generic_write), 1);
    EXPECT_EQ(tk_has_access(t.sub("wo"), tk_generic_all), 0);
}

struct mask_case {
    const wchar_t* mask;
    const wchar_t* name;
    bool match;
};

class mask_match : public ::testing::TestWithParam<mask_case> {};

TEST_P(mask_match, wildcards_ignore_case) {
    const mask_case& c = GetParam();
    EXPECT_EQ(tk_mask_match(c.mask, c.name), c.match) << "mask " << plat::utf8_encode(c.mask);
}

INSTANTIATE_TEST_SUITE_P(cases, mask_match,
                         ::testing::Values(mask_case{L"*.csv", L"orders.csv", true},
                                           mask_case{L"*.csv", L"Orders.CSV", true},
                                           mask_case{L"*.csv", L"orders.csvx", false},
                                           mask_case{L"*.csv", L"orders.tsv", false},
                                           mask_case{L"*.csv", L".csv", true},
                                           mask_case{L"a?c", L"abc", true},
                                           mask_case{L"a?c", L"ac", false},
                                           mask_case{L"*a*b*", L"xxaxxbxx", true},
                                           mask_case{L"*a*b", L"xxbxxa", false},
                                           mask_case{L"*", L"", true},
                                           mask_case{L"", L"x", false},
                                           mask_case{L"ÄRGER.*", L"ärger.txt", true}),
                         [](const auto& info) {
                             return test_names::indexed(info.index,
                                                        std::wstring(info.param.mask) + L" " + info.param.name);
                         });

class find_files_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(t.path().empty());
        write_file(t.sub("Orders.CSV"), "");
        write_file(t.sub("b.csv"), "");
        write_file(t.sub("a.csv"), "");
        write_file(t.sub("notes.txt"), "");
        ASSERT_EQ(mkdir(t.sub("dir.csv").c_str(), 0755), 0);
        ASSERT_EQ(symlink("nowhere", t.sub("dangling.csv").c_str()), 0);
        ASSERT_EQ(symlink("b.csv", t.sub("link.csv").c_str()), 0);
    }
    temp_dir t;
};

TEST_F(find_files_fixture, lists_matching_regular_files_sorted) {
    std::vector<std::wstring> out;
    ASSERT_TRUE(tk_find_files(plat::utf8_decode(t.path()), L"*.csv", out));
    EXPECT_EQ(out, (std::vector<std::wstring>{L"a.csv", L"b.csv", L"link.csv", L"Orders.CSV"}));
}

TEST_F(find_files_fixture, folders_only_when_asked) {
    std::vector<std::wstring> out;
    ASSERT_TRUE(tk_find_files(plat::utf8_decode(t.path()), L"*.csv", out, true));
    EXPECT_EQ(out, (std::vector<std::wstring>{L"a.csv", L"b.csv", L"dir.csv", L"link.csv", L"Orders.CSV"}));
}

TEST_F(find_files_fixture, no_match_or_no_folder_gives_false_and_an_empty_list) {
    std::vector<std::wstring> out{L"stale"};
    EXPECT_FALSE(tk_find_files(plat::utf8_decode(t.path()), L"*.xls", out));
    EXPECT_TRUE(out.empty());
    out.push_back(L"stale");
    EXPECT_FALSE(tk_find_files(t.wsub("missing"), L"*", out));
    EXPECT_TRUE(out.empty());
}

TEST_F(find_files_fixture, mask_with_folder_part) {
    write_file(t.sub("dir.csv/inner.csv"), "");
    std::vector<std::wstring> out;
    ASSERT_TRUE(tk_find_files(plat::utf8_decode(t.path()), L"dir.csv/*.CSV", out));
    EXPECT_EQ(out, std::vector<std::wstring>{L"inner.csv"});
}

TEST_F(find_files_fixture, temp_chdir_changes_and_restores_the_working_folder) {
    std::string before = cwd();
    {
        tk_temp_chdir_w cd(plat::utf8_decode(t.path()));
        EXPECT_TRUE(cd.changed);
        EXPECT_EQ(fs::canonical(cwd()), fs::canonical(t.path()));
        std::vector<std::wstring> out;
        EXPECT_TRUE(cd.find_files(L"*.txt", out));
        EXPECT_EQ(out, std::vector<std::wstring>{L"notes.txt"});
    }
    EXPECT_EQ(cwd(), before);
    {
        tk_temp_chdir cd(t.sub("missing"));
        EXPECT_FALSE(cd.changed);
        EXPECT_EQ(cwd(), before);
        std::vector<std::wstring> out;
        EXPECT_FALSE(cd.find_files(L"*", out));
    }
    EXPECT_EQ(cwd(), before);
}

TEST(create_path, an_existing_folder_is_left_alone) {
    temp_dir t;
    write_file(t.sub("f"), "x");
    common_create_path(plat::utf8_decode(t.path()));
    EXPECT_TRUE(fs::exists(t.sub("f")));
}

TEST(create_path, every_missing_level_is_created) {
    temp_dir t;
    ASSERT_EQ(mkdir(t.sub("a").c_str(), 0755), 0);
    common_create_path(t.wsub("a/b.x/c.y"));
    EXPECT_TRUE(fs::is_directory(t.sub("a/b.x")));
    EXPECT_TRUE(fs::is_directory(t.sub("a/b.x/c.y")));

    common_create_path(t.wsub("p/q/r/s/"));
    EXPECT_TRUE(fs::is_directory(t.sub("p/q/r/s")));

    common_create_path(t.wsub("u/../v/./w"));
    EXPECT_TRUE(fs::is_directory(t.sub("v/w")));
    EXPECT_FALSE(fs::exists(t.sub("u")));

    common_create_path(t.wsub("Größe/ß"));
    EXPECT_TRUE(fs::is_directory(t.sub("Größe/ß")));
}

TEST(create_path, a_file_in_the_way_is_reported) {
    temp_dir t;
    write_file(t.sub("file"), "x");
    try {
        common_create_path(t.wsub("file/sub"));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.code(), static_cast<uint32_t>(EEXIST));
    }
    EXPECT_EQ(read_file(t.sub("file")), "x");
}

TEST(create_path, a_folder_without_permission_is_reported) {
    if (fennrow_test::rerun_unprivileged()) return;
    temp_dir t;
    ASSERT_EQ(mkdir(t.sub("ro").c_str(), 0555), 0);
    try {
        common_create_path(t.wsub("ro/x/y"));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.code(), static_cast<uint32_t>(EACCES));
        EXPECT_NE(e.message().find(strerror(EACCES)), std::string::npos);
    }
}

TEST(mask_match, does_not_depend_on_the_locale) {
    std::string saved = setlocale(LC_ALL, nullptr) ? setlocale(LC_ALL, nullptr) : "C";
    if (!setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    bool upper = tk_mask_match(L"ÄRGER.*", L"ärger.txt");
    bool ascii = tk_mask_match(L"*.CSV", L"a.csv");
    setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(upper);
    EXPECT_TRUE(ascii);
}
