#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dyx_list.h"
#include "dyx_mpool.h"

namespace {

// The elements hold one key. Sorting looks only at key / 1000, so that
// equal sort keys can still be told apart.
using Item = int32_t;

int32_t by_key(const void *a, const void *b) {
    return *static_cast<const Item *>(a) / 1000 - *static_cast<const Item *>(b) / 1000;
}

using Keys = std::vector<int32_t>;

// Runs with and without element headers.
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

    Item *make(int32_t key) {
        auto *item = static_cast<Item *>(dyx_list_alloc(list));
        *item = key;
        return item;
    }
    Item *add(int32_t key) {
        Item *item = make(key);
        dyx_list_append(list, item);
        return item;
    }

    // The keys front to back of `of`, checking that every previous link
    // mirrors the next links.
    Keys keys(dyx_list_t *of = nullptr) {
        of = of ? of : list;
        Keys forward;
        void *previous = nullptr;
        for (void *element = dyx_list_first(of); element; element = dyx_list_next(element)) {
            EXPECT_EQ(dyx_list_prev(element), previous);
            forward.push_back(*static_cast<Item *>(element));
            previous = element;
        }
        EXPECT_EQ(dyx_list_last(of), previous);
        EXPECT_EQ(dyx_list_length(of), static_cast<int32_t>(forward.size()));
        return forward;
    }

    dyx_list_pool_t *pool = nullptr;
    dyx_list_t *list = nullptr;
};

}  // namespace

TEST_P(ElementList, LinkingRemovingAndConcatenating) {
    Item *two = add(2), *four = add(4), *three = make(3), *five = make(5), *zero = make(0);
    auto *one = static_cast<Item *>(dyx_list_alloc2(pool));
    *one = 1;
    dyx_list_prepend(list, one);
    dyx_list_insert_after(list, two, three);
    dyx_list_insert_after(list, four, five);  // after the last: becomes last
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

    dyx_list_t *other = dyx_list_create(pool);
    dyx_list_concat(list, other);  // an empty list onto a list: nothing changes
    dyx_list_concat(list, list);   // onto itself: nothing changes
    EXPECT_EQ(keys(), (Keys{1, 2, 3, 4}));
    dyx_list_concat(other, list);  // onto an empty list: moves whole
    EXPECT_EQ(keys(), Keys{});
    add(0);
    dyx_list_concat(list, other);
    EXPECT_EQ(keys(), (Keys{0, 1, 2, 3, 4}));
    EXPECT_EQ(keys(other), Keys{});
    dyx_list_destroy(&other);
    EXPECT_EQ(other, nullptr);

    // Removing the only element empties the list.
    while (void *e = dyx_list_pop(list)) dyx_list_free(list, e);
    Item *only = add(9);
    dyx_list_remove(list, only);
    EXPECT_EQ(keys(), Keys{});
    EXPECT_EQ(dyx_list_pop(list), nullptr);
    dyx_list_free(list, only);
}

TEST_P(ElementList, SortIsStableOverRandomInput) {
    std::mt19937 random(12345);
    for (int length : {0, 1, 2, 3, 5, 16, 17, 100, 1000}) {
        Keys expected;  // many equal sort keys, each followed by the order of insertion
        for (int i = 0; i < length; ++i)
            expected.push_back(*add(static_cast<int32_t>(random() % 10) * 1000 + i));
        std::stable_sort(expected.begin(), expected.end(),
                         [](int32_t a, int32_t b) { return a / 1000 < b / 1000; });
        dyx_list_sort(list, by_key);
        EXPECT_EQ(keys(), expected) << "length " << length;
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
    EXPECT_EQ(dyx_list_pool_create(8, 0, 1), nullptr);  // chunks without elements
    EXPECT_EQ(dyx_list_pool_create(8, 0x80000000u, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Headers, ElementList, ::testing::Values(0, 1));

namespace {

int32_t compare_ints(const void *a, const void *b) {
    return *static_cast<const int32_t *>(a) - *static_cast<const int32_t *>(b);
}

Keys values(const dyx_plist_t *list) {
    Keys forward;
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

dyx_plist_node_t *node_for(int32_t *item) {
    dyx_plist_node_t *node = dyx_plist_alloc();
    EXPECT_TRUE(node->prev == nullptr && node->next == nullptr && node->item == nullptr);
    node->item = item;
    return node;
}

}  // namespace

TEST(PointerList, LinkSortAndDestroyLeaveItemsAlone) {
    ASSERT_EQ(dyx_plist_pool_create(32, 256), 0);
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
    EXPECT_EQ(dyx_plist_pool_create(1, 1), 0);  // a second creation keeps the pools
    EXPECT_EQ(dyx_plist_length(other), 2);
    dyx_plist_destroy(&other);
    dyx_plist_destroy(&list);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(items[0], 3);  // items are not touched

    dyx_plist_pool_destroy();
    EXPECT_EQ(dyx_plist_create(), nullptr);
    EXPECT_EQ(dyx_plist_alloc(), nullptr);
    EXPECT_EQ(dyx_plist_pool_create(0, 256), 2);
    EXPECT_EQ(dyx_plist_create(), nullptr);  // nothing was left behind
}
