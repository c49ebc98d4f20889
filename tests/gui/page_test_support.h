// What the page tests share: a frame, the error handler, a converter that
// remembers nothing, temporary folders and a connection to the test server.
#pragma once
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "g_err_hand.h"
#include "g_err_tab.h"
#include "gui_test_support.h"
#include "kvr_conv.h"
#include "test_server.h"

namespace page_test {

inline const std::wstring wizard_title = L"Fennrow 1.5 ";

// A folder under /tmp, removed with everything in it.
class temp_dir {
public:
    temp_dir() {
        char name[] = "/tmp/fn_pages_XXXXXX";
        const char* made = ::mkdtemp(name);
        if (made) m_path = made;
    }
    ~temp_dir() {
        if (m_path.empty()) return;
        std::error_code ec;
        // Folders made read-only by a test are opened again first.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0700);
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string sub(const std::string& name) const { return m_path + "/" + name; }
    std::wstring wsub(const std::string& name) const { return std::filesystem::path(sub(name)).wstring(); }

private:
    std::string m_path;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The frame with the pages a test adds; a converter and an error handler as
// the program has them. The converter neither reads nor writes the
// registry.
class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        conv.console_run = false;
        conv.remember_settings = false;
        shell = std::make_unique<wizard_shell>(wizard_title, 501, 311, 312);
    }
    void TearDown() override {
        shell.reset();
        pages.clear();
    }
    // Adds a page (owned by the test) to the frame.
    template <class P>
    P* add(std::unique_ptr<P> page) {
        P* raw = page.get();
        shell->add_page(raw);
        pages.push_back(std::move(page));
        return raw;
    }
    // A page after the page under test, so that Next has somewhere to go.
    script_page* add_tail(uint32_t id = 116) {
        return add(std::make_unique<script_page>(*shell, id, wizb_back | wizb_finish, psp_hide_header, log));
    }
    void start() { shell->show(); }
    uint32_t active_id() const {
        wizard_page_base* p = shell->active_page();
        return p ? p->dialog_id() : 0;
    }
    void press(int id) { shell->press_button(id); }

    // The converter connected to the test server over TCP.
    void connect_to_server() {
        fennrow_test::test_server s = fennrow_test::require_test_server();
        conv.store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
        conv.connect_mysql_server();
    }

    // Texts of the boxes shown so far.
    std::vector<QString> box_texts() const {
        std::vector<QString> out;
        for (const auto& b : seam.boxes) out.push_back(b.text);
        return out;
    }

    script_seam seam;
    gui_error_handler handler{gui_error_table_size, gui_error_table};
    kellvar_converter conv{kellvar_program::console, handler};
    std::vector<std::string> log;
    std::unique_ptr<wizard_shell> shell;
    std::vector<std::unique_ptr<QWidget>> pages;
};

// A server that takes the connection and never says a word: a socket on
// 127.0.0.1 that listens and never accepts.
class silent_server {
public:
    silent_server() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        m_port = ntohs(a.sin_port);
    }
    ~silent_server() {
        if (m_fd >= 0) ::close(m_fd);
    }
    silent_server(const silent_server&) = delete;
    silent_server& operator=(const silent_server&) = delete;
    int port() const { return m_port; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A server on 127.0.0.1 that accepts every connection and hangs up at once,
// before any greeting: the client's "lost connection" at the handshake.
class hang_up_server {
public:
    hang_up_server() {
        if (m_socket.port() <= 0) return;
        m_thread = std::thread([this] {
            for (;;) {
                const int fd = ::accept(m_socket.fd(), nullptr, nullptr);
                if (fd < 0 || m_stop.load()) {
                    if (fd >= 0) ::close(fd);
                    return;
                }
                ::close(fd);
            }
        });
    }
    ~hang_up_server() {
        m_stop = true;
        if (!m_thread.joinable()) return;
        // One more connection wakes the accept loop.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(m_socket.port()));
        if (fd >= 0) {
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            ::close(fd);
        }
        m_thread.join();
    }
    int port() const { return m_socket.port(); }

private:
    silent_server m_socket;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

template <class W>
W* child(QWidget* parent, int id) {
    return parent->findChild<W*>(QString::number(id));
}

// The mnemonic letters (lower case) of the controls on show in a window:
// buttons, labels that lead to a field, group boxes; each with its count.
inline std::map<QChar, int> mnemonic_counts(QWidget* window) {
    std::map<QChar, int> counts;
    auto note = [&](const QString& text) {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != QLatin1Char('&')) continue;
            if (text[i + 1] != QLatin1Char('&')) ++counts[text[i + 1].toLower()];
            ++i;
        }
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) note(b->text());
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) note(l->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) note(g->title());
    }
    return counts;
}

// The letters used more than once.
inline QString clashing_mnemonics(QWidget* window) {
    QString out;
    for (const auto& [letter, count] : mnemonic_counts(window))
        if (count > 1) out += letter;
    return out;
}

inline QStringList list_texts(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

}  // namespace page_test
