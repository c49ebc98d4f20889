// Helpers of the console program's tests: running the real BRENNOCK as a
// child process, temporary folders, small file helpers.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_server.h"
#include "unprivileged.h"

extern char** environ;

namespace agent_test {

struct run_result {
    std::string out;
    std::string err;
    int status = -1000;  // exit code, or -signal when killed by a signal
};

inline std::ostream& operator<<(std::ostream& os, const run_result& r) {
    return os << "exit " << r.status << "\n--- stdout ---\n" << r.out << "--- stderr ---\n" << r.err;
}

// How run_brennock starts the program.
struct run_options {
    // As the unprivileged user when the tests run as root (setpriv).
    bool unprivileged = false;
    // Descriptors 0, 1 or 2 closed in the program, as "<&- >&- 2>&-" do.
    bool close_stdin = false;
    bool close_stdout = false;
    bool close_stderr = false;
    // A program still running after this long is killed (status -SIGKILL)
    // and the test fails; zero: no limit.
    std::chrono::seconds limit{0};
};

// Runs BRENNOCK with the arguments (no shell); stdin is /dev/null. usage,
// when given, receives the child's resource use (its peak RSS among them).
inline run_result run_brennock(const std::vector<std::string>& args, const run_options& how = {},
                               struct rusage* usage = nullptr) {
    run_result r;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return r;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (how.close_stdin)
        posix_spawn_file_actions_addclose(&actions, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (how.close_stdout)
        posix_spawn_file_actions_addclose(&actions, 1);
    else
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    if (how.close_stderr)
        posix_spawn_file_actions_addclose(&actions, 2);
    else
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

    std::vector<std::string> all;
    std::string program = BRENNOCK_PATH;
    if (how.unprivileged) {
        all = fennrow_test::unprivileged_prefix();
        // The build tree may be out of that user's reach.
        program = fennrow_test::reachable_copy(program);
        if (program.empty()) {
            ADD_FAILURE() << "cannot copy " << BRENNOCK_PATH << " where the unprivileged user can run it";
            return r;
        }
    }
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        ADD_FAILURE() << "cannot start " << BRENNOCK_PATH << ": " << std::strerror(rc);
        return r;
    }

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_count = 2;
    const auto deadline = std::chrono::steady_clock::now() + how.limit;
    bool killed = false;
    while (open_count > 0) {
        int wait_ms = -1;
        if (how.limit.count() > 0 && !killed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait_ms = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int ready = poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            ADD_FAILURE() << "poll: " << std::strerror(errno);
            break;
        }
        if (ready == 0) {
            // The program hangs: it is ended, and the test fails.
            ADD_FAILURE() << "BRENNOCK did not end within " << how.limit.count() << " s";
            kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);

    int st = 0;
    struct rusage ru {};
    while (wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
    }
    if (usage) *usage = ru;
    if (WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        r.status = -WTERMSIG(st);
    return r;
}

// A folder under /tmp, removed with everything in it at the end.
class temp_dir {
public:
    temp_dir() {
        char tmpl[] = "/tmp/brennock-test.XXXXXX";
        if (!mkdtemp(tmpl)) fennrow_test::fail_test(std::string("mkdtemp: ") + std::strerror(errno));
        path_ = tmpl;
    }
    ~temp_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) fennrow_test::fail_test("cannot write " + path);
}

inline std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "<missing " + path + ">";
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Names of the entries of a folder, sorted.
inline std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline const std::string bom = "\xEF\xBB\xBF";

// The connection options for the test server.
inline std::vector<std::string> server_args(const fennrow_test::test_server& s) {
    return {"--host=" + s.host, "--port=" + std::to_string(s.port), "--user=" + s.user, "--pswd=" + s.password};
}

inline std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What a settings profile for a run holds.
struct profile_spec {
    std::string database;
    std::string dest;
    int mode = 0;  // below 0: no mode line
    std::string host;
    unsigned port = 0;
    std::string user;
    std::string password;
    std::string entries;  // the lines of [Selected Tables], each ended by CR LF
};

// A profile for the test server's login; the caller fills in the rest.
inline profile_spec profile_for(const fennrow_test::test_server& srv) {
    profile_spec p;
    p.host = srv.host;
    p.port = srv.port;
    p.user = srv.user;
    p.password = srv.password;
    return p;
}

// The profile's text, as the wizard writes it.
inline std::string profile_text(const profile_spec& p) {
    std::string text = "[Generic settings]\r\nsrc=" + p.database + "\r\ndest=" + p.dest + "\r\n";
    if (p.mode >= 0) text += "mode=" + std::to_string(p.mode) + "\r\n";
    text += "\r\n[MySQL settings]\r\nhost=" + p.host + "\r\nuser=" + p.user + "\r\npassword=" + p.password +
            "\r\nport=" + std::to_string(p.port) + "\r\n\r\n[Selected Tables]\r\n" + p.entries + "\r\n";
    return text;
}

// How often `what` stands in `text`.
inline size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// In a build with AddressSanitizer, children started in this scope run with
// one more sanitizer option (for example "detect_leaks=0"); elsewhere
// nothing changes.
class child_sanitizer_option {
public:
    explicit child_sanitizer_option([[maybe_unused]] const char* option) {
#ifdef __SANITIZE_ADDRESS__
        const char* old = std::getenv("ASAN_OPTIONS");
        if (old) saved_ = old;
        const std::string options = (old && *old ? std::string(old) + ":" : std::string()) + option;
        setenv("ASAN_OPTIONS", options.c_str(), 1);
#endif
    }
    ~child_sanitizer_option() {
#ifdef __SANITIZE_ADDRESS__
        if (saved_)
            setenv("ASAN_OPTIONS", saved_->c_str(), 1);
        else
            unsetenv("ASAN_OPTIONS");
#endif
    }
    child_sanitizer_option(const child_sanitizer_option&) = delete;
    child_sanitizer_option& operator=(const child_sanitizer_option&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace agent_test
