#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "dyx_malloc.h"
#include "log_capture.h"

using testing_support::LogCapture;
using Lines = std::vector<std::string>;

TEST(Logger, LevelsRoutingAndTimeStamps) {
    LogCapture capture;
    dyx_info("info %d\n", 1);
    dyx_warn("warn\n");
    dyx_error("error %s\n", "x");
    dyx_fatal("fatal\n");
    dyx_log("to the log\n");
    dyx_debug("never %d\n", 5);
    EXPECT_EQ(capture.console.lines,
              (Lines{"info 1\n", "WARNING: warn\n", "ERROR: error x\n", "FATAL: fatal\n"}));
    EXPECT_EQ(capture.log.lines, Lines{"to the log\n"});

    dyx_logger_time_stamp(1);
    dyx_error("y\n");
    dyx_log("z\n");
    EXPECT_TRUE(std::regex_match(capture.console.lines.back(),
                                 std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] ERROR: y\n")));
    EXPECT_TRUE(std::regex_match(capture.log.lines.back(), std::regex("[0-9:]{8} z\n")));
    dyx_logger_time_stamp(0);
    dyx_info("plain\n");
    EXPECT_EQ(capture.console.lines.back(), "plain\n");

    // Without callbacks nothing is printed, and abort does not end the process.
    const size_t printed = capture.console.lines.size();
    EXPECT_EQ(dyx_logger_done(), 0);
    dyx_error("dropped\n");
    dyx_abort("not reached %s\n", "anyone");
    EXPECT_EQ(capture.console.lines.size(), printed);
}

// Regression: a '%' in a message (a file name such as a%n.png) used to reach
// the callback as a live conversion; an overlong line is cut, not overflowed.
TEST(Logger, PercentSignsAndOverlongLines) {
    LogCapture capture;
    dyx_error("cannot open %s\n", "shot%s%n.png");
    EXPECT_EQ(capture.console.lines.back(), "ERROR: cannot open shot%s%n.png\n");
    dyx_logger_time_stamp(1);
    dyx_warn("%s", std::string(20000, '%').c_str());
    EXPECT_EQ(capture.console.lines.back().size(), 8191u);
    EXPECT_EQ(capture.console.lines.back().substr(8, 10), " WARNING: ");
    for (const auto &c :
         {std::make_pair("100%", "100%%"), std::make_pair("", ""), std::make_pair("%s%n%%", "%%s%%n%%%%")}) {
        char *scrubbed = dyx_scrub_format_string(c.first);
        EXPECT_STREQ(scrubbed, c.second);
        free(scrubbed);
    }
}

TEST(Logger, AbortEndsTheProcessAfterTheLine) {
    EXPECT_DEATH(
        {
            dyx_logger_init(stderr, reinterpret_cast<dyx_logger_func>(&std::fprintf), nullptr, nullptr);
            dyx_abort("stopping %d\n", 7);
        },
        "ABORT: stopping 7");
}

TEST(Malloc, AllocatesGrowsFreesAndReportsFailuresInFourLines) {
    LogCapture capture;
    char *block = reinterpret_cast<char *>(0x1);
    dyx_malloc("test", &block, 0, __LINE__, __FILE__);
    EXPECT_EQ(block, nullptr);                           // size 0: null, quietly
    dyx_realloc("test", &block, 4, __LINE__, __FILE__);  // null block: allocates
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abc", 4);
    dyx_realloc("test", &block, 1 << 20, __LINE__, __FILE__);
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    dyx_realloc("test", &block, 0, __LINE__, __FILE__);
    EXPECT_EQ(block, nullptr);
    dyx_free(nullptr, __LINE__, __FILE__);
    EXPECT_TRUE(capture.console.lines.empty());

    // Far beyond any address space: malloc must refuse it.
    dyx_malloc("huge_block", &block, UINT64_MAX / 2, 123, "utils/libsrc/test");
    EXPECT_EQ(block, nullptr);
    ASSERT_EQ(capture.console.lines.size(), 4u);
    EXPECT_NE(
        capture.console.lines[1].find("DYX_MALLOC: Memory allocation (size 9223372036854775807) failed:"),
        std::string::npos);
    EXPECT_EQ(capture.console.lines[2], "ERROR: At line 123 in file utils/libsrc/test\n");
    EXPECT_EQ(capture.console.lines[3], "ERROR: huge_block: Memory allocation failed.\n");
    capture.console.lines.clear();
    dyx_malloc("test", &block, 8, __LINE__, __FILE__);
    dyx_realloc("grow", &block, UINT64_MAX / 2, 9, "f");
    EXPECT_EQ(block, nullptr);  // the old block was released, not leaked
    ASSERT_EQ(capture.console.lines.size(), 4u);
    EXPECT_NE(capture.console.lines[1].find("DYX_REALLOC: Memory allocation"), std::string::npos);
}
