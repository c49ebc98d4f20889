// Cutting a server call that hangs, from another thread: the call's socket is
// shut down, and a connect that is still waiting for the server stops.
#pragma once
#include <chrono>
#include <mutex>

class sql_call_cut {
public:
    // socket: the socket of the open connection the call uses; -1 when the
    // call connects itself (its socket becomes known when the client library
    // first waits on it).
    explicit sql_call_cut(int socket = -1);
    sql_call_cut(const sql_call_cut&) = delete;
    sql_call_cut& operator=(const sql_call_cut&) = delete;

    // Any thread: ends the call's waiting.
    void cut();
    bool was_cut() const;
    // The call of this thread's innermost scope was cut (false without one).
    static bool this_thread_cut();
    // Any thread: the call is cut once that moment has passed without an
    // answer (the wait checks it in its steps); a later moment replaces it.
    void cut_at(std::chrono::steady_clock::time_point when);
    // The call may wait again as long as it needs.
    void no_deadline();

    // Held by the call's thread while the call runs.
    class scope {
    public:
        explicit scope(sql_call_cut& cut);
        ~scope();
        scope(const scope&) = delete;
        scope& operator=(const scope&) = delete;

    private:
        sql_call_cut* m_previous;
    };

    // The client library's wait for a socket (installed by the engine): a
    // plain poll, cut in short steps on a thread that holds a scope. The
    // types are the library's my_socket and my_bool.
    static int io_wait(int socket, char is_read, int timeout_ms);

private:
    void note_socket(int socket);
    void forget_socket();

    // The moment has passed: cut now.
    bool cut_if_late();

    mutable std::mutex m_lock;
    int m_socket;
    bool m_cut = false;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};
