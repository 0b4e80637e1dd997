#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dyx_cache.h"
#include "dyx_list.h"
#include "log_capture.h"

using testing_support::LogCapture;

namespace {

class Cache : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(dyx_plist_pool_create(32, 256), 0);
        ASSERT_EQ(dyx_cache_init(1), 0);
    }
    // Each test ends the cache itself while its owner variables still exist.
    void TearDown() override { dyx_cache_done(); }

    // The lines dyx_cache_check reports.
    static std::vector<std::string> check() {
        LogCapture capture;
        dyx_cache_check(0);
        return capture.console.lines;
    }

    // True when the check reports nothing but its two summary lines, with
    // the summed sizes equal to the counted memory.
    static ::testing::AssertionResult consistent() {
        const std::vector<std::string> lines = check();
        unsigned long long summed = 0, counted = 1;
        if (lines.size() == 2 &&
            std::sscanf(lines[0].c_str(), "dyx_cache_check: size %llu %llu", &summed, &counted) == 2 &&
            summed == counted)
            return ::testing::AssertionSuccess();
        std::string all;
        for (const std::string &line : lines) all += line + "|";
        return ::testing::AssertionFailure() << "reported: " << all;
    }
};

}  // namespace

TEST_F(Cache, OnlyUnlockedBlocksAreTakenAwayAndFreedOnesAreReused) {
    void *first = nullptr, *second = nullptr, *third = nullptr;
    dyx_cache_alloc(&first, 600000);
    dyx_cache_alloc(&second, 600000);  // beyond the limit, but nothing may go
    ASSERT_TRUE(first != nullptr && second != nullptr && first != second);
    EXPECT_EQ(check()[0], "dyx_cache_check: size 1200000 1200000\n");
    dyx_cache_unlock(&first);
    dyx_cache_alloc(&third, 600000);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(first, nullptr);  // its owner lost it
    EXPECT_TRUE(consistent());
    EXPECT_EQ(check()[1], "dyx_cache_check: NumEntries 2 locked 2 unlocked 0 free 0\n");

    // A freed block is reused, keeping its larger size, while the cache is
    // within its limit.
    dyx_cache_done();
    ASSERT_EQ(dyx_cache_init(1), 0);
    dyx_cache_alloc(&first, 5000);
    void *const block = first;
    dyx_cache_free(&first);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(check()[1], "dyx_cache_check: NumEntries 1 locked 0 unlocked 0 free 1\n");
    dyx_cache_alloc(&second, 4000);
    EXPECT_EQ(second, block);
    EXPECT_EQ(check()[0], "dyx_cache_check: size 5000 5000\n");
    dyx_cache_done();  // owners' pointers are written; they must still exist
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(check(), std::vector<std::string>{"dyx_cache_check: not initialized\n"});
    dyx_cache_alloc(&first, 10);  // nothing happens without initialisation
    EXPECT_EQ(first, nullptr);
}

TEST_F(Cache, ReallocOfNullAndSmallerBlocksAndIgnoredCalls) {
    void *owner = nullptr;
    dyx_cache_realloc(&owner, 100);  // null: allocates
    ASSERT_NE(owner, nullptr);
    void *const block = owner;
    dyx_cache_unlock(&owner);
    dyx_cache_realloc(&owner, 50);  // smaller: same block, locked again
    EXPECT_EQ(owner, block);
    EXPECT_EQ(check()[1], "dyx_cache_check: NumEntries 1 locked 1 unlocked 0 free 0\n");
    dyx_cache_free(&owner);
    dyx_cache_alloc(&owner, 0);
    dyx_cache_alloc(nullptr, 10);
    dyx_cache_free(&owner);
    dyx_cache_lock(&owner);
    dyx_cache_unlock(nullptr);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(check()[1], "dyx_cache_check: NumEntries 1 locked 0 unlocked 0 free 1\n");
    // A growth the system cannot give leaves the owner without a block.
    dyx_cache_alloc(&owner, UINT64_MAX / 4);
    EXPECT_EQ(owner, nullptr);
    EXPECT_TRUE(consistent());
    dyx_cache_done();  // owners' pointers are written; they must still exist
}

TEST_F(Cache, MovedOwnerIsReportedAndWrongOwnersAbort) {
    void *owner = nullptr;
    dyx_cache_alloc(&owner, 64);
    void *const block = owner;
    owner = static_cast<char *>(block) + 1;
    const std::vector<std::string> lines = check();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "dyx_cache_check: locked entry 0 has a bad callerAddress!");
    EXPECT_DEATH(dyx_cache_check(1), "");
    owner = block;
    EXPECT_TRUE(consistent());
    void *impostor = owner;
    EXPECT_DEATH(dyx_cache_free(&impostor), "");
    EXPECT_DEATH(dyx_cache_unlock(&impostor), "");
    EXPECT_DEATH(dyx_cache_realloc(&impostor, 128), "");
    dyx_cache_done();  // owners' pointers are written; they must still exist
}

// A few thousand random operations over a handful of owners under a small
// limit, checked after each: the list order and the memory count hold,
// locked blocks stay put with their contents, and only unlocked blocks
// are ever taken away.
TEST_F(Cache, RandomOperationsKeepEveryInvariant) {
    constexpr int kOwners = 12;
    enum class Held { kNone, kLocked, kUnlocked };
    std::vector<void *> owners(kOwners, nullptr);
    std::vector<Held> held(kOwners, Held::kNone);
    std::vector<uint64_t> sizes(kOwners, 0);
    // Owner i's block starts with eight 'a' + i and ends with 'A' + i.
    auto mark = [&](int i, uint64_t size) {
        sizes[i] = size;
        std::memset(owners[i], 'a' + i, 8);
        static_cast<char *>(owners[i])[size - 1] = static_cast<char>('A' + i);
    };
    auto head_intact = [&](int i) {
        return std::string(static_cast<char *>(owners[i]), 8) == std::string(8, 'a' + i);
    };
    std::mt19937 random(2024);
    for (int step = 0; step < 4000; ++step) {
        const int i = static_cast<int>(random() % kOwners);
        const uint64_t size = 8 + random() % 400000;
        const int operation = static_cast<int>(random() % 7);
        if (operation == 6) {
            if (step % 50 == 0) dyx_cache_set_max_size(1 + static_cast<int32_t>(random() % 3));
        } else if (held[i] == Held::kNone) {
            if (operation > 1) continue;  // only allocation applies to an owner without a block
            dyx_cache_alloc(&owners[i], size);
            ASSERT_NE(owners[i], nullptr);
            held[i] = Held::kLocked;
            mark(i, size);
        } else if (operation == 2) {
            dyx_cache_realloc(&owners[i], size);
            ASSERT_NE(owners[i], nullptr);
            ASSERT_TRUE(head_intact(i)) << "owner " << i << " at step " << step;
            held[i] = Held::kLocked;
            mark(i, size);
        } else if (operation == 3) {
            dyx_cache_free(&owners[i]);
            ASSERT_EQ(owners[i], nullptr);
            held[i] = Held::kNone;
        } else {
            (operation == 4 ? dyx_cache_lock : dyx_cache_unlock)(&owners[i]);
            held[i] = operation == 4 ? Held::kLocked : Held::kUnlocked;
        }
        ASSERT_TRUE(consistent()) << "after step " << step;
        for (int o = 0; o < kOwners; ++o) {
            if (held[o] == Held::kUnlocked && owners[o] == nullptr) {
                held[o] = Held::kNone;  // taken away: allowed for unlocked blocks
            } else if (held[o] != Held::kNone) {
                ASSERT_NE(owners[o], nullptr) << "locked block of owner " << o << " taken at step " << step;
                ASSERT_TRUE(head_intact(o) && static_cast<char *>(owners[o])[sizes[o] - 1] == 'A' + o)
                    << "owner " << o << " at step " << step;
            }
        }
    }
    dyx_cache_done();  // owners' pointers are written; they must still exist
}
