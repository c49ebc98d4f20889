// A stream received on a thread of its own while the reader converts the
// rows already received: a few reused row pages between the two, and a
// budget of bytes that the rows not yet released by the reader may hold.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "sql_row_page.h"

class sql_row_queue {
public:
    static constexpr size_t page_count = 8;
    // A page is handed over once it holds this many rows or bytes.
    static constexpr size_t page_rows = 1024;
    static constexpr size_t page_bytes = 64u << 10;
    // The receiver starts a new row only while the rows received and not
    // yet released hold fewer bytes than this (so at most one row beyond).
    static constexpr size_t default_budget = 16u << 20;

    // reader_holds: the most bytes of rows the reader keeps unreleased while
    // it waits for more (its own page of converted rows). The budget must
    // exceed it, or both sides would wait for each other; else it asserts.
    explicit sql_row_queue(size_t budget = default_budget, size_t reader_holds = 0);
    ~sql_row_queue() { stop(); }
    sql_row_queue(const sql_row_queue&) = delete;
    sql_row_queue& operator=(const sql_row_queue&) = delete;

    // Starts the receiving thread, which runs `receive` once; held: bytes
    // the reader already holds (released like the others).
    void start(std::function<void(sql_row_queue&)> receive, size_t held);
    bool running() const { return thread_.joinable(); }

    // --- the receiving thread
    // An empty page to fill, once one is free and the budget has room; null
    // once the reader stopped the queue.
    sql_row_page* fill_page();
    // Whether the page being filled goes to the reader before another row
    // is received into it: it holds page_rows rows or page_bytes bytes, or
    // it has rows and the budget has no room for another.
    bool must_hand_over(const sql_row_page& filling) const {
        return filling.rows() >= page_rows || filling.bytes() >= page_bytes ||
               (filling.rows() > 0 && held_.load(std::memory_order_relaxed) + filling.bytes() >= budget_);
    }
    // A stop was asked for: the receiver ends at once.
    bool stopping() const { return stop_.load(std::memory_order_relaxed); }
    // Hands a filled page to the reader.
    void hand_over(sql_row_page* page);
    // The stream ended: the last page (may be null or empty), and the break
    // that ended it (null at its normal end).
    void finish(sql_row_page* page, std::exception_ptr failure);

    // --- the reader
    // The next filled page, in stream order; null once the stream ended and
    // every page was taken (the thread has ended then), and also before a
    // start and after a stop. A break is thrown once the pages before it
    // were taken; the stream has ended then.
    sql_row_page* take();
    // A page whose rows were all read.
    void give_back(sql_row_page* page);
    // Bytes of rows the reader no longer holds.
    void release(size_t bytes);
    // Asks the thread to stop, waits for it and forgets the pages.
    void stop();
    // The receiver has handed its last page: the stream has ended or broken.
    bool ended() const;

private:
    void publish(sql_row_page* page);
    void join();

    const size_t budget_;
    std::array<sql_row_page, page_count> pages_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable ready_cv_;  // a page is ready, or the receiver ended
    std::condition_variable room_cv_;   // a page came back, bytes released, or a stop
    std::atomic<bool> stop_{false};
    std::atomic<size_t> held_{0};       // bytes handed over (or held) and not released
    std::deque<sql_row_page*> ready_;
    std::deque<sql_row_page*> free_;
    bool finished_ = true;              // the receiver handed its last page (or none runs)
    bool reader_waiting_ = false;
    bool receiver_waiting_ = false;
    std::exception_ptr failure_;
};
