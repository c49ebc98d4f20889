// The queue between the thread that receives a stream and the reader, over
// a made-up stream of numbered text rows (no server).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sql_row_queue.h"
#include "sql_write_test_util.h"

namespace {

using sql_write_test::expect_assertion;

// A stream of rows numbered from 1, each of row_size bytes, handed over by
// the queue's rule; it breaks after fail_after rows.
std::function<void(sql_row_queue&)> numbered_rows(size_t rows, size_t row_size, std::atomic<size_t>* produced,
                                                  size_t fail_after = SIZE_MAX) {
    return [=](sql_row_queue& queue) {
        sql_row_page* page = nullptr;
        size_t n = 1;
        for (;;) {
            if (queue.stopping()) return;
            if (!page && !(page = queue.fill_page())) return;
            if (queue.must_hand_over(*page)) {
                queue.hand_over(page);
                page = nullptr;
                continue;
            }
            if (n > rows) break;
            if (n > fail_after) {
                queue.finish(page, std::make_exception_ptr(std::runtime_error("broken")));
                return;
            }
            std::string text = std::to_string(n++);
            text.resize(row_size, ' ');
            char* row[1] = {text.data()};
            const unsigned long length[1] = {static_cast<unsigned long>(row_size)};
            page->add_text(row, length, 1, row_size);
            ++*produced;
        }
        queue.finish(page, nullptr);
    };
}

// Reads pages to the end of the stream (or `pages` of them), releasing each
// page's bytes once it is read; the numbers of the rows.
std::vector<size_t> read_rows(sql_row_queue& queue, size_t pages = SIZE_MAX) {
    std::vector<size_t> numbers;
    for (size_t p = 0; p < pages; ++p) {
        sql_row_page* page = queue.take();
        if (!page) break;
        while (!page->read_all()) {
            char* row[1];
            unsigned long length[1];
            page->read_text(row, length, 1);
            numbers.push_back(std::stoul(std::string(row[0], length[0])));
        }
        const size_t bytes = page->bytes();
        queue.give_back(page);
        queue.release(bytes);
    }
    return numbers;
}

bool is_one_to(const std::vector<size_t>& numbers, size_t n) {
    if (numbers.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (numbers[i] != i + 1) return false;
    return true;
}

// Every row once, in stream order, over many pages; the thread has ended
// once the end is answered.
TEST(RowQueue, RowsComeOnceInStreamOrder) {
    sql_row_queue queue;
    std::atomic<size_t> produced{0};
    queue.start(numbered_rows(50000, 16, &produced), 0);
    const std::vector<size_t> numbers = read_rows(queue);
    EXPECT_TRUE(is_one_to(numbers, 50000)) << numbers.size() << " rows";
    EXPECT_FALSE(queue.running());
    EXPECT_EQ(queue.take(), nullptr);
}

// The receiver starts a row only while the rows not yet released hold less
// than the budget: one row beyond it at most, also counting what the reader
// held when the thread started.
TEST(RowQueue, TheBudgetBoundsTheRowsHeld) {
    constexpr size_t budget = 4096, row = 1000;
    for (size_t held : {size_t{0}, size_t{3000}}) {
        SCOPED_TRACE("held " + std::to_string(held));
        sql_row_queue queue(budget);
        std::atomic<size_t> produced{0};
        queue.start(numbered_rows(60, row, &produced), held);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const size_t before = produced.load();
        EXPECT_GE(before, 1u);
        EXPECT_LE(held + before * row, budget + row) << before << " rows received";
        // Released, the rest comes.
        queue.release(held);
        EXPECT_TRUE(is_one_to(read_rows(queue), 60));
    }
}

// A break comes once, after every row received before it; the thread has
// ended then.
TEST(RowQueue, ABreakComesAfterTheRowsBeforeIt) {
    sql_row_queue queue;
    std::atomic<size_t> produced{0};
    queue.start(numbered_rows(10000, 16, &produced, 2500), 0);
    std::vector<size_t> numbers;
    try {
        for (;;) {
            const std::vector<size_t> more = read_rows(queue, 1);
            if (more.empty()) break;
            numbers.insert(numbers.end(), more.begin(), more.end());
        }
        ADD_FAILURE() << "no break";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "broken");
    }
    EXPECT_TRUE(is_one_to(numbers, 2500)) << numbers.size() << " rows";
    EXPECT_FALSE(queue.running());
    EXPECT_EQ(queue.take(), nullptr);
}

// A reader that stops in the middle ends the receiver, whether it waits for
// room or goes on filling; a queue that goes stops its receiver too.
TEST(RowQueue, StopEndsTheReceiverWhereverItIs) {
    std::atomic<size_t> produced{0};
    {
        sql_row_queue queue(2048);  // waits for room at once
        queue.start(numbered_rows(SIZE_MAX, 1000, &produced), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.stop();
        EXPECT_FALSE(queue.running());
    }
    {
        sql_row_queue queue;  // never out of rows
        queue.start(numbered_rows(SIZE_MAX, 16, &produced), 0);
        EXPECT_TRUE(is_one_to(read_rows(queue, 3), 3 * sql_row_queue::page_rows));
        queue.stop();
        EXPECT_FALSE(queue.running());
        // Started again, the queue begins a new stream.
        produced = 0;
        queue.start(numbered_rows(5, 16, &produced), 0);
        EXPECT_TRUE(is_one_to(read_rows(queue), 5));
    }
    {
        sql_row_queue queue;
        queue.start(numbered_rows(SIZE_MAX, 16, &produced), 0);
        read_rows(queue, 1);
    }  // the destructor stops it
}

// Before a start and after a stop nothing comes: take answers the end at
// once, however often it is asked.
TEST(RowQueue, TakeAnswersTheEndBeforeAStartAndAfterAStop) {
    sql_row_queue queue;
    EXPECT_EQ(queue.take(), nullptr);
    std::atomic<size_t> produced{0};
    queue.start(numbered_rows(SIZE_MAX, 16, &produced), 0);
    EXPECT_TRUE(is_one_to(read_rows(queue, 2), 2 * sql_row_queue::page_rows));
    queue.stop();
    EXPECT_TRUE(queue.ended());
    EXPECT_EQ(queue.take(), nullptr);
    EXPECT_EQ(queue.take(), nullptr);
    // Started again, the next stream comes whole.
    queue.start(numbered_rows(7, 16, &produced), 0);
    EXPECT_TRUE(is_one_to(read_rows(queue), 7));
}

// A page is handed over at its row or byte limit, or once the budget has no
// room for another row; an empty page is never handed over.
TEST(RowQueue, HandOverRule) {
    constexpr size_t budget = 4096;
    sql_row_queue queue(budget);
    sql_row_page page;
    auto add = [&](size_t size) {
        std::string text(size, 'x');
        char* row[1] = {text.data()};
        const unsigned long length[1] = {static_cast<unsigned long>(size)};
        page.add_text(row, length, 1, size);
    };
    EXPECT_FALSE(queue.must_hand_over(page));
    add(budget - 1);
    EXPECT_FALSE(queue.must_hand_over(page));
    add(1);
    EXPECT_TRUE(queue.must_hand_over(page));
    page.clear();
    sql_row_queue roomy(SIZE_MAX);
    for (size_t i = 0; i + 1 < sql_row_queue::page_rows; ++i) add(0);
    EXPECT_FALSE(roomy.must_hand_over(page));
    add(0);
    EXPECT_TRUE(roomy.must_hand_over(page));
    page.clear();
    add(sql_row_queue::page_bytes - 1);
    EXPECT_FALSE(roomy.must_hand_over(page));
    add(1);
    EXPECT_TRUE(roomy.must_hand_over(page));
}

// The budget must exceed what the reader keeps while it waits for rows;
// one byte beyond is enough for a reader that releases its rows only once
// they reach that many bytes.
TEST(RowQueue, TheBudgetExceedsWhatTheReaderKeeps) {
    constexpr size_t keeps = 8000, row = 1000, rows = 100;
    for (size_t budget : {size_t{0}, keeps - 1, keeps}) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        expect_assertion([&] { sql_row_queue queue(budget, keeps); }, "sql_row_queue", 14);
    }
    sql_row_queue queue(keeps + 1, keeps);
    std::atomic<size_t> produced{0};
    queue.start(numbered_rows(rows, row, &produced), 0);
    std::vector<size_t> numbers;
    size_t kept = 0;
    while (sql_row_page* page = queue.take()) {
        while (!page->read_all()) {
            char* cell[1];
            unsigned long length[1];
            kept += page->read_text(cell, length, 1);
            numbers.push_back(std::stoul(std::string(cell[0], length[0])));
            if (kept >= keeps) queue.release(std::exchange(kept, 0));
        }
        queue.give_back(page);
    }
    EXPECT_TRUE(is_one_to(numbers, rows)) << numbers.size() << " rows";
}

}  // namespace
