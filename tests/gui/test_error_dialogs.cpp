// The internal-error dialog (114) and the continue-or-abort dialog (115).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "g_err_dlg.h"
#include "gui_test_support.h"
#include "page_test_support.h"

namespace {

const std::wstring message = L"Internal error: \ncode=67\u00fc";

TEST(InternalErrorDialog, ShowsTheMessageWithSendBugAsDefault) {
    script_seam seam;
    dlg_error_ex dlg(message);
    QString caption, text;
    bool send_default = false;
    seam.on_dialog = [&](QDialog& d) {
        caption = d.windowTitle();
        text = d.findChild<QLabel*>("1320")->text();
        send_default = d.findChild<QPushButton*>("1112")->isDefault();
        click_control(d, idc_err_ok);
    };
    EXPECT_EQ(dlg.run(), idc_err_ok);
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, QString::fromStdWString(message));
    EXPECT_TRUE(send_default);
    EXPECT_EQ(dlg.findChild<QPushButton*>("1112")->text(), "&Send bug");
    EXPECT_EQ(dlg.findChild<QPushButton*>("1108")->text(), "&Copy to clipboard");
    EXPECT_EQ(dlg.findChild<QPushButton*>("1")->text(), "O&K");
    EXPECT_TRUE(seam.bugs.empty());
}

TEST(InternalErrorDialog, CopyPutsTheMessageOnTheClipboardAndCloses) {
    script_seam seam;
    QGuiApplication::clipboard()->setText("before");
    dlg_error_ex dlg(message);
    seam.on_dialog = [](QDialog& d) { click_control(d, idc_err_copy); };
    EXPECT_EQ(dlg.run(), idc_err_copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdWString(message));
}

TEST(InternalErrorDialog, SendBugMailsTitleAndMessageAndCloses) {
    script_seam seam;
    std::vector<std::string> log;
    wizard_shell shell(L"Fennrow 1.5 ", 0, 0, 0);
    script_page page(shell, 103, wizb_next, 0, log);
    shell.add_page(&page);
    shell.show();
    dlg_error_ex dlg(message);
    QString caption;
    seam.on_dialog = [&](QDialog& d) {
        caption = d.windowTitle();
        click_control(d, idc_err_send_bug);
    };
    EXPECT_EQ(dlg.run(), 0);
    EXPECT_EQ(caption, "Fennrow 1.5  Error");
    ASSERT_EQ(seam.bugs.size(), 1u);
    EXPECT_EQ(seam.bugs[0].first, "Fennrow 1.5 ");
    EXPECT_EQ(seam.bugs[0].second, "Internal error: \ncode=67\xc3\xbc");
}

TEST(InternalErrorDialog, SendBugBeforeTheWizardHasAnEmptyTitle) {
    script_seam seam;
    dlg_error_ex dlg(L"x");
    seam.on_dialog = [](QDialog& d) { click_control(d, idc_err_send_bug); };
    dlg.run();
    ASSERT_EQ(seam.bugs.size(), 1u);
    EXPECT_EQ(seam.bugs[0].first, "");
}

TEST(InternalErrorDialog, EscapeClosesAsOk) {
    script_seam seam;
    dlg_error_ex dlg(L"x");
    seam.on_dialog = [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); };
    EXPECT_EQ(dlg.run(), idc_err_ok);
}

struct continue_case {
    int button;
    bool tick;
    int result;
    bool do_not_show;
};

void PrintTo(const continue_case& c, std::ostream* os) {
    *os << (c.button == Qt::Key_Escape ? "Escape" : std::to_string(c.button)) << (c.tick ? " ticked" : "");
}

class ContinueDialog : public ::testing::TestWithParam<continue_case> {};

TEST_P(ContinueDialog, ButtonsCloseWithTheirIdsAndTheBoxSetsDoNotShow) {
    const continue_case c = GetParam();
    script_seam seam;
    dlg_error_continue dlg(L"orders: failed");
    seam.on_dialog = [&](QDialog& d) {
        if (c.tick) d.findChild<QCheckBox*>("1222")->click();
        if (c.button == Qt::Key_Escape)
            QTest::keyClick(&d, Qt::Key_Escape);
        else
            click_control(d, c.button);
    };
    EXPECT_EQ(dlg.run(), c.result);
    EXPECT_EQ(dlg.do_not_show(), c.do_not_show);
}

INSTANTIATE_TEST_SUITE_P(Choices, ContinueDialog,
                         ::testing::Values(continue_case{idc_err_continue, false, 2, false},
                                           continue_case{idc_err_continue, true, 2, true},
                                           continue_case{idc_err_abort, false, 1, false},
                                           continue_case{idc_err_abort, true, 1, true},
                                           continue_case{Qt::Key_Escape, false, 2, false}),
                         [](const auto& info) {
                             const continue_case& c = info.param;
                             const std::string button = c.button == idc_err_continue ? "continue"
                                                        : c.button == idc_err_abort  ? "abort"
                                                        : c.button == Qt::Key_Escape ? "escape"
                                                                                     : std::to_string(c.button);
                             return button + (c.tick ? "_ticked" : "");
                         });

TEST(ContinueDialogLayout, TextsDefaultAndTickingTwiceClearsTheChoice) {
    script_seam seam;
    dlg_error_continue dlg(L"m");
    seam.on_dialog = [](QDialog& d) {
        auto* box = d.findChild<QCheckBox*>("1222");
        box->click();
        box->click();
        // Ticking does not close the dialog.
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(d.findChild<QPushButton*>("2")->isDefault());
        click_control(d, idc_err_continue);
    };
    EXPECT_EQ(dlg.run(), idc_err_continue);
    EXPECT_FALSE(dlg.do_not_show());
    EXPECT_EQ(dlg.findChild<QCheckBox*>("1222")->text(), "&Do not show this dialog box again");
    EXPECT_EQ(dlg.findChild<QPushButton*>("2")->text(), "&Continue");
    EXPECT_EQ(dlg.findChild<QPushButton*>("1")->text(), "&Abort");
}

// Every button of the two dialogs has an Alt key of its own, which presses it;
// the default buttons stay as they were (Send bug, Continue).
struct alt_case {
    bool internal;  // the internal-error dialog, else continue-or-abort
    Qt::Key key;
    int result;
};

void PrintTo(const alt_case& c, std::ostream* os) {
    *os << (c.internal ? "internal " : "continue ") << QKeySequence(c.key).toString().toStdString();
}

class ErrorDialogKeys : public ::testing::TestWithParam<alt_case> {};

FENNROW_SERVER_TESTS(ErrorDialogKeys);

TEST_P(ErrorDialogKeys, AnAltKeyPressesItsButton) {
    const alt_case c = GetParam();
    script_seam seam;
    std::unique_ptr<gui_dialog> dlg;
    if (c.internal)
        dlg = std::make_unique<dlg_error_ex>(message);
    else
        dlg = std::make_unique<dlg_error_continue>(L"orders: failed");
    QString clashes = "-";
    bool closed = false;
    seam.on_dialog = [&](QDialog& d) {
        clashes = page_test::clashing_mnemonics(&d);
        ASSERT_TRUE(pump_until([&] {
            if (QApplication::activeWindow() != &d) d.activateWindow();
            return QApplication::activeWindow() == &d;
        }));
        QTest::keyClick(&d, c.key, Qt::AltModifier);
        // A button's mnemonic clicks it as an animated click.
        closed = pump_until([&] { return !d.isVisible(); });
    };
    EXPECT_EQ(dlg->run(), c.result);
    EXPECT_TRUE(closed);
    EXPECT_EQ(clashes, QString());
}

INSTANTIATE_TEST_SUITE_P(Keys, ErrorDialogKeys,
                         ::testing::Values(alt_case{true, Qt::Key_K, idc_err_ok},
                                           alt_case{true, Qt::Key_C, idc_err_copy},
                                           alt_case{true, Qt::Key_S, 0},
                                           alt_case{false, Qt::Key_C, idc_err_continue},
                                           alt_case{false, Qt::Key_A, idc_err_abort}),
                         [](const auto& info) {
                             return std::string(info.param.internal ? "internal_" : "continue_") +
                                    QKeySequence(info.param.key).toString().toLower().toStdString();
                         });

}  // namespace
