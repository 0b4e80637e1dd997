#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "dyx_uid.h"
#include "thread_test_support.h"

using testing_support::run_foreign_threads;

// Ids are process-wide, so the numbering checks come in one test.
TEST(Uid, NumbersRegistersAndForgets) {
    dyx_uid_init();
    const int64_t base = dyx_uid_next();
    EXPECT_GE(base, 1);
    const int64_t first = dyx_uid_new(10, 20);
    const int64_t second = dyx_uid_new(-1, INT64_MAX);
    EXPECT_EQ(first, base);
    EXPECT_EQ(second, base + 1);
    EXPECT_EQ(dyx_uid_next(), base + 2);

    int64_t a = 0, b = 0;
    EXPECT_EQ(dyx_uid_find(second, &a, nullptr), 0);
    EXPECT_EQ(a, -1);
    // Bits above the 48th do not count.
    EXPECT_EQ(dyx_uid_find(first | (int64_t{0x5a} << 48), &a, &b), 0);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);

    EXPECT_EQ(dyx_uid_destroy(first), 0);
    EXPECT_EQ(dyx_uid_find(first, &a, &b), 4);
    EXPECT_EQ(dyx_uid_destroy(first), 6);
    EXPECT_EQ(dyx_uid_find(second + 1000, nullptr, nullptr), 4);  // same slot, never made
    EXPECT_EQ(dyx_uid_find(second, nullptr, nullptr), 0);
}

TEST(Uid, ThreadsGetDistinctIds) {
    constexpr int kPerThread = 2000;
    std::mutex seen_mutex;
    std::set<int64_t> seen;
    std::atomic<int> problems{0};
    run_foreign_threads(3, [&](int thread) {
        std::vector<int64_t> mine;
        for (int i = 0; i < kPerThread; ++i) mine.push_back(dyx_uid_new(i, thread));
        for (int i = 0; i < kPerThread; ++i) {
            int64_t a = -1, b = -1;
            if (mine[i] <= 0 || dyx_uid_find(mine[i], &a, &b) != 0 || a != i || b != thread) ++problems;
            if (i % 2 == 0 && dyx_uid_destroy(mine[i]) != 0) ++problems;
        }
        std::lock_guard<std::mutex> lock(seen_mutex);
        seen.insert(mine.begin(), mine.end());
    });
    EXPECT_EQ(problems.load(), 0);
    EXPECT_EQ(seen.size(), 3u * kPerThread);
}
