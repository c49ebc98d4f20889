#include "g_thread.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "tk_log.h"

namespace {

// One pending call: the worker waits until it ran or was given up.
struct pending_call {
    std::function<void()> fn;
    std::exception_ptr failure;
    bool started = false;
    bool ran = false;
    bool dropped = false;   // the event was destroyed without running
    bool given_up = false;  // the worker stopped waiting before it started
};

std::mutex calls_lock;
std::condition_variable calls_cv;
bool calls_stopped = false;
int waiting = 0;

// Held only by the posted functor: when the functor goes without having run
// (the application object was destroyed first), the waiter is woken.
struct drop_token {
    std::shared_ptr<pending_call> call;
    ~drop_token() {
        {
            std::lock_guard<std::mutex> g(calls_lock);
            if (!call->ran) call->dropped = true;
        }
        calls_cv.notify_all();
    }
};

}  // namespace

bool gui_on_gui_thread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

bool gui_invoke(const std::function<void()>& fn) {
    if (gui_on_gui_thread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<pending_call>();
    call->fn = fn;
    {
        std::lock_guard<std::mutex> g(calls_lock);
        if (calls_stopped) {
            tk_log(1, "gui_invoke: cross-thread calls are stopped");
            return false;
        }
    }
    QCoreApplication* app = QCoreApplication::instance();
    auto token = std::make_shared<drop_token>();
    token->call = call;
    // The functor runs in the GUI thread's event loop. Once it has started,
    // the worker waits for its end whatever happens: fn may use the worker's
    // locals.
    bool posted = QMetaObject::invokeMethod(
        app,
        [call, token] {
            {
                std::lock_guard<std::mutex> g(calls_lock);
                if (call->given_up) return;
                call->started = true;
            }
            std::exception_ptr failure;
            try {
                call->fn();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> g(calls_lock);
                call->failure = failure;
                call->ran = true;
            }
            calls_cv.notify_all();
        },
        Qt::QueuedConnection);
    token.reset();
    if (!posted) return false;
    std::unique_lock<std::mutex> lock(calls_lock);
    ++waiting;
    calls_cv.wait(lock, [&] { return call->ran || call->dropped || (calls_stopped && !call->started); });
    --waiting;
    if (!call->ran) {
        call->given_up = true;
        tk_log(1, "gui_invoke: the call did not run");
        return false;
    }
    if (call->failure) std::rethrow_exception(call->failure);
    return true;
}

void gui_stop_cross_thread_calls() {
    tk_log(2, "gui_stop_cross_thread_calls");
    {
        std::lock_guard<std::mutex> g(calls_lock);
        calls_stopped = true;
    }
    calls_cv.notify_all();
}

void gui_allow_cross_thread_calls() {
    tk_log(2, "gui_allow_cross_thread_calls");
    std::lock_guard<std::mutex> g(calls_lock);
    calls_stopped = false;
}

bool gui_cross_thread_calls_stopped() {
    std::lock_guard<std::mutex> g(calls_lock);
    return calls_stopped;
}

int gui_waiting_calls() {
    std::lock_guard<std::mutex> g(calls_lock);
    return waiting;
}
