#include "sql_row_queue.h"

#include <utility>

#include "tk_excep.h"

namespace {
constexpr const char* queue_source = "sql_row_queue";
}  // namespace

sql_row_queue::sql_row_queue(size_t budget, size_t reader_holds) : budget_(budget) {
    if (budget <= reader_holds) throw tk_mail_assertion(queue_source, 14);
}

void sql_row_queue::start(std::function<void(sql_row_queue&)> receive, size_t held) {
    stop();
    stop_.store(false);
    held_.store(held);
    finished_ = false;
    failure_ = nullptr;
    ready_.clear();
    free_.clear();
    for (sql_row_page& page : pages_) {
        page.clear();
        free_.push_back(&page);
    }
    thread_ = std::thread([this, receive = std::move(receive)] { receive(*this); });
}

sql_row_page* sql_row_queue::fill_page() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stop_.load()) return nullptr;
        if (!free_.empty() && held_.load() < budget_) break;
        receiver_waiting_ = true;
        room_cv_.wait(lock);
        receiver_waiting_ = false;
    }
    sql_row_page* page = free_.front();
    free_.pop_front();
    return page;
}

void sql_row_queue::publish(sql_row_page* page) {
    // Under the lock: the bytes count before the reader can release them.
    held_.fetch_add(page->bytes());
    ready_.push_back(page);
}

void sql_row_queue::hand_over(sql_row_page* page) {
    std::lock_guard<std::mutex> lock(mutex_);
    publish(page);
    if (reader_waiting_) ready_cv_.notify_one();
}

void sql_row_queue::finish(sql_row_page* page, std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (page) {
        if (page->rows() > 0) publish(page);
        else free_.push_back(page);
    }
    failure_ = std::move(failure);
    finished_ = true;
    ready_cv_.notify_one();
}

sql_row_page* sql_row_queue::take() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (ready_.empty() && !finished_) {
            reader_waiting_ = true;
            ready_cv_.wait(lock);
            reader_waiting_ = false;
        }
        if (!ready_.empty()) {
            sql_row_page* page = ready_.front();
            ready_.pop_front();
            return page;
        }
    }
    // Every page was taken and the receiver has ended: its thread goes.
    join();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    return nullptr;
}

void sql_row_queue::give_back(sql_row_page* page) {
    page->clear();
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(page);
    if (receiver_waiting_) room_cv_.notify_one();
}

void sql_row_queue::release(size_t bytes) {
    if (bytes == 0 || !thread_.joinable()) return;
    held_.fetch_sub(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    if (receiver_waiting_) room_cv_.notify_one();
}

void sql_row_queue::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        room_cv_.notify_one();
    }
    join();
    ready_.clear();
    free_.clear();
    for (sql_row_page& page : pages_) page.clear();
    failure_ = nullptr;
    finished_ = true;  // nothing more comes: take() answers the end
}

bool sql_row_queue::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

void sql_row_queue::join() {
    if (thread_.joinable()) thread_.join();
}
