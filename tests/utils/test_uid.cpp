#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "dyx_thread.h"
#include "dyx_uid.h"
#include "thread_test_support.h"

using testing_support::ThreadGroup;

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
    EXPECT_EQ(dyx_uid_find(first, &a, &b), 0);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    EXPECT_EQ(dyx_uid_find(second, &a, nullptr), 0);
    EXPECT_EQ(a, -1);

    // Bits above the 48th do not count.
    const int64_t tagged = first | (int64_t{0x5a} << 48);
    EXPECT_EQ(dyx_uid_find(tagged, &a, &b), 0);
    EXPECT_EQ(b, 20);

    EXPECT_EQ(dyx_uid_destroy(first), 0);
    EXPECT_EQ(dyx_uid_find(first, &a, &b), 4);
    EXPECT_EQ(dyx_uid_destroy(first), 6);
    EXPECT_EQ(dyx_uid_find(second + 1000, nullptr, nullptr), 4);  // same slot, never made
    EXPECT_EQ(dyx_uid_find(second, nullptr, nullptr), 0);
}

TEST(Uid, ThreadsGetDistinctIds) {
    ASSERT_EQ(dyx_thread_init(), 0);
    constexpr int kPerThread = 2000;
    std::mutex seen_mutex;
    std::set<int64_t> seen;
    std::atomic<int> problems{0};
    auto body = [&]() -> int32_t {
        std::vector<int64_t> mine;
        for (int i = 0; i < kPerThread; ++i) {
            const int64_t id = dyx_uid_new(i, dyx_thread_index());
            if (id <= 0) problems.fetch_add(1);
            mine.push_back(id);
        }
        for (int i = 0; i < kPerThread; ++i) {
            int64_t a = -1, b = -1;
            if (dyx_uid_find(mine[i], &a, &b) != 0 || a != i || b != dyx_thread_index())
                problems.fetch_add(1);
            if (i % 2 == 0 && dyx_uid_destroy(mine[i]) != 0) problems.fetch_add(1);
        }
        std::lock_guard<std::mutex> lock(seen_mutex);
        seen.insert(mine.begin(), mine.end());
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(3, &body));
    EXPECT_EQ(problems.load(), 0);
    EXPECT_EQ(seen.size(), 3u * kPerThread);
}
