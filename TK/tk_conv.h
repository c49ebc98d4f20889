// The work object's first concrete layer: the fields every converter shares.
#pragma once
#include <atomic>
#include <string>

#include "tk_threa.h"

class tk_converter : public tk_thread_functor {
public:
    tk_converter();
    ~tk_converter() override;

    virtual void set_silent(bool silent);

    // Checks a log-file name and switches the logger on with its absolute
    // path. Does nothing when no logger exists. Throws tk_exception (level 1)
    // for an existing folder, a read-only file, a missing folder or a folder
    // without write access.
    void set_logfile(const std::string& name);

    // The run's end: stored last, with release order, so that a reader that
    // sees it also sees every progress value written before. Wakes waiters
    // of done.wait().
    void set_done(bool value = true) {
        done.store(value, std::memory_order_release);
        done.notify_all();
    }
    bool is_run_done() const { return done.load(std::memory_order_acquire); }

    // Written by the worker, read by the window thread.
    std::atomic<bool> done{false};
    bool silent = false;
    std::wstring source;
    std::wstring destination;
    // Absolute path of the log file (empty until set_logfile stored one).
    std::string log_file;
};
