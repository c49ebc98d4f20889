// An array whose elements share no cache line with any other memory: for
// buffers that one thread writes for every row while another thread works
// beside it.
#pragma once
#include <cstddef>
#include <vector>

template <class T>
class sql_lone_array {
public:
    void assign(size_t n, const T& value = T()) {
        store_.assign(n + 2 * pad, value);
        size_ = n;
    }
    T* data() { return store_.data() + pad; }
    const T* data() const { return store_.data() + pad; }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data()[i]; }
    const T& operator[](size_t i) const { return data()[i]; }
    T* begin() { return data(); }
    T* end() { return data() + size_; }

private:
    static constexpr size_t line = 64;
    // Elements before and after the used ones: at least a line each side.
    static constexpr size_t pad = (line + sizeof(T) - 1) / sizeof(T);
    std::vector<T> store_;
    size_t size_ = 0;
};
