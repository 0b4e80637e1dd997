#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dyx_time.h"
#include "log_capture.h"

using testing_support::LogCapture;

TEST(Time, SecondsAndDateStringsAgree) {
    dyx_time_t now;
    const int32_t seconds = dyx_time_get(&now);
    EXPECT_EQ(seconds, now.seconds);
    EXPECT_LT(now.microseconds, 1000000);
    EXPECT_GE(dyx_time_get_s(), seconds);
    // Retried until no second boundary falls between the readings.
    for (int attempt = 0; attempt < 10; ++attempt) {
        dyx_date_t before, after;
        char short_text[DYX_DATE_STRING_SIZE], long_text[DYX_DATE_STRING_SIZE], expected[64];
        const int32_t year = dyx_date_get(&before);
        dyx_date_get_string(short_text, 0);
        dyx_date_get_string(long_text, 1);
        dyx_date_get(&after);
        if (std::memcmp(&before, &after, sizeof before) != 0) continue;
        EXPECT_EQ(year, before.year);
        std::snprintf(expected, sizeof expected, "%02d:%02d %02d:%02d:%02d", before.month, before.day,
                      before.hour, before.minute, before.second);
        EXPECT_STREQ(long_text, expected);
        EXPECT_STREQ(short_text, expected + 6);  // the time alone
        return;
    }
    FAIL() << "the clock never held still for a reading";
}

// All timer behaviour in one test: the timers are process-wide and the
// last part uses them all up. Each interval lasts until the clock the
// timers read has visibly moved on, so no sleep is needed.
TEST(Timer, AccumulatesValidatesAndRunsOut) {
    LogCapture capture;
    int32_t timer = -5;
    dyx_timer_new(&timer);
    ASSERT_GE(timer, 0);
    EXPECT_EQ(dyx_timer_elapsed(&timer), 0.0f);
    for (int i = 0; i < 2; ++i) {
        dyx_timer_start(&timer);
        const double from = dyx_time_get_s();
        for (long spin = 0; dyx_time_get_s() < from + 0.002 && spin < 100000000; ++spin) {
        }
        dyx_timer_stop(&timer);
    }
    EXPECT_GE(dyx_timer_elapsed(&timer), 0.0039f);  // both intervals count

    const float elapsed = dyx_timer_elapsed(&timer);
    dyx_timer_print(&timer);
    dyx_timer_clear(&timer);
    dyx_timer_print(&timer);
    ASSERT_EQ(capture.console.lines.size(), 2u);
    ASSERT_EQ(capture.console.lines[0].rfind("\ttime: ", 0), 0u) << capture.console.lines[0];
    EXPECT_NEAR(std::strtod(capture.console.lines[0].c_str() + 7, nullptr), elapsed, 1e-5);
    EXPECT_EQ(capture.console.lines[1], "\ttime: 0.000000\n");

    capture.console.lines.clear();
    int32_t unmade = timer + 1;
    dyx_timer_stop(&unmade);
    dyx_timer_print(&unmade);
    int32_t outside = DYX_MAX_TIMERS + 1;
    dyx_timer_clear(&outside);
    dyx_timer_start(&outside);  // ignored
    EXPECT_EQ(dyx_timer_elapsed(&outside), 0.0f);
    const std::vector<std::string> invalid = {"ERROR: stop_timer: error, invalid timer number\n",
                                              "ERROR: print_timer: error, invalid timer number\n",
                                              "ERROR: stop_timer: error, invalid timer number\n"};
    EXPECT_EQ(capture.console.lines, invalid);

    capture.console.lines.clear();
    int32_t last = -1;
    for (int32_t made = timer + 1; made < DYX_MAX_TIMERS; ++made) {
        dyx_timer_new(&last);
        ASSERT_EQ(last, made);
    }
    int32_t refused = 77;
    dyx_timer_new(&refused);
    EXPECT_EQ(refused, -1);
    EXPECT_EQ(capture.console.lines,
              std::vector<std::string>{"ERROR: dyx_timer_start: error, exceeded DYX_MAX_TIMERS\n"});
}
