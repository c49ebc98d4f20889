#include "sql_count.h"

#include <sys/socket.h>

#include <exception>
#include <optional>

#include <errmsg.h>
#include <mysql.h>

#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_read_only.h"
#include "sql_run.h"
#include "tk_log.h"

using std::chrono::steady_clock;

sql_counter::sql_counter(login where) : where_(std::move(where)) {
    worker_ = std::thread([this] { work(); });
}

sql_counter::~sql_counter() {
    stop_worker();
    // The connection closes with its owner; its socket is no longer cut.
    std::lock_guard<std::mutex> guard(cut_lock_);
    socket_ = -1;
}

void sql_counter::cut_connection() {
    std::lock_guard<std::mutex> guard(cut_lock_);
    if (cut_) cut_->cut();  // also a connect still waiting for the server
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

void sql_counter::cut_connection_at(steady_clock::time_point when) {
    std::lock_guard<std::mutex> guard(cut_lock_);
    if (cut_) cut_->cut_at(when);
}

void sql_counter::cut() {
    stopped_ = true;
    cut_connection();
}

sql_counter::opening sql_counter::open_connection(bool again) {
    {
        // A fresh cut for the new connection: login and set-up are bounded.
        std::lock_guard<std::mutex> guard(cut_lock_);
        if (stopped_) return opening::lost;
        socket_ = -1;
        cut_ = std::make_unique<sql_call_cut>();
        cut_->cut_at(steady_clock::now() + setup_limit);
    }
    sql_call_cut& cut = *cut_;  // replaced by this thread only
    sql_call_cut::scope cuttable(cut);
    connection_id_ = 0;
    bool logged_in = false;
    try {
        if (again) connection_.reset();
        MYSQL* mysql = connection_.get();
        sql_engine::set_client_options(mysql);
        sql_engine::set_verification(mysql);
        if (!mysql_real_connect(mysql, where_.host.c_str(), where_.user.c_str(), where_.password.c_str(),
                                where_.database.c_str(), where_.port, nullptr, CLIENT_REMEMBER_OPTIONS))
            throw sql_exception(mysql);
        logged_in = true;
        {
            std::lock_guard<std::mutex> guard(cut_lock_);
            socket_ = static_cast<int>(mysql_get_socket(mysql));
        }
        if (!cut.was_cut()) sql_engine::setup_session(mysql);
        // The set-up logs its own failures; a cut one leaves no session.
        if (cut.was_cut()) throw sql_exception(std::string("The count connection does not answer"), CR_SERVER_LOST);
        // Each count is one SELECT around the table or query: in a session
        // that reads only, it is a read-only transaction of its own.
        sql_make_session_read_only(mysql);
        cut.no_deadline();
        connection_id_ = mysql_thread_id(mysql);
        tk_log(2, "The count connection is open (thread %lu)", connection_id_.load());
        return opening::open;
    } catch (const std::exception& e) {
        tk_log(2, "The count connection cannot be opened: %s", e.what());
        std::lock_guard<std::mutex> guard(lock_);
        why_ = e.what();
        return logged_in ? opening::lost : opening::refused;
    }
}

bool sql_counter::run_count(const std::string& statement, uint64_t& count, bool& lost) {
    sql_call_cut::scope cuttable(*cut_);
    try {
        const std::optional<uint64_t> value = sql_scalar_u64(connection_.get(), statement);
        if (!value) return false;
        count = *value;
        return true;
    } catch (const tk_exception& e) {
        lost = sql_is_connection_lost(e) || cut_->was_cut();
        tk_log(2, "The count failed: %s", e.what());
        return false;
    } catch (const std::exception& e) {
        tk_log(2, "The count failed: %s", e.what());
        return false;
    }
}

void sql_counter::publish(uint64_t job, outcome state, uint64_t count) {
    // A newer job makes this result worthless: the next loop runs it.
    if (job != posted_) return;
    count_ = count;
    state_ = state;
    done_.store(job, std::memory_order_release);
}

void sql_counter::work() {
    opening opened = open_connection(false);
    std::unique_lock<std::mutex> held(lock_);
    uint64_t handled = 0;
    for (;;) {
        // A connection set up but lost before its first count is opened
        // again like one lost later.
        if (opened == opening::lost && !quit_ && !stopped_ && !reopened_) {
            reopened_ = true;
            held.unlock();
            opened = open_connection(true);
            held.lock();
        }
        connecting_ = false;
        if (opened != opening::open && !stopped_) {
            if (usable_) tk_log(2, "No count connection in this run: %s", why_.c_str());
            usable_ = false;
        }
        changed_.notify_all();
        changed_.wait(held, [&] { return quit_ || (posted_ != handled && !killing_); });
        if (quit_) break;
        const uint64_t job = posted_;
        if (!usable_ || stopped_) {
            handled = job;
            publish(job, stopped_ ? outcome::unknown : outcome::no_connection, 0);
            continue;
        }
        const std::string statement = statement_;
        running_ = job;
        running_since_ = steady_clock::now();
        {
            // A moment set for an earlier count is not this one's.
            std::lock_guard<std::mutex> guard(cut_lock_);
            cut_->no_deadline();
        }
        held.unlock();
        uint64_t count = 0;
        bool lost = false;
        const bool known = run_count(statement, count, lost);
        held.lock();
        running_ = 0;
        if (lost && !quit_ && !stopped_) {
            // Gone (killed, cut, timed out): opened again once, and a count
            // still wanted runs again on it.
            connection_id_ = 0;
            if (!reopened_) {
                reopened_ = true;
                connecting_ = true;
                held.unlock();
                opened = open_connection(true);
                held.lock();
                if (opened == opening::open && job == posted_ && job != cancelled_ && !quit_) continue;
                // A lost connection is not opened a third time.
                if (opened == opening::lost) opened = opening::refused;
            } else {
                why_ = "the count connection was lost again";
                opened = opening::refused;
            }
        }
        handled = job;
        const bool gone = opened != opening::open && !stopped_;
        publish(job, known ? outcome::known : gone ? outcome::no_connection : outcome::unknown, count);
    }
}

bool sql_counter::available(std::string& why) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (usable_) return true;
    why = why_;
    return false;
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

void sql_counter::cancel_stale(MYSQL* main) noexcept {
    std::unique_lock<std::mutex> held(lock_);
    const uint64_t job = running_;
    if (job == 0) return;
    // A young count may still end by itself.
    changed_.wait_until(held, running_since_ + cancel_after, [&] { return running_ != job; });
    if (running_ != job) return;
    cancelled_ = job;
    const unsigned long id = connection_id_.load();
    killing_ = id != 0;
    held.unlock();
    tk_log(2, "A count slower than its table is cancelled");
    if (id != 0) kill_count(main, id);
    held.lock();
    killing_ = false;
    // A connection that does not answer even that is cut.
    if (running_ == job) cut_connection_at(steady_clock::now() + answer_grace);
    held.unlock();
    changed_.notify_all();
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
    return state_;
}

sql_counter::outcome sql_counter::wait(uint64_t& count) {
    if (wanted_ == 0) return outcome::unknown;
    std::unique_lock<std::mutex> held(lock_);
    changed_.wait(held, [&] { return done_.load(std::memory_order_acquire) == wanted_; });
    count = count_;
    return state_;
}

void sql_counter::finish(MYSQL* main) noexcept {
    {
        std::unique_lock<std::mutex> held(lock_);
        quit_ = true;
        const unsigned long id = connection_id_.load();
        if (running_ != 0 && id != 0) {
            // The server's statement ends, not only the client's wait.
            held.unlock();
            kill_count(main, id);
        }
    }
    stop_worker();
}

void sql_counter::stop_worker() noexcept {
    if (!worker_.joinable()) return;
    bool busy = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        // Neither a count nor a connect is waited for.
        busy = connecting_ || running_ != 0;
    }
    changed_.notify_all();
    if (busy) cut_connection();
    worker_.join();
}
