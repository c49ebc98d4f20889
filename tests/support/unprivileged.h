// Running a test's work as an unprivileged user, so that permission checks
// bind also when the tests run as root (CI). Nothing is ever skipped:
//
//   Programs:  prefix the command with unprivileged_prefix() (setpriv when
//              root, nothing otherwise) and hand the folders it must use to
//              that user with hand_to_unprivileged().
//   In-process tests: begin the test with
//                  if (fennrow_test::rerun_unprivileged()) return;
//              When root, this runs the same test again in a child copy of
//              the test program as the unprivileged user; the child's outcome
//              becomes this test's. Otherwise the test runs here as it is.
//
// The checkout may sit where that user cannot enter (a folder of mode 0700):
// programs run as that user are copies in a folder it can reach
// (reachable_copy()), and the child test program gets the test server's
// settings in its environment instead of reading them from the build tree.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fennrow_test {

inline constexpr const char* unprivileged_user = "nobody";
inline constexpr const char* unprivileged_group = "nogroup";

inline bool is_root() { return ::geteuid() == 0; }

// The words that run a program as the unprivileged user: empty unless root.
inline std::vector<std::string> unprivileged_prefix() {
    if (!is_root()) return {};
    return {"setpriv", std::string("--reuid=") + unprivileged_user, std::string("--regid=") + unprivileged_group,
            "--clear-groups", "--"};
}

// Gives a file or folder (and everything in it) to the unprivileged user, so
// that a program run through unprivileged_prefix() may use it. Does nothing
// unless root. Answers false on failure.
inline bool hand_to_unprivileged(const std::string& path) {
    if (!is_root()) return true;
    const passwd* pw = ::getpwnam(unprivileged_user);
    const group* gr = ::getgrnam(unprivileged_group);
    if (!pw || !gr) return false;
    const uid_t uid = pw->pw_uid;
    const gid_t gid = gr->gr_gid;
    if (::lchown(path.c_str(), uid, gid) != 0) return false;
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) return true;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (::lchown(it->path().c_str(), uid, gid) != 0) return false;
    }
    return !ec;
}

// A folder of this process that the unprivileged user can enter and read,
// removed with everything in it when the process ends. Empty on failure.
inline const std::string& reachable_folder() {
    struct holder {
        std::string path;
        holder() {
            char tmpl[] = "/tmp/fennrow-reachable.XXXXXX";
            if (::mkdtemp(tmpl) && ::chmod(tmpl, 0755) == 0) path = tmpl;
        }
        ~holder() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove_all(path, ec);
        }
    };
    static holder h;
    return h.path;
}

// The program at `path`, or when root a copy of it that the unprivileged
// user can run wherever the original sits; one copy per program and process.
// Answers an empty string when the copy failed.
inline std::string reachable_copy(const std::string& path) {
    if (!is_root()) return path;
    static std::map<std::string, std::string> copies;
    const auto known = copies.find(path);
    if (known != copies.end()) return known->second;
    const std::string& folder = reachable_folder();
    if (folder.empty()) return std::string();
    const std::string sub = folder + "/" + std::to_string(copies.size());
    const std::string copy = sub + "/" + std::filesystem::path(path).filename().string();
    std::error_code ec;
    std::filesystem::create_directory(sub, ec);
    if (ec || ::chmod(sub.c_str(), 0755) != 0) return std::string();
    if (!std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing, ec) ||
        ::chmod(copy.c_str(), 0755) != 0)
        return std::string();
    copies.emplace(path, copy);
    return copy;
}

// How run_collecting starts its command beyond the arguments.
struct child_setup {
    // Variables set or replaced in the child's environment.
    std::map<std::string, std::string> environment;
    // The child's working folder (empty: this process's).
    std::string folder;
};

// Runs a command (no shell) and collects its standard output and error
// together. Answers the exit code, or -signal, or -1000 when it did not start.
inline int run_collecting(const std::vector<std::string>& command, std::string& output,
                          const child_setup& setup = {}) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1000;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    if (!setup.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, setup.folder.c_str());
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (setup.environment.count(entry.substr(0, entry.find('='))) == 0) variables.push_back(entry);
    }
    for (const auto& [name, value] : setup.environment) variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (rc != 0) {
        ::close(pipe_fds[0]);
        output = std::string("cannot start ") + command.front() + ": " + std::strerror(rc);
        return -1000;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
        if (n > 0) {
            output.append(buf, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipe_fds[0]);
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return -WTERMSIG(st);
    return -1000;
}

// The variable that hands the test server's settings (the lines of its
// server.env) to a child that cannot read the build tree.
inline constexpr const char* server_settings_variable = "FENNROW_TEST_SERVER_SETTINGS";

// See the top of this file. Answers true when the test was run in a child as
// the unprivileged user (the caller returns at once), false when the caller
// runs the test itself.
inline bool rerun_unprivileged() {
    if (!is_root()) return false;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) {
        ADD_FAILURE() << "rerun_unprivileged() outside a test";
        return true;
    }
    char self[PATH_MAX];
    const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) {
        ADD_FAILURE() << "cannot find the test program: " << std::strerror(errno);
        return true;
    }
    self[len] = '\0';
    const std::string program = reachable_copy(self);
    if (program.empty()) {
        ADD_FAILURE() << "cannot copy " << self << " to a folder " << unprivileged_user << " can reach";
        return true;
    }
    // The child reads nothing of the build tree: its home is a folder of its
    // own, the test server's settings come in its environment.
    child_setup setup;
    setup.folder = reachable_folder();
    static unsigned homes = 0;
    const std::string home = reachable_folder() + "/home-" + std::to_string(++homes);
    std::error_code ec;
    std::filesystem::create_directory(home, ec);
    if (ec || !hand_to_unprivileged(home)) {
        ADD_FAILURE() << "cannot make a home folder for " << unprivileged_user << ": " << home;
        return true;
    }
    setup.environment["HOME"] = home;
    setup.environment["XDG_CONFIG_HOME"] = home + "/.config";
    const char* server = std::getenv("FENNROW_TEST_SERVER");
    if (server && *server && !std::getenv(server_settings_variable)) {
        std::ifstream in(std::string(server) + "/server.env");
        std::ostringstream lines;
        lines << in.rdbuf();
        if (in) setup.environment[server_settings_variable] = lines.str();
    }
    const std::string full_name = std::string(info->test_suite_name()) + "." + info->name();
    std::vector<std::string> command = unprivileged_prefix();
    command.push_back(program);
    command.push_back("--gtest_filter=" + full_name);
    command.push_back("--gtest_color=no");
    std::string output;
    const int code = run_collecting(command, output, setup);
    std::filesystem::remove_all(home, ec);
    // The child must have run exactly this one test, and passed it.
    const bool passed = code == 0 && output.find("[  PASSED  ] 1 test.") != std::string::npos &&
                        output.find("[  SKIPPED ]") == std::string::npos;
    EXPECT_TRUE(passed) << full_name << " as " << unprivileged_user << ": exit " << code << "\n" << output;
    return true;
}

}  // namespace fennrow_test
