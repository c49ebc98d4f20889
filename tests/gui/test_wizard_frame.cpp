// The frame: page activation, refusal and skipping, Back/Next/Finish/Cancel,
// button states, header and watermark, timer routing and help requests.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <thread>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "g_thread.h"
#include "gui_test_support.h"
#include "tk_excep.h"

namespace {

const std::wstring wizard_title = L"Fennrow 1.5 ";

class WizardFrame : public ::testing::Test {
protected:
    void SetUp() override {
        shell = std::make_unique<wizard_shell>(wizard_title, 501, 311, 312);
        welcome = add(103, wizb_next, psp_hide_header | psp_has_help);
        mysql = add(123, wizb_back | wizb_next, psp_has_help);
        mysql->set_header("Step 1 of 4", "Connect to MySQL server");
        folder = add(105, wizb_back | wizb_next, psp_has_help);
        folder->set_header("Step 2 of 4", "Select databases");
        progress = add(108, wizb_back | wizb_next, psp_has_help);
        finish = add(116, wizb_finish, psp_hide_header);
    }
    void TearDown() override {
        pages.clear();
        shell.reset();
    }
    script_page* add(uint32_t id, uint32_t buttons, uint32_t flags) {
        pages.push_back(std::make_unique<script_page>(*shell, id, buttons, flags, log));
        shell->add_page(pages.back().get());
        return pages.back().get();
    }
    QPushButton* btn(int id) { return shell->findChild<QPushButton*>(QString::number(id)); }
    QWidget* ctl(int id) { return shell->findChild<QWidget*>(QString::number(id)); }
    bool shown(int id) { return ctl(id) && ctl(id)->isVisibleTo(shell.get()); }
    void start() {
        shell->show();
        log.clear();
    }
    std::vector<std::string> tail(size_t n) {
        return std::vector<std::string>(log.end() - static_cast<long>(std::min(n, log.size())), log.end());
    }

    script_seam seam;
    std::vector<std::string> log;
    std::unique_ptr<wizard_shell> shell;
    std::vector<std::unique_ptr<script_page>> pages;
    script_page* welcome = nullptr;
    script_page* mysql = nullptr;
    script_page* folder = nullptr;
    script_page* progress = nullptr;
    script_page* finish = nullptr;
};

TEST_F(WizardFrame, ShowingActivatesTheFirstPageAndInitializesTheFrame) {
    EXPECT_FALSE(wizard_shell::is_initialized());
    EXPECT_EQ(shell->active_page(), nullptr);
    shell->show();
    EXPECT_EQ(log, std::vector<std::string>{"set_active 103"});
    EXPECT_EQ(shell->active_page(), welcome);
    EXPECT_EQ(shell->current_page(), welcome);
    EXPECT_TRUE(wizard_shell::is_initialized());
    EXPECT_EQ(shell->windowTitle(), QString::fromStdWString(wizard_title));
    EXPECT_FALSE(shell->windowIcon().isNull());
    // Next only; Finish is not on show; the page has help.
    EXPECT_FALSE(btn(idc_back)->isEnabled());
    EXPECT_TRUE(shown(idc_next));
    EXPECT_TRUE(btn(idc_next)->isEnabled());
    EXPECT_FALSE(shown(idc_finish));
    EXPECT_TRUE(btn(idc_cancel)->isEnabled());
    EXPECT_TRUE(btn(idc_help)->isEnabled());
    // A page without a header: the watermark instead.
    EXPECT_FALSE(shown(idc_header));
    EXPECT_TRUE(shown(311));
}

TEST_F(WizardFrame, ControlsCarryTheirIds) {
    const std::pair<int, QString> buttons[] = {
        {idc_back, "< &Back"}, {idc_next, "&Next >"}, {idc_finish, "&Finish"}, {idc_cancel, "Cancel"}, {idc_help, "&Help"}};
    for (const auto& [id, text] : buttons) {
        ASSERT_NE(btn(id), nullptr) << id;
        EXPECT_EQ(btn(id)->text(), text);
    }
    EXPECT_NE(shell->findChild<QLabel*>("311"), nullptr);
    EXPECT_NE(shell->findChild<QLabel*>("312"), nullptr);
    EXPECT_EQ(shell->findChild<wizard_page_base*>("123"), mysql);
}

TEST_F(WizardFrame, NextAndBackAskTheLeavingPageThenActivateTheNeighbour) {
    start();
    btn(idc_next)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"next 103", "kill_active 103", "set_active 123"}));
    EXPECT_EQ(shell->active_page(), mysql);
    EXPECT_TRUE(btn(idc_back)->isEnabled());
    EXPECT_TRUE(btn(idc_next)->isEnabled());
    // A page with a header: title, subtitle and picture; no watermark.
    EXPECT_TRUE(shown(idc_header));
    EXPECT_TRUE(shown(312));
    EXPECT_FALSE(shown(311));
    EXPECT_EQ(shell->findChild<QLabel*>(QString::number(idc_header_title))->text(), "Step 1 of 4");
    EXPECT_EQ(shell->findChild<QLabel*>(QString::number(idc_header_subtitle))->text(), "Connect to MySQL server");
    log.clear();
    btn(idc_back)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"back 123", "kill_active 123", "set_active 103"}));
    EXPECT_EQ(shell->active_page(), welcome);
    EXPECT_FALSE(btn(idc_back)->isEnabled());
}

TEST_F(WizardFrame, RefusedPagesAreSkippedInTheDirectionOfTravel) {
    start();
    mysql->activate_answer = page_refuse;
    folder->activate_answer = page_refuse;
    btn(idc_next)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"next 103", "kill_active 103", "set_active 123", "set_active 105",
                                             "set_active 108"}));
    EXPECT_EQ(shell->active_page(), progress);
    EXPECT_EQ(shell->current_page(), progress);
    log.clear();
    btn(idc_back)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"back 108", "kill_active 108", "set_active 105", "set_active 123",
                                             "set_active 103"}));
    EXPECT_EQ(shell->active_page(), welcome);
}

TEST_F(WizardFrame, ThePageStaysWhenNextOrLeavingIsRefused) {
    start();
    welcome->next_answer = page_refuse;
    btn(idc_next)->click();
    EXPECT_EQ(log, std::vector<std::string>{"next 103"});
    EXPECT_EQ(shell->active_page(), welcome);
    log.clear();
    welcome->next_answer = page_go_on;
    welcome->may_leave = false;
    btn(idc_next)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"next 103", "kill_active 103"}));
    EXPECT_EQ(shell->active_page(), welcome);
}

TEST_F(WizardFrame, APageMayNameThePageToGoTo) {
    start();
    welcome->next_answer = 108;
    btn(idc_next)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"next 103", "kill_active 103", "set_active 108"}));
    EXPECT_EQ(shell->active_page(), progress);
    // Activation may send the frame on to another page as well.
    log.clear();
    progress->back_answer = 123;
    mysql->activate_answer = 116;
    btn(idc_back)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"back 108", "kill_active 108", "set_active 123", "set_active 116"}));
    EXPECT_EQ(shell->active_page(), finish);
}

TEST_F(WizardFrame, WhenNoPageAheadTakesActivationTheLeftPageComesBack) {
    start();
    btn(idc_next)->click();
    for (auto* p : {folder, progress, finish}) p->activate_answer = page_refuse;
    log.clear();
    btn(idc_next)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"next 123", "kill_active 123", "set_active 105", "set_active 108",
                                             "set_active 116", "set_active 123"}));
    EXPECT_EQ(shell->active_page(), mysql);
    // The refused pages' buttons and current-page claims are undone.
    EXPECT_EQ(shell->current_page(), mysql);
    EXPECT_EQ(shell->wizard_buttons(), wizb_back | wizb_next);
    EXPECT_TRUE(shown(idc_next));
}

TEST_F(WizardFrame, FinishPageShowsFinishAndEndsOnlyWhenThePageAgrees) {
    start();
    ASSERT_TRUE(shell->set_cur_sel_by_id(116));
    EXPECT_EQ(shell->active_page(), finish);
    EXPECT_TRUE(shown(idc_finish));
    EXPECT_TRUE(btn(idc_finish)->isEnabled());
    EXPECT_TRUE(btn(idc_finish)->isDefault());
    EXPECT_FALSE(shown(idc_next));
    EXPECT_FALSE(btn(idc_back)->isEnabled());
    // No help flag on this page.
    EXPECT_FALSE(btn(idc_help)->isEnabled());
    finish->may_finish = false;
    btn(idc_finish)->click();
    EXPECT_TRUE(shell->isVisible());
    finish->may_finish = true;
    btn(idc_finish)->click();
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 1);
    EXPECT_EQ(tail(1), std::vector<std::string>{"finish 116"});
}

TEST_F(WizardFrame, CancelEscapeAndTheCloseBoxAskThePageOnShow) {
    start();
    welcome->may_cancel = false;
    btn(idc_cancel)->click();
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    shell->close();
    EXPECT_EQ(log, (std::vector<std::string>{"query_cancel 103", "query_cancel 103", "query_cancel 103"}));
    EXPECT_TRUE(shell->isVisible());
    log.clear();
    welcome->may_cancel = true;
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"query_cancel 103", "reset 103", "reset 123", "reset 105", "reset 108",
                                             "reset 116"}));
}

TEST_F(WizardFrame, ADisabledCancelAlsoStopsEscape) {
    start();
    shell->enable_button(idc_cancel, false);
    EXPECT_FALSE(btn(idc_cancel)->isEnabled());
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(shell->isVisible());
}

TEST_F(WizardFrame, SelectingByIdAsksThePageOnShowToLetGo) {
    start();
    welcome->may_leave = false;
    EXPECT_FALSE(shell->set_cur_sel_by_id(116));
    EXPECT_EQ(shell->active_page(), welcome);
    EXPECT_FALSE(shell->set_cur_sel_by_id(999));
    EXPECT_EQ(log, std::vector<std::string>{"kill_active 103"});
}

TEST_F(WizardFrame, DisabledFinishIsShownButCannotBePressed) {
    start();
    shell->set_wizard_buttons(wizb_back | wizb_disabled_finish);
    EXPECT_TRUE(shown(idc_finish));
    EXPECT_FALSE(btn(idc_finish)->isEnabled());
    EXPECT_FALSE(shown(idc_next));
    shell->set_wizard_buttons(0);
    EXPECT_TRUE(shown(idc_next));
    EXPECT_FALSE(btn(idc_next)->isEnabled());
    EXPECT_FALSE(btn(idc_back)->isEnabled());
}

TEST_F(WizardFrame, TimerMessagesOfTheProgressTimerGoToThePageOnShow) {
    start();
    btn(idc_next)->click();
    EXPECT_TRUE(shell->timer_message(wizard_timer_id));
    EXPECT_FALSE(shell->timer_message(1));
    EXPECT_FALSE(shell->timer_message(wizard_timer_id + 1));
    EXPECT_EQ(mysql->timers, std::vector<uint32_t>{wizard_timer_id});
    EXPECT_TRUE(welcome->timers.empty());
}

TEST_F(WizardFrame, ASecondSetTimerIsAnInternalError) {
    start();
    shell->set_timer(200);
    EXPECT_TRUE(shell->is_timer_running());
    auto* timer = shell->findChild<QTimer*>(QString::number(wizard_timer_id));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 200);
    try {
        shell->set_timer(200);
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), make_err_meggase("g_wiz_sh", 281).c_str());
        EXPECT_EQ(e.level(), 2u);
    }
    shell->kill_timer();
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_FALSE(timer->isActive());
    shell->kill_timer();
    shell->set_timer(100);
    EXPECT_TRUE(timer->isActive());
}

TEST_F(WizardFrame, ATimerStartedByAWorkerTicksOnTheGuiThreadToThePageOnShow) {
    start();
    ASSERT_TRUE(shell->set_cur_sel_by_id(108));
    std::atomic<bool> started{false};
    std::thread worker([&] {
        shell->set_timer(5);
        started = true;
    });
    EXPECT_TRUE(pump_until([&] { return started.load(); }));
    worker.join();
    EXPECT_TRUE(pump_until([&] { return progress->timers.size() >= 2; }));
    EXPECT_FALSE(progress->timer_off_gui_thread);
    shell->kill_timer();
    auto ticks = progress->timers.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(progress->timers.size(), ticks);
    for (auto id : progress->timers) EXPECT_EQ(id, wizard_timer_id);
}

TEST_F(WizardFrame, AWorkerStartingTheTimerWhileTheWizardClosesIsNoError) {
    start();
    gui_stop_cross_thread_calls();
    bool threw = false;
    std::thread worker([&] {
        try {
            shell->set_timer(200);
        } catch (const tk_exception&) {
            threw = true;
        }
    });
    worker.join();
    gui_allow_cross_thread_calls();
    EXPECT_FALSE(threw);
    EXPECT_FALSE(shell->is_timer_running());
}

TEST_F(WizardFrame, F1AndTheHelpButtonAskThePageOnShowForHelp) {
    start();
    QTest::keyClick(shell.get(), Qt::Key_F1);
    btn(idc_help)->click();
    EXPECT_EQ(log, (std::vector<std::string>{"help 103", "help 103"}));
    // F1 in a control of a page reaches the frame too.
    auto* edit = new QLineEdit(mysql);
    btn(idc_next)->click();
    log.clear();
    QTest::keyClick(edit, Qt::Key_F1);
    EXPECT_EQ(log, std::vector<std::string>{"help 123"});
}

TEST_F(WizardFrame, TheErrorListTakesTextsUpToItsLimit) {
    for (int i = 0; i < 25; ++i) EXPECT_EQ(shell->append_error("error " + std::to_string(i), 20), i < 20);
    auto list = shell->error_list();
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.front(), "error 0");
    EXPECT_EQ(list.back(), "error 19");
    shell->clear_errors();
    EXPECT_EQ(shell->error_count(), 0u);
}

TEST_F(WizardFrame, BoxesOfAnInitializedFrameAreOwnedByItAndCaptionedWithTheTitle) {
    start();
    seam.box_answers = {id_ok, id_ok, id_yes};
    wizard_shell::error(std::wstring(L"e"));
    wizard_shell::message(L"m");
    EXPECT_TRUE(wizard_shell::question(L"q"));
    ASSERT_EQ(seam.boxes.size(), 3u);
    // The title ends in a blank: two blanks before the word.
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(seam.boxes[1].caption, "Fennrow 1.5  Message");
    EXPECT_EQ(seam.boxes[2].caption, "Fennrow 1.5  Question");
    for (const auto& b : seam.boxes) EXPECT_EQ(b.owner, shell.get());
}

TEST_F(WizardFrame, HelpOpensTheFileBesideTheProgramOrSaysItIsMissing) {
    start();
    const std::wstring path = wizard_shell::help_file_path();
    const std::string native = QString::fromStdWString(path).toStdString();
    EXPECT_EQ(QString::fromStdWString(path), QCoreApplication::applicationFilePath() + ".html");
    std::remove(native.c_str());

    wizard_shell::display_help(1012);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(seam.boxes[0].text, "Help file does not exist. Reinstall the program.");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    // A folder of that name is no help file.
    ASSERT_EQ(::mkdir(native.c_str(), 0700), 0);
    wizard_shell::display_help();
    ::rmdir(native.c_str());
    EXPECT_EQ(seam.boxes.size(), 2u);
    EXPECT_TRUE(seam.helps.empty());

    if (FILE* f = std::fopen(native.c_str(), "w")) {
        std::fputs("<html><body><a name=\"1012\"></a>x</body></html>", f);
        std::fclose(f);
    }
    wizard_shell::display_help(1012);
    wizard_shell::display_help();
    std::remove(native.c_str());
    ASSERT_EQ(seam.helps.size(), 2u);
    EXPECT_EQ(seam.helps[0].file, QString::fromStdWString(path));
    EXPECT_EQ(seam.helps[0].command, help_context);
    EXPECT_EQ(seam.helps[0].topic, 1012u);
    EXPECT_EQ(seam.helps[1].command, help_display_topic);
    EXPECT_EQ(seam.helps[1].topic, 0u);
    EXPECT_EQ(seam.boxes.size(), 2u);
}

TEST(WizardFrameLife, InitializedOnlyBetweenFirstActivationAndDestruction) {
    script_seam seam;
    std::vector<std::string> log;
    {
        wizard_shell shell(wizard_title, 501, 311, 312);
        EXPECT_EQ(wizard_shell::peek(), &shell);
        script_page page(shell, 103, wizb_next, 0, log);
        shell.add_page(&page);
        EXPECT_FALSE(wizard_shell::is_initialized());
        shell.show();
        EXPECT_TRUE(wizard_shell::is_initialized());
        shell.set_timer(1000);
    }
    EXPECT_EQ(wizard_shell::peek(), nullptr);
    EXPECT_FALSE(wizard_shell::is_initialized());
    EXPECT_THROW(wizard_shell::ptr(), tk_mail_assertion);
}

TEST(WizardFrameLife, PagesDestroyedBeforeTheFrameLeaveIt) {
    script_seam seam;
    std::vector<std::string> log;
    wizard_shell shell(wizard_title, 0, 0, 0);
    {
        script_page page(shell, 103, wizb_next, 0, log);
        shell.add_page(&page);
        EXPECT_EQ(shell.page_count(), 1);
    }
    EXPECT_EQ(shell.page_at(0), nullptr);
    // Nothing is left to activate, and nothing breaks.
    shell.show();
    EXPECT_EQ(shell.active_page(), nullptr);
    EXPECT_FALSE(shell.timer_message(wizard_timer_id));
}

}  // namespace
