#include "csv_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "csv_path.h"
#include "last_error.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {
// The buffer of the last file closed on this thread, for the next file: its
// room is then neither allocated nor filled again for every file.
thread_local std::string spare_buffer;
}  // namespace

csv_output::csv_output() = default;

csv_output::~csv_output() {
    if (fd_) {
        try {
            close();
        } catch (const tk_exception& e) {
            tk_log(3, "Closing CSV file: %s", e.what());
        }
    }
    // A buffer grown by a long line is not kept.
    if (buf_.capacity() <= 2 * block_size && buf_.capacity() > spare_buffer.capacity()) spare_buffer.swap(buf_);
}

void csv_output::take_spare() {
    if (buf_.empty() && spare_buffer.capacity() > buf_.capacity()) {
        buf_.swap(spare_buffer);
        // Its bytes are room: nothing of them is pending.
        end_ = 0;
        in_place_ = true;
        room_ = min_room;
    }
    buf_.reserve(block_size + block_size / 4);
}

void csv_output::open(const std::wstring& path) {
    if (fd_) close();
    failed_ = false;
    buf_.clear();
    in_place_ = false;
    room_ = min_room;
    final_path_.clear();
    path_.clear();
    if (!csv_native_path(path, path_)) {
        errno = ENOENT;
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Error opening CSV file: ", 1);
    }
    open_native(O_CREAT | O_TRUNC);
}

void csv_output::open_partial(const std::wstring& path) {
    if (fd_) close();
    failed_ = false;
    buf_.clear();
    in_place_ = false;
    room_ = min_room;
    final_path_.clear();
    path_.clear();
    if (!csv_native_path(path, final_path_)) {
        errno = ENOENT;
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Error opening CSV file: ", 1);
    }
    path_ = final_path_ + csv_part_suffix;
    // The part file is always created afresh, never through a link: one left
    // by an earlier run (or a link of that name) goes first.
    if (try_open_native(O_CREAT | O_EXCL)) return;
    if (errno != EEXIST) open_failed();
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Error opening CSV file " + path_ + ": ", 1);
    }
    open_native(O_CREAT | O_EXCL);
}

bool csv_output::try_open_native(int flags) {
    int fd;
    do {
        fd = ::open(path_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    fd_.reset(fd);
    take_spare();
    return true;
}

void csv_output::open_failed() {
    plat::set_last_error_from_errno();
    tk_log(3, "Cannot open CSV file %s", path_.c_str());
    throw tk_exception_ex("Error opening CSV file " + path_ + ": ", 1);
}

void csv_output::open_native(int flags) {
    if (!try_open_native(flags)) open_failed();
}

void csv_output::write_all(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_.get(), data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            plat::set_last_error_from_errno();
            failed_ = true;
            throw tk_exception_ex("Error writing CSV file " + path_ + ": ", 1);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void csv_output::settle() {
    buf_.resize(end_);
    in_place_ = false;
    room_ = min_room;
}

void csv_output::grow(size_t need) {
    // The room doubles up to a block while lines are written in place, so
    // that it is filled only a few times per block; it stays within the
    // memory the buffer holds unless a line needs more.
    size_t n = end_ + need + room_;
    if (n > buf_.capacity()) n = std::max(buf_.capacity(), end_ + need + min_room);
    buf_.resize(n);
    room_ = std::min(2 * room_, block_size);
}

void csv_output::drop_pending() {
    if (in_place_) end_ = 0;
    else buf_.clear();
}

void csv_output::flush() {
    const size_t n = pending();
    if (!fd_ || n == 0) return;
    if (failed_) {
        drop_pending();
        return;
    }
    try {
        write_all(buf_.data(), n);
    } catch (...) {
        drop_pending();
        throw;
    }
    drop_pending();
    // One very long line grew the buffer: give the memory back.
    if (buf_.capacity() > 8 * block_size) {
        std::string().swap(buf_);
        in_place_ = false;
        room_ = min_room;
        buf_.reserve(block_size + block_size / 4);
    }
}

void csv_output::close_fd() {
    if (fd_.close() != 0) {
        plat::set_last_error_from_errno();
        failed_ = true;
        throw tk_exception_ex("Error closing CSV file " + path_ + ": ", 1);
    }
}

void csv_output::close() {
    if (!fd_) return;
    try {
        flush();
    } catch (...) {
        fd_.reset();
        throw;
    }
    close_fd();
}

void csv_output::complete() {
    close();
    if (final_path_.empty()) return;
    if (::rename(path_.c_str(), final_path_.c_str()) != 0) {
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Cannot rename " + path_ + " to " + final_path_ + ": ", 1);
    }
    path_ = final_path_;
    final_path_.clear();
}

void csv_output::discard() noexcept {
    buf_.clear();
    in_place_ = false;
    room_ = min_room;
    fd_.reset();
    if (final_path_.empty()) return;
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
        tk_log(3, "Cannot delete %s: %s", path_.c_str(), std::strerror(errno));
    path_.clear();
    final_path_.clear();
}
