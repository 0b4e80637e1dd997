#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dyx_hash.h"

namespace {

int32_t find_value(dyx_hash_t *table, int32_t slot, int32_t key) {
    int32_t value = -1;
    return dyx_hash_find(table, slot, &key, &value) == 1 ? value : -1;
}

// The merge callback used below: key 1 drops the destination entry, key 2
// takes the source value, others keep the destination; it counts its calls.
int32_t decide_by_key(const void *key, void *destination_value, const void *source_value, void *calls,
                      int32_t slot, dyx_hash_t *) {
    ++*static_cast<int *>(calls);
    EXPECT_NE(destination_value, source_value);
    EXPECT_EQ(slot, 3);
    const int32_t k = *static_cast<const int32_t *>(key);
    return k == 1 ? 0 : k == 2 ? 2 : 1;
}

}  // namespace

TEST(Hash, AddFindRemoveAndRefusals) {
    const int32_t bad_counts[][4] = {{0, 8, 4, 4}, {8, 0, 4, 4}, {8, 8, -1, 4}, {8, 8, 4, -1}};
    for (const auto &bad : bad_counts) EXPECT_EQ(dyx_hash_create(bad[0], bad[1], bad[2], bad[3], 0), nullptr);
    dyx_hash_t *table = dyx_hash_create(10, 4, 4, 4, 0);
    ASSERT_NE(table, nullptr);
    const int32_t key = 17, first = 100, second = 200, other_key = 27, other = 300;
    EXPECT_EQ(dyx_hash_add(table, 7, &key, &first), 0);
    EXPECT_EQ(dyx_hash_add(table, 7, &other_key, &other), 0);
    EXPECT_EQ(dyx_hash_add(table, 7, &key, &second), 0);
    EXPECT_EQ(find_value(table, 7, key), 100);
    EXPECT_EQ(find_value(table, 3, key), -1);  // another slot knows nothing of it

    int32_t removed = 0;
    EXPECT_EQ(dyx_hash_remove(table, 7, &key, &removed), 0);
    EXPECT_EQ(removed, 100);
    EXPECT_EQ(find_value(table, 7, key), 200);
    EXPECT_EQ(dyx_hash_remove(table, 7, &key, nullptr), 0);
    EXPECT_EQ(dyx_hash_remove(table, 7, &key, nullptr), 6);
    EXPECT_EQ(find_value(table, 7, other_key), 300);
    dyx_hash_reinit(table);
    EXPECT_EQ(find_value(table, 7, other_key), -1);
    EXPECT_EQ(dyx_hash_add(table, 7, &key, &first), 0);  // still usable
    EXPECT_EQ(find_value(table, 7, key), 100);

    // Regression: a slot outside the table was read out of bounds.
    for (int32_t outside : {10, -1, -100000}) {
        EXPECT_EQ(dyx_hash_add(table, outside, &key, &first), 6);
        EXPECT_EQ(dyx_hash_remove(table, outside, &key, nullptr), 6);
        EXPECT_EQ(dyx_hash_find(table, outside, &key, nullptr), 0);
    }
    EXPECT_EQ(dyx_hash_add(nullptr, 0, &key, &first), 0);
    EXPECT_EQ(dyx_hash_find(nullptr, 0, &key, nullptr), 0);
    EXPECT_EQ(dyx_hash_remove(nullptr, 0, &key, nullptr), 0);
    dyx_hash_destroy(&table);
    EXPECT_EQ(table, nullptr);

    // Removed on first find, and sets without values.
    dyx_hash_t *once = dyx_hash_create(4, 4, 4, 4, 1);
    ASSERT_EQ(dyx_hash_add(once, 1, &key, &first), 0);
    EXPECT_EQ(find_value(once, 1, key), 100);
    EXPECT_EQ(find_value(once, 1, key), -1);
    dyx_hash_destroy(&once);
    dyx_hash_t *set = dyx_hash_create(4, 4, 4, 0, 0);
    ASSERT_EQ(dyx_hash_add(set, 1, &key, nullptr), 0);
    int32_t untouched = 1234;
    EXPECT_EQ(dyx_hash_find(set, 1, &key, &untouched), 1);
    EXPECT_EQ(untouched, 1234);
    dyx_hash_destroy(&set);
}

TEST(Hash, MergeMovesEntriesAndFollowsTheDecisions) {
    dyx_hash_t *destination = dyx_hash_create(4, 4, 4, 4, 0);
    dyx_hash_t *source = dyx_hash_create(4, 4, 4, 4, 0);
    const int32_t only_source = 9, added = 30;
    for (int32_t key = 1; key <= 3; ++key) {
        const int32_t mine = key * 10, theirs = key * 100;
        dyx_hash_add(destination, 3, &key, &mine);
        dyx_hash_add(source, 3, &key, &theirs);
    }
    dyx_hash_add(source, 2, &only_source, &added);
    int calls = 0;
    EXPECT_EQ(dyx_hash_merge(destination, source, decide_by_key, &calls), 0);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(find_value(destination, 3, 1), -1);   // decision 0: removed
    EXPECT_EQ(find_value(destination, 3, 2), 200);  // decision 2: source value
    EXPECT_EQ(find_value(destination, 3, 3), 30);   // other: kept
    EXPECT_EQ(find_value(destination, 2, only_source), 30);
    EXPECT_EQ(find_value(source, 2, only_source), -1);  // the source is emptied

    // Without a callback the destination values stay.
    const int32_t offered = 1000;
    dyx_hash_add(source, 3, &only_source, &offered);
    const int32_t three = 3;
    dyx_hash_add(source, 3, &three, &offered);
    EXPECT_EQ(dyx_hash_merge(destination, source, nullptr, nullptr), 0);
    EXPECT_EQ(find_value(destination, 3, 3), 30);
    EXPECT_EQ(find_value(destination, 3, only_source), 1000);
    EXPECT_EQ(dyx_hash_merge(destination, destination, nullptr, nullptr), 0);
    EXPECT_EQ(dyx_hash_merge(destination, nullptr, nullptr, nullptr), 6);

    // Tables that do not fit are refused, the source unchanged.
    dyx_hash_t *wider_keys = dyx_hash_create(4, 4, 8, 4, 0);
    const int64_t wide_key = 1;
    dyx_hash_add(wider_keys, 0, &wide_key, &offered);
    EXPECT_EQ(dyx_hash_merge(destination, wider_keys, nullptr, nullptr), 6);
    EXPECT_EQ(dyx_hash_find(wider_keys, 0, &wide_key, nullptr), 1);
    dyx_hash_destroy(&destination);
    dyx_hash_destroy(&source);
    dyx_hash_destroy(&wider_keys);
}

TEST(Hash, SlotTraversePrintsKeysInHex) {
    dyx_hash_t *table = dyx_hash_create(2, 4, 2, 0, 0);
    const unsigned char key[2] = {0xab, 0x01};
    dyx_hash_add(table, 1, key, nullptr);
    testing::internal::CaptureStderr();
    dyx_hash_slot_traverse(table, 1);
    dyx_hash_slot_traverse(table, 2);  // outside: nothing
    const std::string dump = testing::internal::GetCapturedStderr();
    EXPECT_EQ(dump.rfind("HashBucket[1] list=", 0), 0u);
    EXPECT_NE(dump.find("\n   id=0xab01\n"), std::string::npos);
    EXPECT_EQ(dump.find("HashBucket[2]"), std::string::npos);
    dyx_hash_destroy(&table);
}

TEST(HashPairs, UnorderedPairsAndTheSlotRule) {
    EXPECT_EQ(dyx_hash_pairs_create(0, 4, 4, 0), nullptr);
    EXPECT_EQ(dyx_hash_pairs_create(10, 4, -1, 0), nullptr);
    dyx_hash_pairs_t *pairs = dyx_hash_pairs_create(10, 4, 4, 0);
    ASSERT_NE(pairs, nullptr);
    EXPECT_EQ(dyx_hash_pairs_slot(pairs, -5, 2), 1);
    EXPECT_EQ(dyx_hash_pairs_slot(pairs, 2, -5), 1);
    EXPECT_EQ(dyx_hash_pairs_slot(pairs, 30, 7), 8);
    EXPECT_EQ(dyx_hash_pairs_slot(pairs, INT32_MAX, INT32_MAX), 1);  // the sum wraps to -2

    const int32_t value = 37;
    EXPECT_EQ(dyx_hash_pairs_add(pairs, 3, 7, &value), 0);
    int32_t found = 0;
    EXPECT_EQ(dyx_hash_pairs_find(pairs, 7, 3, &found), 1);
    EXPECT_EQ(found, 37);
    EXPECT_EQ(dyx_hash_pairs_find(pairs, 3, 8, &found), 0);
    EXPECT_EQ(dyx_hash_pairs_remove(pairs, 7, 3, nullptr), 0);
    EXPECT_EQ(dyx_hash_pairs_remove(pairs, 3, 7, nullptr), 6);
    dyx_hash_pairs_add(pairs, -5, 2, &value);
    dyx_hash_pairs_reinit(pairs);
    EXPECT_EQ(dyx_hash_pairs_find(pairs, 2, -5, nullptr), 0);
    dyx_hash_pairs_destroy(&pairs);
    EXPECT_EQ(pairs, nullptr);
    EXPECT_EQ(dyx_hash_pairs_add(nullptr, 1, 2, &value), 0);
}
