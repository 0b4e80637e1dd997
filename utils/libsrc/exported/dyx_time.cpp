// Time of day, local date and the accumulating stopwatch timers.
#include "dyx_time.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

#include "dyx_malloc.h"

namespace {

struct Timers {
    int32_t count = 0;  // timers made so far
    double start[DYX_MAX_TIMERS + 1] = {};
    double sum[DYX_MAX_TIMERS + 1] = {};
};

Timers timers;

// Timer numbers that stop, start, print and elapsed accept.
bool made_timer(const int32_t *timer) { return timer != nullptr && *timer >= 0 && *timer < timers.count; }

}  // namespace

extern "C" {

int32_t dyx_time_get(dyx_time_t *now) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    const auto seconds = static_cast<int32_t>(tv.tv_sec);
    if (now != nullptr) {
        now->seconds = seconds;
        now->microseconds = static_cast<int32_t>(tv.tv_usec);
    }
    return seconds;
}

double dyx_time_get_s(void) {
    dyx_time_t now;
    dyx_time_get(&now);
    return now.seconds + now.microseconds / 1e6;
}

int32_t dyx_date_get(dyx_date_t *date) {
    const time_t seconds = std::time(nullptr);
    struct tm local = {};
    localtime_r(&seconds, &local);
    dyx_date_t today = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour,        local.tm_min,     local.tm_sec};
    if (date != nullptr) *date = today;
    return today.year;
}

void dyx_date_get_string(char *text, int32_t long_form) {
    if (text == nullptr) return;
    dyx_date_t now;
    dyx_date_get(&now);
    if (long_form) {
        std::snprintf(text, DYX_DATE_STRING_SIZE, "%02d:%02d %02d:%02d:%02d", now.month, now.day, now.hour,
                      now.minute, now.second);
    } else {
        std::snprintf(text, DYX_DATE_STRING_SIZE, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    }
}

void dyx_timer_new(int32_t *timer) {
    if (timer == nullptr) return;
    if (timers.count >= DYX_MAX_TIMERS) {
        dyx_error("dyx_timer_start: error, exceeded DYX_MAX_TIMERS\n");
        *timer = -1;
        return;
    }
    *timer = timers.count;
    timers.sum[timers.count] = 0;
    ++timers.count;
}

void dyx_timer_start(int32_t *timer) {
    if (made_timer(timer)) timers.start[*timer] = dyx_time_get_s();
}

void dyx_timer_stop(int32_t *timer) {
    if (!made_timer(timer)) {
        dyx_error("stop_timer: error, invalid timer number\n");
        return;
    }
    timers.sum[*timer] += dyx_time_get_s() - timers.start[*timer];
}

void dyx_timer_clear(int32_t *timer) {
    if (timer == nullptr || *timer < 0 || *timer > DYX_MAX_TIMERS) {
        dyx_error("stop_timer: error, invalid timer number\n");
        return;
    }
    timers.sum[*timer] = 0;
}

void dyx_timer_print(int32_t *timer) {
    if (!made_timer(timer)) {
        dyx_error("print_timer: error, invalid timer number\n");
        return;
    }
    dyx_info("\ttime: %f\n", timers.sum[*timer]);
}

float dyx_timer_elapsed(int32_t *timer) {
    return made_timer(timer) ? static_cast<float>(timers.sum[*timer]) : 0.0f;
}

}  // extern "C"
