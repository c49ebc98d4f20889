#include "csv_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "last_error.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

csv_folder_lock::csv_folder_lock(const std::wstring& folder, int wait_ms) {
    const std::string native = plat::utf8_encode(folder.empty() ? std::wstring(L".") : folder);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    fd_.reset(fd);
    if (!fd_) {
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Cannot open the folder " + native + ": ", 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) break;
        const int err = errno;
        if (err == EINTR) continue;
        if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            if (err != EWOULDBLOCK) {
                errno = err;
                plat::set_last_error_from_errno();
                throw tk_exception_ex("Cannot lock the folder " + native + ": ", 1);
            }
            throw tk_exception("The folder " + native + " is in use by another conversion", 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    tk_log(2, "Locked folder %s", native.c_str());
}

bool csv_folder_lock::is_for(const std::wstring& folder) const {
    struct stat held, other;
    const std::string native = plat::utf8_encode(folder.empty() ? std::wstring(L".") : folder);
    return ::fstat(fd_.get(), &held) == 0 && ::stat(native.c_str(), &other) == 0 && held.st_dev == other.st_dev &&
           held.st_ino == other.st_ino;
}
