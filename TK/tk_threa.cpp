#include "tk_threa.h"

#include <system_error>

#include "last_error.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {

constexpr const char* source_file = "tk_threa";
constexpr std::chrono::milliseconds end_wait{10};

}  // namespace

tk_thread_functor::~tk_thread_functor() = default;

void tk_thread_functor::operator()() {
    while (!stop_requested() && !is_done()) step();
    finish();
}

bool tk_thread_functor::is_done() { return false; }

void tk_thread_functor::step() { wait_for_stop(std::chrono::milliseconds(100)); }

void tk_thread_functor::finish() {}

void tk_thread_functor::request_stop() {
    tk_log(2, "tk_thread_functor::request_stop");
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_stop_cv.notify_all();
    on_stop_request();
}

void tk_thread_functor::reset_stop() {
    std::lock_guard<std::mutex> lock(m_stop_mutex);
    m_stop.store(false, std::memory_order_release);
}

void tk_thread_functor::on_stop_request() {}

bool tk_thread_functor::wait_for_stop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    return m_stop_cv.wait_for(lock, timeout, [this] { return stop_requested(); });
}

uint32_t tk_thread_proc(tk_thread_functor* functor, std::exception_ptr* failure) noexcept {
    try {
        tk_log(2, "tk_thread_proc");
        if (!functor) throw tk_mail_assertion(source_file, 149);
        (*functor)();
        return 1;
    } catch (...) {
        if (failure) *failure = std::current_exception();
        try {
            throw;
        } catch (const std::exception& e) {
            try {
                tk_log(3, "Worker thread ended by an exception: %s", e.what());
            } catch (...) {
            }
        } catch (...) {
            try {
                tk_log(3, "Worker thread ended by an unknown exception");
            } catch (...) {
            }
        }
    }
    return 0;
}

tk_thread::tk_thread(bool owns_functor) : m_owns(owns_functor) {
    tk_log(2, "tk_thread::ctor(%d)", owns_functor ? 1 : 0);
}

tk_thread::~tk_thread() {
    try {
        tk_log(2, "tk_thread::dtor");
        stop();
        join();
        close();
    } catch (...) {
        // close cannot fail once the thread has been joined; nothing may leave.
    }
}

tk_thread_functor* tk_thread::create_functor() {
    auto functor = std::make_unique<tk_thread_functor>();
    m_owns = true;
    return functor.release();
}

bool tk_thread::wait_end(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_ended_cv.wait_for(lock, timeout, [this] { return m_ended; });
}

void tk_thread::start() {
    tk_log(2, "tk_thread::start");
    if (m_thread.joinable() && !wait_end(end_wait)) throw tk_mail_assertion(source_file, 92);
    close();
    if (m_functor) throw tk_mail_assertion(source_file, 100);
    m_functor = create_functor();
    if (m_owns) m_owned.reset(m_functor);
    if (!m_functor) throw tk_mail_assertion(source_file, 105);
    m_functor->reset_stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = false;
        m_failure = nullptr;
    }
    try {
        tk_thread_functor* functor = m_functor;
        m_thread = std::thread([this, functor]() noexcept {
            std::exception_ptr failure;
            tk_thread_proc(functor, &failure);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_failure = failure;
                m_ended = true;
            }
            m_ended_cv.notify_all();
        });
    } catch (const std::system_error& e) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        m_owned.reset();
        m_functor = nullptr;
        plat::set_last_error(static_cast<uint32_t>(e.code().value()));
        tk_log(3, "Cannot start the worker thread: %s", e.what());
        throw tk_exception_ex("Cannot start the worker thread: ", 1);
    }
}

void tk_thread::close() {
    tk_log(2, "tk_thread::close");
    if (m_thread.joinable()) {
        if (!wait_end(end_wait)) throw tk_mail_assertion(source_file, 71);
        m_thread.join();
    }
    m_owned.reset();
    m_functor = nullptr;
}

void tk_thread::stop() {
    tk_log(2, "tk_thread::stop");
    // A finished run is not disturbed: the hook may close a connection.
    if (m_functor && is_running()) m_functor->request_stop();
}

void tk_thread::join() {
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == std::this_thread::get_id())
        throw tk_exception(std::string("A worker thread cannot wait for itself"), 2);
    m_thread.join();
}

bool tk_thread::is_running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_thread.joinable() && !m_ended;
}

std::exception_ptr tk_thread::failure() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}
