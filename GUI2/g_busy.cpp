#include "g_busy.h"

#include <exception>
#include <thread>

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "tk_excep.h"
#include "tk_log.h"

namespace {

struct busy_state {
    std::function<void()> cut;
    gui_busy_end end = gui_busy_end::done;
};

busy_state* s_running = nullptr;

void cut_running(gui_busy_end why) {
    if (!s_running || s_running->end != gui_busy_end::done) return;
    s_running->end = why;
    if (s_running->cut) s_running->cut();
}

}  // namespace

gui_busy_end gui_busy_run(const std::function<void()>& work, const std::function<void()>& cut, int limit_ms,
                          const QList<QWidget*>& blocked) {
    if (s_running) throw tk_mail_assertion("g_busy", 48);
    QEventLoop loop;
    busy_state state;
    state.cut = cut;
    s_running = &state;

    // Input goes nowhere but to Cancel while the work runs.
    QPointer<QWidget> focus = QApplication::focusWidget();
    QList<QPair<QPointer<QWidget>, bool>> disabled;
    for (QWidget* w : blocked) {
        if (!w) continue;
        disabled.append({QPointer<QWidget>(w), w->isEnabled()});
        w->setEnabled(false);
    }
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));

    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [] {
        tk_log(2, "gui_busy_run: time limit reached");
        cut_running(gui_busy_end::timed_out);
    });
    if (limit_ms > 0) limit.start(limit_ms);
    loop.exec();
    worker.join();
    // The quit posted by the worker may still be queued: it goes with the loop.
    QCoreApplication::removePostedEvents(&loop);

    QApplication::restoreOverrideCursor();
    for (auto& [w, was_enabled] : disabled)
        if (w) w->setEnabled(was_enabled);
    if (focus && focus->isEnabled() && focus->isVisible()) focus->setFocus(Qt::OtherFocusReason);
    s_running = nullptr;
    if (state.end != gui_busy_end::done) {
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                tk_log(2, "gui_busy_run: the cut work ended with: %s", e.what());
            } catch (...) {
            }
        }
        return state.end;
    }
    if (failure) std::rethrow_exception(failure);
    return gui_busy_end::done;
}

bool gui_busy_running() { return s_running != nullptr; }

bool gui_busy_cancel() {
    if (!s_running) return false;
    tk_log(2, "gui_busy_cancel");
    cut_running(gui_busy_end::cancelled);
    return true;
}
