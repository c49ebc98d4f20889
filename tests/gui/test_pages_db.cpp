// The database and folder page: the server's databases, the settings in and
// out of the converter, the checks on Next, the overwrite dialog in each of
// its modes and the creation of a missing folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "csv_lock.h"
#include "g_err_tab.h"
#include "kvr_db_pg.h"
#include "over_dlg.h"
#include "page_test_support.h"
#include "unprivileged.h"

namespace {

using namespace page_test;

class DbPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        connect_to_server();
        first = add(std::make_unique<script_page>(*shell, 123, wizb_back | wizb_next, psp_has_help, log));
        page = add(std::make_unique<sel_file_page>());
        add_tail(127);
    }
    void open_page() {
        start();
        press(idc_next);
        ASSERT_EQ(active_id(), 105u);
    }
    gui_list_box* list() { return child<gui_list_box>(page, idc_db_list); }
    QLineEdit* folder() { return child<QLineEdit>(page, idc_db_folder); }
    // Selects the database and types the folder, then presses Next.
    void next_with(const std::string& database, const std::string& path) {
        const int index = list()->find_string_exact(QString::fromStdString(database));
        ASSERT_GE(index, 0) << database;
        list()->select_only(index);
        folder()->setText(QString::fromStdString(path));
        press(idc_next);
    }

    fennrow_test::test_database db{"pages_db"};
    temp_dir dir;
    script_page* first = nullptr;
    sel_file_page* page = nullptr;
};

FENNROW_SERVER_TESTS(DbPage);

TEST_F(DbPage, ListsTheServersDatabasesSortedAndSelectsTheSource) {
    // Upper-case letters sort with their lower-case forms: this name comes
    // after the test database's "fn_pages_db_..." name.
    const std::string upper = "FN_ZZ_PAGES_" + std::to_string(::getpid());
    db.conn().exec("CREATE DATABASE " + fennrow_test::quote_name(upper));
    conv.source = QString::fromStdString(db.name()).toUpper().toStdWString();
    open_page();
    db.conn().exec("DROP DATABASE " + fennrow_test::quote_name(upper));
    const QStringList names = list_texts(list());
    EXPECT_TRUE(names.contains("information_schema"));
    const int own = static_cast<int>(names.indexOf(QString::fromStdString(db.name())));
    const int other = static_cast<int>(names.indexOf(QString::fromStdString(upper)));
    ASSERT_GE(own, 0);
    ASSERT_GE(other, 0);
    EXPECT_LT(own, other);
    for (int i = 1; i < names.size(); ++i)
        EXPECT_LE(QString::compare(names[i - 1], names[i], Qt::CaseInsensitive), 0) << names[i].toStdString();
    // The source is found ignoring case.
    const QList<QListWidgetItem*> selected = list()->selectedItems();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0]->text(), QString::fromStdString(db.name()));
}

TEST_F(DbPage, AnUnknownSourceSelectsTheFirstDatabaseAndNoSourceSelectsNone) {
    conv.source = L"no_such_database_here";
    open_page();
    ASSERT_GT(list()->count(), 0);
    EXPECT_EQ(list()->selected_indexes(), QList<int>{0});
    press(idc_back);
    conv.source.clear();
    press(idc_next);
    EXPECT_TRUE(list()->selected_indexes().isEmpty());
}

TEST_F(DbPage, ControlsShowTheSettingsAndBackStoresThemTrimmed) {
    conv.destination = L"/srv/out";
    conv.delimiter_index = 2;
    conv.include_field_names = false;
    conv.definitions_only = true;
    open_page();
    EXPECT_EQ(folder()->text(), "/srv/out");
    EXPECT_TRUE(child<QRadioButton>(page, idc_db_delim_comma)->isChecked());
    EXPECT_FALSE(child<QAbstractButton>(page, idc_db_field_names)->isChecked());
    EXPECT_TRUE(child<QAbstractButton>(page, idc_db_no_data)->isChecked());

    list()->select_only(list()->find_string_exact(QString::fromStdString(db.name())));
    folder()->setText("  /srv/other  ");
    child<QRadioButton>(page, idc_db_delim_pipes)->click();
    child<QAbstractButton>(page, idc_db_field_names)->click();
    child<QAbstractButton>(page, idc_db_no_data)->click();
    press(idc_back);
    EXPECT_EQ(active_id(), 123u);
    EXPECT_EQ(conv.source, QString::fromStdString(db.name()).toStdWString());
    EXPECT_EQ(conv.destination, L"/srv/other");
    EXPECT_EQ(conv.delimiter_index, 0u);
    EXPECT_TRUE(conv.include_field_names);
    EXPECT_FALSE(conv.definitions_only);
    // Coming back shows what was chosen.
    press(idc_next);
    EXPECT_EQ(list()->selectedItems().at(0)->text(), QString::fromStdString(db.name()));
    EXPECT_EQ(folder()->text(), "/srv/other");
    EXPECT_TRUE(child<QAbstractButton>(page, idc_db_field_names)->isChecked());
}

TEST_F(DbPage, BrowseFillsTheFolderFromTheChooser) {
    conv.destination = L"/srv/start";
    open_page();
    seam.folder_answer = QString::fromStdString(dir.path());
    child<QAbstractButton>(page, idc_db_browse)->click();
    ASSERT_EQ(seam.folder_requests.size(), 1u);
    EXPECT_EQ(seam.folder_requests[0].first, "Select CSV files folder");
    EXPECT_EQ(seam.folder_requests[0].second, "/srv/start");
    EXPECT_EQ(folder()->text(), QString::fromStdString(dir.path()));
    // Cancelled: the folder stays.
    seam.folder_answer.clear();
    folder()->setText("/kept");
    child<QAbstractButton>(page, idc_db_browse)->click();
    EXPECT_EQ(folder()->text(), "/kept");
}

TEST_F(DbPage, NextNeedsADatabaseAndAFolder) {
    open_page();
    list()->clearSelection();
    folder()->setText(QString::fromStdString(dir.path()));
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "You should enter MySQL database name");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconinformation);

    next_with(db.name(), "   ");
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 2u);
    EXPECT_EQ(seam.boxes[1].text, "You should enter path to CSV folder");
    EXPECT_TRUE(seam.dialog_names.empty());
}

TEST_F(DbPage, AFileIsNoFolder) {
    write_file(dir.sub("plain.csv"), "x");
    open_page();
    next_with(db.name(), dir.sub("plain.csv"));
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "You should enter path to CSV folder, not a file name");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_TRUE(exists(dir.sub("plain.csv")));
}

TEST_F(DbPage, AMissingFolderIsCreatedWithAllItsLevelsWithoutAsking) {
    conv.mode = 2;
    open_page();
    const std::string target = dir.sub("a/b/c");
    next_with(db.name(), target);
    EXPECT_EQ(active_id(), 127u);
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_TRUE(seam.dialog_names.empty());
    EXPECT_TRUE(exists(target));
    EXPECT_EQ(conv.mode, 2);
}

TEST_F(DbPage, AFolderThatCannotBeCreatedIsReported) {
    write_file(dir.sub("blocker"), "x");
    open_page();
    next_with(db.name(), dir.sub("blocker/sub"));
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_FALSE(seam.boxes[0].text.isEmpty());
}

// An existing folder: the overwrite dialog, answered in each of its ways.
struct overwrite_case {
    int radio;          // radio to click before OK; 0: Cancel instead
    int expected_mode;  // the converter's mode afterwards
    bool csv_deleted;
    bool moves_on;
};

class DbOverwrite : public DbPage, public ::testing::WithParamInterface<overwrite_case> {};

FENNROW_SERVER_TESTS(DbOverwrite);

TEST_P(DbOverwrite, TheChoiceSetsTheModeAndOnlyTheEntireFolderDeletesCsvFiles) {
    const overwrite_case c = GetParam();
    write_file(dir.sub("orders.csv"), "1;2\r\n");
    write_file(dir.sub("UPPER.CSV"), "1;2\r\n");
    write_file(dir.sub("notes.txt"), "keep me");
    ::mkdir(dir.sub("sub").c_str(), 0700);
    write_file(dir.sub("sub/inner.csv"), "keep me");
    conv.mode = 1;
    open_page();

    QString caption, message;
    bool entire_default = false;
    seam.on_dialog = [&](QDialog& d) {
        caption = d.windowTitle();
        message = child<QLabel>(&d, idc_over_message)->text();
        entire_default = child<QRadioButton>(&d, idc_over_entire)->isChecked();
        // Nothing is deleted while the question is open.
        EXPECT_TRUE(exists(dir.sub("orders.csv")));
        if (c.radio == 0) {
            click_control(d, idc_over_cancel);
        } else {
            click_control(d, c.radio);
            click_control(d, idc_over_ok);
        }
    };
    next_with(db.name(), dir.path());

    EXPECT_EQ(seam.dialog_names, std::vector<QString>{"107"});
    EXPECT_EQ(caption, "Fennrow 1.5  Warning");
    EXPECT_EQ(message,
              "The destination folder already exists. Select one of the\n"
              "options below. Click 'Help' button for more information.");
    EXPECT_TRUE(entire_default);
    EXPECT_EQ(active_id(), c.moves_on ? 127u : 105u);
    EXPECT_EQ(conv.mode, c.expected_mode);
    EXPECT_EQ(exists(dir.sub("orders.csv")), !c.csv_deleted);
    EXPECT_EQ(exists(dir.sub("UPPER.CSV")), !c.csv_deleted);
    EXPECT_TRUE(exists(dir.sub("notes.txt")));
    EXPECT_TRUE(exists(dir.sub("sub/inner.csv")));
    EXPECT_TRUE(seam.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, DbOverwrite,
                         ::testing::Values(overwrite_case{idc_over_entire, 0, true, true},
                                           overwrite_case{idc_over_files, 1, false, true},
                                           overwrite_case{idc_over_skip, 2, false, true},
                                           overwrite_case{0, 1, false, false}),
                         [](const auto& info) {
                             const int radio = info.param.radio;
                             return std::string(radio == idc_over_entire ? "entire_folder"
                                                : radio == idc_over_files ? "overwrite_files"
                                                : radio == idc_over_skip  ? "skip_existing"
                                                : radio == 0              ? "cancel"
                                                                          : "radio_" + std::to_string(radio));
                         });

// Emptying a folder that another conversion holds: refused by name, and
// nothing is deleted.
TEST_F(DbPage, AFolderInUseByAnotherConversionIsNotEmptied) {
    write_file(dir.sub("orders.csv"), "1;2\r\n");
    csv_folder_lock other(std::filesystem::path(dir.path()).wstring());
    open_page();
    seam.on_dialog = [&](QDialog& d) {
        click_control(d, idc_over_entire);
        click_control(d, idc_over_ok);
    };
    next_with(db.name(), dir.path());
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), "The folder " + dir.path() + " is in use by another conversion");
    EXPECT_TRUE(exists(dir.sub("orders.csv")));
}

TEST_F(DbPage, AFolderThatCannotBeWrittenIsReportedBeforeAnythingIsAsked) {
    if (fennrow_test::rerun_unprivileged()) return;
    const std::string locked = dir.sub("locked");
    ::mkdir(locked.c_str(), 0700);
    write_file(locked + "/orders.csv", "1\r\n");
    ::chmod(locked.c_str(), 0500);
    open_page();
    next_with(db.name(), locked);
    EXPECT_EQ(active_id(), 105u);
    EXPECT_TRUE(seam.dialog_names.empty());
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_TRUE(seam.boxes[0].text.startsWith("Cannot write into the destination folder."));
    ::chmod(locked.c_str(), 0700);
    EXPECT_TRUE(exists(locked + "/orders.csv"));
}

// Every control on show has its own mnemonic, the delimiters too; Alt with a
// letter in the folder field is a mnemonic, never typed text.
// The emptying check of "Overwrite the entire folder" on a server that hangs
// up before its greeting (after an earlier call was cut): the friendly text,
// not the client's own, and nothing is deleted.
TEST_F(DbPage, TheEmptyingCheckOnAServerThatDoesNotAnswerShowsTheFriendlyText) {
    const fennrow_test::test_server server = fennrow_test::require_test_server();
    write_file(dir.sub("orders.csv"), "1;2\r\n");
    open_page();
    hang_up_server gone;
    ASSERT_GT(gone.port(), 0);
    conv.store_mysql_settings("127.0.0.1", server.user, server.password, std::to_string(gone.port()));
    conv.mark_connection_cut();
    seam.on_dialog = [](QDialog& d) { click_control(d, idc_over_ok); };
    next_with(db.name(), dir.path());
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), gui_no_answer_text);
    EXPECT_TRUE(exists(dir.sub("orders.csv")));
}

TEST_F(DbPage, MnemonicsAreUniqueAndAltKeysAreNotTypedIntoTheFolder) {
    conv.delimiter_index = 0;
    open_page();
    EXPECT_EQ(clashing_mnemonics(shell.get()), QString());
    const std::map<QChar, int> letters = mnemonic_counts(shell.get());
    for (QChar c : QStringLiteral("svedirpcm")) EXPECT_EQ(letters.count(c), 1u) << c.toLatin1();
    ASSERT_TRUE(pump_until([&] {
        if (QApplication::activeWindow() != shell.get()) shell->activateWindow();
        return QApplication::activeWindow() == shell.get();
    }));
    folder()->setText("/srv/out");
    folder()->setFocus();
    QTest::keyClick(folder(), Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(folder()->text(), "/srv/out");
    EXPECT_TRUE(child<QRadioButton>(page, idc_db_delim_semicolon)->isChecked());
    // A letter no control has is not typed either.
    folder()->setFocus();
    QTest::keyClick(folder(), Qt::Key_Z, Qt::AltModifier);
    EXPECT_EQ(folder()->text(), "/srv/out");
}

TEST(OverwriteDialog, EveryButtonAndChoiceHasItsOwnMnemonic) {
    script_seam seam;
    wizard_shell shell(wizard_title, 0, 0, 0);
    overwrite_dlg2<107> dlg(L"exists", 1016);
    QString clashes = "-";
    std::map<QChar, int> letters;
    seam.on_dialog = [&](QDialog& d) {
        clashes = clashing_mnemonics(&d);
        letters = mnemonic_counts(&d);
        d.reject();
    };
    dlg.run();
    EXPECT_EQ(clashes, QString());
    for (QChar c : QStringLiteral("ofshkc")) EXPECT_EQ(letters.count(c), 1u) << c.toLatin1();
}

TEST(OverwriteDialog, F1OpensTheHelpTopicLikeTheHelpButton) {
    script_seam seam;
    wizard_shell shell(wizard_title, 0, 0, 0);
    overwrite_dlg2<107> dlg(L"exists", 1016);
    seam.on_dialog = [&](QDialog& d) {
        QTest::keyClick(&d, Qt::Key_F1);
        d.reject();
    };
    dlg.run();
    // Without a help file beside the test program the box says so; with
    // one the topic is opened: either way the request was made.
    const bool asked = !seam.helps.empty() || (!seam.boxes.empty() && seam.boxes[0].text.startsWith("Help file"));
    EXPECT_TRUE(asked);
    if (!seam.helps.empty()) {
        EXPECT_EQ(seam.helps[0].topic, 1016u);
    }
}

TEST(OverwriteDialog, EscapeIsCancelAndOkTakesTheChoice) {
    script_seam seam;
    wizard_shell shell(wizard_title, 0, 0, 0);
    overwrite_dlg2<107> dlg(L"exists", 1016);
    int result = 0;
    seam.on_dialog = [&](QDialog& d) { d.reject(); };
    result = dlg.run();
    EXPECT_EQ(result, idc_over_cancel);
    EXPECT_EQ(dlg.objectName(), "107");
    EXPECT_EQ(dlg.help_topic(), 1016u);
    // OK takes the checked choice.
    overwrite_dlg2<107> second(L"exists", 1016);
    seam.on_dialog = [&](QDialog& d) {
        click_control(d, idc_over_skip);
        click_control(d, idc_over_ok);
    };
    EXPECT_EQ(second.run(), idc_over_ok);
    EXPECT_EQ(second.mode(), over_mode_skip);
}

// A mnemonic followed at once by Enter: the choice shown when OK is taken is
// the one acted on, however fast the keys come.
struct mnemonic_case {
    Qt::Key key;
    int radio;
    uint32_t mode;
    bool csv_deleted;
};

class DbOverwriteKeys : public DbPage, public ::testing::WithParamInterface<mnemonic_case> {};

FENNROW_SERVER_TESTS(DbOverwriteKeys);

TEST_P(DbOverwriteKeys, AMnemonicThenEnterActsOnTheChoiceItShows) {
    const mnemonic_case c = GetParam();
    write_file(dir.sub("orders.csv"), "1;2\r\n");
    open_page();
    bool checked_at_ok = false;
    seam.on_dialog = [&](QDialog& d) {
        // The keys go to the dialog as a user's would: it is the active window.
        ASSERT_TRUE(pump_until([&] {
            if (QApplication::activeWindow() != &d) d.activateWindow();
            return QApplication::activeWindow() == &d;
        }));
        QTest::keyClick(&d, c.key, Qt::AltModifier);
        checked_at_ok = child<QRadioButton>(&d, c.radio)->isChecked();
        QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Return);
    };
    next_with(db.name(), dir.path());
    EXPECT_TRUE(checked_at_ok);
    EXPECT_EQ(active_id(), 127u);
    EXPECT_EQ(conv.mode, c.mode);
    EXPECT_EQ(exists(dir.sub("orders.csv")), !c.csv_deleted);
}

INSTANTIATE_TEST_SUITE_P(Keys, DbOverwriteKeys,
                         ::testing::Values(mnemonic_case{Qt::Key_F, idc_over_files, 1, false},
                                           mnemonic_case{Qt::Key_S, idc_over_skip, 2, false},
                                           mnemonic_case{Qt::Key_O, idc_over_entire, 0, true}),
                         [](const auto& info) {
                             return std::string(info.param.radio == idc_over_files  ? "files_only"
                                                : info.param.radio == idc_over_skip ? "skip_existing"
                                                                                    : "entire_folder");
                         });

}  // namespace
