#include <gtest/gtest.h>

#include <string>

#include "dyx_list.h"
#include "dyx_thread.h"
#include "dyx_utils.h"

TEST(UtilsInit, StartsOnceAndKeepsTheCacheDirectory) {
    ASSERT_EQ(dyx_utils_init(), 0);
    EXPECT_EQ(dyx_thread_index(), 0);
    dyx_plist_t *list = dyx_plist_create();  // the pointer-list pools exist
    ASSERT_NE(list, nullptr);
    dyx_plist_append(list, dyx_plist_alloc());

    std::string directory = "/tmp/orvo-cache";
    ASSERT_EQ(dyx_utils_set_cachedir(directory.c_str()), 0);
    directory[1] = 'X';  // a copy is kept, not the caller's text
    EXPECT_STREQ(dyx_utils_get_cachedir(), "/tmp/orvo-cache");

    EXPECT_EQ(dyx_utils_init(), 0);  // a second call changes nothing
    EXPECT_STREQ(dyx_utils_get_cachedir(), "/tmp/orvo-cache");
    EXPECT_EQ(dyx_plist_length(list), 1);

    EXPECT_EQ(dyx_utils_set_cachedir(nullptr), 0);
    EXPECT_EQ(dyx_utils_get_cachedir(), nullptr);
    dyx_plist_destroy(&list);
    ASSERT_EQ(dyx_utils_set_cachedir("/var/tmp"), 0);

    EXPECT_EQ(dyx_utils_done(), 0);
    EXPECT_EQ(dyx_utils_get_cachedir(), nullptr);
    EXPECT_EQ(dyx_plist_create(), nullptr);  // the pools are gone for good
    EXPECT_EQ(dyx_utils_init(), 0);
    EXPECT_EQ(dyx_plist_create(), nullptr);
}
