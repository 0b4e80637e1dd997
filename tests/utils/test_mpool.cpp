#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "dyx_mpool.h"
#include "thread_test_support.h"

using testing_support::run_foreign_threads;
using testing_support::run_library_threads;

namespace {

struct Status {
    uint32_t total = 0, free = 0;
};

Status status_of(dyx_mpool_t *pool) {
    Status status;
    dyx_mpool_status(pool, &status.total, &status.free);
    return status;
}

// The distance between two elements handed out in a row from a new chunk
// is the pool's element size.
std::ptrdiff_t element_size_of(uint32_t requested) {
    dyx_mpool_t *pool = dyx_mpool_create(requested, 4);
    char *first = static_cast<char *>(dyx_mpool_alloc(pool));
    char *second = static_cast<char *>(dyx_mpool_alloc(pool));
    const std::ptrdiff_t size = second - first;
    dyx_mpool_destroy(&pool);
    return size;
}

}  // namespace

TEST(Mpool, ElementSizesAndRefusals) {
    const std::pair<uint32_t, std::ptrdiff_t> sizes[] = {{1, 16}, {16, 16}, {17, 24}, {24, 24}, {100, 104}};
    for (const auto &size : sizes) EXPECT_EQ(element_size_of(size.first), size.second) << size.first;
    EXPECT_EQ(dyx_mpool_create(16, 0), nullptr);
    EXPECT_EQ(dyx_mpool_create(16, -3), nullptr);
    EXPECT_EQ(dyx_mpool_create(UINT32_MAX, 8), nullptr);
    EXPECT_EQ(dyx_mpool_alloc(nullptr), nullptr);
    dyx_mpool_free(nullptr, nullptr);
    int somewhere = 0;
    EXPECT_EQ(dyx_mpool_verify_ptr(nullptr, &somewhere), 0);
    EXPECT_EQ(status_of(nullptr).total, 0u);
}

TEST(Mpool, FirstAllocationMakesOneChunkServingTheNextSeven) {
    dyx_mpool_t *pool = dyx_mpool_create(32, 8);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(status_of(pool).total, 0u);
    char *first = static_cast<char *>(dyx_mpool_alloc(pool));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(status_of(pool).total, 8u);
    EXPECT_EQ(status_of(pool).free, 7u);
    // The chunk's link word sits just before the first element.
    EXPECT_EQ(dyx_mpool_verify_ptr(pool, first - 8), 1);
    EXPECT_EQ(dyx_mpool_verify_ptr(pool, first - 9), 0);
    for (int i = 1; i < 8; ++i) {
        char *next = static_cast<char *>(dyx_mpool_alloc(pool));
        EXPECT_EQ(next, first + 32 * i);  // address order, same chunk
        EXPECT_EQ(dyx_mpool_verify_ptr(pool, next + 31), 1);
    }
    EXPECT_EQ(dyx_mpool_verify_ptr(pool, first + 8 * 32), 0);  // just past the chunk
    EXPECT_EQ(status_of(pool).free, 0u);
    dyx_mpool_destroy(&pool);
    EXPECT_EQ(pool, nullptr);
    dyx_mpool_destroy(&pool);  // a null variable is left alone
}

TEST(Mpool, FreedElementsReturnInWholeBatchesOnly) {
    dyx_mpool_t *pool = dyx_mpool_create(16, 8);
    std::vector<void *> held;
    for (int i = 0; i < 8; ++i) held.push_back(dyx_mpool_alloc(pool));
    for (void *element : held) dyx_mpool_free(pool, element);
    EXPECT_EQ(status_of(pool).total, 8u);
    EXPECT_EQ(status_of(pool).free, 8u);

    // Eight shared elements: taken back instead of a new chunk.
    held.clear();
    for (int i = 0; i < 8; ++i) held.push_back(dyx_mpool_alloc(pool));
    EXPECT_EQ(status_of(pool).total, 8u);
    EXPECT_EQ(status_of(pool).free, 0u);

    // Only seven shared elements: a new chunk instead.
    for (int i = 0; i < 7; ++i) dyx_mpool_free(pool, held[i]);
    void *fresh = dyx_mpool_alloc(pool);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(status_of(pool).total, 16u);
    EXPECT_EQ(status_of(pool).free, 7u + 7u);
    dyx_mpool_destroy(&pool);
}

// Two library threads and three foreign ones (whose elements come from the
// shared list under the pool's lock) hammer one pool at once: no element
// may be handed to two threads, and every element comes back.
TEST(Mpool, LibraryAndForeignThreadsNeverShareAnElement) {
    dyx_mpool_t *pool = dyx_mpool_create(24, 16);
    std::atomic<int> problems{0};
    std::atomic<uint64_t> next_mark{1};
    auto body = [&] {
        const uint64_t mark = next_mark++;
        std::vector<uint64_t *> held;
        for (int round = 0; round < 2000; ++round) {
            for (int k = 0; k < 8; ++k) {
                auto *element = static_cast<uint64_t *>(dyx_mpool_alloc(pool));
                if (element == nullptr) {
                    ++problems;
                    continue;
                }
                element[1] = element[2] = mark;  // past the free-list link
                held.push_back(element);
            }
            // An element handed to two threads at once carries the other's mark by now.
            for (uint64_t *element : held) {
                if (element[1] != mark || element[2] != mark) ++problems;
                dyx_mpool_free(pool, element);
            }
            held.clear();
        }
    };
    bool library_threads_finished = false;
    run_foreign_threads(4, [&](int index) {
        if (index == 0)
            library_threads_finished = run_library_threads(2, body);
        else
            body();
    });
    ASSERT_TRUE(library_threads_finished);
    EXPECT_EQ(problems.load(), 0);
    const Status status = status_of(pool);
    EXPECT_GT(status.total, 0u);
    EXPECT_EQ(status.total % 16, 0u);
    EXPECT_EQ(status.free, status.total);  // every element is back
    dyx_mpool_destroy(&pool);
}
