// The wizard's way of reporting a caught exception. Dialogs are shown on the
// GUI thread; a worker waits for the answer.
#include "g_err_hand.h"

#include <algorithm>

#include <QApplication>
#include <QWidget>

#include "g_err_dlg.h"
#include "g_err_tab.h"
#include "g_seam.h"
#include "g_thread.h"
#include "g_wiz_sh.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

// The finish page lists at most this many errors of a run.
constexpr std::size_t error_list_limit = 20;

// The calling thread's active window; a worker has none.
QWidget* caller_owner() { return gui_on_gui_thread() ? QApplication::activeWindow() : nullptr; }

}  // namespace

void gui_error_handler::handle(const tk_exception& e, bool no_abort) {
    tk_log(2, "error_handler::handle");
    if (e.level() == 2) {
        tk_log(3, "Internal error:\n%s", e.what());
        const std::wstring text = tk_from_utf8(e.what());
        QWidget* owner = caller_owner();
        gui_invoke([&] {
            dlg_error_ex dlg(text, owner);
            dlg.run();
        });
        gui_current_seam().end_process(-1);
        return;
    }

    // A broken connection gets the friendly text with the server's own below.
    std::string text = gui_connection_failure_text(e);
    if (text.empty()) {
        text = report_text(e);
    } else {
        const std::string context = get_context();
        if (!context.empty()) text = context + ": " + text;
    }
    tk_log(3, "Error:\n%s", text.c_str());
    std::replace(text.begin(), text.end(), '\n', ' ');
    if (wizard_shell::is_initialized())
        if (wizard_shell* shell = wizard_shell::peek()) shell->append_error(text, error_list_limit);

    if (e.level() == 1) {
        tk_log(1, "Got 1-level error");
        if (!suppress) {
            tk_log(1, "Step 1");
            wizard_shell::error(tk_from_utf8(text));
        }
        tk_log(1, "Step 2");
        return;
    }

    tk_log(1, "Got 0-level error");
    if (suppress) return;
    const std::wstring wide = tk_from_utf8(text);
    QWidget* owner = caller_owner();
    int answer = idc_err_abort;
    bool do_not_show = false;
    // When the GUI thread can no longer answer (the wizard is closing), the
    // report counts as an abort.
    if (!gui_invoke([&] {
            dlg_error_continue dlg(wide, owner);
            answer = dlg.run();
            do_not_show = dlg.do_not_show();
        }))
        tk_log(1, "The error dialog could not be shown");
    if (answer == idc_err_abort && !no_abort) throw tk_final_exception();
    suppress = do_not_show;
}
