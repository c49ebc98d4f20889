#include "kvr_progress.h"

#include <algorithm>
#include <cmath>

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "g_text.h"
#include "g_thread.h"
#include "g_wiz_sh.h"
#include "kvr_conv.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "wformat.h"

namespace {

// The finish page lists at most this many errors of a run.
constexpr std::size_t error_list_limit = 20;

std::wstring status_for(const std::wstring& table, uint64_t record_count, uint64_t current_record,
                        bool definitions_only) {
    if (record_count != 0 && !definitions_only)
        return plat::wformat(L"Processing table '%s' (record %I64u of %I64u)", table.c_str(), current_record,
                             record_count);
    return plat::wformat(L"Processing table '%s'", table.c_str());
}

}  // namespace

uint32_t progress_percent(uint32_t table_count, uint32_t tables_done, uint64_t record_count,
                          uint64_t current_record) {
    if (table_count == 0) return 0;
    const uint64_t finished = std::min(tables_done, table_count);
    uint64_t percent = finished * 100 / table_count;
    if (record_count != 0) {
        // The current entry's share; a table that grew while it was read
        // counts as whole.
        const unsigned __int128 records = std::min(current_record, record_count);
        const auto share = static_cast<uint64_t>(records * 100 / record_count);
        percent += share / table_count;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(percent, 100));
}

std::wstring progress_status(const std::wstring& table, uint64_t record_count, uint64_t current_record,
                             bool definitions_only) {
    if (table.empty()) return std::wstring();
    std::wstring text = status_for(table, record_count, current_record, definitions_only);
    if (text.size() <= progress_status_limit) return text;
    // A long name is shortened; the numbers stay whole.
    const std::wstring ellipsis = L"...";
    const std::size_t excess = text.size() - progress_status_limit + ellipsis.size();
    const std::size_t keep = table.size() > excess ? table.size() - excess : 0;
    return status_for(table.substr(0, keep) + ellipsis, record_count, current_record, definitions_only);
}

uint32_t progress_creep(uint32_t ticks) {
    const double value = std::atan(static_cast<double>(ticks) / 10.0) * 100.0 / std::asin(1.0);
    return std::min<uint32_t>(static_cast<uint32_t>(std::clamp(value, 0.0, 99.0)), 99);
}

progress_page::progress_page(QWidget* parent) : wizard_page(parent), tk_thread(false) {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 16, 20, 16);
    root->addWidget(gui_make_static(
        this, 0, QStringLiteral("Database conversion is in progress. Please wait until the wizard completes")));
    root->addWidget(gui_make_static(this, 0, QStringLiteral("converting your MySQL database into CSV format.")));
    root->addSpacing(24);
    QLabel* status = gui_make_static(this, idc_progress_status, QString());
    status->setMinimumWidth(200);
    root->addWidget(status);
    auto* bar = new QProgressBar(this);
    bar->setObjectName(QString::number(idc_progress_bar));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    root->addWidget(bar);
    root->addStretch(1);
}

progress_page::~progress_page() {
    try {
        stop_worker();
        // The hooks name the frame; a run without this page has no use for them.
        if (kellvar_converter* converter = kellvar_converter::peek()) {
            converter->on_run_start = nullptr;
            converter->on_run_error = nullptr;
        }
    } catch (...) {
        // Nothing may leave a destructor; the thread has been joined by now.
    }
}

tk_thread_functor* progress_page::create_functor() { return kellvar_converter::instance(); }

bool progress_page::page_init() {
    tk_log(1, "progress_page::page_init()");
    wizard_shell* shell = wizard_shell::ptr();
    kellvar_converter* converter = kellvar_converter::instance();
    // No button until the run is over; Cancel stays.
    shell->set_wizard_buttons(0);
    if (auto* bar = control<QProgressBar>(idc_progress_bar)) bar->setValue(0);
    if (auto* status = control<QLabel>(idc_progress_status)) status->clear();

    // A page shown again starts a new run.
    stop_worker();
    shell->clear_errors();
    converter->set_done(false);
    // The run starts the timer on its own thread once its scope is open.
    converter->on_run_start = [] { wizard_shell::ptr()->set_timer(progress_timer_period_ms); };
    // A failure that ends the run: an error box, and a line for the finish page.
    converter->on_run_error = [](const std::string& text) {
        wizard_shell::error(text);
        if (!wizard_shell::is_initialized()) return;
        if (wizard_shell* frame = wizard_shell::peek()) {
            std::string line = text;
            std::replace(line.begin(), line.end(), '\n', ' ');
            frame->append_error(line, error_list_limit);
        }
    };
    start();
    return true;
}

bool progress_page::on_kill_active() {
    tk_log(2, "progress_page::on_kill_active");
    stop_worker();
    return true;
}

bool progress_page::on_cancel() {
    tk_log(2, "progress_page::on_cancel");
    m_asking = true;
    bool leave = false;
    try {
        leave = wizard_page::on_cancel();
    } catch (...) {
        m_asking = false;
        throw;
    }
    m_asking = false;
    if (leave) stop_worker();
    return leave;
}

void progress_page::on_help() { wizard_shell::display_help(); }

void progress_page::notify_reset() { stop_worker(); }

void progress_page::stop_worker() {
    if (is_running()) {
        tk_log(2, "progress_page::stop_worker - stopping the conversion");
        const kellvar_converter* converter = kellvar_converter::peek();
        const bool unfinished = converter && !converter->is_run_done();
        // A worker waiting for the window thread (a dialog, the timer) gets
        // its answer at once; only then can it see the stop.
        const bool were_stopped = gui_cross_thread_calls_stopped();
        gui_stop_cross_thread_calls();
        // A run that is done only returns; its connection stays as it is.
        if (unfinished) stop();
        join();
        if (!were_stopped) gui_allow_cross_thread_calls();
        // The files are incomplete: no page may call this run a success.
        if (unfinished)
            if (wizard_shell* shell = wizard_shell::peek()) shell->append_error(progress_stopped_text, error_list_limit);
    } else {
        join();
    }
    tk_thread::close();
    if (wizard_shell* shell = wizard_shell::peek()) shell->kill_timer();
}

void progress_page::on_timer(uint32_t timer_id) {
    (void)timer_id;
    kellvar_converter* converter = kellvar_converter::peek();
    if (!converter) throw tk_mail_assertion("kvr_shel", 368);
    if (m_asking) return;

    const udb_progress& progress = converter->progress;
    const uint32_t table_count = progress.table_count;
    const uint32_t tables_done = progress.tables_done;
    const uint64_t record_count = progress.record_count;
    const uint64_t current_record = progress.current_record;
    const std::wstring table = progress.current_table.get();
    const bool definitions_only = converter->definitions_only;
    // Read last: when it is set, everything the run wrote before is seen.
    const bool done = converter->is_run_done();

    const uint32_t percent = progress_percent(table_count, tables_done, record_count, current_record);
    wizard_shell* shell = wizard_shell::ptr();
    if (done) {
        shell->kill_timer();
        shell->set_cur_sel_by_id(progress_next_page_id);
        return;
    }
    auto* bar = control<QProgressBar>(idc_progress_bar);
    auto* status = control<QLabel>(idc_progress_status);
    if (percent < 100) {
        if (bar) bar->setValue(static_cast<int>(percent));
        if (status) status->setText(gui_qstr(progress_status(table, record_count, current_record, definitions_only)));
    } else {
        if (status) status->setText(QStringLiteral("Applying format settings"));
        if (bar) bar->setValue(static_cast<int>(progress_creep(m_ticks)));
        ++m_ticks;
    }
}
