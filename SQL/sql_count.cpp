#include "sql_count.h"

#include <sys/socket.h>

#include <exception>
#include <optional>

#include <mysql.h>

#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_read_only.h"
#include "sql_run.h"
#include "tk_log.h"

sql_counter::sql_counter(login where) : where_(std::move(where)) {
    worker_ = std::thread([this] { work(); });
}

sql_counter::~sql_counter() {
    stop_worker(true);
    // The connection closes with its owner; its socket is no longer cut.
    std::lock_guard<std::mutex> guard(socket_lock_);
    socket_ = -1;
}

void sql_counter::cut() {
    cut_.cut();  // a connect still waiting for the server
    std::lock_guard<std::mutex> guard(socket_lock_);
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

bool sql_counter::open_connection() {
    try {
        MYSQL* mysql = connection_.get();
        sql_engine::set_client_options(mysql);
        if (!mysql_real_connect(mysql, where_.host.c_str(), where_.user.c_str(), where_.password.c_str(),
                                where_.database.c_str(), where_.port, nullptr, CLIENT_REMEMBER_OPTIONS))
            throw sql_exception(mysql);
        {
            std::lock_guard<std::mutex> guard(socket_lock_);
            socket_ = static_cast<int>(mysql_get_socket(mysql));
        }
        if (cut_.was_cut()) return false;
        sql_engine::setup_session(mysql);
        // Each count is one SELECT around the table or query: in a session
        // that reads only, it is a read-only transaction of its own.
        sql_make_session_read_only(mysql);
        connection_id_ = mysql_thread_id(mysql);
        tk_log(2, "The count connection is open (thread %lu)", connection_id_.load());
        return true;
    } catch (const std::exception& e) {
        tk_log(2, "The count connection cannot be opened: %s", e.what());
        return false;
    }
}

bool sql_counter::run_count(const std::string& statement, uint64_t& count) {
    try {
        const std::optional<uint64_t> value = sql_scalar_u64(connection_.get(), statement);
        if (!value) return false;
        count = *value;
        return true;
    } catch (const std::exception& e) {
        tk_log(2, "The count failed: %s", e.what());
        return false;
    }
}

void sql_counter::work() {
    // A stop cuts the connect and every call of this thread.
    sql_call_cut::scope cuttable(cut_);
    const bool open = open_connection();
    std::unique_lock<std::mutex> held(lock_);
    connecting_ = false;
    uint64_t handled = 0;
    for (;;) {
        changed_.wait(held, [&] { return quit_ || posted_ != handled; });
        if (quit_) break;
        const uint64_t job = posted_;
        const std::string statement = statement_;
        running_ = job;
        running_since_ = std::chrono::steady_clock::now();
        held.unlock();
        uint64_t count = 0;
        const bool known = open && !cut_.was_cut() && run_count(statement, count);
        held.lock();
        running_ = 0;
        handled = job;
        // A newer job makes this result worthless: the next loop runs it.
        if (job == posted_) {
            count_ = count;
            known_ = known;
            done_.store(job, std::memory_order_release);
            changed_.notify_all();
        }
    }
}

bool sql_counter::kill_count(MYSQL* main, unsigned long id) noexcept {
    try {
        sql_execute(main, "KILL QUERY " + std::to_string(id));
        return true;
    } catch (const std::exception& e) {
        tk_log(2, "The count cannot be cancelled: %s", e.what());
        return false;
    }
}

void sql_counter::cancel_old(MYSQL* main, std::unique_lock<std::mutex>& held) {
    if (running_ == 0 || std::chrono::steady_clock::now() - running_since_ < cancel_after) return;
    const unsigned long id = connection_id_.load();
    if (id == 0) return;
    held.unlock();
    tk_log(2, "A count slower than its table is cancelled");
    kill_count(main, id);
    held.lock();
}

void sql_counter::cancel_stale(MYSQL* main) noexcept {
    std::unique_lock<std::mutex> held(lock_);
    cancel_old(main, held);
}

void sql_counter::start(const std::string& statement) {
    std::unique_lock<std::mutex> held(lock_);
    statement_ = statement;
    wanted_ = ++posted_;
    held.unlock();
    changed_.notify_all();
}

sql_counter::outcome sql_counter::result(uint64_t& count) const {
    if (wanted_ == 0) return outcome::unknown;
    if (done_.load(std::memory_order_acquire) != wanted_) return outcome::pending;
    std::lock_guard<std::mutex> guard(lock_);
    count = count_;
    return known_ ? outcome::known : outcome::unknown;
}

sql_counter::outcome sql_counter::wait(uint64_t& count) {
    if (wanted_ == 0) return outcome::unknown;
    std::unique_lock<std::mutex> held(lock_);
    changed_.wait(held, [&] { return done_.load(std::memory_order_acquire) == wanted_; });
    count = count_;
    return known_ ? outcome::known : outcome::unknown;
}

void sql_counter::finish(MYSQL* main) noexcept {
    bool cancelled = true;
    {
        std::unique_lock<std::mutex> held(lock_);
        const unsigned long id = connection_id_.load();
        if (running_ != 0 && id != 0) {
            held.unlock();
            cancelled = kill_count(main, id);
        }
    }
    stop_worker(!cancelled);
}

void sql_counter::stop_worker(bool cut_running) noexcept {
    if (!worker_.joinable()) return;
    bool cut_now = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        // A connect is never waited for.
        cut_now = connecting_ || (running_ != 0 && cut_running);
    }
    changed_.notify_all();
    if (cut_now) cut();
    worker_.join();
}
