// The finish page: the result of the run (success text, or the error text and
// the list of errors), Cancel and Help off, and "&Save Settings...".
#include <gtest/gtest.h>

#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "g_f_dlg.h"
#include "g_finish.h"
#include "kvr_finish.h"
#include "page_test_support.h"
#include "udb_prof.h"

namespace {

using namespace page_test;

const QString success_text = QString::fromWCharArray(finish_default_success_text);
const QString error_text = QString::fromWCharArray(finish_default_error_text);
const QString nothing_text =
    "There was nothing to convert: no table or query was selected.\n\nClick 'Finish' to exit the wizard.";

class FinishPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gui_forget_chosen_folder();
        // The run had a table to convert.
        conv.table_queries = {{L"orders", L""}};
        before = add(std::make_unique<script_page>(*shell, 108, wizb_back | wizb_next, psp_has_help, log));
        finish = add(std::make_unique<kvr_finish_page>(finish_default_error_text, finish_default_success_text, L"kvr"));
        start();
    }
    // Shows the finish page as the progress page does at the end of a run.
    void show_finish() { ASSERT_TRUE(shell->set_cur_sel_by_id(116)); }
    QLabel* result() const { return child<QLabel>(finish, idc_finish_result); }
    QPlainTextEdit* edit() const { return child<QPlainTextEdit>(finish, idc_finish_errors); }
    bool edit_shown() const { return edit()->isVisibleTo(shell.get()); }
    void save() { child<QAbstractButton>(finish, idc_finish_store)->click(); }

    temp_dir dir;
    script_page* before = nullptr;
    kvr_finish_page* finish = nullptr;
};

TEST_F(FinishPage, ARunWithoutErrorsShowsTheSuccessText) {
    show_finish();
    EXPECT_EQ(active_id(), 116u);
    EXPECT_EQ(child<QLabel>(finish, idc_finish_title)->text(), "Conversion is Completed");
    EXPECT_EQ(child<QLabel>(finish, idc_finish_title)->font(), finish->title_font());
    EXPECT_EQ(result()->text(), success_text);
    EXPECT_FALSE(edit_shown());
    EXPECT_TRUE(seam.boxes.empty());
    // Only Finish: no way back, no cancel, no help.
    EXPECT_TRUE(shell->button(idc_finish)->isVisible());
    EXPECT_TRUE(shell->button(idc_finish)->isEnabled());
    EXPECT_FALSE(shell->button(idc_back)->isEnabled());
    EXPECT_FALSE(shell->button(idc_cancel)->isEnabled());
    EXPECT_FALSE(shell->button(idc_help)->isEnabled());
    EXPECT_TRUE(child<QPushButton>(finish, idc_finish_store)->isEnabled());
    EXPECT_EQ(child<QPushButton>(finish, idc_finish_store)->text(), "&Save Settings...");
}

// On the last page Escape and the close box end the wizard as Finish does.
TEST_F(FinishPage, EscapeAndTheCloseBoxFinish) {
    show_finish();
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 1);
    EXPECT_TRUE(seam.boxes.empty());
    shell->show();
    show_finish();
    EXPECT_TRUE(shell->close());
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 1);
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(FinishPage, ErrorsAreListedOneLineEachFollowedByAnEmptyLine) {
    ASSERT_TRUE(shell->append_error("orders: Table orders not exists", 20));
    ASSERT_TRUE(shell->append_error("customers, record #3: first line\nsecond line\nthird", 20));
    ASSERT_TRUE(shell->append_error("Zähler: \xc3\xa9t\xc3\xa9", 20));
    show_finish();
    EXPECT_EQ(result()->text(), error_text);
    EXPECT_TRUE(edit_shown());
    EXPECT_TRUE(edit()->isReadOnly());
    EXPECT_EQ(edit()->toPlainText(), QString::fromUtf8("orders: Table orders not exists\n\n"
                                                       "customers, record #3: first line second line third\n\n"
                                                       "Zähler: \xc3\xa9t\xc3\xa9\n\n"));
    EXPECT_FALSE(shell->button(idc_cancel)->isEnabled());
}

TEST_F(FinishPage, AFailedRunIsNeverShownAsSuccess) {
    // The run counted a failure whose text did not reach the list.
    conv.errors_reported = 1;
    show_finish();
    EXPECT_EQ(result()->text(), error_text);
    EXPECT_TRUE(edit_shown());
    EXPECT_EQ(edit()->toPlainText(), QString::fromWCharArray(finish_unlisted_error_text) + "\n\n");
}

// Nothing selected (or a selection lost on the way): no success is claimed.
TEST_F(FinishPage, ARunWithNothingToConvertIsNotShownAsSuccess) {
    conv.table_queries.clear();
    show_finish();
    EXPECT_EQ(child<QLabel>(finish, idc_finish_title)->text(), "Nothing was Converted");
    EXPECT_EQ(result()->text(), nothing_text);
    EXPECT_NE(result()->text(), success_text);
    EXPECT_FALSE(edit_shown());
    // Errors of such a run are still listed as errors.
    shell->append_error("Not connected to the MySQL server", 20);
    shell->set_cur_sel_by_id(108);
    show_finish();
    EXPECT_EQ(result()->text(), error_text);
}

TEST_F(FinishPage, TheResultIsShownAgainOnEachActivation) {
    show_finish();
    EXPECT_EQ(result()->text(), success_text);
    shell->append_error("late error", 20);
    shell->set_cur_sel_by_id(108);
    show_finish();
    EXPECT_EQ(result()->text(), error_text);
    EXPECT_EQ(edit()->toPlainText(), "late error\n\n");
}

TEST_F(FinishPage, SaveSettingsWritesTheProfileWithItsExtension) {
    conv.source = L"shop";
    conv.destination = L"/srv/export";
    conv.store_mysql_settings("db.example", "report", "s3cret", "3307");
    conv.delimiter_index = 2;
    conv.include_field_names = false;
    conv.table_queries = {{L"orders", L""}, {L"big", L"SELECT *\nFROM orders"}};
    show_finish();
    const std::string chosen = dir.sub("saved");
    seam.file_answers = {QString::fromStdString(chosen)};
    save();

    ASSERT_EQ(seam.file_requests.size(), 1u);
    const gui_file_request& r = seam.file_requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.title, "Select Profile");
    EXPECT_EQ(r.filters, (QStringList{"Profile Files (.kvr) (*.kvr)", "All Files (*.*) (*)"}));
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_FALSE(exists(chosen));
    ASSERT_TRUE(exists(chosen + ".kvr"));

    udb_profile profile;
    ASSERT_TRUE(profile.load(dir.wsub("saved.kvr")));
    EXPECT_EQ(profile.get_value(L"Generic settings", L"src"), L"shop");
    EXPECT_EQ(profile.get_value(L"MySQL settings", L"host"), L"db.example");
    EXPECT_EQ(profile.get_value(L"MySQL settings", L"port"), L"3307");
    EXPECT_EQ(profile.get_value(L"CSV settings", L"CSV delimiter"), L"2");
    EXPECT_EQ(profile.get_value(L"CSV settings", L"Include field names"), L"0");
    EXPECT_EQ(profile.get_value(L"Selected Tables", L"big"), L"SELECT *\nFROM orders");  // as written
    // The page stays, and so does the result.
    EXPECT_EQ(active_id(), 116u);
}

TEST_F(FinishPage, CancellingTheSaveDialogChangesNothing) {
    show_finish();
    conv.table_queries = {{L"big", L"SELECT 1"}};
    seam.file_answers = {QString()};
    save();
    EXPECT_EQ(seam.file_requests.size(), 1u);
    EXPECT_TRUE(seam.boxes.empty());
    // Storing moves queries out of the list; nothing was stored.
    ASSERT_EQ(conv.table_queries.size(), 1u);
    EXPECT_EQ(active_id(), 116u);
}

TEST_F(FinishPage, AProfileThatCannotBeWrittenIsReported) {
    show_finish();
    const std::string chosen = dir.sub("missing/folder/p.kvr");
    seam.file_answers = {QString::fromStdString(chosen)};
    save();
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, QString::fromStdString("The profile could not be written: " + chosen));
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(active_id(), 116u);
}

TEST(FinishProfileFilter, NamesTheExtensionTwice) {
    EXPECT_EQ(finish_profile_filter(L"kvr"), L"Profile Files (.kvr)|*.kvr|All Files (*.*)|*.*|");
}

TEST(FinishStoreProfile, AnExtensionOfOtherThanThreeOrFourLettersIsAnInternalError) {
    script_seam seam;
    int calls = 0;
    static int* counter = nullptr;
    counter = &calls;
    auto store = [](const std::wstring&) {
        ++*counter;
        return true;
    };
    const std::string expected = tk_mail_assertion("g_finish", 141).what();
    for (const wchar_t* ext : {L"*", L"kv", L"kvrxy"}) {
        try {
            finish_store_profile(nullptr, ext, store);
            ADD_FAILURE() << "no assertion for an extension of " << std::wcslen(ext) << " characters";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 2);
            EXPECT_EQ(std::string(e.what()), expected);
        }
    }
    EXPECT_TRUE(seam.file_requests.empty());
    for (const wchar_t* ext : {L"kvr", L"prof"}) {
        seam.file_answers = {QString()};
        EXPECT_NO_THROW(finish_store_profile(nullptr, ext, store));
    }
    EXPECT_EQ(seam.file_requests.size(), 2u);
    EXPECT_EQ(calls, 0);
}

}  // namespace
