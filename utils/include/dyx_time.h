/* Time of day, local date and their short texts, and process-wide
 * accumulating stopwatch timers.
 *
 * Timers have no lock: they belong to one thread. */
#ifndef DYX_TIME_H
#define DYX_TIME_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* At most this many timers can be made. */
#define DYX_MAX_TIMERS 1023
/* Bytes a dyx_date_get_string text needs, terminator included. */
#define DYX_DATE_STRING_SIZE 16

/* Seconds and microseconds since the epoch. */
typedef struct dyx_time {
    int32_t seconds;
    int32_t microseconds;
} dyx_time_t;

/* Local date and time of day; month 1 to 12. */
typedef struct dyx_date {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
} dyx_date_t;

/* Fills `now` (may be null) and returns the seconds. */
DYX_API int32_t dyx_time_get(dyx_time_t *now);
/* The time of day in seconds, with microseconds as the fraction. */
DYX_API double dyx_time_get_s(void);
/* Fills `date` (may be null) with the local date; returns the year. */
DYX_API int32_t dyx_date_get(dyx_date_t *date);
/* Writes "hh:mm:ss", or with `long_form` non-zero "MM:DD hh:mm:ss", into
 * `text`, which holds DYX_DATE_STRING_SIZE bytes. */
DYX_API void dyx_date_get_string(char *text, int32_t long_form);

/* Hands out the next timer number with a cleared sum; after DYX_MAX_TIMERS
 * timers it reports an error and stores -1 instead. */
DYX_API void dyx_timer_new(int32_t *timer);
/* Starts a measurement; stop adds the time since the start to the sum. */
DYX_API void dyx_timer_start(int32_t *timer);
DYX_API void dyx_timer_stop(int32_t *timer);
/* Sets the sum to 0. */
DYX_API void dyx_timer_clear(int32_t *timer);
/* Reports "\ttime: <sum>" through dyx_info. */
DYX_API void dyx_timer_print(int32_t *timer);
/* The accumulated seconds; 0 for a number that names no timer. */
DYX_API float dyx_timer_elapsed(int32_t *timer);

DYX_END_DECLS

#endif
