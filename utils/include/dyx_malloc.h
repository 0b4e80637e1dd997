/* Allocation wrappers and the logger.
 *
 * Every heap block of the library comes from dyx_malloc/dyx_realloc, which
 * report a failure through the logger (four lines naming the caller) and
 * leave a null pointer behind. The logger prints nothing until a host
 * installs output callbacks with dyx_logger_init. */
#ifndef DYX_MALLOC_H
#define DYX_MALLOC_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* A printf-style output callback such as fprintf: it receives its stream
 * handle and the finished line as the format, with no further arguments.
 * Every '%' of the line is doubled before the call, so the callback prints
 * the line exactly. Its result is ignored. */
typedef int (*dyx_logger_func)(void *stream, const char *format, ...);

/* Stores a new block of `size` bytes, or null, in the pointer variable whose
 * address is `ptr`. Size 0 gives null without a message. A failure is
 * reported through dyx_error with `what`, `line` and `file`. */
DYX_API void dyx_malloc(const char *what, void *ptr, uint64_t size, int line, const char *file);

/* Resizes the block whose address the pointer variable holds: a null block
 * is allocated as by dyx_malloc, size 0 frees the block and stores null.
 * After a failure the pointer is null and the old block has been freed. */
DYX_API void dyx_realloc(const char *what, void *ptr, uint64_t size, int line, const char *file);

/* Frees a non-null block; line and file are accepted for symmetry. */
DYX_API void dyx_free(void *block, int line, const char *file);

/* Installs the console callback (info, warn, error, fatal, abort) and the
 * log callback (dyx_log) with their stream handles. */
DYX_API void dyx_logger_init(void *console_stream, dyx_logger_func console_func, void *log_stream,
                             dyx_logger_func log_func);
/* Removes all callbacks: the logger is silent again. Returns 0. */
DYX_API int dyx_logger_done(void);
/* Non-zero: every line starts with the local time of day "hh:mm:ss". */
DYX_API void dyx_logger_time_stamp(int32_t flag);

/* One line each, built in an 8192-byte buffer (longer lines are cut). The
 * format supplies its own trailing newline. Without a callback nothing is
 * formatted. dyx_abort ends the process after the console callback has
 * the line; with no console callback it returns like the others. */
DYX_API void dyx_info(const char *format, ...) __attribute__((format(printf, 1, 2)));
DYX_API void dyx_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
DYX_API void dyx_warn(const char *format, ...) __attribute__((format(printf, 1, 2)));
DYX_API void dyx_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
DYX_API void dyx_fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
DYX_API void dyx_abort(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Debug output is compiled out: never reaches a callback. */
DYX_API void dyx_debug(const char *format, ...);

/* Does nothing; a place for a debugger to stop on failed thread calls. */
DYX_API void dyx_stop_here(void);

/* A new copy of `text` (release with free) in which every '%' is doubled;
 * null when `text` is null or memory is exhausted. */
DYX_API char *dyx_scrub_format_string(const char *text);

DYX_END_DECLS

#endif
