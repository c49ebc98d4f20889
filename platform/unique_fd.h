// Owner of a file descriptor: closes it when it goes, keeping errno as it was.
#pragma once
#include <unistd.h>

#include <cerrno>

namespace plat {

class unique_fd {
public:
    unique_fd() noexcept = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& that) noexcept : fd_(that.release()) {}
    unique_fd& operator=(unique_fd&& that) noexcept {
        if (this != &that) reset(that.release());
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the held descriptor (unchecked) and holds fd instead.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }
    // Closes now and answers what close answered: 0, or -1 with errno set.
    // The descriptor is gone either way (close is not retried on EINTR).
    int close() noexcept {
        const int fd = release();
        return fd >= 0 ? ::close(fd) : 0;
    }

private:
    int fd_ = -1;
};

}  // namespace plat
