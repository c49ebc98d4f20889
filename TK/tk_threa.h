// Worker thread and the work object it runs.
// Stopping is cooperative: stop() asks the work object to end (its run polls
// stop_requested(), and on_stop_request() may unblock a waiting call); the
// thread is always joined, never killed.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

class tk_thread_functor {
public:
    tk_thread_functor() = default;
    virtual ~tk_thread_functor();
    tk_thread_functor(const tk_thread_functor&) = delete;
    tk_thread_functor& operator=(const tk_thread_functor&) = delete;

    // While is_done is false and no stop was asked for: step; then finish.
    virtual void operator()();
    virtual bool is_done();
    // Waits 100 ms (less when a stop is asked for).
    virtual void step();
    virtual void finish();

    // Any thread: asks the run to end, then calls on_stop_request.
    void request_stop();
    // Only sets the flag that stop_requested() reads (nothing is woken, no
    // on_stop_request): safe in a signal handler.
    void flag_stop() noexcept { m_stop.store(true, std::memory_order_release); }
    bool stop_requested() const { return m_stop.load(std::memory_order_acquire); }
    // Clears a stop request before a new run.
    void reset_stop();

protected:
    // Called on the thread that asks for the stop, after the flag is set;
    // overrides unblock what the run may be waiting in (a socket, a wait).
    // Must be safe to call while the run goes on.
    virtual void on_stop_request();
    // Waits up to timeout; true when a stop was asked for.
    bool wait_for_stop(std::chrono::milliseconds timeout);

private:
    static_assert(std::atomic<bool>::is_always_lock_free, "flag_stop must be safe in a signal handler");
    std::atomic<bool> m_stop{false};
    std::mutex m_stop_mutex;
    std::condition_variable m_stop_cv;
};

// Runs the functor; catches everything: a failure is logged and kept in
// failure (when given) and the result is 0; a normal end gives 1.
uint32_t tk_thread_proc(tk_thread_functor* functor, std::exception_ptr* failure = nullptr) noexcept;

// Used from one owning thread. A subclass whose members the functor uses
// must stop() and join() in its own destructor, before they go.
class tk_thread {
public:
    explicit tk_thread(bool owns_functor);
    // Asks a running functor to stop, waits for the thread, then closes.
    virtual ~tk_thread();
    tk_thread(const tk_thread&) = delete;
    tk_thread& operator=(const tk_thread&) = delete;

    // Starts a thread on a new functor. A thread that cannot be started is a
    // level-1 tk_exception, and leaves no thread and no functor.
    void start();
    // Releases a finished thread and its functor.
    void close();
    // Asks a running functor to end; does not wait.
    void stop();
    // Waits for the thread to end, without limit; the functor stays.
    void join();

    // A thread exists and its procedure has not yet returned.
    bool is_running() const;
    // How the last run ended: null, or what the functor threw.
    std::exception_ptr failure() const;
    tk_thread_functor* functor() const { return m_functor; }
    bool owns_functor() const { return m_owns; }

protected:
    // Default: a new tk_thread_functor that this thread owns (sets m_owns).
    // A functor answered while m_owns is set is owned by this thread.
    virtual tk_thread_functor* create_functor();

private:
    // True when the thread's procedure has returned within timeout.
    bool wait_end(std::chrono::milliseconds timeout);

    std::thread m_thread;

protected:
    bool m_owns;

private:
    std::unique_ptr<tk_thread_functor> m_owned;  // the functor, when this thread owns it
    tk_thread_functor* m_functor = nullptr;      // the functor of the run, owned or not

    mutable std::mutex m_mutex;
    std::condition_variable m_ended_cv;
    bool m_ended = true;
    std::exception_ptr m_failure;
};
