#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "dyx_malloc.h"
#include "log_capture.h"

using testing_support::LogCapture;

TEST(Logger, LevelsAndRouting) {
    LogCapture capture;
    dyx_info("info %d\n", 1);
    dyx_warn("warn\n");
    dyx_error("error %s\n", "x");
    dyx_fatal("fatal\n");
    dyx_log("to the log\n");
    dyx_debug("never %d\n", 5);
    ASSERT_EQ(capture.console.lines.size(), 4u);
    EXPECT_EQ(capture.console.lines[0], "info 1\n");
    EXPECT_EQ(capture.console.lines[1], "WARNING: warn\n");
    EXPECT_EQ(capture.console.lines[2], "ERROR: error x\n");
    EXPECT_EQ(capture.console.lines[3], "FATAL: fatal\n");
    ASSERT_EQ(capture.log.lines.size(), 1u);
    EXPECT_EQ(capture.log.lines[0], "to the log\n");
}

TEST(Logger, TimeStampPrefixesEveryLevel) {
    LogCapture capture;
    dyx_logger_time_stamp(1);
    dyx_info("x\n");
    dyx_error("y\n");
    dyx_log("z\n");
    ASSERT_EQ(capture.console.lines.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(capture.console.lines[0], std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] x\n")));
    EXPECT_TRUE(std::regex_match(capture.console.lines[1],
                                 std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] ERROR: y\n")));
    EXPECT_TRUE(std::regex_match(capture.log.lines[0], std::regex("[0-9:]{8} z\n")));
    dyx_logger_time_stamp(0);
    dyx_info("plain\n");
    EXPECT_EQ(capture.console.lines.back(), "plain\n");
}

TEST(Logger, SilentWithoutCallbacks) {
    dyx_logger_done();
    // Would end the process if a callback were installed.
    dyx_abort("not reached %s\n", "anyone");
    dyx_info("nothing\n");
    SUCCEED();
}

TEST(Logger, DoneRemovesCallbacks) {
    {
        LogCapture capture;
        EXPECT_EQ(dyx_logger_done(), 0);
        dyx_error("dropped\n");
        EXPECT_TRUE(capture.console.lines.empty());
    }
}

// Regression: a '%' in a message (a file name such as a%n.png) used to reach
// the callback as a live conversion.
TEST(Logger, PercentSignsReachTheCallbackVerbatim) {
    LogCapture capture;
    dyx_error("cannot open %s\n", "shot%s%n.png");
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: cannot open shot%s%n.png\n");
}

TEST(Logger, OverlongLineIsCutNotOverflowed) {
    LogCapture capture;
    const std::string huge(20000, '%');
    dyx_logger_time_stamp(1);
    dyx_warn("%s", huge.c_str());
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0].size(), 8191u);
    EXPECT_EQ(capture.console.lines[0].substr(8, 10), " WARNING: ");
}

TEST(Logger, AbortEndsTheProcessAfterTheLine) {
    EXPECT_DEATH(
        {
            dyx_logger_init(stderr, reinterpret_cast<dyx_logger_func>(&std::fprintf), nullptr, nullptr);
            dyx_abort("stopping %d\n", 7);
        },
        "ABORT: stopping 7");
}

TEST(Logger, ScrubFormatString) {
    char *scrubbed = dyx_scrub_format_string("100%");
    EXPECT_STREQ(scrubbed, "100%%");
    free(scrubbed);
    scrubbed = dyx_scrub_format_string("");
    EXPECT_STREQ(scrubbed, "");
    free(scrubbed);
    scrubbed = dyx_scrub_format_string("%s%n%%");
    EXPECT_STREQ(scrubbed, "%%s%%n%%%%");
    free(scrubbed);
}
