// The progress page: runs the conversion on a worker thread as soon as it is
// shown, refreshes a progress bar and a status line from the converter's
// counters on every tick of the frame's timer, and moves to the finish page
// when the converter is done. Leaving the page, cancelling the wizard and
// destroying the page stop a running conversion and wait for its thread.
#pragma once
#include <cstdint>
#include <string>

#include "g_wiz_pg.h"
#include "tk_threa.h"

// Control ids of the progress dialog.
inline constexpr int idc_progress_status = 1323;
inline constexpr int idc_progress_bar = 1321;
// The finish page's dialog id.
inline constexpr uint32_t progress_next_page_id = 116;
// The period of the frame's progress timer.
inline constexpr uint32_t progress_timer_period_ms = 200;
// Listed for the finish page when a run was stopped before its end.
inline constexpr const char* progress_stopped_text = "The conversion was stopped before it was complete.";
// The status line holds at most this many characters.
inline constexpr std::size_t progress_status_limit = 256;

// The bar's position: the finished entries' share plus the current entry's
// share of its records, from 0 to 100. 0 when there is no entry.
uint32_t progress_percent(uint32_t table_count, uint32_t tables_done, uint64_t record_count,
                          uint64_t current_record);
// The status line: empty without a table; with record numbers while the
// table's count is known and records are written.
std::wstring progress_status(const std::wstring& table, uint64_t record_count, uint64_t current_record,
                             bool definitions_only);
// The bar after the last entry, while the run ends: creeps towards 100
// with the ticks and never reaches it.
uint32_t progress_creep(uint32_t ticks);

class kellvar_converter;

class progress_page : public wizard_page<108, wizb_back | wizb_next, psp_has_help>, public tk_thread {
public:
    explicit progress_page(QWidget* parent = nullptr);
    // Stops a running conversion and waits for its thread.
    ~progress_page() override;

    // Every activation: no buttons, the bar at 0, the conversion started.
    bool page_init() override;
    // Leaving stops a conversion that still runs.
    bool on_kill_active() override;
    // Asks; Yes stops the conversion, waits for it and lets the wizard close.
    bool on_cancel() override;
    void on_help() override;
    // One tick of the progress timer, whatever its id.
    void on_timer(uint32_t timer_id) override;
    // The wizard was cancelled.
    void notify_reset() override;

    // Asks a running conversion to stop and waits for its thread. Calls from
    // the worker to the window thread are refused meanwhile, so a worker that
    // waits for a dialog is released.
    void stop_worker();

    uint32_t ticks() const { return m_ticks; }

protected:
    // The converter singleton, not owned.
    tk_thread_functor* create_functor() override;

private:
    uint32_t m_ticks = 0;
    // The cancel question is on show: the page does not move meanwhile.
    bool m_asking = false;
};
