// While it lives, the files of this process may grow to a few bytes only: a
// write beyond fails (EFBIG) instead of raising SIGXFSZ. Both are put back
// when it ends.
#pragma once
#include <sys/resource.h>

#include <csignal>

#include <gtest/gtest.h>

namespace fennrow_test {

class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes) {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) {
            ADD_FAILURE() << "getrlimit failed";
            return;
        }
        old_signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
        if (!active_) ADD_FAILURE() << "setrlimit failed";
    }
    ~file_size_limit() {
        if (active_) ::setrlimit(RLIMIT_FSIZE, &saved_);
        if (old_signal_ != SIG_ERR) std::signal(SIGXFSZ, old_signal_);
    }
    file_size_limit(const file_size_limit&) = delete;
    file_size_limit& operator=(const file_size_limit&) = delete;

    bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*old_signal_)(int) = SIG_ERR;
    bool active_ = false;
};

}  // namespace fennrow_test
