#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dyx_time.h"
#include "log_capture.h"

using testing_support::LogCapture;

TEST(Time, SecondsAgreeAcrossForms) {
    dyx_time_t now;
    const int32_t seconds = dyx_time_get(&now);
    EXPECT_EQ(seconds, now.seconds);
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LT(now.microseconds, 1000000);
    const double as_double = dyx_time_get_s();
    EXPECT_GE(as_double, seconds);
    EXPECT_LT(as_double, seconds + 5.0);
    EXPECT_GT(dyx_time_get(nullptr), 1600000000);
}

TEST(Time, DateStringsFollowTheDate) {
    // Retried until no second boundary falls between the two readings.
    for (int attempt = 0; attempt < 10; ++attempt) {
        dyx_date_t before, after;
        char short_text[DYX_DATE_STRING_SIZE], long_text[DYX_DATE_STRING_SIZE];
        const int32_t year = dyx_date_get(&before);
        dyx_date_get_string(short_text, 0);
        dyx_date_get_string(long_text, 1);
        dyx_date_get(&after);
        if (before.second != after.second || before.minute != after.minute) continue;
        EXPECT_EQ(year, before.year);
        EXPECT_GE(before.year, 2000);
        EXPECT_GE(before.month, 1);
        EXPECT_LE(before.month, 12);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%02d:%02d:%02d", before.hour, before.minute, before.second);
        EXPECT_STREQ(short_text, expected);
        std::snprintf(expected, sizeof expected, "%02d:%02d %02d:%02d:%02d", before.month, before.day,
                      before.hour, before.minute, before.second);
        EXPECT_STREQ(long_text, expected);
        EXPECT_EQ(std::string(long_text).size(), 14u);
        return;
    }
    FAIL() << "the clock never held still for a reading";
}

// All timer behaviour in one test: the timers are process-wide and the
// last part uses them all up.
TEST(Timer, AccumulatesValidatesAndRunsOut) {
    LogCapture capture;
    int32_t timer = -5;
    dyx_timer_new(&timer);
    ASSERT_GE(timer, 0);
    EXPECT_EQ(dyx_timer_elapsed(&timer), 0.0f);
    for (int i = 0; i < 2; ++i) {
        dyx_timer_start(&timer);
        usleep(20000);
        dyx_timer_stop(&timer);
    }
    const float both = dyx_timer_elapsed(&timer);
    EXPECT_GE(both, 0.039f);  // both intervals count
    EXPECT_LT(both, 30.0f);

    dyx_timer_print(&timer);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0].rfind("\ttime: 0.0", 0), 0u);
    dyx_timer_clear(&timer);
    EXPECT_EQ(dyx_timer_elapsed(&timer), 0.0f);

    capture.console.lines.clear();
    int32_t unmade = timer + 1;
    dyx_timer_stop(&unmade);
    dyx_timer_print(&unmade);
    int32_t outside = DYX_MAX_TIMERS + 1;
    dyx_timer_clear(&outside);
    dyx_timer_start(&outside);  // ignored
    EXPECT_EQ(dyx_timer_elapsed(&outside), 0.0f);
    ASSERT_EQ(capture.console.lines.size(), 3u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: stop_timer: error, invalid timer number\n");
    EXPECT_EQ(capture.console.lines[1], "ERROR: print_timer: error, invalid timer number\n");
    EXPECT_EQ(capture.console.lines[2], "ERROR: stop_timer: error, invalid timer number\n");

    capture.console.lines.clear();
    int32_t last = -1;
    for (int32_t made = timer + 1; made < DYX_MAX_TIMERS; ++made) {
        dyx_timer_new(&last);
        ASSERT_EQ(last, made);
    }
    EXPECT_TRUE(capture.console.lines.empty());
    int32_t refused = 77;
    dyx_timer_new(&refused);
    EXPECT_EQ(refused, -1);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_timer_start: error, exceeded DYX_MAX_TIMERS\n");
}
