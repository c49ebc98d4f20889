// The welcome page: "&Load Settings..." loads a settings profile into the
// converter; the MySQL page then shows the loaded settings.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "g_f_dlg.h"
#include "kvr_mysql_pg.h"
#include "kvr_welcome.h"
#include "page_test_support.h"

namespace {

using namespace page_test;

class WelcomePage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gui_forget_chosen_folder();
        welcome = add(std::make_unique<welcome_page>(L"kvr"));
        mysql = add(std::make_unique<sql_settings_page2<kellvar_converter, 1010, 1015>>());
        add_tail();
        start();
    }
    void load() { child<QAbstractButton>(welcome, idc_welcome_load)->click(); }

    temp_dir dir;
    welcome_page* welcome = nullptr;
    sql_settings_page2<kellvar_converter, 1010, 1015>* mysql = nullptr;
};

TEST_F(WelcomePage, LoadedProfileShowsOnTheConnectionPage) {
    const std::string profile = dir.sub("shop.kvr");
    write_file(profile,
               "[Generic settings]\r\nsrc=shop\r\ndest=/srv/export\r\n"
               "[MySQL settings]\r\nhost=db.example\r\nuser=report\r\npassword=s3cret\r\nport=3307\r\n"
               "[CSV settings]\r\nInclude field names=0\r\nCSV delimiter=2\r\n"
               "[Selected Tables]\r\norders\r\nbig=SELECT * FROM orders WHERE total > 100\r\n");
    seam.file_answers = {QString::fromStdString(profile)};
    load();

    ASSERT_EQ(seam.file_requests.size(), 1u);
    const gui_file_request& r = seam.file_requests[0];
    EXPECT_FALSE(r.save);
    EXPECT_TRUE(r.must_exist);
    EXPECT_EQ(r.title, "Select Profile");
    EXPECT_EQ(r.filters, (QStringList{"Profile Files (.kvr) (*.kvr)", "All Files (*.*) (*)"}));
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(conv.source, L"shop");
    EXPECT_EQ(conv.destination, L"/srv/export");
    EXPECT_EQ(conv.delimiter_index, 2u);
    EXPECT_FALSE(conv.include_field_names);
    ASSERT_EQ(conv.table_queries.size(), 2u);
    EXPECT_EQ(conv.table_queries[1].first, L"big");

    press(idc_next);
    EXPECT_EQ(active_id(), 123u);
    EXPECT_TRUE(child<QRadioButton>(mysql, idc_mysql_remote)->isChecked());
    EXPECT_EQ(child<QLineEdit>(mysql, idc_mysql_host)->text(), "db.example");
    EXPECT_EQ(child<QLineEdit>(mysql, idc_mysql_port)->text(), "3307");
    EXPECT_EQ(child<QLineEdit>(mysql, idc_mysql_user)->text(), "report");
    EXPECT_EQ(child<QLineEdit>(mysql, idc_mysql_password)->text(), "s3cret");
}

TEST_F(WelcomePage, CancellingTheOpenDialogChangesNothing) {
    conv.source = L"before";
    seam.file_answers = {QString()};
    load();
    EXPECT_EQ(seam.file_requests.size(), 1u);
    EXPECT_EQ(conv.source, L"before");
    EXPECT_TRUE(conv.table_queries.empty());
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(active_id(), 103u);
}

TEST_F(WelcomePage, ARefusedProfileIsReportedAndChangesNothing) {
    const std::string profile = dir.sub("bad.kvr");
    write_file(profile, "[Generic settings]\nsrc=other\n[CSV settings]\nCSV delimiter=7\n");
    conv.source = L"before";
    seam.file_answers = {QString::fromStdString(profile)};
    load();
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Invalid CSV delimiter");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_EQ(conv.source, L"before");
    EXPECT_EQ(active_id(), 103u);
    EXPECT_TRUE(shell->isVisible());
}

TEST_F(WelcomePage, AChosenFileThatIsGoneIsNotLoaded) {
    // The open dialog accepts only existing files.
    seam.file_answers = {QString::fromStdString(dir.sub("gone.kvr"))};
    load();
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_TRUE(conv.table_queries.empty());
}

TEST_F(WelcomePage, TitleUsesTheTitleFontAndTheFilterNeedsAShortExtension) {
    auto* title = child<QLabel>(welcome, idc_welcome_title);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Welcome to Fennrow\nConversion Wizard\n");
    EXPECT_EQ(title->font().family(), "Segoe UI");
    EXPECT_EQ(welcome_profile_filter(L"kvr"), L"Profile Files (.kvr)|*.kvr|All Files (*.*)|*.*|");
    // An extension of other than 3 or 4 characters is an internal error,
    // raised before any dialog is shown.
    try {
        welcome_load_profile(welcome, L"kv", [](const std::wstring&) { return true; });
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("g_finish", 266));
    }
    EXPECT_TRUE(seam.file_requests.empty());
}

}  // namespace
