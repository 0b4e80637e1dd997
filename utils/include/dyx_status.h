/* Status codes shared by the dyx_ library.
 *
 * Functions that report a status return an int: 0 for success, otherwise
 * one of the codes below. A module may give a code a narrower meaning (its
 * header says which), but never another number. Statuses that come back
 * from a codec plug-in are the plug-in's own and are passed on unchanged,
 * so a caller may see values outside this list. */
#ifndef DYX_STATUS_H
#define DYX_STATUS_H

#include "dyx_api.h"

DYX_BEGIN_DECLS

enum dyx_status {
    DYX_OK = 0,
    DYX_REFUSED = 1,               /* refused, or a size or format mismatch */
    DYX_NO_MEMORY = 2,             /* memory exhausted or no room */
    DYX_NOT_FOUND = 4,             /* an id, a symbol or a name not found */
    DYX_THREADS_FAILED = 5,        /* the thread layer failed to start */
    DYX_BAD_ARGUMENT = 6,          /* an invalid argument */
    DYX_SYSTEM_FAILED = 7,         /* an operating-system call, a file open or a parse failed */
    DYX_CANNOT_OPEN_DIRECTORY = 8, /* a directory cannot be opened */
    DYX_TARGET_EXISTS = 10,        /* the target of a copy exists */
    DYX_SOURCE_UNREADABLE = 11,    /* the source of a copy cannot be opened */
    DYX_FRAME_MISMATCH = 12,       /* a frame file's size or format differs from its stream's */
    DYX_NAME_TOO_LONG = 13         /* a name, or a path built from it, does not fit its buffer */
};

/* The thread, mutex, condition and key wrappers (dyx_thread.h) report
 * success and failure as 0 and -1. */
enum dyx_thread_status { DYX_THREAD_OK = 0, DYX_THREAD_FAILED = -1 };

/* A short fixed English description of a status of the list above, for
 * messages and logs ("success", "memory exhausted" ...); "unknown status"
 * for any other value (such as a plug-in's own). Never null; the text is
 * static and must not be freed. */
DYX_API const char *dyx_status_text(int status);

DYX_END_DECLS

#endif
