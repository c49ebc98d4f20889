// The record counts of a conversion run, taken on a connection of their own
// by a worker thread, so that a table's rows stream on the main connection
// while its rows are counted. The count is an aid: nothing here waits for the
// count connection for long, and a count that is no longer wanted is cut.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sql_conn.h"
#include "sql_cut.h"
#include "sql_login.h"

typedef struct st_mysql MYSQL;

class sql_counter {
public:
    // Where the count connection goes: the main connection's settings.
    using login = sql_login;

    // The state of the last count started. no_connection: the count
    // connection cannot be had (see available).
    enum class outcome { pending, known, unknown, no_connection };

    // A count still running for this long when the next one starts is
    // cancelled; a younger one is given the rest of this time to end.
    static constexpr std::chrono::milliseconds cancel_after{10};
    // A cancelled count has this long to answer; then its connection is cut
    // (and opened again once).
    static constexpr std::chrono::milliseconds answer_grace{1000};
    // The count connection's login and session set-up take at most this long.
    static constexpr std::chrono::seconds setup_limit{10};

    // Starts the worker, which opens the count connection at once; throws
    // sql_exception when the client library cannot make a client object.
    explicit sql_counter(login where);
    // Cuts a count still running, ends the worker and closes the connection.
    ~sql_counter();
    sql_counter(const sql_counter&) = delete;
    sql_counter& operator=(const sql_counter&) = delete;

    // False once the count connection cannot be had: the server refused it,
    // or it was lost again after it had been opened again once; why is the
    // reason. True while it is being opened.
    bool available(std::string& why) const;

    // Cancels a count still running with KILL QUERY on main, which must be
    // free (no stream open on it): at once when it has run for longer than
    // cancel_after, else once it has had that long. A failure of the KILL is
    // logged. Throws nothing.
    void cancel_stale(MYSQL* main) noexcept;
    // Starts counting with the statement (UTF-8) once the count before it,
    // if any, has ended; the result of an earlier count is no longer
    // wanted. Throws nothing.
    void start(const std::string& statement);
    // The last count's state; count is set when it is known. Cheap while
    // pending (one atomic load).
    outcome result(uint64_t& count) const;
    // Waits for the last count to end.
    outcome wait(uint64_t& count);

    // Any thread: the count connection is cut for good (a stopped run); the
    // running count and every later one are unknown.
    void cut();
    // The end of a run whose main connection is free: a count still running
    // is cancelled on main, its connection cut, and the worker ends. Throws
    // nothing.
    void finish(MYSQL* main) noexcept;

    // The count connection's server thread id (0 while not connected).
    unsigned long connection_id() const { return connection_id_.load(); }

private:
    enum class opening { open, refused, lost };

    void work();
    // Opens and sets up the count connection (a fresh client object when
    // again); on failure why_ holds the reason.
    opening open_connection(bool again);
    // Runs a count; false when the server gave none, lost when the
    // connection is gone.
    bool run_count(const std::string& statement, uint64_t& count, bool& lost);
    // KILL QUERY of the count connection's statement, sent on main; false
    // (logged) when that failed.
    static bool kill_count(MYSQL* main, unsigned long id) noexcept;
    // Ends the worker; a count still running, or a connect, is cut first.
    void stop_worker() noexcept;
    // The current connection's calls end now, or once the moment has passed
    // without an answer.
    void cut_connection();
    void cut_connection_at(std::chrono::steady_clock::time_point when);
    void publish(uint64_t job, outcome state, uint64_t count);

    const login where_;
    sql_connection connection_;  // used by the worker only
    // Guarded by cut_lock_: the cut of the current connection's calls (made
    // anew for each connection, by the worker) and the connection's socket.
    mutable std::mutex cut_lock_;
    std::unique_ptr<sql_call_cut> cut_;
    int socket_ = -1;
    std::atomic<bool> stopped_{false};
    std::atomic<unsigned long> connection_id_{0};

    mutable std::mutex lock_;
    std::condition_variable changed_;
    // Guarded by lock_: the last job posted and the one running (0: none).
    std::string statement_;
    uint64_t posted_ = 0;
    uint64_t running_ = 0;
    std::chrono::steady_clock::time_point running_since_;
    uint64_t cancelled_ = 0;  // the last job cancelled
    bool killing_ = false;    // a KILL is on its way: no new count starts
    bool connecting_ = true;
    bool reopened_ = false;   // the one opening again is used
    bool usable_ = true;      // false: the count connection cannot be had
    std::string why_;
    bool quit_ = false;
    // The job whose result is published; the result, guarded by lock_.
    std::atomic<uint64_t> done_{0};
    uint64_t wanted_ = 0;  // the caller's last job (the caller's thread only)
    uint64_t count_ = 0;
    outcome state_ = outcome::unknown;

    std::thread worker_;  // last: started when everything else is built
};
