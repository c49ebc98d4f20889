// Window code that waits for something slow (a server call): the work runs on
// a worker thread while the GUI thread goes on painting and handling input.
// A busy cursor shows, the given widgets are disabled, and Cancel or the time
// limit cut the work.
#pragma once
#include <functional>

#include <QList>

class QWidget;

enum class gui_busy_end {
    done,       // the work ended by itself
    cancelled,  // Cancel cut it
    timed_out   // the time limit cut it
};

// Runs work on a worker thread and waits for it on the GUI thread. cut runs
// on the GUI thread when Cancel is pressed or limit_ms has passed; it must
// make the work end soon. An exception of work reaches the caller when the
// work ended by itself. One call at a time.
gui_busy_end gui_busy_run(const std::function<void()>& work, const std::function<void()>& cut, int limit_ms,
                          const QList<QWidget*>& blocked);
// Whether a call of gui_busy_run waits now.
bool gui_busy_running();
// Cancel pressed: cuts the call that waits now. False when none waits.
bool gui_busy_cancel();
