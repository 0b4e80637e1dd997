// The library state that threads the library did not start (Python's,
// std::thread workers) share: the block cache, the codec registry, the
// last-error text and the per-plug-in call lock (memory pools are in
// test_mpool). Meant to run under ThreadSanitizer too (scripts/run-tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "../../udil/libsrc/udil_internal.h"
#include "dyx_cache.h"
#include "dyx_list.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"
#include "thread_test_support.h"

using testing_support::run_foreign_threads;

constexpr int kThreads = 4;

TEST(ThreadSafety, CacheServesThreadsAtOnce) {
    ASSERT_EQ(dyx_plist_pool_create(32, 256), 0);
    ASSERT_EQ(dyx_cache_init(1), 0);  // 1 MB: unlocked blocks get taken away
    std::atomic<int> damaged{0};
    run_foreign_threads(kThreads, [&](int index) {
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
    run_foreign_threads(kThreads, [&](int index) {
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

// Another thread's failure does not change the reason this thread reads;
// the process-wide text is the latest of all.
TEST(ThreadSafety, LastErrorTextIsEachThreadsOwn) {
    dyx_udil_set_err_str("a long reason");
    std::thread([] { dyx_udil_set_err_str("another thread's reason"); }).join();
    char copy[DYX_UDIL_ERROR_SIZE], small[6];
    dyx_udil_copy_last_error(copy, sizeof copy);
    dyx_udil_copy_last_error(small, sizeof small);
    EXPECT_STREQ(copy, "a long reason");
    EXPECT_STREQ(small, "a lon");
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "another thread's reason");
}

TEST(ThreadSafety, PluginCallsAreSerialisedUnlessDeclaredConcurrent) {
    ASSERT_EQ(dyx_udil_scan_libraries(""), 0);
    UdilRecord *record = dyx_udil_alloc();
    ASSERT_NE(record, nullptr);
    int64_t calls = 0;  // plain: the guard alone keeps the threads apart
    run_foreign_threads(kThreads, [&](int) {
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
