// Copies of records and schemas that fail part way: what was already copied
// is freed. Every allocation of this program goes through the counting
// operator new below; a test makes the n-th one fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "udb_record.h"
#include "udb_schema.h"

namespace {

std::atomic<long> g_live{0};        // blocks from operator new not yet deleted
std::atomic<long> g_fail_in{-1};    // allocations left before one fails; -1: none fails

void* counted_new(std::size_t size) {
    long left = g_fail_in.load();
    while (left >= 0 && !g_fail_in.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++g_live;
    return p;
}

void counted_delete(void* p) noexcept {
    if (!p) return;
    --g_live;
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_new(size); }
void* operator new[](std::size_t size) { return counted_new(size); }
void operator delete(void* p) noexcept { counted_delete(p); }
void operator delete[](void* p) noexcept { counted_delete(p); }
void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }

namespace {

// Copies `from` with the n-th allocation failing, for n = 0, 1, ... until a
// copy succeeds; after each failed copy no block may be left behind.
template <class List>
void copy_failing_at_every_allocation(const List& from) {
    for (long n = 0;; ++n) {
        const long before = g_live.load();
        g_fail_in = n;
        bool copied = false;
        try {
            List copy(from);
            copied = true;
            g_fail_in = -1;
            ASSERT_EQ(copy.size(), from.size());
        } catch (const std::bad_alloc&) {
        }
        g_fail_in = -1;
        EXPECT_EQ(g_live.load(), before) << "copy failing at allocation " << n;
        if (copied) break;
        ASSERT_LT(n, 1000) << "the copy never succeeds";
    }
}

// Long enough that the texts live outside the string objects.
std::wstring long_text(int i) { return L"a value long enough to be allocated #" + std::to_wstring(i); }

}  // namespace

TEST(udb_copy_failure, record_copy_frees_the_fields_already_copied) {
    udb_record r;
    for (int i = 0; i < 4; ++i) r.push_back(new udb_field(long_text(i), 0, ole_variant(long_text(i + 10))));
    r.push_back(static_cast<udb_field*>(nullptr));
    copy_failing_at_every_allocation(r);
}

TEST(udb_copy_failure, schema_copy_frees_the_descriptors_already_copied) {
    udb_schema s;
    for (int i = 0; i < 4; ++i)
        s.push_back(new t_ftd(10, long_text(i), VT_BSTR, false, false, ole_variant(long_text(i + 10)), 0,
                              L"varchar(10) character set utf8mb4"));
    s.push_back(static_cast<t_ftd*>(nullptr));
    copy_failing_at_every_allocation(s);
}
