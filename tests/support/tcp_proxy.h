// A local TCP proxy between a program under test and the test server. It
// listens on 127.0.0.1 (a free port) and forwards every connection to the
// server; a rule makes one connection (numbered from 1 in the order they
// come) stop answering or break once its login is done.
//
//   fennrow_test::tcp_proxy proxy(fennrow_test::require_test_server());
//   proxy.add_rule(2, fennrow_test::tcp_proxy::action::stall, "COUNT(*)");
//   ... the program connects to 127.0.0.1:proxy.port() ...
//   proxy.connections();  // how many came
//   proxy.fired();        // how many rules took effect
//
// The rule looks at the client's commands (MySQL packets with sequence
// number 0, sent after the login): the first one whose text holds the
// trigger (any command when the trigger is empty) sets it off.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_server.h"

namespace fennrow_test {

class tcp_proxy {
public:
    enum class action {
        stall,  // the server's replies are held back from then on: the client waits
        drop    // both ends are closed: the client sees its connection lost
    };

    explicit tcp_proxy(const test_server& target) {
        target_.sin_family = AF_INET;
        target_.sin_port = htons(static_cast<uint16_t>(target.port));
        // The server the tests start listens on the loopback address only.
        if (inet_pton(AF_INET, target.host.c_str(), &target_.sin_addr) != 1 ||
            ntohl(target_.sin_addr.s_addr) >> 24 != 127)
            fail_test("the proxy forwards only to a loopback address, not to " + target.host);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) fail_test(std::string("proxy socket: ") + std::strerror(errno));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof local;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            const std::string why = std::strerror(errno);
            ::close(listener_);
            fail_test("proxy listen: " + why);
        }
        port_ = ntohs(local.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }

    ~tcp_proxy() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        std::vector<std::shared_ptr<link>> all;
        {
            std::lock_guard<std::mutex> guard(lock_);
            all = links_;
        }
        for (const auto& l : all) l->close_both();
        for (const auto& l : all) {
            if (l->upward.joinable()) l->upward.join();
            if (l->downward.joinable()) l->downward.join();
            ::close(l->client);
            if (l->server >= 0) ::close(l->server);
        }
    }
    tcp_proxy(const tcp_proxy&) = delete;
    tcp_proxy& operator=(const tcp_proxy&) = delete;

    unsigned port() const { return port_; }
    // Set before the connection comes.
    void add_rule(int connection, action what, const std::string& trigger = std::string()) {
        std::lock_guard<std::mutex> guard(lock_);
        rules_.push_back(rule{connection, what, trigger});
    }
    int connections() const { return accepted_.load(); }
    int fired() const { return fired_.load(); }

private:
    struct rule {
        int connection;
        action what;
        std::string trigger;
    };

    struct link {
        int client = -1;
        int server = -1;
        bool has_rule = false;
        rule what{};
        bool armed = false;  // the rule has not fired yet
        std::string pending;  // client bytes of a packet not yet complete
        std::atomic<bool> stalled{false};
        std::thread upward;    // client to server
        std::thread downward;  // server to client

        void close_both() {
            ::shutdown(client, SHUT_RDWR);
            if (server >= 0) ::shutdown(server, SHUT_RDWR);
        }
    };

    static bool send_all(int fd, const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    void accept_loop() {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR) continue;
                return;  // the proxy is being taken down
            }
            if (stopping_) {
                ::close(client);
                return;
            }
            auto l = std::make_shared<link>();
            l->client = client;
            const int number = ++accepted_;
            {
                std::lock_guard<std::mutex> guard(lock_);
                for (const rule& r : rules_)
                    if (r.connection == number) {
                        l->has_rule = true;
                        l->armed = true;
                        l->what = r;
                    }
                links_.push_back(l);
            }
            l->server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (l->server < 0 ||
                ::connect(l->server, reinterpret_cast<const sockaddr*>(&target_), sizeof target_) != 0) {
                l->close_both();
                continue;
            }
            l->upward = std::thread([this, l] { pump_up(*l); });
            l->downward = std::thread([l] { pump_down(*l); });
        }
    }

    // Looks at the complete client packets for the rule's command; false
    // when the link was dropped.
    bool watch(link& l, const char* data, size_t size) {
        if (!l.armed) return true;
        l.pending.append(data, size);
        for (;;) {
            if (l.pending.size() < 4) return true;
            const unsigned char* h = reinterpret_cast<const unsigned char*>(l.pending.data());
            const size_t length = h[0] | (h[1] << 8) | (static_cast<size_t>(h[2]) << 16);
            if (l.pending.size() < 4 + length) return true;
            const bool command = h[3] == 0;
            const std::string payload = l.pending.substr(4, length);
            l.pending.erase(0, 4 + length);
            if (!command || (!l.what.trigger.empty() && payload.find(l.what.trigger) == std::string::npos))
                continue;
            l.armed = false;
            l.pending.clear();
            ++fired_;
            if (l.what.what == action::drop) {
                l.close_both();
                return false;
            }
            l.stalled = true;
            return true;
        }
    }

    void pump_up(link& l) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::recv(l.client, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (l.has_rule && !watch(l, buffer, static_cast<size_t>(n))) return;
            if (!send_all(l.server, buffer, static_cast<size_t>(n))) break;
        }
        ::shutdown(l.server, SHUT_WR);
    }

    static void pump_down(link& l) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::recv(l.server, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            // A stalled link swallows the replies: the client hears nothing.
            if (l.stalled) continue;
            if (!send_all(l.client, buffer, static_cast<size_t>(n))) break;
        }
        ::shutdown(l.client, SHUT_WR);
    }

    sockaddr_in target_{};
    int listener_ = -1;
    unsigned port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> fired_{0};
    std::mutex lock_;
    std::vector<rule> rules_;
    std::vector<std::shared_ptr<link>> links_;
    std::thread acceptor_;
};

}  // namespace fennrow_test
