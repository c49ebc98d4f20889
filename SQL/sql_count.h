// The record counts of a conversion run, taken on a connection of their own
// by a worker thread, so that a table's rows stream on the main connection
// while its rows are counted.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "sql_conn.h"
#include "sql_cut.h"

typedef struct st_mysql MYSQL;

class sql_counter {
public:
    // Where the count connection goes: the main connection's settings.
    struct login {
        std::string host;
        std::string user;
        std::string password;
        unsigned int port = 0;
        std::string database;  // UTF-8
    };

    // The state of the last count started.
    enum class outcome { pending, known, unknown };

    // A count still running for this long when the next one starts is
    // cancelled; a younger one is let finish (cancelling costs a round trip).
    static constexpr std::chrono::milliseconds cancel_after{10};

    // Starts the worker, which opens the count connection at once; throws
    // sql_exception when the client library cannot make a client object.
    explicit sql_counter(login where);
    // Cuts a count still running, ends the worker and closes the connection.
    ~sql_counter();
    sql_counter(const sql_counter&) = delete;
    sql_counter& operator=(const sql_counter&) = delete;

    // Cancels a count that has run for longer than cancel_after with KILL
    // QUERY on main, which must be free (no stream open on it); a failure of
    // that is logged. Throws nothing.
    void cancel_stale(MYSQL* main) noexcept;
    // Starts counting with the statement (UTF-8) once the count before it,
    // if any, has ended; the result of an earlier count is no longer
    // wanted. Throws nothing.
    void start(const std::string& statement);
    // The last count's state; count is set when it is known. Cheap while
    // pending (one atomic load).
    outcome result(uint64_t& count) const;
    // Waits for the last count to end (known or unknown).
    outcome wait(uint64_t& count);

    // Any thread: the count connection is cut for good (a stopped run); the
    // running count and every later one are unknown.
    void cut();
    // The end of a run whose main connection is free: a count still running
    // is cancelled on main, and the worker ends. Throws nothing.
    void finish(MYSQL* main) noexcept;

    // The count connection's server thread id (0 while not connected).
    unsigned long connection_id() const { return connection_id_.load(); }

private:
    void work();
    // Opens and sets up the count connection; false when that failed.
    bool open_connection();
    // Runs a count; false when the server gave none.
    bool run_count(const std::string& statement, uint64_t& count);
    // KILL QUERY of the count connection's statement, sent on main; false
    // (logged) when that failed.
    static bool kill_count(MYSQL* main, unsigned long id) noexcept;
    // Cancels a count running for longer than cancel_after (under lock_).
    void cancel_old(MYSQL* main, std::unique_lock<std::mutex>& held);
    // Ends the worker; a count still running is cut first when asked to.
    void stop_worker(bool cut_running) noexcept;

    const login where_;
    sql_connection connection_;  // used by the worker only
    sql_call_cut cut_;
    // The open connection's socket, for cut (-1: none).
    std::mutex socket_lock_;
    int socket_ = -1;
    std::atomic<unsigned long> connection_id_{0};

    mutable std::mutex lock_;
    std::condition_variable changed_;
    // Guarded by lock_: the last job posted and the one running (0: none).
    std::string statement_;
    uint64_t posted_ = 0;
    uint64_t running_ = 0;
    std::chrono::steady_clock::time_point running_since_;
    bool connecting_ = true;
    bool quit_ = false;
    // The job whose result is published; the result, guarded by lock_.
    std::atomic<uint64_t> done_{0};
    uint64_t wanted_ = 0;  // the caller's last job (the caller's thread only)
    uint64_t count_ = 0;
    bool known_ = false;

    std::thread worker_;  // last: started when everything else is built
};
