// The library state that threads the library did not start (Python's,
// std::thread workers) now share: memory pools, the block cache, the codec
// registry, the last-error text and the per-plug-in call lock. Meant to run
// under ThreadSanitizer too (scripts/run-tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "../../udil/libsrc/udil_internal.h"
#include "dyx_cache.h"
#include "dyx_list.h"
#include "dyx_mpool.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace {

constexpr int kThreads = 4;

// Runs body(index) on kThreads std::threads (none known to the library).
void run_threads(const std::function<void(int)> &body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back(body, i);
    for (std::thread &thread : threads) thread.join();
}

}  // namespace

TEST(ThreadSafety, ForeignThreadsShareOnePool) {
    dyx_mpool_t *pool = dyx_mpool_create(32, 8);
    ASSERT_NE(pool, nullptr);
    std::atomic<int> clashes{0};
    run_threads([&](int index) {
        std::vector<uint64_t *> held;
        for (int round = 0; round < 500; ++round) {
            for (int k = 0; k < 5; ++k) {
                auto *element = static_cast<uint64_t *>(dyx_mpool_alloc(pool));
                if (element == nullptr) continue;
                element[1] = uint64_t(index) << 32 | uint64_t(round);  // past the free-list link
                held.push_back(element);
            }
            // An element handed to two threads at once would carry the
            // other thread's mark by now.
            for (uint64_t *element : held) {
                if (element[1] >> 32 != uint64_t(index)) ++clashes;
                dyx_mpool_free(pool, element);
            }
            held.clear();
        }
    });
    EXPECT_EQ(clashes.load(), 0);
    uint32_t total = 0, free_count = 0;
    dyx_mpool_status(pool, &total, &free_count);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(free_count, total);  // every element came back
    dyx_mpool_destroy(&pool);
}

TEST(ThreadSafety, CacheServesThreadsAtOnce) {
    ASSERT_EQ(dyx_plist_pool_create(32, 256), 0);
    ASSERT_EQ(dyx_cache_init(1), 0);  // 1 MB: unlocked blocks get taken away
    std::atomic<int> damaged{0};
    run_threads([&](int index) {
        void *owners[6] = {};
        for (int round = 0; round < 200; ++round) {
            for (int k = 0; k < 6; ++k) {
                const uint64_t size = 1024 * uint64_t(1 + (round + k + index) % 64);
                if (owners[k] == nullptr) dyx_cache_alloc(&owners[k], size);
                if (owners[k] == nullptr) continue;
                std::memset(owners[k], index + 1, 1024);
                dyx_cache_unlock(&owners[k]);
            }
            for (int k = 0; k < 6; ++k) {
                dyx_cache_lock(&owners[k]);  // a block taken away left a null owner
                if (owners[k] == nullptr) continue;
                if (static_cast<unsigned char *>(owners[k])[1023] != index + 1) ++damaged;
                if ((round + k) % 3 == 0) dyx_cache_free(&owners[k]);
            }
        }
        for (void *&owner : owners)
            if (owner != nullptr) dyx_cache_free(&owner);
    });
    EXPECT_EQ(damaged.load(), 0);
    dyx_cache_check(1);  // aborts on a broken list
    dyx_cache_done();
}

TEST(ThreadSafety, RegistryLookupsWhileRecordsAreAdded) {
    ASSERT_EQ(dyx_udil_scan_libraries(""), 0);  // readies an empty registry
    constexpr int kRecords = 100;
    std::atomic<int> wrong{0};
    run_threads([&](int index) {
        if (index == 0) {
            for (int i = 0; i < kRecords; ++i)
                if (dyx_udil_alloc() == nullptr) ++wrong;
            return;
        }
        for (int i = 0; i < 300; ++i) {
            int length = 0;
            for (UdilRecord *r = dyx_udil_list_first(); r != nullptr; r = dyx_udil_list_next(r)) ++length;
            if (length > kRecords) ++wrong;
            if (dyx_udil_find_by_name("no such codec") != nullptr) ++wrong;
            if (dyx_udil_find_by_suffix("clip.mov") != nullptr) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    int length = 0;
    for (UdilRecord *r = dyx_udil_list_first(); r != nullptr; r = dyx_udil_list_next(r)) ++length;
    EXPECT_EQ(length, kRecords);
    dyx_udil_list_done();
    EXPECT_EQ(dyx_udil_list_first(), nullptr);
}

TEST(ThreadSafety, LastErrorTextIsEachThreadsOwn) {
    std::atomic<int> foreign{0};
    run_threads([&](int index) {
        for (int round = 0; round < 2000; ++round) {
            const std::string mine = "thread " + std::to_string(index) + " round " + std::to_string(round);
            dyx_udil_set_err_str(mine.c_str());
            char copy[DYX_UDIL_ERROR_SIZE];
            dyx_udil_copy_last_error(copy, sizeof copy);
            if (mine != copy) ++foreign;
        }
    });
    EXPECT_EQ(foreign.load(), 0);
    char small[6];
    dyx_udil_set_err_str("a long reason");
    dyx_udil_copy_last_error(small, sizeof small);
    EXPECT_STREQ(small, "a lon");
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "a long reason");  // the process-wide text
}

TEST(ThreadSafety, PluginCallsAreSerialisedUnlessDeclaredConcurrent) {
    ASSERT_EQ(dyx_udil_scan_libraries(""), 0);
    UdilRecord *record = dyx_udil_alloc();
    ASSERT_NE(record, nullptr);
    int64_t calls = 0;  // plain: the guard alone keeps the threads apart
    run_threads([&](int) {
        for (int i = 0; i < 5000; ++i) {
            udil::UdilCallGuard guard(record);
            udil::UdilCallGuard nested(record);  // one thread may nest guards
            ++calls;
        }
    });
    EXPECT_EQ(calls, int64_t(kThreads) * 5000);

    // A plug-in safe for concurrent use is entered while another thread
    // is inside it; a serialised one is not.
    for (const int32_t concurrent : {1, 0}) {
        record->concurrent_use = concurrent;
        std::future<void> second;
        {
            udil::UdilCallGuard inside(record);
            second = std::async(std::launch::async, [record] { udil::UdilCallGuard guard(record); });
            const bool entered =
                second.wait_for(std::chrono::seconds(concurrent ? 60 : 0)) == std::future_status::ready;
            EXPECT_EQ(entered, concurrent == 1);
        }
        second.wait();  // a serialised call goes on once the first ends
    }
    dyx_udil_free(&record);
    dyx_udil_list_done();
}
