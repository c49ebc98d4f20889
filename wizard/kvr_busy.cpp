#include "kvr_busy.h"

#include <QPushButton>

#include "g_busy.h"
#include "g_err_tab.h"
#include "g_wiz_sh.h"
#include "kvr_conv.h"
#include "sql_cut.h"
#include "sql_excep.h"
#include "tk_excep.h"
#include "tk_log.h"

int kvr_server_call_limit_ms = 30000;

bool kvr_server_call(const std::function<void()>& call, const QList<QWidget*>& blocked, bool connects) {
    kellvar_converter* conv = kellvar_converter::ptr();
    // The GUI thread is the only other user of the connection, and it waits:
    // the socket can be read here.
    const int socket = connects ? -1 : conv->engine.get_socket();
    sql_call_cut cut(socket);
    QList<QWidget*> widgets = blocked;
    if (wizard_shell* shell = wizard_shell::peek()) {
        widgets.append(shell->findChild<QWidget*>(QString::number(idc_page_area)));
        for (int id : {idc_back, idc_next, idc_finish, idc_help}) widgets.append(shell->button(id));
    }
    const gui_busy_end end = gui_busy_run(
        [&] {
            sql_call_cut::scope in_call(cut);
            try {
                call();
            } catch (const tk_exception& e) {
                // A broken session is not used again: the next call connects.
                if (!connects && sql_is_connection_lost(e)) conv->mark_connection_cut();
                throw;
            }
        },
        [&] {
            cut.cut();
            // A connect that was cut leaves no connection; the page stays.
            if (!connects) conv->mark_connection_cut();
        },
        kvr_server_call_limit_ms, widgets);
    if (end == gui_busy_end::done) return true;
    if (end == gui_busy_end::timed_out) {
        tk_log(3, "The MySQL server does not answer");
        wizard_shell::error(std::string(gui_no_answer_text));
    } else {
        tk_log(2, "The server call was cancelled");
    }
    return false;
}
