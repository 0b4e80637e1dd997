#include <gtest/gtest.h>

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

// The named statuses keep the numbers callers already test for, and each
// has its own description.
TEST(StatusText, EveryCodeKeepsItsNumberAndHasItsOwnText) {
    const struct {
        int status, number;
        const char *text;
    } cases[] = {
        {DYX_OK, 0, "success"},
        {DYX_REFUSED, 1, "refused or mismatch"},
        {DYX_NO_MEMORY, 2, "memory exhausted or no room"},
        {DYX_NOT_FOUND, 4, "not found"},
        {DYX_THREADS_FAILED, 5, "the thread layer failed to start"},
        {DYX_BAD_ARGUMENT, 6, "invalid argument"},
        {DYX_SYSTEM_FAILED, 7, "a system call, file open or parse failed"},
        {DYX_CANNOT_OPEN_DIRECTORY, 8, "directory cannot be opened"},
        {DYX_TARGET_EXISTS, 10, "target exists"},
        {DYX_SOURCE_UNREADABLE, 11, "source cannot be opened"},
        {DYX_FRAME_MISMATCH, 12, "frame file differs from its stream"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.status, c.number);
        EXPECT_STREQ(dyx_status_text(c.status), c.text) << c.number;
    }
    for (int other : {-1, 3, 9, 13, 127}) EXPECT_STREQ(dyx_status_text(other), "unknown status") << other;
    EXPECT_EQ(DYX_THREAD_FAILED, -1);
}
