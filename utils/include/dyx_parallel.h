/* Worker count and row-band parallel loops.
 *
 * One setting decides how many threads the library may use for one job
 * (image operations split into row bands, frames decoded ahead or encoded
 * behind, sub-movies written side by side). It starts as the environment
 * variable ORVO_THREADS when that holds a number from 1 to 256, else the
 * number of cores. A count of 1 means every job runs on the calling thread
 * exactly as a single-threaded library would. Safe from any thread. */
#ifndef DYX_PARALLEL_H
#define DYX_PARALLEL_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* The worker count now in force, 1 to 256. */
DYX_API int dyx_parallel_threads(void);
/* Sets the worker count; 0 or less restores the default (ORVO_THREADS, else
 * the cores). Values above 256 are taken as 256. Returns the count set. */
DYX_API int dyx_parallel_set_threads(int count);

/* Calls body(first, end, context) over row bands that cover [0, rows)
 * exactly once, on up to dyx_parallel_threads() threads (the caller's
 * among them), and returns when every band is done. Bands hold at least
 * min_rows rows, so small pictures stay on the calling thread; with one
 * worker the whole range is one band. The threads are kept between calls;
 * while they run another caller's bands, or when body itself calls here,
 * the bands run on the calling thread. Bands must not write to the same
 * bytes, and body must return normally (no C++ exception, no longjmp). */
DYX_API void dyx_parallel_rows(int64_t rows, int64_t min_rows,
                               void (*body)(int64_t first, int64_t end, void* context), void* context);

DYX_END_DECLS

#endif
