// Closed standard descriptors are opened on /dev/null at start-up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "std_streams.h"

namespace {

bool is_dev_null(int fd) {
    struct stat st, null_st;
    return ::fstat(fd, &st) == 0 && ::stat("/dev/null", &null_st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == null_st.st_rdev;
}

// In a child: closes the descriptors of the mask, mends them, then checks
// that a newly opened file gets a descriptor above 2 and that only the closed
// ones now lead to /dev/null. The exit code tells what failed.
int in_child_with_closed(int mask) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd = 0; fd <= 2; ++fd)
            if (mask & (1 << fd)) ::close(fd);
        if (!plat::open_missing_standard_descriptors()) ::_exit(10);
        for (int fd = 0; fd <= 2; ++fd) {
            if (::fcntl(fd, F_GETFD) < 0) ::_exit(20 + fd);
            if ((mask & (1 << fd)) && !is_dev_null(fd)) ::_exit(30 + fd);
        }
        const int next = ::open("/dev/null", O_RDONLY);
        ::_exit(next > 2 ? 0 : 40);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(StdStreams, ClosedDescriptorsLeadToDevNull) {
    for (int mask = 0; mask < 8; ++mask) EXPECT_EQ(in_child_with_closed(mask), 0) << "closed mask " << mask;
}

}  // namespace
