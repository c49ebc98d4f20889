// Values that a worker writes and another thread reads while it runs.
// tk_atomic<T> reads and writes like a plain field (assignment, ++, +=,
// conversion, copy) but every access is atomic: stores release, loads
// acquire. tk_guarded<T> keeps a value that is not a single word (a name, a
// list) under a lock; readers get a copy.
#pragma once
#include <atomic>
#include <mutex>
#include <type_traits>
#include <utility>

template <class T>
class tk_atomic {
    static_assert(std::is_trivially_copyable_v<T>, "tk_atomic needs a trivially copyable type");

public:
    constexpr tk_atomic() noexcept : m_value(T{}) {}
    constexpr tk_atomic(T v) noexcept : m_value(v) {}
    tk_atomic(const tk_atomic& other) noexcept : m_value(other.load()) {}
    tk_atomic& operator=(const tk_atomic& other) noexcept {
        store(other.load());
        return *this;
    }
    tk_atomic& operator=(T v) noexcept {
        store(v);
        return *this;
    }

    T load() const noexcept { return m_value.load(std::memory_order_acquire); }
    void store(T v) noexcept { m_value.store(v, std::memory_order_release); }
    operator T() const noexcept { return load(); }

    // Arithmetic, for integer counters.
    T operator++() noexcept { return m_value.fetch_add(1, std::memory_order_acq_rel) + 1; }
    T operator++(int) noexcept { return m_value.fetch_add(1, std::memory_order_acq_rel); }
    T operator--() noexcept { return m_value.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    T operator--(int) noexcept { return m_value.fetch_sub(1, std::memory_order_acq_rel); }
    T operator+=(T d) noexcept { return m_value.fetch_add(d, std::memory_order_acq_rel) + d; }
    T operator-=(T d) noexcept { return m_value.fetch_sub(d, std::memory_order_acq_rel) - d; }

    std::atomic<T>& raw() noexcept { return m_value; }

private:
    std::atomic<T> m_value;
};

template <class T>
class tk_guarded {
public:
    tk_guarded() = default;
    explicit tk_guarded(T v) : m_value(std::move(v)) {}
    tk_guarded(const tk_guarded& other) : m_value(other.get()) {}
    tk_guarded& operator=(const tk_guarded& other) {
        if (this != &other) set(other.get());
        return *this;
    }
    tk_guarded& operator=(T v) {
        set(std::move(v));
        return *this;
    }

    T get() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_value;
    }
    operator T() const { return get(); }
    void set(T v) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = std::move(v);
    }
    // Runs f(value&) under the lock, for changes in place (appending to a list).
    template <class F>
    decltype(auto) with(F&& f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::forward<F>(f)(m_value);
    }
    template <class F>
    decltype(auto) with(F&& f) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::forward<F>(f)(m_value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};
