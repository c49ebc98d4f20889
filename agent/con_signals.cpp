#include "con_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "kvr_conv.h"
#include "tk_log.h"

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t signal_count = sizeof stop_signals / sizeof stop_signals[0];

constexpr char wake_stop = 1;
constexpr char wake_quit = 0;

// What the handler touches: lock-free atomics only.
std::atomic<int> g_received{0};
std::atomic<int> g_wake{-1};
std::atomic<kellvar_converter*> g_run{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<kellvar_converter*>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

struct sigaction g_former[signal_count];
bool g_installed[signal_count] = {};

void on_stop_signal(int sig) {
    int none = 0;
    if (!g_received.compare_exchange_strong(none, sig)) ::_exit(255);
    const int saved = errno;
    // The run sees the stop at its next record even when nothing wakes it.
    if (kellvar_converter* run = g_run.load()) run->flag_stop();
    const int fd = g_wake.load();
    if (fd >= 0) {
        const char b = wake_stop;
        while (::write(fd, &b, 1) < 0 && errno == EINTR) {
        }
    }
    errno = saved;
}

}  // namespace

console_stop_signals::console_stop_signals(kellvar_converter& conv) {
    g_received = 0;
    g_run = &conv;
    if (::pipe2(pipe_, O_CLOEXEC) != 0) {
        pipe_[0] = pipe_[1] = -1;
        tk_log(2, "No pipe for the stop signals: the run stops at its next record");
    } else {
        // The handler never runs on the watcher (it starts with the signals
        // blocked): it cannot be running when the pipe is closed.
        sigset_t blocked, former;
        sigemptyset(&blocked);
        for (int sig : stop_signals) sigaddset(&blocked, sig);
        pthread_sigmask(SIG_BLOCK, &blocked, &former);
        try {
            watcher_ = std::thread([this, &conv] { watch(conv); });
            g_wake = pipe_[1];
        } catch (const std::system_error& e) {
            tk_log(2, "No thread for the stop signals, the run stops at its next record: %s", e.what());
        }
        pthread_sigmask(SIG_SETMASK, &former, nullptr);
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < signal_count; ++i) {
        // A signal ignored when the program started stays ignored (nohup).
        struct sigaction former {};
        if (::sigaction(stop_signals[i], nullptr, &former) != 0 || former.sa_handler == SIG_IGN) continue;
        g_installed[i] = ::sigaction(stop_signals[i], &action, &g_former[i]) == 0;
    }
}

console_stop_signals::~console_stop_signals() {
    for (size_t i = 0; i < signal_count; ++i) {
        if (g_installed[i]) ::sigaction(stop_signals[i], &g_former[i], nullptr);
        g_installed[i] = false;
    }
    g_wake = -1;
    if (watcher_.joinable()) {
        const char b = wake_quit;
        while (::write(pipe_[1], &b, 1) < 0 && errno == EINTR) {
        }
        watcher_.join();
    }
    for (int& fd : pipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    g_run = nullptr;
}

int console_stop_signals::received() { return g_received.load(); }

const char* console_stop_signals::name(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

void console_stop_signals::watch(kellvar_converter& conv) {
    for (;;) {
        char b = wake_quit;
        const ssize_t n = ::read(pipe_[0], &b, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || b == wake_quit) return;
        // As the wizard's Cancel: the run ends at its next record, and a wait
        // on the server is cut.
        conv.request_stop();
    }
}
