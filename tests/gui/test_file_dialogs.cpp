// Choosing profiles and folders: filters, the open dialog's existing-file
// rule, the save dialog's extension, and where the choosers start.
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include <QDir>
#include <QFileDialog>

#include "g_f_dlg.h"
#include "gui_test_support.h"
#include "param_names.h"
#include "tk_excep.h"
#include "tk_module.h"

namespace {

const std::wstring profile_filter =
    gui_bar_filter(L"Profile Files (.kvr)|*.kvr|All Files (*.*)|*.*|");

class temp_dir {
public:
    temp_dir() {
        char tmpl[] = "/tmp/gui_fdlg_XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~temp_dir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name, bool create) const {
        std::string p = path + "/" + name;
        if (create)
            if (FILE* f = std::fopen(p.c_str(), "w")) std::fclose(f);
        return p;
    }
    std::string path;
};

std::wstring w(const std::string& s) { return QString::fromStdString(s).toStdWString(); }

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override { gui_forget_chosen_folder(); }
    script_seam seam;
    temp_dir dir;
};

TEST(FileDialogFilters, BarSeparatedTextBecomesQtFilters) {
    EXPECT_EQ(profile_filter, std::wstring(L"Profile Files (.kvr)\0*.kvr\0All Files (*.*)\0*.*\0", 47));
    EXPECT_EQ(gui_name_filters(profile_filter),
              (QStringList{"Profile Files (.kvr) (*.kvr)", "All Files (*.*) (*)"}));
    EXPECT_EQ(gui_name_filters(gui_bar_filter(L"Tables|*.csv;*.txt|")), QStringList{"Tables (*.csv *.txt)"});
    // A description without its pattern is dropped; an empty list gives none.
    EXPECT_EQ(gui_name_filters(gui_bar_filter(L"Lonely|")), QStringList{});
    EXPECT_EQ(gui_name_filters(std::wstring()), QStringList{});
}

TEST(FileDialogFilters, TheRealDialogsAreSetUpFromTheRequest) {
    gui_file_request open;
    open.must_exist = true;
    open.title = "Select Profile";
    open.filters = gui_name_filters(profile_filter);
    open.directory = "/tmp";
    std::unique_ptr<QFileDialog> o(gui_make_file_dialog(open));
    EXPECT_EQ(o->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(o->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(o->nameFilters(), open.filters);
    EXPECT_EQ(o->windowTitle(), "Select Profile");
    EXPECT_EQ(o->directory().absolutePath(), "/tmp");
    gui_file_request save = open;
    save.save = true;
    save.must_exist = false;
    std::unique_ptr<QFileDialog> s(gui_make_file_dialog(save));
    EXPECT_EQ(s->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(s->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(s->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(FileDialogs, OpenAsksForAnExistingFileAndRefusesAMissingOne) {
    const std::string existing = dir.file("prof.kvr", true);
    seam.file_answers = {QString::fromStdString(dir.path + "/missing.kvr"), QString::fromStdString(existing)};
    open_file_dialog dlg(nullptr, profile_filter, L"Select Profile", L"");
    EXPECT_FALSE(dlg.show());
    EXPECT_TRUE(dlg.file_name().empty());
    EXPECT_TRUE(dlg.show());
    EXPECT_EQ(dlg.file_name(), w(existing));
    ASSERT_EQ(seam.file_requests.size(), 2u);
    const gui_file_request& r = seam.file_requests[0];
    EXPECT_FALSE(r.save);
    EXPECT_TRUE(r.must_exist);
    EXPECT_EQ(r.title, "Select Profile");
    EXPECT_EQ(r.filters, gui_name_filters(profile_filter));
    // An empty initial path: the home folder (not the program's) and no name.
    EXPECT_EQ(r.directory, QDir::homePath());
    EXPECT_NE(r.directory, QString::fromStdString(tk_get_module_dir()));
    EXPECT_TRUE(r.file_name.isEmpty());
}

TEST_F(FileDialogs, SavingOverAnExistingProfileAsksFirst) {
    const std::string existing = dir.file("prof.kvr", true);
    struct row {
        int answer;
        bool replaced;
    } rows[] = {{id_yes, true}, {id_no, false}};
    for (const row& r : rows) {
        seam.boxes.clear();
        seam.box_answers = {r.answer};
        seam.file_answers = {QString::fromStdString(dir.path + "/prof")};
        save_file_dialog dlg(nullptr, profile_filter, L"Select Profile", L"", L"kvr");
        // No: the chooser comes again (here cancelled).
        EXPECT_EQ(dlg.show(), r.replaced);
        ASSERT_EQ(seam.boxes.size(), 1u);
        EXPECT_EQ(seam.boxes[0].text.toStdString(), existing + " already exists.\nDo you want to replace it?");
        EXPECT_EQ(seam.boxes[0].flags, mb_yesno | mb_iconquestion | mb_defbutton2);
        if (r.replaced) {
            EXPECT_EQ(dlg.file_name(), w(existing));
        }
    }
    // A new name asks nothing.
    seam.boxes.clear();
    seam.file_answers = {QString::fromStdString(dir.path + "/fresh")};
    save_file_dialog fresh(nullptr, profile_filter, L"Select Profile", L"", L"kvr");
    EXPECT_TRUE(fresh.show());
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(FileDialogs, CancelChangesNothing) {
    save_file_dialog dlg(nullptr, profile_filter, L"Select Profile", L"", L"kvr");
    EXPECT_FALSE(dlg.show());
    EXPECT_TRUE(dlg.file_name().empty());
    EXPECT_EQ(seam.file_requests.size(), 1u);
    EXPECT_TRUE(seam.file_requests[0].save);
    EXPECT_FALSE(seam.file_requests[0].must_exist);
}

TEST_F(FileDialogs, AnInitialPathGivesTheFolderAndTheName) {
    open_file_dialog dlg(nullptr, profile_filter, L"t", w(dir.path + "/sub/../old.kvr"));
    EXPECT_EQ(dlg.initial_folder(), w(dir.path + "/"));
    EXPECT_EQ(dlg.file_name(), L"old.kvr");
    dlg.show();
    ASSERT_EQ(seam.file_requests.size(), 1u);
    EXPECT_EQ(seam.file_requests[0].directory.toStdString(), dir.path + "/");
    EXPECT_EQ(seam.file_requests[0].file_name, "old.kvr");
}

TEST_F(FileDialogs, TheChooserReturnsToTheFolderLastChosen) {
    const std::string chosen = dir.file("a.kvr", true);
    seam.file_answers = {QString::fromStdString(chosen), QString()};
    open_file_dialog first(nullptr, profile_filter, L"t", L"");
    ASSERT_TRUE(first.show());
    open_file_dialog again(nullptr, profile_filter, L"t", L"");
    again.show();
    ASSERT_EQ(seam.file_requests.size(), 2u);
    EXPECT_EQ(seam.file_requests[1].directory.toStdString(), dir.path + "/");
}

TEST(SaveFileDialog, TheDefaultExtensionIsStoredWithOneDotAndIsRequired) {
    EXPECT_EQ(save_file_dialog(nullptr, profile_filter, L"t", L"", L"kvr").default_extension(), L".kvr");
    EXPECT_EQ(save_file_dialog(nullptr, profile_filter, L"t", L"", L".kvr").default_extension(), L".kvr");
    try {
        save_file_dialog dlg(nullptr, profile_filter, L"t", L"", L"");
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), make_err_meggase("g_f_dlg", 111).c_str());
    }
}

struct extension_case {
    const wchar_t* chosen;
    const wchar_t* stored;
};

void PrintTo(const extension_case& c, std::ostream* os) { *os << QString::fromWCharArray(c.chosen).toStdString(); }

class SaveExtension : public ::testing::TestWithParam<extension_case> {};

TEST_P(SaveExtension, AppendedUnlessTheNameHoldsIt) {
    const extension_case c = GetParam();
    EXPECT_EQ(gui_with_extension(c.chosen, L".kvr"), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SaveExtension,
    ::testing::Values(extension_case{L"/home/u/shop", L"/home/u/shop.kvr"},
                      extension_case{L"/home/u/shop.kvr", L"/home/u/shop.kvr"},
                      extension_case{L"/home/u/shop.kvr.old", L"/home/u/shop.kvr.old"},
                      extension_case{L"/home/u/shop.KVR", L"/home/u/shop.KVR.kvr"},
                      extension_case{L"/home/u/shopkvr", L"/home/u/shopkvr.kvr"},
                      extension_case{L"/home/u/settings.kvr/shop", L"/home/u/settings.kvr/shop.kvr"},
                      extension_case{L"/home/u/Gr\u00f6\u00dfe", L"/home/u/Gr\u00f6\u00dfe.kvr"}),
    [](const auto& info) { return test_names::indexed(info.index, info.param.chosen); });

TEST_F(FileDialogs, SaveAppendsTheExtensionToTheChosenName) {
    seam.file_answers = {QString::fromStdString(dir.path + "/shop"), QString::fromStdString(dir.path + "/b.kvr")};
    save_file_dialog dlg(nullptr, profile_filter, L"Select Profile", L"", L"kvr");
    ASSERT_TRUE(dlg.show());
    EXPECT_EQ(dlg.file_name(), w(dir.path + "/shop.kvr"));
    // The file need not exist.
    ASSERT_TRUE(dlg.show());
    EXPECT_EQ(dlg.file_name(), w(dir.path + "/b.kvr"));
}

TEST_F(FileDialogs, NamesAndFiltersUnderAGermanLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::string existing = dir.file("Gr\xc3\xb6\xc3\x9f" "e 1,5.kvr", true);
    seam.file_answers = {QString::fromStdString(existing), QString::fromStdString(dir.path + "/\xc3\x84nderung")};
    open_file_dialog open(nullptr, profile_filter, L"t", L"");
    bool opened = open.show();
    save_file_dialog save(nullptr, profile_filter, L"t", L"", L"kvr");
    bool saved_ok = save.show();
    QStringList filters = gui_name_filters(profile_filter);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(opened);
    EXPECT_EQ(open.file_name(), w(existing));
    EXPECT_TRUE(saved_ok);
    EXPECT_EQ(save.file_name(), w(dir.path + "/\xc3\x84nderung.kvr"));
    EXPECT_EQ(filters, (QStringList{"Profile Files (.kvr) (*.kvr)", "All Files (*.*) (*)"}));
}

TEST_F(FileDialogs, TheFolderChooserStartsAtTheDestinationOrTheWorkingFolder) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(browse_start_folder(L"/srv/export"), L"/srv/export");
    EXPECT_EQ(browse_start_folder(L""), w(cwd));
    std::wstring chosen = L"unchanged";
    EXPECT_FALSE(browse_for_folder(nullptr, L"Select CSV files folder", L"", chosen));
    EXPECT_EQ(chosen, L"unchanged");
    seam.folder_answer = QString::fromStdString(dir.path);
    EXPECT_TRUE(browse_for_folder(nullptr, L"Select CSV files folder", w(dir.path + "/x"), chosen));
    EXPECT_EQ(chosen, w(dir.path));
    ASSERT_EQ(seam.folder_requests.size(), 2u);
    EXPECT_EQ(seam.folder_requests[0].first, "Select CSV files folder");
    EXPECT_EQ(seam.folder_requests[0].second, QString::fromUtf8(cwd));
    EXPECT_EQ(seam.folder_requests[1].second.toStdString(), dir.path + "/x");
}

}  // namespace
