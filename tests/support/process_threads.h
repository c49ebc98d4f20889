// The threads and server connections of the test process, to show that
// something stopped in the middle leaves none behind.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace fennrow_test {

// Threads of this process. ThreadSanitizer starts a thread of its own with
// the process's first thread: one thread is started and joined before the
// first count, so that the sanitizer's thread is there already.
inline size_t thread_count() {
    static const bool first_thread_started = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)first_thread_started;
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

// True once the process has no more threads than before (an ended thread
// may take a moment to leave the list).
inline bool threads_back_to(size_t before) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (thread_count() > before && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return thread_count() == before;
}

// The local TCP ports of the sockets this process holds open.
inline std::set<unsigned> own_tcp_ports() {
    std::set<std::string> inodes;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
            const std::string t(target, n > 0 ? static_cast<size_t>(n) : 0);
            if (t.rfind("socket:[", 0) == 0) inodes.insert(t.substr(8, t.size() - 9));
        }
        ::closedir(d);
    }
    std::set<unsigned> ports;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const size_t colon = local.rfind(':');
            if (colon == std::string::npos || !inodes.count(inode)) continue;
            ports.insert(static_cast<unsigned>(std::stoul(local.substr(colon + 1), nullptr, 16)));
        }
    }
    return ports;
}

}  // namespace fennrow_test
