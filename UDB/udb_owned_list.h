// An ordered list that owns its elements; a null entry is kept as a gap.
// Copies are deep (each element by its clone() when T has one, so that a
// derived element stays of its own type, else copied as a T); a copy that
// fails part way frees what it had copied. Iterating and indexing give T*.
#pragma once
#include <compare>
#include <concepts>
#include <cstddef>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

template <class T>
class udb_owned_list {
    using storage = std::vector<std::unique_ptr<T>>;

public:
    class const_iterator {
    public:
        using iterator_concept = std::random_access_iterator_tag;
        using iterator_category = std::input_iterator_tag;  // elements are answered by value
        using value_type = T*;
        using difference_type = std::ptrdiff_t;
        using reference = T*;
        using pointer = void;

        const_iterator() = default;
        T* operator*() const { return it_->get(); }
        T* operator[](difference_type n) const { return it_[n].get(); }
        const_iterator& operator++() { ++it_; return *this; }
        const_iterator operator++(int) { return const_iterator(it_++); }
        const_iterator& operator--() { --it_; return *this; }
        const_iterator operator--(int) { return const_iterator(it_--); }
        const_iterator& operator+=(difference_type n) { it_ += n; return *this; }
        const_iterator& operator-=(difference_type n) { it_ -= n; return *this; }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) { return a.it_ - b.it_; }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.it_ == b.it_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.it_ <=> b.it_; }

    private:
        friend class udb_owned_list;
        explicit const_iterator(typename storage::const_iterator it) : it_(it) {}
        typename storage::const_iterator it_;
    };

    udb_owned_list() = default;
    udb_owned_list(const udb_owned_list& that) {
        items_.reserve(that.items_.size());
        for (const auto& item : that.items_) items_.push_back(item ? copy_of(*item) : nullptr);
    }
    udb_owned_list& operator=(const udb_owned_list& that) {
        if (this != &that) {
            udb_owned_list copy(that);
            items_.swap(copy.items_);
        }
        return *this;
    }
    udb_owned_list(udb_owned_list&&) noexcept = default;
    udb_owned_list& operator=(udb_owned_list&& that) noexcept {
        if (this != &that) {
            items_.clear();
            items_.swap(that.items_);
        }
        return *this;
    }
    ~udb_owned_list() = default;

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const_iterator begin() const { return const_iterator(items_.begin()); }
    const_iterator end() const { return const_iterator(items_.end()); }
    void reserve(size_t n) { items_.reserve(n); }

    // Unchecked.
    T* operator[](size_t i) const { return items_[i].get(); }
    // Checked: std::out_of_range past the end.
    T* at(size_t i) const {
        if (i >= items_.size()) throw std::out_of_range("invalid vector subscript");
        return items_[i].get();
    }

    // Takes ownership of the element, also when adding it fails.
    void push_back(std::unique_ptr<T> item) { items_.push_back(std::move(item)); }
    void push_back(T* item) { push_back(std::unique_ptr<T>(item)); }
    // Deletes every element.
    void clear() noexcept { items_.clear(); }
    // Keeps the first n elements and deletes the others.
    void truncate(size_t n) noexcept {
        if (n < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(n), items_.end());
    }

private:
    static std::unique_ptr<T> copy_of(const T& item) {
        if constexpr (requires { { item.clone() } -> std::convertible_to<std::unique_ptr<T>>; })
            return item.clone();
        else
            return std::make_unique<T>(item);
    }

    storage items_;
};

// The list face of a class that owns an ordered list of T: sizes, checked
// indexing (std::out_of_range past the end), iteration, and adding, which
// hands the element over to the owner.
template <class T>
class udb_list_owner {
public:
    using container = udb_owned_list<T>;
    using const_iterator = typename container::const_iterator;

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    T* operator[](size_t i) const { return items_.at(i); }
    T* at(size_t i) const { return items_.at(i); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    void reserve(size_t n) { items_.reserve(n); }

    void push_back(T* item) { items_.push_back(item); }
    void push_back(std::unique_ptr<T> item) { items_.push_back(std::move(item)); }

protected:
    udb_list_owner() = default;
    udb_list_owner(const udb_list_owner&) = default;
    udb_list_owner& operator=(const udb_list_owner&) = default;
    udb_list_owner(udb_list_owner&&) noexcept = default;
    udb_list_owner& operator=(udb_list_owner&&) noexcept = default;
    ~udb_list_owner() = default;

    container items_;
};
