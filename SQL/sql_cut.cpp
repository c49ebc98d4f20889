#include "sql_cut.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "tk_log.h"

namespace {

thread_local sql_call_cut* t_current = nullptr;

// Steps of a cuttable wait, in milliseconds.
constexpr int wait_step_ms = 100;

}  // namespace

sql_call_cut::sql_call_cut(int socket) : m_socket(socket) {}

void sql_call_cut::cut() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_cut) return;
    m_cut = true;
    tk_log(2, "sql_call_cut::cut(%d)", m_socket);
    // A blocked read returns at once; the connection is lost for good.
    if (m_socket >= 0) ::shutdown(m_socket, SHUT_RDWR);
}

bool sql_call_cut::was_cut() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cut;
}

bool sql_call_cut::this_thread_cut() { return t_current && t_current->was_cut(); }

void sql_call_cut::cut_at(std::chrono::steady_clock::time_point when) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_deadline = when;
}

void sql_call_cut::no_deadline() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_deadline = std::chrono::steady_clock::time_point::max();
}

bool sql_call_cut::cut_if_late() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_cut) return true;
        if (std::chrono::steady_clock::now() < m_deadline) return false;
    }
    tk_log(2, "sql_call_cut: no answer in time");
    cut();
    return true;
}

void sql_call_cut::note_socket(int socket) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_socket == socket) return;
    m_socket = socket;
    if (m_cut && socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

void sql_call_cut::forget_socket() {
    // After the call the library may close the socket and its number may be
    // given to another file.
    std::lock_guard<std::mutex> lock(m_lock);
    m_socket = -1;
}

sql_call_cut::scope::scope(sql_call_cut& cut) : m_previous(t_current) { t_current = &cut; }

sql_call_cut::scope::~scope() {
    if (t_current) t_current->forget_socket();
    t_current = m_previous;
}

int sql_call_cut::io_wait(int socket, char is_read, int timeout_ms) {
    pollfd p{static_cast<int>(socket), static_cast<short>(is_read ? POLLIN : POLLOUT), 0};
    sql_call_cut* current = t_current;
    if (current) current->note_socket(static_cast<int>(socket));
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        int step = timeout_ms;
        if (current) {
            if (current->cut_if_late()) return 0;
            if (timeout_ms < 0 || timeout_ms > wait_step_ms) step = wait_step_ms;
        }
        const int rc = ::poll(&p, 1, step);
        if (rc < 0 && errno == EINTR) continue;
        if (rc != 0) return rc;
        if (!current) return 0;
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (timeout_ms >= 0 && waited >= timeout_ms) return 0;
    }
}
