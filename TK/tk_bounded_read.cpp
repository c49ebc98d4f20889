#include "tk_bounded_read.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "unique_fd.h"

namespace {

// Follows the length of the line in work over the pieces read.
class line_meter {
public:
    explicit line_meter(size_t max_line) : max_line_(max_line) {}

    // False when a line of the piece is too long.
    bool add(const char* p, size_t n) {
        if (max_line_ == 0) return true;
        for (size_t i = 0; i < n; ++i) {
            if (p[i] == '\n') {
                if (length_ > max_line_ + (last_ == '\r' ? 1 : 0)) return false;
                length_ = 0;
            } else {
                ++length_;
            }
            last_ = p[i];
        }
        // One more byte may still be the CR of a CR LF.
        return length_ <= max_line_ + 1;
    }
    bool done() const { return max_line_ == 0 || length_ <= max_line_ + (last_ == '\r' ? 1 : 0); }

private:
    size_t max_line_;
    size_t length_ = 0;
    char last_ = 0;
};

// An unnamed pipe (a shell's pipe or "<(...)"): it has a writer until its
// end is read.
bool is_unnamed_pipe(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == PIPEFS_MAGIC;
}

// True when a program has the FIFO (still the one at the path) open for
// writing. An open for reading that may block returns at once then; else
// our own writer ends its wait.
bool fifo_has_writer(const std::string& path, const struct stat& fifo) {
    std::mutex lock;
    std::condition_variable changed;
    bool opened = false;
    bool same = false;
    std::thread probe([&] {
        plat::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        struct stat st {};
        const bool is_same = fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && st.st_dev == fifo.st_dev &&
                             st.st_ino == fifo.st_ino;
        std::lock_guard<std::mutex> g(lock);
        opened = true;
        same = is_same;
        changed.notify_all();
    });
    bool in_time;
    {
        std::unique_lock<std::mutex> g(lock);
        in_time = changed.wait_for(g, std::chrono::seconds(1), [&] { return opened; });
    }
    if (!in_time) {
        // The FIFO has a reader (ours), so this open does not block.
        plat::unique_fd own(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    }
    probe.join();
    return in_time && same;
}

}  // namespace

tk_read_status tk_read_bounded(const std::string& path, size_t max_bytes, size_t max_line, std::string& out,
                               int& err) {
    out.clear();
    err = 0;
    // Non-blocking, so that a FIFO without a writer does not hold the open.
    plat::unique_fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        err = errno;
        return tk_read_status::open_failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        err = errno;
        return tk_read_status::read_failed;
    }
    const bool waits = !S_ISREG(st.st_mode) && !::isatty(fd.get());
    if (!waits) {
        if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > max_bytes)
            return tk_read_status::too_large;
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            err = errno;
            return tk_read_status::read_failed;
        }
    }

    // An unnamed pipe has a writer until its end is read: it is waited for
    // without end. A FIFO is waited for while a program has it open for
    // writing; any other input gives up after tk_input_wait_seconds.
    const bool fifo = waits && S_ISFIFO(st.st_mode);
    const int wait_ms = fifo && is_unnamed_pipe(fd.get()) ? -1 : tk_input_wait_seconds * 1000;

    line_meter lines(max_line);
    char buf[65536];
    // A pipe is asked for data before each read that found none: a FIFO that
    // has had no writer yet reads as empty, which is not its end.
    bool must_poll = waits;
    for (;;) {
        if (must_poll) {
            pollfd p{fd.get(), POLLIN, 0};
            const int n = ::poll(&p, 1, wait_ms);
            if (n < 0) {
                if (errno == EINTR) continue;
                err = errno;
                return tk_read_status::read_failed;
            }
            if (n == 0) {
                // A writer that is only silent is waited for.
                if (fifo && fifo_has_writer(path, st)) continue;
                return tk_read_status::no_data;
            }
            must_poll = false;
        }
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                must_poll = true;
                continue;
            }
            err = errno;
            return tk_read_status::read_failed;
        }
        if (n == 0) break;
        const size_t got = static_cast<size_t>(n);
        if (out.size() + got > max_bytes) return tk_read_status::too_large;
        if (!lines.add(buf, got)) return tk_read_status::line_too_long;
        out.append(buf, got);
    }
    if (!lines.done()) return tk_read_status::line_too_long;
    return tk_read_status::ok;
}
