// Message boxes before the frame exists and their set-up, the help window,
// the shipped help file, the pictures and calls across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "g_help.h"
#include "g_res.h"
#include "g_thread.h"
#include "gui_test_support.h"
#include "tk_clipb.h"

namespace {

TEST(MessageBoxes, BeforeTheFrameCaptionsArePlainAndNoWindowOwnsThem) {
    script_seam seam;
    seam.box_answers = {id_ok, id_ok, id_no, id_yes};
    wizard_shell::error(std::string("Gr\xc3\xb6\xc3\x9f" "e fehlt"));
    wizard_shell::message(L"Done");
    EXPECT_FALSE(wizard_shell::question(L"Sure?", mb_defbutton2));
    EXPECT_TRUE(wizard_shell::question(L"Sure?"));
    ASSERT_EQ(seam.boxes.size(), 4u);
    EXPECT_EQ(seam.boxes[0].caption, "Error");
    EXPECT_EQ(seam.boxes[0].text, QString::fromUtf8("Gr\xc3\xb6\xc3\x9f" "e fehlt"));
    EXPECT_EQ(seam.boxes[0].flags, 0x10u);
    EXPECT_EQ(seam.boxes[1].caption, "Message");
    EXPECT_EQ(seam.boxes[1].flags, 0x40u);
    EXPECT_EQ(seam.boxes[2].caption, "Question");
    EXPECT_EQ(seam.boxes[2].flags, 0x124u);
    EXPECT_EQ(seam.boxes[3].flags, 0x24u);
    for (const auto& b : seam.boxes) EXPECT_EQ(b.owner, nullptr);
}

TEST(MessageBoxes, ABoxAskedForByAWorkerIsShownOnTheGuiThread) {
    script_seam seam;
    seam.box_answers = {id_yes};
    bool answer = false;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        answer = wizard_shell::question(L"Go on?");
        finished = true;
    });
    EXPECT_TRUE(pump_until([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(answer);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_TRUE(seam.boxes[0].on_gui_thread);
}

struct box_case {
    uint32_t flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton def;
};

void PrintTo(const box_case& c, std::ostream* os) { *os << "flags 0x" << std::hex << c.flags; }

class MessageBoxSetup : public ::testing::TestWithParam<box_case> {};

TEST_P(MessageBoxSetup, FlagsChooseIconButtonsAndDefault) {
    const box_case c = GetParam();
    std::unique_ptr<QMessageBox> box(gui_make_message_box(nullptr, "cap", "text", c.flags));
    EXPECT_EQ(box->windowTitle(), "cap");
    EXPECT_EQ(box->text(), "text");
    EXPECT_EQ(box->icon(), c.icon);
    EXPECT_EQ(box->standardButtons(), c.buttons);
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->standardButton(box->defaultButton()), c.def);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, MessageBoxSetup,
    ::testing::Values(box_case{0x10, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
                      box_case{0x40, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
                      box_case{0x24, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes},
                      box_case{0x124, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
                      box_case{0x31, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok}),
    [](const auto& info) {
        char name[32];
        std::snprintf(name, sizeof name, "flags_0x%X", static_cast<unsigned>(info.param.flags));
        return std::string(name);
    });

// Texts with line breaks of their own wrap as one paragraph per block
// between blank lines, so no short line is left alone.
TEST(MessageBoxSetup, TextsWrapAsOneParagraphPerBlock) {
    struct row {
        const char* text;
        const char* shown;
    } rows[] = {
        {"Access denied. Verify the user name and password are correct, and you have\nthe necessary privileges.",
         "Access denied. Verify the user name and password are correct, and you have the necessary privileges."},
        {"first\nline\n\nsecond block\n", "first line\n\nsecond block"},
        {"one\n\n\n  two  ", "one\n\ntwo"},
        {"plain", "plain"},
    };
    for (const row& r : rows) {
        std::unique_ptr<QMessageBox> box(gui_make_message_box(nullptr, "cap", r.text, mb_iconerror));
        EXPECT_EQ(box->text().toStdString(), r.shown);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
    }
}

TEST(MessageBoxSetup, AnswersOfQtButtons) {
    EXPECT_EQ(gui_answer_of(QMessageBox::Yes), id_yes);
    EXPECT_EQ(gui_answer_of(QMessageBox::No), id_no);
    EXPECT_EQ(gui_answer_of(QMessageBox::Ok), id_ok);
    EXPECT_EQ(gui_answer_of(QMessageBox::Cancel), id_cancel);
}

std::string read_all(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(HelpFile, HasAnAnchorForEveryTopicThePagesAskFor) {
    const std::string html = read_all(FENNROW_HELP_SOURCE);
    ASSERT_FALSE(html.empty());
    for (int topic : {1010, 1012, 1013, 1014, 1015, 1016, 1025})
        EXPECT_NE(html.find("<a name=\"" + std::to_string(topic) + "\">"), std::string::npos) << topic;
}

TEST(HelpWindow, OpensTheFileAtTheTopicsAnchorAndIsReused) {
    const QString file = QString::fromUtf8(FENNROW_HELP_SOURCE);
    gui_help_window* first = gui_open_help(file, 1014);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->browser()->source().fragment(), "1014");
    EXPECT_EQ(first->browser()->source().toLocalFile(), file);
    EXPECT_EQ(first->windowTitle(), "Fennrow Conversion Wizard Help");
    EXPECT_TRUE(first->browser()->toPlainText().contains("Step 3: selecting tables"));
    gui_help_window* second = gui_open_help(file, 0);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(second->browser()->source().fragment().isEmpty());
    second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(gui_help_window_if_open(), nullptr);
}

// Help asked for while a modal dialog runs: the help window is in front, on
// the screen and takes input (it scrolls by keyboard and closes).
TEST(HelpWindow, OpenedFromAModalDialogTakesInputAndIsOnScreen) {
    const QString file = QString::fromUtf8(FENNROW_HELP_SOURCE);
    QDialog wizard;
    wizard.setModal(true);
    wizard.resize(600, 400);
    bool visible = false, enabled = false, on_screen = false, scrolled = false, closed = false, survives = false;
    QPointer<gui_help_window> reopened;
    QTimer::singleShot(0, &wizard, [&] {
        QDialog dialog(&wizard);
        dialog.setModal(true);
        QTimer::singleShot(0, &dialog, [&] {
            gui_help_window* help = gui_open_help(file, 0);
            help->resize(320, 160);
            if (QTest::qWaitForWindowExposed(help)) {
                visible = help->isVisible();
                enabled = help->isEnabled();
                const QRect area = help->screen()->availableGeometry();
                on_screen = area.contains(help->frameGeometry());
                help->browser()->setFocus();
                QTest::keyClick(help->windowHandle(), Qt::Key_PageDown);
                scrolled = help->browser()->verticalScrollBar()->value() > 0;
                QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                closed = gui_help_window_if_open() == nullptr;
                if (!closed) help->close();
            }
            // Open again, then the dialog closes: the help stays with the wizard.
            reopened = gui_open_help(file, 1014);
            dialog.done(0);
        });
        dialog.exec();
        survives = gui_help_window_if_open() == reopened && reopened->isVisible() &&
                   reopened->parentWidget() == &wizard;
        if (reopened) reopened->close();
        wizard.done(0);
    });
    wizard.exec();
    EXPECT_TRUE(visible);
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(on_screen);
    EXPECT_TRUE(scrolled);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(survives);
}

// Help asked for in a small dialog is placed beside it, so that the dialog
// and its choices stay in view; when the dialog closes and the help goes to
// the window below, it stays where it was.
TEST(HelpWindow, IsPlacedBesideTheDialogItExplainsAndKeepsItsPlaceWhenHandedOn) {
    const QString file = QString::fromUtf8(FENNROW_HELP_SOURCE);
    QDialog wizard;
    wizard.setModal(true);
    wizard.resize(620, 460);
    bool exposed = false, apart = false, on_screen = false, handed_on = false;
    QRect before, after;
    QTimer::singleShot(0, &wizard, [&] {
        QDialog dialog(&wizard);
        dialog.setModal(true);
        dialog.resize(420, 172);
        QTimer::singleShot(0, &dialog, [&] {
            exposed = QTest::qWaitForWindowExposed(&dialog);
            gui_help_window* help = gui_open_help(file, 1016);
            exposed = exposed && QTest::qWaitForWindowExposed(help);
            apart = !help->frameGeometry().intersects(dialog.frameGeometry());
            on_screen = help->screen()->availableGeometry().contains(help->frameGeometry());
            before = help->frameGeometry();
            dialog.done(0);
        });
        dialog.exec();
        QCoreApplication::processEvents();
        if (gui_help_window* help = gui_help_window_if_open()) {
            handed_on = help->parentWidget() == &wizard && help->isVisible();
            after = help->frameGeometry();
            help->close();
        }
        wizard.done(0);
    });
    wizard.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(exposed);
    EXPECT_TRUE(apart) << before.x() << "," << before.y() << " " << before.width() << "x" << before.height();
    EXPECT_TRUE(on_screen);
    EXPECT_TRUE(handed_on);
    EXPECT_EQ(after, before);
}

TEST(Pictures, IconWatermarkAndHeaderExist) {
    EXPECT_FALSE(gui_picture(gui_icon_id).isNull());
    QPixmap watermark = gui_picture(gui_watermark_id);
    EXPECT_EQ(watermark.size(), QSize(164, 314));
    EXPECT_EQ(gui_picture(gui_header_id).size(), QSize(49, 49));
    EXPECT_TRUE(gui_picture(0).isNull());
    EXPECT_TRUE(gui_picture(999).isNull());
}

TEST(Clipboard, TheToolkitCopyReachesTheQtClipboardFromAnyThread) {
    tk_copy_to_clipboard2(L"first \u00e9");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdWString(L"first \u00e9"));
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        tk_copy_to_clipboard2(L"from the worker");
        finished = true;
    });
    EXPECT_TRUE(pump_until([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "from the worker");
}

TEST(CrossThreadCalls, RunOnTheGuiThreadAndCarryExceptionsBack) {
    EXPECT_TRUE(gui_on_gui_thread());
    bool on_gui = false;
    bool caught = false;
    bool ran = false;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        EXPECT_FALSE(gui_on_gui_thread());
        ran = gui_invoke([&] { on_gui = gui_on_gui_thread(); });
        try {
            gui_invoke([] { throw std::runtime_error("inside"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "inside";
        }
        finished = true;
    });
    EXPECT_TRUE(pump_until([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(on_gui);
    EXPECT_TRUE(caught);
}

TEST(CrossThreadCalls, StoppingReleasesAWaitingWorker) {
    bool ran = true;
    bool returned = false;
    int calls = 0;
    std::thread worker([&] {
        ran = gui_invoke([&] { ++calls; });
        returned = true;
    });
    // The worker waits: the GUI thread is not running its events. Stopping
    // must free it without the call ever running.
    while (gui_waiting_calls() == 0) std::this_thread::yield();
    gui_stop_cross_thread_calls();
    worker.join();
    QCoreApplication::processEvents();
    gui_allow_cross_thread_calls();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    EXPECT_EQ(calls, 0);
}

}  // namespace
