// The program's start-up and tear-down: the error handler, the converter
// with the remembered settings, a profile named on the command line, the
// frame with its six pages in order, the run of the sheet, and the settings
// stored when it closes. Last, the whole wizard walked through against the
// test server (the README's screenshots come from this walk).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>

#include "error_handler.h"
#include "g_finish.h"
#include "g_f_dlg.h"
#include "kvr_app.h"
#include "kvr_conv.h"
#include "kvr_db_pg.h"
#include "kvr_finish.h"
#include "kvr_mysql_pg.h"
#include "kvr_progress.h"
#include "kvr_tables_pg.h"
#include "kvr_welcome.h"
#include "page_test_support.h"
#include "sql_excep.h"
#include "tk_utils.h"

namespace {

using namespace page_test;

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const QString profile_missing = "Profile does not exist. Please verify the correct path/name was given.";

// The remembered settings live in a folder of the test's own.
class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        had_config = old != nullptr;
        if (old) saved_config = old;
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        gui_forget_chosen_folder();
    }
    void TearDown() override {
        if (had_config)
            ::setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(kellvar_converter::peek(), nullptr);
        EXPECT_EQ(error_handler::peek(), nullptr);
        EXPECT_EQ(wizard_shell::peek(), nullptr);
    }

    temp_dir config;
    temp_dir files;
    script_seam seam;
    bool had_config = false;
    std::string saved_config;
};

FENNROW_SERVER_TESTS(StartUp);

TEST_F(StartUp, AMissingProfileIsReportedOnceAndNoWizardIsShown) {
    int sheets = 0;
    const int rc = kellvar_main(files.wsub("missing.kvr"), [&](kellvar_wizard&) { return ++sheets; });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(sheets, 0);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, profile_missing);
    // No frame yet: the plain caption and no owner.
    EXPECT_EQ(seam.boxes[0].caption, "Error");
    EXPECT_EQ(seam.boxes[0].owner, nullptr);
    EXPECT_EQ(seam.boxes[0].flags, mb_ok | mb_iconerror);
}

TEST_F(StartUp, TheCommandLineIsTakenWholeQuotesAndAll) {
    write_file(files.sub("p.kvr"), "[MySQL settings]\r\nhost=db.example\r\n");
    int sheets = 0;
    const int rc =
        kellvar_main(L"\"" + files.wsub("p.kvr") + L"\"", [&](kellvar_wizard&) { return ++sheets; });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(sheets, 0);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, profile_missing);
}

TEST_F(StartUp, TheFrameHasItsTitleAndTheSixPagesInOrder) {
    int sheets = 0;
    const int rc = kellvar_main(L"", [&](kellvar_wizard& w) {
        ++sheets;
        wizard_shell& shell = w.shell();
        EXPECT_EQ(wizard_shell::peek(), &shell);
        EXPECT_NE(kellvar_converter::peek(), nullptr);
        EXPECT_NE(error_handler::peek(), nullptr);
        EXPECT_EQ(shell.title(), L"Fennrow 1.5 ");
        EXPECT_EQ(shell.icon_id(), 501u);
        EXPECT_NE(shell.findChild<QLabel*>("311"), nullptr);
        EXPECT_NE(shell.findChild<QLabel*>("312"), nullptr);

        struct expected_page {
            uint32_t id, buttons, flags;
            const char* title;
            const char* subtitle;
        };
        const uint32_t headed = psp_has_help | psp_use_header_title | psp_use_header_subtitle;
        const expected_page order[] = {
            {103, wizb_next, psp_hide_header | psp_has_help, "", ""},
            {123, wizb_back | wizb_next, headed, "Step 1 of 4", "Connect to MySQL server"},
            {105, wizb_back | wizb_next, headed, "Step 2 of 4", "Select databases"},
            {127, wizb_back | wizb_next, headed, "Step 3 of 4", "Select tables"},
            {108, wizb_back | wizb_next, headed, "Step 4 of 4", "Database conversion is in progress"},
            {116, wizb_finish, psp_hide_header, "", ""},
        };
        EXPECT_EQ(shell.page_count(), 6);
        for (int i = 0; i < shell.page_count() && i < 6; ++i) {
            auto* page = dynamic_cast<wizard_page_common*>(shell.page_at(i));
            if (!page) {
                ADD_FAILURE() << "page " << i << " is no wizard page";
                continue;
            }
            EXPECT_EQ(page->dialog_id(), order[i].id) << i;
            EXPECT_EQ(page->buttons(), order[i].buttons) << i;
            EXPECT_EQ(page->page_flags(), order[i].flags) << i;
            EXPECT_EQ(page->header_title(), order[i].title) << i;
            EXPECT_EQ(page->header_subtitle(), order[i].subtitle) << i;
        }
        EXPECT_EQ(shell.page_at(0), &w.welcome());
        EXPECT_EQ(shell.page_at(4), &w.progress());
        EXPECT_EQ(w.welcome().extension(), L"kvr");
        EXPECT_EQ(w.finish().extension(), L"kvr");
        EXPECT_EQ(w.finish().success_text(),
                  L"Wizard has converted your MySQL database into\nCSV format successfully.\n\nClick 'Finish' to exit "
                  L"the wizard.");
        EXPECT_EQ(w.finish().error_text(),
                  L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.");
        EXPECT_EQ(w.tables().prompt(), L"There are no tables selected. Continue anyway?");
        EXPECT_FALSE(w.progress().owns_functor());
        // The friendly texts of the error table are in place.
        EXPECT_EQ(error_handler::peek()->report_text(sql_exception("raw", 2003)),
                  "Cannot connect to the MySQL server. Check to verify that MySQL server\nis launched and the correct "
                  "host/port values were given.");
        return 7;
    });
    EXPECT_EQ(sheets, 1);
    // The sheet's result is the program's.
    EXPECT_EQ(rc, 7);
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(StartUp, SettingsAreStoredWhenTheWizardClosesAndReadAtTheNextStart) {
    kellvar_main(L"", [&](kellvar_wizard&) {
        kellvar_converter* conv = kellvar_converter::ptr();
        conv->store_mysql_settings("db.example", "report", "s3cret", "3307");
        conv->source = L"shop";
        conv->destination = L"/srv/export/shop";
        conv->delimiter_index = 2;
        conv->include_field_names = false;
        return 1;
    });
    kellvar_main(L"", [&](kellvar_wizard&) {
        const kellvar_converter* conv = kellvar_converter::ptr();
        EXPECT_EQ(conv->host, "db.example");
        EXPECT_EQ(conv->user, "report");
        EXPECT_EQ(conv->password, "s3cret");
        EXPECT_EQ(conv->port, "3307");
        EXPECT_EQ(conv->source, L"shop");
        EXPECT_EQ(conv->destination, L"/srv/export/shop");
        EXPECT_EQ(conv->delimiter_index, 2u);
        EXPECT_FALSE(conv->include_field_names);
        return 1;
    });
    EXPECT_TRUE(seam.boxes.empty());
}

// The file dialogs start in the folder last used, also in a later run of the
// program; a folder that is gone by then is not offered.
TEST_F(StartUp, TheFileDialogsFolderIsRememberedWithTheSettingsOfTheLastRun) {
    const std::string folder = files.sub("profiles");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    write_file(folder + "/p.kvr", "[Generic settings]\r\n");
    const std::wstring filter = gui_bar_filter(L"Profile Files (.kvr)|*.kvr|");
    seam.file_answers = {QString::fromStdString(folder + "/p.kvr")};
    kellvar_main(L"", [&](kellvar_wizard&) {
        open_file_dialog dlg(nullptr, filter, L"Select Profile", L"");
        EXPECT_TRUE(dlg.show());
        return 1;
    });
    auto next_start = [&] {
        gui_forget_chosen_folder();
        kellvar_main(L"", [&](kellvar_wizard&) {
            open_file_dialog dlg(nullptr, filter, L"Select Profile", L"");
            dlg.show();
            return 1;
        });
    };
    next_start();
    ASSERT_EQ(seam.file_requests.size(), 2u);
    EXPECT_EQ(seam.file_requests[1].directory.toStdString(), folder + "/");
    std::filesystem::remove_all(folder);
    next_start();
    ASSERT_EQ(seam.file_requests.size(), 3u);
    EXPECT_EQ(seam.file_requests[2].directory, QDir::homePath());
}

TEST_F(StartUp, AProfileOnTheCommandLineIsLoadedOverTheRememberedSettings) {
    kellvar_main(L"", [&](kellvar_wizard&) {
        kellvar_converter::ptr()->store_mysql_settings("remembered.example", "old", "pw", "3306");
        return 1;
    });
    write_file(files.sub("shop.kvr"),
               "[Generic settings]\r\nsrc=shop\r\ndest=/srv/export\r\n"
               "[MySQL settings]\r\nhost=profile.example\r\nuser=report\r\nport=3307\r\n"
               "[CSV settings]\r\nCSV delimiter=0\r\n[Selected Tables]\r\norders\r\n");
    int sheets = 0;
    kellvar_main(files.wsub("shop.kvr"), [&](kellvar_wizard&) {
        ++sheets;
        const kellvar_converter* conv = kellvar_converter::ptr();
        EXPECT_EQ(conv->host, "profile.example");
        EXPECT_EQ(conv->user, "report");
        EXPECT_EQ(conv->password, "pw");  // not in the profile: the remembered one
        EXPECT_EQ(conv->source, L"shop");
        EXPECT_EQ(conv->delimiter_index, 0u);
        EXPECT_EQ(conv->table_queries, (std::vector<udb_converter::name_query>{{L"orders", L""}}));
        return 1;
    });
    EXPECT_EQ(sheets, 1);
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(StartUp, TheSheetRunsModallyUntilTheUserCancels) {
    QTimer::singleShot(0, [&] {
        wizard_shell* shell = wizard_shell::peek();
        ASSERT_NE(shell, nullptr);
        EXPECT_TRUE(shell->isVisible());
        EXPECT_EQ(shell->windowTitle(), "Fennrow 1.5 ");
        EXPECT_EQ(shell->active_index(), 0);
        seam.box_answers = {id_yes};
        shell->press_button(idc_cancel);
    });
    const int rc = kellvar_main(L"");
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Are you sure you want to exit the wizard?");
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Question");
}

TEST(KellvarCommandLine, ArgumentsAreJoinedByBlanks) {
    char prog[] = "kellvar", a[] = "/tmp/my", b[] = "profile.kvr", c[] = "\"q\"";
    char* none[] = {prog, nullptr};
    EXPECT_EQ(kellvar_command_line(1, none), L"");
    char* one[] = {prog, b, nullptr};
    EXPECT_EQ(kellvar_command_line(2, one), L"profile.kvr");
    char* three[] = {prog, a, b, c, nullptr};
    EXPECT_EQ(kellvar_command_line(4, three), L"/tmp/my profile.kvr \"q\"");
    char u[] = "/tmp/Z\xc3\xa4hler.kvr";
    char* utf8[] = {prog, u, nullptr};
    EXPECT_EQ(kellvar_command_line(2, utf8), L"/tmp/Z\u00e4hler.kvr");
}

// Against the test server.

// Closing the wizard while a conversion waits on the server: every page and
// the converter go, the worker is stopped and joined, the settings are kept.
TEST_F(StartUp, ClosingDuringARunStopsItAndStillStoresTheSettings) {
    fennrow_test::test_database db("gui_close");
    db.conn().exec("CREATE TABLE locked_t (id INT); INSERT INTO locked_t VALUES (1)");
    fennrow_test::test_sql_conn locker(db.name());
    locker.exec("LOCK TABLES locked_t WRITE");
    const fennrow_test::test_server s = fennrow_test::require_test_server();
    bool waited = false;
    kellvar_main(L"", [&](kellvar_wizard& w) {
        kellvar_converter* conv = kellvar_converter::ptr();
        conv->store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
        conv->connect_mysql_server();
        conv->source = tk_from_utf8(db.name());
        ::mkdir(files.sub("out").c_str(), 0700);
        conv->destination = files.wsub("out");
        conv->selected_tables = {L"locked_t"};
        w.shell().show();
        EXPECT_TRUE(w.shell().set_cur_sel_by_id(108));
        waited = pump_until([&] {
            return w.progress().findChild<QLabel*>(QString::number(idc_progress_status))->text() ==
                   "Processing table 'locked_t'";
        });
        EXPECT_TRUE(w.progress().is_running());
        return 0;
    });
    locker.exec("UNLOCK TABLES");
    EXPECT_TRUE(waited);
    EXPECT_FALSE(exists(files.sub("out/locked_t.csv")));
    gui_error_handler handler(gui_error_table_size, gui_error_table);
    kellvar_converter probe(kellvar_program::gui, handler);
    EXPECT_EQ(probe.host, s.host);
    EXPECT_EQ(probe.port, std::to_string(s.port));
    EXPECT_EQ(probe.source, tk_from_utf8(db.name()));
    EXPECT_EQ(probe.destination, files.wsub("out"));
    probe.remember_settings = false;
}

// Saves the window as a PNG into $FENNROW_SCREENSHOT_DIR (when set); the
// picture must show the whole frame.
void shoot(wizard_shell& shell, const char* name) {
    QCoreApplication::processEvents();
    const QPixmap picture = shell.grab();
    EXPECT_FALSE(picture.isNull()) << name;
    EXPECT_EQ(picture.size(), shell.size()) << name;
    const QByteArray dir = qgetenv("FENNROW_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromUtf8(dir));
    EXPECT_TRUE(picture.save(QString::fromUtf8(dir) + "/kellvar-" + name + ".png")) << name;
}

// The user's road through the wizard: connection, database and folder,
// tables, the run, the finish page, the saved profile.
TEST_F(StartUp, TheWholeWizardConvertsADatabase) {
    fennrow_test::test_database db("gui_walk");
    db.conn().exec(
        "CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40));"
        "INSERT INTO customers VALUES (1, 'Anna'), (2, 'Zo\xc3\xab');"
        "CREATE TABLE orders (id INT PRIMARY KEY, customer INT, total INT);"
        "INSERT INTO orders VALUES (10, 1, 9950), (11, 2, 500);"
        "CREATE TABLE products (id INT, title TEXT); INSERT INTO products VALUES (1, 'Tea')");
    fennrow_test::test_sql_conn locker(db.name());
    locker.exec("LOCK TABLES products WRITE");
    const fennrow_test::test_server s = fennrow_test::require_test_server();
    const std::string out = files.sub("export");
    bool walked = false;
    const int rc = kellvar_main(L"", [&](kellvar_wizard& w) {
        wizard_shell& shell = w.shell();
        shell.resize(640, 480);
        shell.show();
        auto at = [&](uint32_t id) { return shell.active_page() && shell.active_page()->dialog_id() == id; };
        EXPECT_TRUE(at(103));
        shoot(shell, "welcome");

        shell.press_button(idc_next);
        EXPECT_TRUE(at(123));
        w.mysql().findChild<QRadioButton*>(QString::number(idc_mysql_remote))->click();
        w.mysql().findChild<QLineEdit*>(QString::number(idc_mysql_host))->setText(QString::fromStdString(s.host));
        w.mysql().findChild<QLineEdit*>(QString::number(idc_mysql_port))->setText(QString::number(s.port));
        w.mysql().findChild<QLineEdit*>(QString::number(idc_mysql_user))->setText(QString::fromStdString(s.user));
        w.mysql().findChild<QLineEdit*>(QString::number(idc_mysql_password))->setText(QString::fromStdString(s.password));
        shoot(shell, "connection");

        shell.press_button(idc_next);
        EXPECT_TRUE(at(105)) << (seam.boxes.empty() ? std::string() : seam.boxes.back().text.toStdString());
        auto* databases = w.folder().findChild<gui_list_box*>(QString::number(idc_db_list));
        const int index = databases->find_exact_case(QString::fromStdString(db.name()));
        EXPECT_GE(index, 0);
        databases->select_only(index);
        w.folder().findChild<QLineEdit*>(QString::number(idc_db_folder))->setText(QString::fromStdString(out));
        w.folder().findChild<QRadioButton*>(QString::number(idc_db_delim_comma))->click();
        shoot(shell, "database");

        shell.press_button(idc_next);
        EXPECT_TRUE(at(127));
        w.tables().findChild<QAbstractButton*>(QString::number(idc_tables_add_all))->click();
        shoot(shell, "tables");

        shell.press_button(idc_next);
        EXPECT_TRUE(at(108));
        // The run waits for the locked table; the page shows where it is.
        auto* status = w.progress().findChild<QLabel*>(QString::number(idc_progress_status));
        EXPECT_TRUE(pump_until([&] { return status->text() == "Processing table 'products'"; }));
        EXPECT_EQ(w.progress().findChild<QProgressBar*>(QString::number(idc_progress_bar))->value(), 66);
        shoot(shell, "progress");
        locker.exec("UNLOCK TABLES");

        EXPECT_TRUE(pump_until([&] { return at(116); }));
        EXPECT_EQ(w.finish().findChild<QLabel*>(QString::number(idc_finish_result))->text(),
                  QString::fromWCharArray(finish_default_success_text));
        shoot(shell, "finish");
        seam.file_answers = {QString::fromStdString(files.sub("walk"))};
        w.finish().findChild<QAbstractButton*>(QString::number(idc_finish_store))->click();
        shell.press_button(idc_finish);
        walked = true;
        return shell.isVisible() ? -1 : shell.result();
    });
    EXPECT_TRUE(walked);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(seam.boxes.empty()) << seam.boxes.front().text.toStdString();
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(read_all(out + "/customers.csv"), bom + "id,name\r\n1,Anna\r\n2,Zo\xc3\xab\r\n");
    EXPECT_EQ(read_all(out + "/orders.csv"), bom + "id,customer,total\r\n10,1,9950\r\n11,2,500\r\n");
    EXPECT_EQ(read_all(out + "/products.csv"), bom + "id,title\r\n1,Tea\r\n");
    EXPECT_TRUE(exists(files.sub("walk.kvr")));
}

}  // namespace
