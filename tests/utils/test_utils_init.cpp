#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dyx_list.h"
#include "dyx_status.h"
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

// Every named status has a description of its own; other numbers have none.
TEST(StatusText, EachNamedCodeHasItsOwnText) {
    std::set<std::string> texts;
    for (int status : {DYX_OK, DYX_REFUSED, DYX_NO_MEMORY, DYX_NOT_FOUND, DYX_THREADS_FAILED,
                       DYX_BAD_ARGUMENT, DYX_SYSTEM_FAILED, DYX_CANNOT_OPEN_DIRECTORY, DYX_TARGET_EXISTS,
                       DYX_SOURCE_UNREADABLE, DYX_FRAME_MISMATCH, DYX_NAME_TOO_LONG})
        texts.insert(dyx_status_text(status));
    EXPECT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts.count("unknown status"), 0u);
    EXPECT_STREQ(dyx_status_text(DYX_OK), "success");
    for (int other : {-1, 3, 9, 14, 127}) EXPECT_STREQ(dyx_status_text(other), "unknown status") << other;
}
