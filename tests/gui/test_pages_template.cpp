// The page template: activation, Back, Next and Cancel rules, the check-box
// toggle, and failures of a page's own code kept on the page.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "g_err_dlg.h"
#include "g_wiz_pg.h"
#include "page_test_support.h"
#include "sql_excep.h"
#include "tk_excep.h"

namespace {

using namespace page_test;

// A page whose operations do what the test says and count their calls.
class probe_page : public wizard_page<150, wizb_back | wizb_next, psp_has_help> {
public:
    probe_page() {
        auto* root = new QVBoxLayout(this);
        root->addWidget(gui_make_check(this, 1202, QStringLiteral("&Include field names in CSV file")));
        root->addWidget(gui_make_button(this, 1103, QStringLiteral("Browse...")));
        on_click(1202, [this] { invert_chbox(1202); });
    }
    bool page_init() override {
        ++inits;
        if (init_throws) throw tk_exception(std::string("listing failed"), 1);
        return init_answer;
    }
    int on_next() override {
        ++nexts;
        if (next_throws_level >= 0) {
            if (next_throws_level == 3) throw std::runtime_error("out of range");
            throw tk_exception(std::string("next failed"), static_cast<uint32_t>(next_throws_level));
        }
        return next_answer;
    }
    int on_back() override {
        ++backs;
        return back_answer;
    }
    void on_help() override { ++helps; }

    bool init_answer = true;
    bool init_throws = false;
    int next_throws_level = -1;
    int next_answer = page_go_on;
    int back_answer = page_go_on;
    int inits = 0, nexts = 0, backs = 0, helps = 0;
};

class PageTemplate : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        first = add(std::make_unique<script_page>(*shell, 103, wizb_next, psp_hide_header, log));
        probe = add(std::make_unique<probe_page>());
        tail = add_tail();
    }
    script_page* first = nullptr;
    probe_page* probe = nullptr;
    script_page* tail = nullptr;
};

TEST_F(PageTemplate, ActivationPostsTheButtonsAndMakesThePageCurrent) {
    start();
    press(idc_next);
    EXPECT_EQ(active_id(), 150u);
    EXPECT_EQ(probe->inits, 1);
    EXPECT_EQ(shell->wizard_buttons(), wizb_back | wizb_next);
    EXPECT_EQ(shell->current_page(), probe);
    EXPECT_TRUE(shell->button(idc_back)->isEnabled());
    EXPECT_TRUE(shell->button(idc_next)->isEnabled());
    EXPECT_TRUE(shell->button(idc_help)->isEnabled());
    // Every activation runs the page's set-up again.
    press(idc_back);
    press(idc_next);
    EXPECT_EQ(probe->inits, 2);
}

TEST_F(PageTemplate, APageThatRefusesActivationIsSkipped) {
    probe->init_answer = false;
    start();
    press(idc_next);
    EXPECT_EQ(active_id(), 116u);
    EXPECT_EQ(probe->inits, 1);
    press(idc_back);
    EXPECT_EQ(active_id(), 103u);
}

TEST_F(PageTemplate, NextAndBackAnswersDecideWhereTheWizardGoes) {
    start();
    press(idc_next);
    probe->next_answer = page_refuse;
    press(idc_next);
    EXPECT_EQ(active_id(), 150u);
    probe->next_answer = page_go_on;
    press(idc_next);
    EXPECT_EQ(active_id(), 116u);
    press(idc_back);
    probe->back_answer = page_refuse;
    press(idc_back);
    EXPECT_EQ(active_id(), 150u);
    EXPECT_EQ(probe->backs, 1);
    // A dialog id goes to that page.
    probe->back_answer = 103;
    press(idc_back);
    EXPECT_EQ(active_id(), 103u);
}

TEST_F(PageTemplate, CancelAsksWithNoAsTheDefaultAndNoKeepsTheWizard) {
    start();
    press(idc_next);
    seam.box_answers = {id_no};
    press(idc_cancel);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Are you sure you want to exit the wizard?");
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Question");
    EXPECT_EQ(seam.boxes[0].flags, mb_yesno | mb_iconquestion | mb_defbutton2);
    EXPECT_TRUE(shell->isVisible());
    EXPECT_EQ(active_id(), 150u);
    seam.box_answers = {id_yes};
    press(idc_cancel);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 0);
}

TEST_F(PageTemplate, HelpReachesThePage) {
    start();
    press(idc_next);
    press(idc_help);
    EXPECT_EQ(probe->helps, 1);
}

TEST_F(PageTemplate, PlainCheckBoxIsToggledByThePageOnly) {
    start();
    press(idc_next);
    auto* box = child<QCheckBox>(probe, 1202);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_FALSE(box->isChecked());
    probe->invert_chbox(1202);
    EXPECT_TRUE(box->isChecked());
    // A control that is not a check box is an internal error.
    try {
        probe->invert_chbox(1103);
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("g_wiz_pg", 127));
        EXPECT_EQ(e.level(), 2u);
    }
}

TEST_F(PageTemplate, EnableAndShowControls) {
    start();
    probe->enable_ctrl(1103, false);
    EXPECT_FALSE(child<QPushButton>(probe, 1103)->isEnabled());
    probe->enable_ctrl(1103, true);
    EXPECT_TRUE(child<QPushButton>(probe, 1103)->isEnabled());
    probe->show_ctrl(1103, false);
    EXPECT_TRUE(child<QPushButton>(probe, 1103)->isHidden());
}

// A failure of the page's own code is reported and the page stays.
struct failure_case {
    int level;           // 0, 1 or 3 (a std::exception)
    int dialog_answer;   // for the level-0 dialog
    const char* box_text;
};

class PageFailures : public PageTemplate, public ::testing::WithParamInterface<failure_case> {};

TEST_P(PageFailures, NextFailureIsReportedAndThePageStays) {
    const failure_case c = GetParam();
    start();
    press(idc_next);
    probe->next_throws_level = c.level;
    std::vector<QString> dialogs;
    seam.on_dialog = [&](QDialog& d) {
        dialogs.push_back(d.objectName());
        click_control(d, c.dialog_answer);
    };
    press(idc_next);
    EXPECT_EQ(active_id(), 150u);
    EXPECT_EQ(probe->nexts, 1);
    if (c.level == 0) {
        // The continue-or-abort dialog; Abort too leaves the user on the page.
        EXPECT_EQ(dialogs, std::vector<QString>{"115"});
        EXPECT_TRUE(seam.boxes.empty());
    } else {
        ASSERT_EQ(seam.boxes.size(), 1u);
        EXPECT_EQ(seam.boxes[0].text, c.box_text);
        EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
        EXPECT_TRUE(dialogs.empty());
    }
    EXPECT_TRUE(shell->isVisible());
    // The wizard still works.
    probe->next_throws_level = -1;
    press(idc_next);
    EXPECT_EQ(active_id(), 116u);
}

INSTANTIATE_TEST_SUITE_P(Levels, PageFailures,
                         ::testing::Values(failure_case{0, idc_err_abort, ""}, failure_case{0, idc_err_continue, ""},
                                           failure_case{1, 0, "next failed"}, failure_case{3, 0, "out of range"}),
                         [](const auto& info) {
                             const failure_case& c = info.param;
                             std::string name = "level" + std::to_string(c.level);
                             if (c.level == 0) name += c.dialog_answer == idc_err_abort ? "_abort" : "_continue";
                             return name;
                         });

TEST_F(PageTemplate, AFailedSetUpIsReportedAndThePageIsStillShown) {
    probe->init_throws = true;
    start();
    press(idc_next);
    EXPECT_EQ(active_id(), 150u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "listing failed");
    // The buttons were posted before the set-up ran.
    EXPECT_EQ(shell->wizard_buttons(), wizb_back | wizb_next);
    press(idc_back);
    EXPECT_EQ(active_id(), 103u);
}

TEST_F(PageTemplate, AFailingButtonHandlerIsReported) {
    start();
    press(idc_next);
    // A click handler that throws: the page reports it and goes on.
    probe->enable_ctrl(1202, true);
    auto* box = child<QCheckBox>(probe, 1202);
    QObject::connect(box, &QAbstractButton::clicked, probe,
                     [] { gui_guarded([] { throw sql_exception(std::string("Lost connection"), 2013); }); });
    seam.on_dialog = [&](QDialog& d) { click_control(d, idc_err_continue); };
    box->click();
    EXPECT_EQ(seam.dialog_names, std::vector<QString>{"115"});
    EXPECT_TRUE(shell->isVisible());
}

}  // namespace
