// BRENNOCK (or a command that ends in it) as a child process that runs while
// the test acts on it: signals it, watches what it has done, then collects
// its exit status and output.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "agent_util.h"

namespace agent_test {

class brennock_child {
public:
    // command: the whole command (no shell); stdin is /dev/null, standard
    // output and error go to files of their own.
    explicit brennock_child(const std::vector<std::string>& command) {
        char out_tmpl[] = "/tmp/brennock-child-out.XXXXXX";
        char err_tmpl[] = "/tmp/brennock-child-err.XXXXXX";
        const int out_fd = ::mkstemp(out_tmpl);
        const int err_fd = ::mkstemp(err_tmpl);
        if (out_fd >= 0) out_path_ = out_tmpl;
        if (err_fd >= 0) err_path_ = err_tmpl;
        if (out_fd < 0 || err_fd < 0) {
            ADD_FAILURE() << "mkstemp: " << std::strerror(errno);
            if (out_fd >= 0) ::close(out_fd);
            if (err_fd >= 0) ::close(err_fd);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
        posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
        // The child starts with the default disposition of the stop signals,
        // whatever the test program has.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults, none;
        sigemptyset(&defaults);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<std::string> words = command;
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawnp(&pid_, argv[0], &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        ::close(out_fd);
        ::close(err_fd);
        if (rc != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start " << command.front() << ": " << std::strerror(rc);
        }
    }

    ~brennock_child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
        if (!out_path_.empty()) ::unlink(out_path_.c_str());
        if (!err_path_.empty()) ::unlink(err_path_.c_str());
    }
    brennock_child(const brennock_child&) = delete;
    brennock_child& operator=(const brennock_child&) = delete;

    // The child's process id; -1 once it has been collected.
    pid_t pid() const { return pid_; }
    // Still running (not yet collected).
    bool running() {
        if (pid_ <= 0) return false;
        return !reap(false);
    }

    void send(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // What it printed so far.
    std::string out() const { return read_file(out_path_); }

    // Waits for the end, at most limit: a child still running then is
    // killed and the test fails. The status is the exit code, or -signal.
    run_result wait(std::chrono::seconds limit) {
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && !reap(false) && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pid_ > 0) {
            ADD_FAILURE() << "the program did not end; killed";
            ::kill(pid_, SIGKILL);
            reap(true);
        }
        run_result r;
        r.status = status_;
        r.out = read_file(out_path_);
        r.err = read_file(err_path_);
        return r;
    }

private:
    // True once the child has ended (its status is kept).
    bool reap(bool block) {
        int st = 0;
        pid_t got = 0;
        do {
            got = ::waitpid(pid_, &st, block ? 0 : WNOHANG);
        } while (got < 0 && errno == EINTR);
        if (got == 0) return false;
        if (got == pid_) {
            if (WIFEXITED(st)) status_ = WEXITSTATUS(st);
            else if (WIFSIGNALED(st)) status_ = -WTERMSIG(st);
        }
        pid_ = -1;
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1000;
    std::string out_path_;
    std::string err_path_;
};

}  // namespace agent_test
