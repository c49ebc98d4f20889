// The progress page: the conversion on its worker thread, the timer's
// refresh of bar and status, the move to the finish page, Cancel during a
// run, and a page that goes while its worker still runs. Also the finish
// page's profile, run by the console program unchanged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

#include "test_files.h"
#include "g_err_dlg.h"
#include "g_f_dlg.h"
#include "g_finish.h"
#include "g_thread.h"
#include "kvr_finish.h"
#include "kvr_progress.h"
#include "page_test_support.h"
#include "tk_utils.h"

extern char** environ;

namespace {

using namespace page_test;

const std::string bom = "\xEF\xBB\xBF";
const QString success_text = QString::fromWCharArray(finish_default_success_text);
const QString error_text = QString::fromWCharArray(finish_default_error_text);

using fennrow_test::read_file;

// The frame with a page before the progress page, the progress page and the
// finish page, as the wizard has them. Pages go in reverse order, then the
// frame, as the program does it.
class ProgressFixture : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        before = add(std::make_unique<script_page>(*shell, 127, wizb_back | wizb_next, psp_has_help, log));
        progress = add(std::make_unique<progress_page>());
        progress->set_header("Step 4 of 4", "Database conversion is in progress");
        finish = add(std::make_unique<kvr_finish_page>(finish_default_error_text, finish_default_success_text, L"kvr"));
    }
    void TearDown() override {
        for (auto it = pages.rbegin(); it != pages.rend(); ++it) it->reset();
        PageTest::TearDown();
    }
    QProgressBar* bar() const { return child<QProgressBar>(progress, idc_progress_bar); }
    QString status() const { return child<QLabel>(progress, idc_progress_status)->text(); }
    QString finish_result() const { return child<QLabel>(finish, idc_finish_result)->text(); }
    QString finish_errors() const {
        return finish->findChild<QPlainTextEdit*>(QString::number(idc_finish_errors))->toPlainText();
    }
    void tick() { progress->on_timer(wizard_timer_id); }

    script_page* before = nullptr;
    progress_page* progress = nullptr;
    kvr_finish_page* finish = nullptr;
};

// The timer's refresh, from counters set by the test (no run).

class ProgressTimer : public ProgressFixture {
protected:
    void set(uint32_t tables, uint32_t done, const std::wstring& table, uint64_t records, uint64_t record) {
        conv.progress.table_count = tables;
        conv.progress.tables_done = done;
        conv.progress.current_table = table;
        conv.progress.record_count = records;
        conv.progress.current_record = record;
    }
};

TEST_F(ProgressTimer, ShowsThePercentageAndTheStatusOfTheCurrentTable) {
    set(4, 2, L"orders", 200, 50);
    tick();
    EXPECT_EQ(bar()->value(), 56);
    EXPECT_EQ(status(), "Processing table 'orders' (record 50 of 200)");

    set(4, 3, L"empty", 0, 0);
    tick();
    EXPECT_EQ(bar()->value(), 75);
    EXPECT_EQ(status(), "Processing table 'empty'");

    conv.definitions_only = true;
    set(4, 3, L"defs", 10, 0);
    tick();
    EXPECT_EQ(status(), "Processing table 'defs'");
    conv.definitions_only = false;

    set(1, 0, L"huge", 6000000000ull, 4500000000ull);
    tick();
    EXPECT_EQ(bar()->value(), 75);
    EXPECT_EQ(status(), "Processing table 'huge' (record 4500000000 of 6000000000)");

    // Before the list is built: nothing to show.
    set(0, 0, L"", 0, 0);
    tick();
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(status(), "");
    EXPECT_EQ(progress->ticks(), 0u);
}

TEST_F(ProgressTimer, AtOneHundredTheBarCreepsWhileTheRunEnds) {
    set(2, 2, L"last", 10, 10);
    tick();
    EXPECT_EQ(status(), "Applying format settings");
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(progress->ticks(), 1u);
    for (int i = 0; i < 9; ++i) tick();
    EXPECT_EQ(progress->ticks(), 10u);
    tick();
    EXPECT_EQ(bar()->value(), 50);
    EXPECT_EQ(status(), "Applying format settings");
}

TEST_F(ProgressTimer, DoneKillsTheTimerAndMovesToTheFinishPage) {
    start();
    shell->set_timer(200);
    set(3, 1, L"orders", 10, 5);
    // The run's list, as a run leaves it.
    conv.table_queries = {{L"orders", L""}};
    conv.set_done(true);
    tick();
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_EQ(active_id(), 116u);
    // Nothing else: the bar and status keep what they had.
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(status(), "");
    EXPECT_EQ(finish_result(), success_text);
}

TEST(ProgressPageAlone, ATickWithoutConverterIsAnInternalError) {
    ASSERT_EQ(kellvar_converter::peek(), nullptr);
    wizard_shell shell(L"Fennrow 1.5 ", 501, 311, 312);
    progress_page page;
    shell.add_page(&page);
    try {
        page.on_timer(wizard_timer_id);
        ADD_FAILURE() << "no assertion";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2);
        EXPECT_EQ(std::string(e.what()), std::string(tk_mail_assertion("kvr_shel", 368).what()));
    }
    page.setParent(nullptr);
}

// Whole runs against the test server.

class ProgressRun : public ProgressFixture {
protected:
    void SetUp() override {
        ProgressFixture::SetUp();
        db = std::make_unique<fennrow_test::test_database>("gui_run");
        db->conn().exec(
            "CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40));"
            "INSERT INTO customers VALUES (1, 'Anna'), (2, 'Zo\xc3\xab'), (3, 'Kim');"
            "CREATE TABLE empty_one (id INT, note TEXT);"
            "CREATE TABLE locked_t (id INT); INSERT INTO locked_t VALUES (7)");
        connect_to_server();
        conv.source = tk_from_utf8(db->name());
        conv.destination = tk_from_utf8(out.path());
        conv.mode = 0;
        conv.include_field_names = true;
        conv.delimiter_index = 1;
        gui_forget_chosen_folder();
        start();
    }
    void TearDown() override {
        ProgressFixture::TearDown();
        db.reset();
    }
    // From the page before to the progress page: the run starts.
    void go() {
        ASSERT_EQ(active_id(), 127u);
        press(idc_next);
        ASSERT_EQ(active_id(), 108u);
    }
    bool wait_for_finish_page() {
        return pump_until([&] { return active_id() == 116u; });
    }
    std::string csv(const std::string& name) const { return read_file(out.sub(name)); }

    temp_dir out;
    std::unique_ptr<fennrow_test::test_database> db;
};

const std::string customers_csv = bom + "id;name\r\n1;Anna\r\n2;Zo\xc3\xab\r\n3;Kim\r\n";
const std::string empty_csv = bom + "id;note\r\n";
const std::string locked_csv = bom + "id\r\n7\r\n";

FENNROW_SERVER_TESTS(ProgressRun);

TEST_F(ProgressRun, ConvertsOnTheWorkerPollsTheCountersAndMovesToTheFinishPage) {
    fennrow_test::test_sql_conn locker(db->name());
    locker.exec("LOCK TABLES locked_t WRITE");
    conv.selected_tables = {L"customers", L"empty_one", L"locked_t"};
    go();
    // The page took the buttons; Cancel stays.
    EXPECT_FALSE(shell->button(idc_back)->isEnabled());
    EXPECT_FALSE(shell->button(idc_next)->isEnabled());
    EXPECT_TRUE(shell->button(idc_cancel)->isEnabled());
    EXPECT_EQ(shell->findChild<QLabel*>(QString::number(idc_header_title))->text(), "Step 4 of 4");

    // The run waits for the locked table: the timer shows it, two of three done.
    ASSERT_TRUE(pump_until([&] { return status() == "Processing table 'locked_t'"; })) << status().toStdString();
    EXPECT_EQ(bar()->value(), 66);
    EXPECT_TRUE(shell->is_timer_running());
    EXPECT_TRUE(progress->is_running());
    EXPECT_EQ(csv("customers.csv"), customers_csv);

    locker.exec("UNLOCK TABLES");
    ASSERT_TRUE(wait_for_finish_page());
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_FALSE(progress->is_running());
    EXPECT_TRUE(conv.is_run_done());
    EXPECT_EQ(conv.progress.table_count.load(), 0u);
    EXPECT_EQ(csv("customers.csv"), customers_csv);
    EXPECT_EQ(csv("empty_one.csv"), empty_csv);
    EXPECT_EQ(csv("locked_t.csv"), locked_csv);
    EXPECT_EQ(finish_result(), success_text);
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_TRUE(seam.dialog_names.empty());
    EXPECT_FALSE(shell->button(idc_cancel)->isEnabled());
}

TEST_F(ProgressRun, ErrorsOfTheRunAreListedOnTheFinishPage) {
    conv.selected_tables = {L"customers", L"no_such_table"};
    // The level-0 report offers Continue and Abort: Continue.
    seam.on_dialog = [](QDialog& d) { click_control(d, 2); };
    go();
    ASSERT_TRUE(wait_for_finish_page());
    ASSERT_EQ(seam.dialog_names.size(), 1u);
    EXPECT_EQ(seam.dialog_names[0], "115");
    EXPECT_EQ(finish_result(), error_text);
    EXPECT_EQ(finish_errors(), "Table no_such_table not exists\n\n");
    EXPECT_EQ(conv.errors_reported.load(), 1u);
    EXPECT_EQ(csv("customers.csv"), customers_csv);
}

// Abort in the error dialog: while the dialog is open the status names the
// table it is about; the finish page says the run was stopped and lists the
// tables and queries it did not convert.
TEST_F(ProgressRun, AbortShowsAStoppedRunAndWhatWasNotConverted) {
    conv.table_queries = {{L"first_q", L"SELECT * FROM customers"}};
    conv.selected_tables = {L"customers", L"no_such_table", L"empty_one"};
    QString status_in_dialog;
    seam.on_dialog = [&](QDialog& d) {
        tick();
        status_in_dialog = status();
        click_control(d, 1);  // Abort
    };
    go();
    ASSERT_TRUE(wait_for_finish_page());
    EXPECT_EQ(status_in_dialog, "Processing table 'no_such_table'");
    EXPECT_TRUE(conv.run_stopped.load());
    EXPECT_EQ(child<QLabel>(finish, idc_finish_title)->text(), QString::fromWCharArray(finish_stopped_title));
    EXPECT_EQ(finish_result(), QString::fromWCharArray(finish_stopped_text));
    EXPECT_EQ(finish_errors(), "Table no_such_table not exists\n\nNot converted:\nno_such_table\nempty_one\n");
    EXPECT_EQ(csv("customers.csv"), customers_csv);
    EXPECT_FALSE(exists(out.sub("empty_one.csv")));
    // A query left over is marked as one.
    finish_outcome outcome;
    outcome.stopped = true;
    outcome.not_converted = {{L"orders", L""}, {L"big", L"SELECT 1"}};
    finish_show_result(*finish, outcome, finish->success_text(), finish->error_text());
    EXPECT_EQ(finish_errors(), "Not converted:\norders\nbig (query)\n");
}

// A table that failed earlier and was continued has no file either: after a
// later Abort it is listed with the tables the run did not reach.
TEST_F(ProgressRun, AfterAbortEveryTableWithoutACompleteFileIsListed) {
    conv.selected_tables = {L"missing_one", L"customers", L"missing_two", L"empty_one"};
    int reports = 0;
    seam.on_dialog = [&](QDialog& d) { click_control(d, ++reports == 1 ? idc_err_continue : idc_err_abort); };
    go();
    ASSERT_TRUE(wait_for_finish_page());
    EXPECT_EQ(reports, 2);
    EXPECT_TRUE(conv.run_stopped.load());
    EXPECT_EQ(finish_errors(), "Table missing_one not exists\n\nTable missing_two not exists\n\n"
                               "Not converted:\nmissing_one\nmissing_two\nempty_one\n");
    EXPECT_EQ(csv("customers.csv"), customers_csv);
}

// More errors than the list keeps: the last line says how many more; the
// list shows from its top.
TEST_F(ProgressFixture, ErrorsBeyondTheListsLimitAreCountedOnItsLastLine) {
    start();
    for (int i = 1; i <= 23; ++i) shell->append_error("error " + std::to_string(i), 20);
    ASSERT_TRUE(shell->set_cur_sel_by_id(116));
    const QString text = finish_errors();
    EXPECT_TRUE(text.startsWith("error 1\n\nerror 2\n\n"));
    EXPECT_TRUE(text.endsWith("error 20\n\n\u2026 and 3 more\n\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("error 21"));
    auto* edit = finish->findChild<QPlainTextEdit*>(QString::number(idc_finish_errors));
    EXPECT_EQ(edit->textCursor().position(), 0);
    EXPECT_EQ(edit->verticalScrollBar()->value(), 0);
}

TEST_F(ProgressRun, AFailureThatEndsTheRunIsShownAndListed) {
    conv.selected_tables = {L"customers"};
    go();
    ASSERT_TRUE(wait_for_finish_page());
    ASSERT_TRUE(conv.on_run_error);
    // The run's last resort for a std::exception, as the run calls it.
    conv.on_run_error("out of memory\nwhile converting");
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "out of memory\nwhile converting");
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(shell->error_list(), std::vector<std::string>{"out of memory while converting"});
}

TEST_F(ProgressRun, CancelAsksThenStopsTheRunAndWaitsForItsThread) {
    fennrow_test::test_sql_conn locker(db->name());
    locker.exec("LOCK TABLES locked_t WRITE");
    conv.selected_tables = {L"customers", L"locked_t", L"empty_one"};
    go();
    ASSERT_TRUE(pump_until([&] { return status() == "Processing table 'locked_t'"; }));

    // No: the run goes on.
    seam.box_answers = {id_no};
    press(idc_cancel);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Are you sure you want to exit the wizard?");
    EXPECT_EQ(seam.boxes[0].flags, mb_yesno | mb_iconquestion | mb_defbutton2);
    EXPECT_TRUE(shell->isVisible());
    EXPECT_TRUE(progress->is_running());
    EXPECT_FALSE(conv.is_run_done());

    // Yes: stopped, joined, closed; the table that was waited for is not written.
    seam.box_answers = {id_yes};
    press(idc_cancel);
    EXPECT_EQ(seam.boxes.size(), 2u);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 0);
    EXPECT_FALSE(progress->is_running());
    EXPECT_TRUE(conv.is_run_done());
    EXPECT_TRUE(conv.stop_requested());
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_FALSE(gui_cross_thread_calls_stopped());
    locker.exec("UNLOCK TABLES");
    EXPECT_EQ(csv("customers.csv"), customers_csv);
    EXPECT_FALSE(exists(out.sub("locked_t.csv")));
    EXPECT_FALSE(exists(out.sub("empty_one.csv")));
    // A stop is no error.
    EXPECT_TRUE(seam.dialog_names.empty());
    EXPECT_EQ(seam.boxes.size(), 2u);
}

TEST_F(ProgressRun, DestroyingThePageReleasesAWorkerThatWaitsForTheWindowThread) {
    conv.selected_tables = {L"customers"};
    go();
    // The window thread runs no events: the worker's first call to it (the
    // timer's start) waits.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (gui_waiting_calls() == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(gui_waiting_calls(), 1);
    ASSERT_FALSE(conv.is_run_done());

    pages[1].reset();  // the progress page
    progress = nullptr;
    EXPECT_EQ(gui_waiting_calls(), 0);
    EXPECT_TRUE(conv.is_run_done());
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_FALSE(gui_cross_thread_calls_stopped());
    EXPECT_FALSE(exists(out.sub("customers.csv")));
    // The hooks that name the frame went with the page.
    EXPECT_FALSE(conv.on_run_start);
    EXPECT_FALSE(conv.on_run_error);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shell->is_timer_running());
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(ProgressRun, LeavingThePageStopsTheWorkerAndJoinsIt) {
    fennrow_test::test_sql_conn locker(db->name());
    locker.exec("LOCK TABLES locked_t WRITE");
    conv.selected_tables = {L"locked_t"};
    go();
    ASSERT_TRUE(pump_until([&] { return status() == "Processing table 'locked_t'"; }));
    ASSERT_TRUE(shell->set_cur_sel_by_id(116));
    EXPECT_FALSE(progress->is_running());
    EXPECT_TRUE(conv.is_run_done());
    EXPECT_FALSE(shell->is_timer_running());
    locker.exec("UNLOCK TABLES");
    EXPECT_FALSE(exists(out.sub("locked_t.csv")));
    // A stopped run is no success: the page says it was stopped and what
    // was not converted.
    EXPECT_EQ(active_id(), 116u);
    EXPECT_EQ(child<QLabel>(finish, idc_finish_title)->text(), QString::fromWCharArray(finish_stopped_title));
    EXPECT_EQ(finish_result(), QString::fromWCharArray(finish_stopped_text));
    EXPECT_EQ(finish_errors(), QString(progress_stopped_text) + "\n\nNot converted:\nlocked_t\n");
}

// Runs a program, its output into a file; the exit status.
int run_program(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1000 - rc;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -2000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3000;
}

TEST_F(ProgressRun, TheSavedProfileRunsInTheConsoleProgramUnchanged) {
    conv.selected_tables = {L"customers", L"empty_one"};
    conv.table_queries = {{L"first_two", L"SELECT id, name\nFROM customers\nWHERE id < 3 ORDER BY id"}};
    go();
    ASSERT_TRUE(wait_for_finish_page());
    EXPECT_EQ(finish_result(), success_text);
    const std::string first_two = bom + "id;name\r\n1;Anna\r\n2;Zo\xc3\xab\r\n";
    ASSERT_EQ(csv("first_two.csv"), first_two);
    ASSERT_EQ(csv("customers.csv"), customers_csv);

    temp_dir profiles;
    const std::string profile = profiles.sub("run.kvr");
    seam.file_answers = {QString::fromStdString(profiles.sub("run"))};
    child<QAbstractButton>(finish, idc_finish_store)->click();
    ASSERT_TRUE(exists(profile));
    EXPECT_TRUE(seam.boxes.empty());

    // The console program converts the same tables from the profile alone.
    ASSERT_EQ(::unlink(out.sub("customers.csv").c_str()), 0);
    ASSERT_EQ(::unlink(out.sub("empty_one.csv").c_str()), 0);
    ASSERT_EQ(::unlink(out.sub("first_two.csv").c_str()), 0);
    const std::string log_file = profiles.sub("brennock.out");
    const int status = run_program({FENNROW_BINARY_DIR "/agent/BRENNOCK", "--profile=" + profile}, log_file);
    EXPECT_EQ(status, 0) << read_file(log_file);
    EXPECT_EQ(csv("customers.csv"), customers_csv);
    EXPECT_EQ(csv("empty_one.csv"), empty_csv);
    EXPECT_EQ(csv("first_two.csv"), first_two);
}

}  // namespace
