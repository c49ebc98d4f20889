// The wizard's error handler: dialogs by level, the do-not-show choice, the
// finish page's error list, abort, reports from a worker thread, and the end
// of the process after an internal error.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

#include <QCheckBox>
#include <QLabel>

#include "g_err_dlg.h"
#include "g_err_hand.h"
#include "g_err_tab.h"
#include "g_thread.h"
#include "gui_test_support.h"
#include "sql_excep.h"

namespace {

const std::wstring wizard_title = L"Fennrow 1.5 ";

// An exception with a chosen level and code.
class coded_exception : public tk_exception {
public:
    coded_exception(const std::string& text, uint32_t level, uint32_t code) : tk_exception(text, level) { code_ = code; }
};

class ErrorHandler : public ::testing::Test {
protected:
    void SetUp() override {
        shell = std::make_unique<wizard_shell>(wizard_title, 501, 311, 312);
        page = std::make_unique<script_page>(*shell, 108, wizb_back | wizb_next, psp_has_help, log);
        shell->add_page(page.get());
        shell->show();
        seam.on_dialog = [this](QDialog& d) {
            seen_messages.push_back(d.findChild<QLabel*>("1320")->text());
            seen_captions.push_back(d.windowTitle());
            if (tick_do_not_show) d.findChild<QCheckBox*>("1222")->click();
            click_control(d, press);
        };
    }
    void TearDown() override {
        page.reset();
        shell.reset();
    }

    script_seam seam;
    std::vector<std::string> log;
    std::unique_ptr<wizard_shell> shell;
    std::unique_ptr<script_page> page;
    gui_error_handler handler{gui_error_table_size, gui_error_table};
    int press = idc_err_continue;
    bool tick_do_not_show = false;
    std::vector<QString> seen_messages;
    std::vector<QString> seen_captions;
};

TEST_F(ErrorHandler, ALevelOneErrorIsAnErrorBoxWithContextAndFriendlyTextOnOneLine) {
    handler.set_context(L"orders");
    coded_exception e("Access denied for user 'x'", 1, 0x400415);
    handler.handle(e, false);
    ASSERT_EQ(seam.boxes.size(), 1u);
    const QString expected =
        "orders: Access denied. Verify the user name and password are correct, and you have the necessary privileges "
        "to connect to the target MySQL server.";
    EXPECT_EQ(seam.boxes[0].text, expected);
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    EXPECT_EQ(shell->error_list(), std::vector<std::string>{expected.toStdString()});
    EXPECT_TRUE(seam.dialog_names.empty());
}

TEST_F(ErrorHandler, ACodeWithoutFriendlyTextShowsTheExceptionsOwnText) {
    handler.set_context(L"t1", 7);
    sql_exception e("Table 'shop.t1' doesn't exist\nreally", 1146);
    handler.handle(e, false);
    ASSERT_EQ(seam.dialog_names.size(), 1u);
    EXPECT_EQ(seam.dialog_names[0], "115");
    EXPECT_EQ(seen_messages[0], "t1, record #7: Table 'shop.t1' doesn't exist really");
    EXPECT_EQ(seen_captions[0], "Fennrow 1.5  Error");
}

// A connection that breaks during a run is told in the words the connection
// page uses, with the server's own text after them; other errors keep their
// friendly text alone.
struct connection_case {
    uint32_t number;
    const char* raw;
    const char* friendly;  // null: the no-answer text
    bool with_raw;
};

class ErrorHandlerConnection : public ErrorHandler, public ::testing::WithParamInterface<connection_case> {};

TEST_P(ErrorHandlerConnection, ABrokenConnectionGetsTheFriendlyTextWithTheServersReason) {
    const connection_case c = GetParam();
    tk_error_converter table(gui_error_table_size, gui_error_table);
    std::string friendly = c.friendly ? table.convert(0x400000 | c.number) : std::string(gui_no_answer_text);
    ASSERT_FALSE(friendly.empty());
    handler.set_context(L"t06");
    handler.handle(sql_exception(c.raw, c.number), false);
    std::string expected = "t06: " + friendly + (c.with_raw ? "\n" + std::string(c.raw) : std::string());
    std::replace(expected.begin(), expected.end(), '\n', ' ');
    EXPECT_EQ(shell->error_list(), std::vector<std::string>{expected});
    ASSERT_EQ(seen_messages.size(), 1u);
    EXPECT_EQ(seen_messages[0].toStdString(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorHandlerConnection,
    ::testing::Values(connection_case{2013, "Lost connection to server during query", nullptr, true},
                      connection_case{2006, "Server has gone away", nullptr, true},
                      connection_case{2003, "Can't connect to server on '127.0.0.1' (115)", "cannot connect", true},
                      connection_case{1045, "Access denied for user 'x'", "access denied", false}),
    [](const auto& info) { return std::to_string(info.param.number); });

TEST_F(ErrorHandler, ContinueGoesOnAndAbortRaisesTheFinalExceptionUnlessAbortIsForbidden) {
    sql_exception e("lost", 2013);
    press = idc_err_continue;
    EXPECT_NO_THROW(handler.handle(e, false));
    press = idc_err_abort;
    EXPECT_THROW(handler.handle(e, false), tk_final_exception);
    EXPECT_NO_THROW(handler.handle(e, true));
    EXPECT_EQ(seam.dialog_names.size(), 3u);
    EXPECT_FALSE(handler.suppress);
    // Every report is collected, aborted or not.
    EXPECT_EQ(shell->error_count(), 3u);
}

TEST_F(ErrorHandler, DoNotShowAgainSilencesLaterLevelZeroDialogsAndLevelOneBoxes) {
    sql_exception zero("first", 1064);
    tick_do_not_show = true;
    press = idc_err_continue;
    handler.handle(zero, false);
    EXPECT_TRUE(handler.suppress);
    tick_do_not_show = false;
    handler.handle(zero, false);
    handler.handle(coded_exception("level one", 1, 0), false);
    EXPECT_EQ(seam.dialog_names.size(), 1u);
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(shell->error_count(), 3u);
}

TEST_F(ErrorHandler, DoNotShowWithAbortForbiddenStillSilences) {
    tick_do_not_show = true;
    press = idc_err_abort;
    handler.handle(sql_exception("x", 1064), true);
    EXPECT_TRUE(handler.suppress);
}

TEST_F(ErrorHandler, AbortDoesNotTakeTheDoNotShowChoice) {
    tick_do_not_show = true;
    press = idc_err_abort;
    EXPECT_THROW(handler.handle(sql_exception("x", 1064), false), tk_final_exception);
    EXPECT_FALSE(handler.suppress);
}

TEST_F(ErrorHandler, TheListKeepsTwentyErrorsButLaterOnesAreStillShown) {
    for (int i = 0; i < 25; ++i) handler.handle(coded_exception("e" + std::to_string(i), 1, 0), false);
    EXPECT_EQ(seam.boxes.size(), 25u);
    auto list = shell->error_list();
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.back(), "e19");
}

TEST_F(ErrorHandler, AReportFromAWorkerShowsItsDialogOnTheGuiThreadAndGetsTheAnswer) {
    press = idc_err_abort;
    bool aborted = false;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            handler.handle(sql_exception("broken row", 1366), false);
        } catch (const tk_final_exception&) {
            aborted = true;
        }
        finished = true;
    });
    EXPECT_TRUE(pump_until([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(aborted);
    ASSERT_EQ(seam.dialog_threads_gui.size(), 1u);
    EXPECT_TRUE(seam.dialog_threads_gui[0]);
    EXPECT_EQ(seen_messages[0], "broken row");
    // A level-1 box from the worker is shown on the GUI thread as well.
    finished = false;
    std::thread second([&] {
        handler.handle(coded_exception("one", 1, 0), false);
        finished = true;
    });
    EXPECT_TRUE(pump_until([&] { return finished.load(); }));
    second.join();
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_TRUE(seam.boxes[0].on_gui_thread);
    EXPECT_EQ(shell->error_count(), 2u);
}

TEST_F(ErrorHandler, AWorkerWhoseDialogCannotBeShownAnymoreAborts) {
    gui_stop_cross_thread_calls();
    bool aborted = false;
    bool returned = false;
    std::thread worker([&] {
        try {
            handler.handle(sql_exception("late", 1366), false);
            returned = true;
        } catch (const tk_final_exception&) {
            aborted = true;
        }
    });
    worker.join();
    std::thread forbidden([&] {
        handler.handle(sql_exception("late", 1366), true);
        returned = true;
    });
    forbidden.join();
    gui_allow_cross_thread_calls();
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(returned);
    EXPECT_TRUE(seam.dialog_names.empty());
}

TEST_F(ErrorHandler, AnInternalErrorShowsItsDialogAndEndsTheProcess) {
    press = idc_err_ok;
    tk_mail_assertion e("g_f_dlg", 111);
    handler.handle(e, true);
    ASSERT_EQ(seam.dialog_names.size(), 1u);
    EXPECT_EQ(seam.dialog_names[0], "114");
    EXPECT_EQ(seen_messages[0].toStdString(), make_err_meggase("g_f_dlg", 111));
    EXPECT_EQ(seam.exits, std::vector<int>{-1});
    // Not an entry of the finish page.
    EXPECT_EQ(shell->error_count(), 0u);
}

TEST(ErrorHandlerBeforeTheWizard, ErrorsAreShownButNotCollectedWithoutAnInitializedFrame) {
    script_seam seam;
    gui_error_handler handler(gui_error_table_size, gui_error_table);
    wizard_shell shell(wizard_title, 0, 0, 0);
    handler.handle(tk_exception(std::string("Profile does not exist. Please verify the correct path/name was given."), 1),
                   true);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].caption, "Error");
    EXPECT_EQ(seam.boxes[0].owner, nullptr);
    EXPECT_EQ(shell.error_count(), 0u);
}

TEST(ErrorTable, FriendlyTextsByMysqlCode) {
    tk_error_converter texts(gui_error_table_size, gui_error_table);
    EXPECT_EQ(texts.convert(0x4007D3), texts.convert(0x4007D5));
    EXPECT_EQ(texts.convert(0x4004E1), texts.convert(0x4004E3));
    EXPECT_NE(texts.convert(0x4004E2).find("authentication protocol"), std::string::npos);
    EXPECT_EQ(texts.convert(0x40042F),
              "Primary key in the original database is too long.\nRestart the program with \"Skip converting "
              "indexes\"\ncheckbox selected in order to resolve the conflict.\n");
    EXPECT_EQ(texts.convert(0x400414).substr(0, 15), "Access denied. ");
    EXPECT_TRUE(texts.convert(1045).empty());
    // The local socket (2002) has its own text.
    EXPECT_EQ(texts.convert(0x4007D2).substr(0, 56), "No MySQL server answers on this computer's local socket.");
    // Thirteen distinct codes.
    std::set<uint32_t> codes;
    for (const auto& row : gui_error_table) codes.insert(row.code);
    EXPECT_EQ(codes.size(), 13u);
}

// The real end: the dialog, then exit code -1 (255 to the shell), no return.
TEST(ErrorHandlerDeathTest, AnInternalErrorEndsTheProcessWithMinusOne) {
    EXPECT_EXIT(
        {
            script_seam seam;
            seam.real_exit = true;
            seam.on_dialog = [](QDialog& d) {
                std::fprintf(stderr, "dialog %s: %s\n", d.objectName().toUtf8().constData(),
                             d.findChild<QLabel*>("1320")->text().toUtf8().constData());
                click_control(d, idc_err_copy);
            };
            gui_error_handler handler(gui_error_table_size, gui_error_table);
            handler.handle(tk_mail_assertion("g_wiz_sh", 289), false);
            std::fprintf(stderr, "handle returned\n");
        },
        ::testing::ExitedWithCode(255), "dialog 114: Internal error: \ncode=");
}

}  // namespace
