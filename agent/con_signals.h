// SIGINT, SIGTERM and SIGHUP in the console program: the first one stops the
// run as the wizard's Cancel does (at the next record; the table in work
// keeps its whole records under its part name); a second one ends the
// process at once with exit code -1.
#pragma once
#include <thread>

class kellvar_converter;

class console_stop_signals {
public:
    // Installs the handlers for the run of conv. A thread of its own passes
    // the stop on to conv (which cuts a wait on the server); when no thread
    // can be started the run still stops at its next record.
    explicit console_stop_signals(kellvar_converter& conv);
    // Puts the former handlers back.
    ~console_stop_signals();
    console_stop_signals(const console_stop_signals&) = delete;
    console_stop_signals& operator=(const console_stop_signals&) = delete;

    // The signal that asked for the stop; 0 when none came.
    static int received();
    // "SIGINT", "SIGTERM" or "SIGHUP".
    static const char* name(int sig);

private:
    void watch(kellvar_converter& conv);

    int pipe_[2] = {-1, -1};  // the handler writes, the watcher reads
    std::thread watcher_;
};
