#include "std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "unique_fd.h"

namespace plat {

bool open_missing_standard_descriptors() noexcept {
    bool ok = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one: the ones below are open.
        int got;
        do {
            got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            ok = false;
            continue;
        }
        if (got == fd) continue;  // the missing descriptor itself: stays open
        const unique_fd extra(got);
        if (::dup2(got, fd) < 0) ok = false;
    }
    return ok;
}

}  // namespace plat
