#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "dyx_list.h"
#include "dyx_mpool.h"

namespace {

// Payload of the test elements: a sort key and the order of insertion.
struct Item {
    int32_t key;
    int32_t serial;
};

int32_t by_key(const void *a, const void *b) {
    return static_cast<const Item *>(a)->key - static_cast<const Item *>(b)->key;
}

class ElementList : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        pool = dyx_list_pool_create(sizeof(Item), 4, GetParam());
        ASSERT_NE(pool, nullptr);
        list = dyx_list_create(pool);
        ASSERT_NE(list, nullptr);
    }
    void TearDown() override {
        dyx_list_destroy(&list);
        EXPECT_EQ(list, nullptr);
        dyx_list_pool_destroy(&pool);
        EXPECT_EQ(pool, nullptr);
    }

    Item *add(int32_t key) {
        auto *item = static_cast<Item *>(dyx_list_alloc(list));
        item->key = key;
        item->serial = serial++;
        dyx_list_append(list, item);
        return item;
    }

    // Walks the list both ways: the keys front to back, and a check that
    // every previous link mirrors the next links.
    std::vector<int32_t> keys() {
        std::vector<int32_t> forward;
        void *previous = nullptr;
        for (void *element = dyx_list_first(list); element; element = dyx_list_next(element)) {
            EXPECT_EQ(dyx_list_prev(element), previous);
            forward.push_back(static_cast<Item *>(element)->key);
            previous = element;
        }
        EXPECT_EQ(dyx_list_last(list), previous);
        EXPECT_EQ(dyx_list_length(list), static_cast<int32_t>(forward.size()));
        return forward;
    }

    dyx_list_pool_t *pool = nullptr;
    dyx_list_t *list = nullptr;
    int32_t serial = 0;
};

using Keys = std::vector<int32_t>;

}  // namespace

TEST_P(ElementList, LinkingOperations) {
    Item *two = add(2);
    Item *four = add(4);
    auto *one = static_cast<Item *>(dyx_list_alloc2(pool));
    one->key = 1;
    dyx_list_prepend(list, one);
    auto *three = static_cast<Item *>(dyx_list_alloc(list));
    three->key = 3;
    dyx_list_insert_after(list, two, three);
    auto *five = static_cast<Item *>(dyx_list_alloc(list));
    five->key = 5;
    dyx_list_insert_after(list, four, five);  // after the last: becomes last
    auto *zero = static_cast<Item *>(dyx_list_alloc(list));
    zero->key = 0;
    dyx_list_insert_before(list, one, zero);  // before the first: becomes first
    EXPECT_EQ(keys(), (Keys{0, 1, 2, 3, 4, 5}));

    dyx_list_remove(list, three);
    EXPECT_EQ(dyx_list_next(three), nullptr);
    EXPECT_EQ(dyx_list_prev(three), nullptr);
    dyx_list_insert_before(list, four, three);  // a removed element may be linked again
    EXPECT_EQ(keys(), (Keys{0, 1, 2, 3, 4, 5}));

    auto *popped = static_cast<Item *>(dyx_list_pop(list));
    EXPECT_EQ(popped, zero);
    EXPECT_EQ(dyx_list_next(popped), nullptr);
    dyx_list_free(list, popped);
    dyx_list_remove(list, five);
    dyx_list_free2(pool, five);
    EXPECT_EQ(keys(), (Keys{1, 2, 3, 4}));
}

TEST_P(ElementList, RemovingTheOnlyElementEmptiesTheList) {
    Item *only = add(9);
    dyx_list_remove(list, only);
    EXPECT_EQ(dyx_list_first(list), nullptr);
    EXPECT_EQ(dyx_list_last(list), nullptr);
    EXPECT_EQ(dyx_list_pop(list), nullptr);
    dyx_list_free(list, only);
}

TEST_P(ElementList, ConcatMovesTheOtherListWhole) {
    dyx_list_t *other = dyx_list_create(pool);
    ASSERT_NE(other, nullptr);
    add(1);
    add(2);
    dyx_list_concat(list, other);  // empty onto a list: nothing changes
    EXPECT_EQ(keys(), (Keys{1, 2}));
    dyx_list_concat(list, list);  // onto itself: nothing changes
    EXPECT_EQ(keys(), (Keys{1, 2}));

    dyx_list_concat(other, list);  // onto an empty list: moves whole
    EXPECT_EQ(dyx_list_first(list), nullptr);
    EXPECT_EQ(dyx_list_length(other), 2);
    add(0);
    dyx_list_concat(list, other);
    EXPECT_EQ(keys(), (Keys{0, 1, 2}));
    EXPECT_EQ(dyx_list_first(other), nullptr);
    EXPECT_EQ(dyx_list_last(other), nullptr);
    dyx_list_destroy(&other);
    EXPECT_EQ(other, nullptr);
}

TEST_P(ElementList, SortSmallCases) {
    dyx_list_sort(list, by_key);  // empty
    EXPECT_EQ(keys(), Keys{});
    add(7);
    dyx_list_sort(list, by_key);
    EXPECT_EQ(keys(), Keys{7});
    dyx_list_free(list, dyx_list_pop(list));
    add(3);
    add(1);
    add(2);
    dyx_list_sort(list, by_key);
    EXPECT_EQ(keys(), (Keys{1, 2, 3}));
}

TEST_P(ElementList, SortIsStableOverRandomInput) {
    std::mt19937 random(12345);
    for (int length : {2, 5, 16, 17, 100, 1000}) {
        std::vector<std::pair<int32_t, int32_t>> expected;
        for (int i = 0; i < length; ++i) {
            Item *item = add(static_cast<int32_t>(random() % 10));  // many equal keys
            expected.emplace_back(item->key, item->serial);
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        dyx_list_sort(list, by_key);
        keys();  // checks the previous links and the last pointer
        std::vector<std::pair<int32_t, int32_t>> sorted;
        for (void *e = dyx_list_first(list); e; e = dyx_list_next(e)) {
            sorted.emplace_back(static_cast<Item *>(e)->key, static_cast<Item *>(e)->serial);
        }
        EXPECT_EQ(sorted, expected) << "length " << length;
        while (void *e = dyx_list_pop(list)) dyx_list_free(list, e);
    }
}

TEST_P(ElementList, NullArgumentsAreIgnored) {
    EXPECT_EQ(dyx_list_length(nullptr), 0);
    EXPECT_EQ(dyx_list_pop(nullptr), nullptr);
    EXPECT_EQ(dyx_list_first(nullptr), nullptr);
    EXPECT_EQ(dyx_list_next(nullptr), nullptr);
    EXPECT_EQ(dyx_list_alloc(nullptr), nullptr);
    dyx_list_append(list, nullptr);
    dyx_list_append(nullptr, add(1));
    dyx_list_insert_after(list, nullptr, nullptr);
    dyx_list_remove(nullptr, nullptr);
    dyx_list_free(list, nullptr);
    dyx_list_sort(nullptr, by_key);
    EXPECT_EQ(keys(), Keys{1});
    dyx_list_t *none = nullptr;
    dyx_list_destroy(&none);
    dyx_list_pool_t *no_pool = nullptr;
    dyx_list_pool_destroy(&no_pool);
}

INSTANTIATE_TEST_SUITE_P(Headers, ElementList, ::testing::Values(0, 1));

TEST(ListPool, RefusesChunksWithoutElements) {
    EXPECT_EQ(dyx_list_pool_create(8, 0, 1), nullptr);
    EXPECT_EQ(dyx_list_pool_create(8, 0x80000000u, 0), nullptr);
}

TEST(ListPool, DestroyReturnsEveryElementToThePool) {
    dyx_list_pool_t *pool = dyx_list_pool_create(8, 4, 1);
    dyx_list_t *list = dyx_list_create(pool);
    for (int i = 0; i < 10; ++i) dyx_list_append(list, dyx_list_alloc(list));
    dyx_list_destroy(&list);
    // Twelve elements in three chunks, all free again: the next ten
    // allocations need no new chunk.
    list = dyx_list_create(pool);
    for (int i = 0; i < 10; ++i) dyx_list_append(list, dyx_list_alloc(list));
    EXPECT_EQ(dyx_list_length(list), 10);
    dyx_list_destroy(&list);
    dyx_list_pool_destroy(&pool);
}

namespace {

class PointerList : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(dyx_plist_pool_create(32, 256), 0); }
    void TearDown() override { dyx_plist_pool_destroy(); }

    static dyx_plist_node_t *node_for(int32_t *item) {
        dyx_plist_node_t *node = dyx_plist_alloc();
        EXPECT_EQ(node->prev, nullptr);
        EXPECT_EQ(node->next, nullptr);
        EXPECT_EQ(node->item, nullptr);
        node->item = item;
        return node;
    }

    static std::vector<int32_t> values(const dyx_plist_t *list) {
        std::vector<int32_t> forward;
        const dyx_plist_node_t *previous = nullptr;
        for (dyx_plist_node_t *node = dyx_plist_first(list); node; node = dyx_plist_next(node)) {
            EXPECT_EQ(dyx_plist_prev(node), previous);
            forward.push_back(*static_cast<int32_t *>(node->item));
            previous = node;
        }
        EXPECT_EQ(dyx_plist_last(list), previous);
        EXPECT_EQ(dyx_plist_length(list), static_cast<int32_t>(forward.size()));
        return forward;
    }
};

int32_t compare_ints(const void *a, const void *b) {
    return *static_cast<const int32_t *>(a) - *static_cast<const int32_t *>(b);
}

}  // namespace

TEST_F(PointerList, LinkSortAndDestroyLeaveItemsAlone) {
    int32_t items[] = {3, 1, 2, 1};
    dyx_plist_t *list = dyx_plist_create();
    ASSERT_NE(list, nullptr);
    dyx_plist_node_t *first_one = node_for(&items[1]);
    dyx_plist_append(list, node_for(&items[0]));
    dyx_plist_append(list, first_one);
    dyx_plist_prepend(list, node_for(&items[2]));
    dyx_plist_insert_after(list, first_one, node_for(&items[3]));
    EXPECT_EQ(values(list), (Keys{2, 3, 1, 1}));

    dyx_plist_sort(list, compare_ints);
    EXPECT_EQ(values(list), (Keys{1, 1, 2, 3}));
    EXPECT_EQ(dyx_plist_first(list), first_one);  // the equal items kept their order
    EXPECT_EQ(dyx_plist_first(list)->item, &items[1]);

    dyx_plist_t *other = dyx_plist_create();
    dyx_plist_concat(other, list);
    EXPECT_EQ(dyx_plist_length(list), 0);
    dyx_plist_node_t *popped = dyx_plist_pop(other);
    EXPECT_EQ(popped, first_one);
    EXPECT_EQ(popped->next, nullptr);
    dyx_plist_free(&popped);
    EXPECT_EQ(popped, nullptr);
    dyx_plist_remove(other, dyx_plist_last(other));  // node leaks back with the pool
    EXPECT_EQ(values(other), (Keys{1, 2}));

    dyx_plist_destroy(&other);
    dyx_plist_destroy(&list);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(items[0], 3);  // items are not touched
}

TEST_F(PointerList, SecondPoolCreationKeepsThePools) {
    dyx_plist_t *list = dyx_plist_create();
    dyx_plist_append(list, dyx_plist_alloc());
    EXPECT_EQ(dyx_plist_pool_create(1, 1), 0);
    EXPECT_EQ(dyx_plist_length(list), 1);
    dyx_plist_destroy(&list);
}

TEST(PointerListWithoutPools, GivesNull) {
    dyx_plist_pool_destroy();
    EXPECT_EQ(dyx_plist_create(), nullptr);
    EXPECT_EQ(dyx_plist_alloc(), nullptr);
    EXPECT_EQ(dyx_plist_pool_create(0, 256), 2);
    EXPECT_EQ(dyx_plist_create(), nullptr);  // nothing was left behind
}
