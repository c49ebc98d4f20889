#include "tk_bug.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "last_error.h"
#include "tk_log.h"

#ifndef FENNROW_SUPPORT_ADDRESS
#define FENNROW_SUPPORT_ADDRESS "support@example.invalid"
#endif

const char* tk_bug_support_address() { return FENNROW_SUPPORT_ADDRESS; }

std::string tk_bug_date_text(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min);
    return buf;
}

tk_bug_message tk_make_bug_message(const std::string& product, const std::string& body, const std::tm* now) {
    tk_bug_message m;
    m.subject = "Bug report on " + product;
    if (now) m.date_received = tk_bug_date_text(*now);
    m.note_text = body;
    m.recipient = tk_bug_support_address();
    return m;
}

std::vector<std::string> tk_bug_mail_arguments(const tk_bug_message& m) {
    return {"--utf8", "--subject", m.subject, "--body", m.note_text, m.recipient};
}

std::string tk_find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path || name.empty()) return std::string();
    std::string dirs(path);
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        // Appended in place: g++ 12 at -O3 warns falsely of dir + "/" + name.
        std::string candidate = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (candidate.empty()) candidate.push_back('.');
        candidate += '/';
        candidate += name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

void tk_send_bug(const std::string& product, const std::string& body) {
    tk_log(2, "tk_send_bug(%s|%s)", product.c_str(), body.c_str());

    std::time_t clock = std::time(nullptr);
    std::tm local{};
    bool have_time = clock != static_cast<std::time_t>(-1) && localtime_r(&clock, &local);
    tk_bug_message message = tk_make_bug_message(product, body, have_time ? &local : nullptr);
    tk_log(1, "Bug report dated %s to %s", message.date_received.c_str(), message.recipient.c_str());

    std::string program = tk_find_program("xdg-email");
    if (program.empty()) {
        tk_log(2, "Failed to locate xdg-email");
        return;
    }

    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> args = tk_bug_mail_arguments(message);
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        uint32_t err = plat::set_last_error_from_errno();
        tk_log(2, "fork failed: %s", plat::system_error_text(err).c_str());
        return;
    }
    if (pid == 0) {
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    int result = done < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    tk_log(2, "xdg-email returns %d", result);
}
