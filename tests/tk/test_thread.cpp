#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "tk_atomic.h"
#include "tk_conv.h"
#include "tk_excep.h"
#include "tk_threa.h"

namespace {

// A door the test opens; waiting on it needs no clock.
class gate {
public:
    void open() {
        {
            std::lock_guard<std::mutex> lock(m_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Runs `total` steps through the default loop, counting everything it is asked.
class scripted_functor : public tk_thread_functor {
public:
    explicit scripted_functor(int total, int* deleted = nullptr) : total_(total), deleted_(deleted) {}
    ~scripted_functor() override {
        if (deleted_) ++*deleted_;
    }
    bool is_done() override { return steps_ >= total_ * (runs_ + 1); }
    void step() override {
        ++steps_;
        worker_ = std::this_thread::get_id();
    }
    void finish() override { ++runs_; }

    int steps() const { return steps_; }
    int runs() const { return runs_; }
    std::thread::id worker() const { return worker_; }

private:
    int total_;
    int* deleted_;
    std::atomic<int> steps_{0};
    std::atomic<int> runs_{0};
    std::thread::id worker_;
};

// Hands out a functor the test keeps, or builds owned ones.
class test_thread : public tk_thread {
public:
    explicit test_thread(tk_thread_functor* borrowed) : tk_thread(false), borrowed_(borrowed) {}
    test_thread(int owned_steps, int* deleted)
        : tk_thread(false), owned_steps_(owned_steps), deleted_(deleted) {}

protected:
    tk_thread_functor* create_functor() override {
        if (borrowed_ || owned_steps_ < 0) return borrowed_;
        m_owns = true;
        return new scripted_functor(owned_steps_, deleted_);
    }

private:
    tk_thread_functor* borrowed_ = nullptr;
    int owned_steps_ = -1;
    int* deleted_ = nullptr;
};

// A record loop like the converter's: checks the stop flag per record and
// blocks in a "fetch" that only the stop hook can wake (a socket shut down).
class fetching_functor : public tk_thread_functor {
public:
    void operator()() override {
        for (records_ = 0; records_ < 1000000; ++records_) {
            if (stop_requested()) break;
            if (records_ == 3) {
                at_fetch_.open();
                socket_.wait();
            }
        }
        finished_ = true;
    }
    gate at_fetch_;
    std::atomic<int> records_{0};
    std::atomic<bool> finished_{false};
    std::atomic<int> hook_called_{0};
    std::thread::id hook_thread_;

protected:
    void on_stop_request() override {
        hook_thread_ = std::this_thread::get_id();
        ++hook_called_;
        socket_.open();
    }

private:
    gate socket_;
};

void expect_assertion(const std::function<void()>& call, uint32_t line) {
    try {
        call();
        ADD_FAILURE() << "no assertion for line " << line;
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message(), make_err_meggase("tk_threa", line));
        EXPECT_EQ(e.level(), 2u);
    }
}

TEST(Thread, RunsTheFunctorOnAWorkerAndCanRunItAgain) {
    int deleted = 0;
    scripted_functor work(5, &deleted);
    {
        test_thread t(&work);
        t.start();
        t.join();
        EXPECT_FALSE(t.is_running());
        EXPECT_EQ(work.steps(), 5);
        EXPECT_EQ(work.runs(), 1);
        EXPECT_NE(work.worker(), std::this_thread::get_id());
        EXPECT_EQ(t.failure(), nullptr);

        // Finished: start releases it and runs again.
        t.start();
        t.join();
        EXPECT_EQ(work.steps(), 10);
        EXPECT_EQ(work.runs(), 2);
        t.close();
        EXPECT_EQ(t.functor(), nullptr);
    }
    EXPECT_EQ(deleted, 0);  // borrowed, never deleted
}

TEST(Thread, OwnedFunctorIsDeletedWhenReleased) {
    int deleted = 0;
    {
        test_thread t(3, &deleted);
        t.start();
        t.join();
        EXPECT_TRUE(t.owns_functor());
        EXPECT_EQ(deleted, 0);
        t.close();
        EXPECT_EQ(deleted, 1);
        t.start();  // a second functor, released by the destructor
    }
    EXPECT_EQ(deleted, 2);
}

TEST(Thread, DefaultFunctorRunsUntilStoppedAndTheDestructorJoins) {
    auto t = std::make_unique<tk_thread>(false);
    t->start();
    EXPECT_TRUE(t->owns_functor());
    EXPECT_TRUE(t->is_running());  // never done by itself
    tk_thread_functor* f = t->functor();
    ASSERT_NE(f, nullptr);
    t->stop();
    t->join();
    EXPECT_FALSE(t->is_running());
    EXPECT_TRUE(f->stop_requested());

    t->start();
    EXPECT_FALSE(t->functor()->stop_requested());  // a new run starts without the old request
    t.reset();                                     // stops and joins
}

TEST(Thread, MisuseRaisesItsAssertions) {
    fetching_functor busy;
    test_thread t(&busy);
    t.start();
    busy.at_fetch_.wait();
    expect_assertion([&] { t.start(); }, 92);
    expect_assertion([&] { t.close(); }, 71);
    EXPECT_TRUE(t.is_running());
    t.stop();
    t.join();

    test_thread none(nullptr);
    expect_assertion([&] { none.start(); }, 105);
    EXPECT_FALSE(none.is_running());

    std::exception_ptr failure;
    EXPECT_EQ(tk_thread_proc(nullptr, &failure), 0u);
    ASSERT_NE(failure, nullptr);
    expect_assertion([&] { std::rethrow_exception(failure); }, 149);
}

TEST(Thread, StopWakesABlockedFetchThroughTheHook) {
    fetching_functor work;
    test_thread t(&work);
    t.start();
    work.at_fetch_.wait();
    EXPECT_EQ(work.hook_called_, 0);
    t.stop();
    t.join();
    EXPECT_EQ(work.hook_called_, 1);
    EXPECT_EQ(work.hook_thread_, std::this_thread::get_id());
    EXPECT_TRUE(work.finished_);
    EXPECT_EQ(work.records_, 4);  // the record after the fetch saw the request
    // A finished run is left alone: its connection may still be in use.
    t.stop();
    EXPECT_EQ(work.hook_called_, 1);
}

TEST(Thread, DestructorStopsARunThatWaitsInAFetch) {
    fetching_functor work;
    {
        test_thread t(&work);
        t.start();
        work.at_fetch_.wait();
    }
    EXPECT_EQ(work.hook_called_, 1);
    EXPECT_TRUE(work.finished_);
}

struct throwing_functor : tk_thread_functor {
    explicit throwing_functor(int kind) : kind(kind) {}
    void operator()() override {
        switch (kind) {
            case 0: throw tk_exception(std::string("boom"), 1);
            case 1: throw std::runtime_error("std boom");
            case 2: throw tk_final_exception();
            default: throw 42;
        }
    }
    int kind;
};

TEST(Thread, NoExceptionLeavesTheThread) {
    for (int kind = 0; kind < 4; ++kind) {
        throwing_functor work(kind);
        test_thread t(&work);
        t.start();
        t.join();
        std::exception_ptr failure = t.failure();
        ASSERT_NE(failure, nullptr) << kind;
        try {
            std::rethrow_exception(failure);
        } catch (const tk_exception& e) {
            EXPECT_EQ(kind, 0);
            EXPECT_STREQ(e.what(), "boom");
        } catch (const tk_final_exception&) {
            EXPECT_EQ(kind, 2);
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(kind, 1);
            EXPECT_STREQ(e.what(), "std boom");
        } catch (int v) {
            EXPECT_EQ(kind, 3);
            EXPECT_EQ(v, 42);
        }
        // A clean run afterwards clears the failure.
        scripted_functor ok(1);
        test_thread again(&ok);
        again.start();
        again.join();
        EXPECT_EQ(again.failure(), nullptr);
    }
}

// Counters and the done flag as a converter's run writes them.
class counting_converter : public tk_converter {
public:
    void operator()() override {
        for (uint64_t i = 0; i < 100000 && !stop_requested(); ++i) ++records;
        current.set(L"last");
        set_done();
    }
    tk_atomic<uint64_t> records;
    tk_guarded<std::wstring> current;
};

TEST(Thread, DoneIsSeenAfterEveryValueWrittenBeforeIt) {
    counting_converter conv;
    EXPECT_FALSE(conv.is_run_done());
    test_thread t(&conv);
    t.start();
    conv.done.wait(false, std::memory_order_acquire);
    EXPECT_EQ(static_cast<uint64_t>(conv.records), 100000u);
    EXPECT_EQ(conv.current.get(), L"last");
    t.join();
}

TEST(ThreadDeathTest, AThreadThatCannotStartIsALevelOneError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Address space too small for another thread's stack: pthread_create fails.
    auto child = [] {
        long pages = 0;
        {
            std::ifstream statm("/proc/self/statm");
            statm >> pages;
        }
        rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        struct rlimit lim = {used + (4u << 20), used + (4u << 20)};
        if (setrlimit(RLIMIT_AS, &lim) != 0) std::_Exit(3);
        std::vector<std::unique_ptr<tk_thread>> started;
        for (int i = 0; i < 64; ++i) {
            auto t = std::make_unique<tk_thread>(true);
            try {
                t->start();
            } catch (const tk_exception& e) {
                bool ok = e.level() == 1 &&
                          std::string(e.what()).rfind("Cannot start the worker thread: ", 0) == 0 &&
                          e.code() != 0 && t->functor() == nullptr && !t->is_running();
                for (auto& s : started) s->stop();
                started.clear();
                std::_Exit(ok ? 0 : 4);
            }
            started.push_back(std::move(t));
        }
        std::_Exit(5);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
