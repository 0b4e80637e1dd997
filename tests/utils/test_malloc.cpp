#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "dyx_malloc.h"
#include "log_capture.h"

using testing_support::LogCapture;

TEST(Malloc, SizeZeroGivesNullQuietly) {
    LogCapture capture;
    void *block = reinterpret_cast<void *>(0x1);
    dyx_malloc("test", &block, 0, __LINE__, __FILE__);
    EXPECT_EQ(block, nullptr);
    EXPECT_TRUE(capture.console.lines.empty());
}

TEST(Malloc, AllocatesAndFrees) {
    char *block = nullptr;
    dyx_malloc("test", &block, 64, __LINE__, __FILE__);
    ASSERT_NE(block, nullptr);
    std::memset(block, 7, 64);
    dyx_free(block, __LINE__, __FILE__);
    dyx_free(nullptr, __LINE__, __FILE__);
}

TEST(Malloc, FailureIsReportedInFourLines) {
    LogCapture capture;
    void *block = nullptr;
    // Far beyond any address space: malloc must refuse it.
    dyx_malloc("huge_block", &block, UINT64_MAX / 2, 123, "utils/libsrc/test");
    EXPECT_EQ(block, nullptr);
    ASSERT_EQ(capture.console.lines.size(), 4u);
    EXPECT_NE(
        capture.console.lines[1].find("DYX_MALLOC: Memory allocation (size 9223372036854775807) failed:"),
        std::string::npos);
    EXPECT_EQ(capture.console.lines[2], "ERROR: At line 123 in file utils/libsrc/test\n");
    EXPECT_EQ(capture.console.lines[3], "ERROR: huge_block: Memory allocation failed.\n");
}

TEST(Realloc, NullBlockBehavesAsMalloc) {
    void *block = nullptr;
    dyx_realloc("test", &block, 0, __LINE__, __FILE__);
    EXPECT_EQ(block, nullptr);
    dyx_realloc("test", &block, 16, __LINE__, __FILE__);
    ASSERT_NE(block, nullptr);
    dyx_realloc("test", &block, 0, __LINE__, __FILE__);
    EXPECT_EQ(block, nullptr);
}

TEST(Realloc, GrowKeepsContents) {
    char *block = nullptr;
    dyx_malloc("test", &block, 4, __LINE__, __FILE__);
    std::memcpy(block, "abc", 4);
    dyx_realloc("test", &block, 1 << 20, __LINE__, __FILE__);
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    dyx_free(block, __LINE__, __FILE__);
}

TEST(Realloc, FailureReportsAndLeavesNull) {
    LogCapture capture;
    char *block = nullptr;
    dyx_malloc("test", &block, 8, __LINE__, __FILE__);
    dyx_realloc("grow", &block, UINT64_MAX / 2, 9, "f");
    EXPECT_EQ(block, nullptr);  // the old block was released, not leaked
    ASSERT_EQ(capture.console.lines.size(), 4u);
    EXPECT_NE(capture.console.lines[1].find("DYX_REALLOC: Memory allocation"), std::string::npos);
}
