#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "dyx_mpool.h"
#include "dyx_thread.h"
#include "thread_test_support.h"

using testing_support::ThreadGroup;

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

// Two library threads hammer one pool, each freeing some elements the other
// allocated: no element may be handed out twice, and the figures add up.
TEST(Mpool, TwoThreadsNeverShareAnElement) {
    ASSERT_EQ(dyx_thread_init(), 0);
    constexpr int kRounds = 2000;
    constexpr int kHeld = 20;
    dyx_mpool_t *pool = dyx_mpool_create(24, 16);
    std::mutex live_mutex;
    std::unordered_set<void *> live;
    std::atomic<int> duplicates{0}, clobbered{0}, failures{0}, next_tag{1};
    std::vector<void *> exchange;  // elements one thread leaves for the other to free

    auto body = [&]() -> int32_t {
        const uint64_t tag = static_cast<uint64_t>(next_tag.fetch_add(1));
        std::vector<uint64_t *> held;
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kHeld; ++i) {
                auto *element = static_cast<uint64_t *>(dyx_mpool_alloc(pool));
                if (element == nullptr) {
                    failures.fetch_add(1);
                    continue;
                }
                std::lock_guard<std::mutex> lock(live_mutex);
                if (!live.insert(element).second) duplicates.fetch_add(1);
                element[0] = element[1] = element[2] = tag;
                held.push_back(element);
            }
            for (size_t i = 0; i < held.size(); ++i) {
                uint64_t *element = held[i];
                if (element[0] != tag || element[1] != tag || element[2] != tag) clobbered.fetch_add(1);
                const bool give = i % 3 == 0;
                {
                    std::lock_guard<std::mutex> lock(live_mutex);  // also guards the exchange
                    live.erase(element);
                    if (give) exchange.push_back(element);
                }
                if (!give) dyx_mpool_free(pool, element);
            }
            held.clear();
            std::vector<void *> others;
            {
                std::lock_guard<std::mutex> lock(live_mutex);
                others.swap(exchange);
            }
            for (void *element : others) dyx_mpool_free(pool, element);
        }
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(2, &body));
    for (void *element : exchange) dyx_mpool_free(pool, element);
    EXPECT_EQ(duplicates.load(), 0);
    EXPECT_EQ(clobbered.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    const Status status = status_of(pool);
    EXPECT_GT(status.total, 0u);
    EXPECT_EQ(status.total % 16, 0u);
    EXPECT_EQ(status.free, status.total);  // every element is back
    dyx_mpool_destroy(&pool);
}
