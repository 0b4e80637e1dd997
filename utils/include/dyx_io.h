/* Directory listing, access checks, line reading and robust block reads. */
#ifndef DYX_IO_H
#define DYX_IO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* dyx_io_chkfil modes: 0 to read, any other low value to write, with: */
#define DYX_IO_READ 0
#define DYX_IO_WRITE 1
#define DYX_IO_NOT_DIR 0x100 /* refuse a directory */
#define DYX_IO_REGULAR 0x200 /* require a regular file */

/* dyx_io_get_aline results besides the line length. */
#define DYX_IO_END_OF_INPUT (-1)
#define DYX_IO_LINE_TOO_LONG (-2)

/* Lists a directory against a pattern such as "dir/libudil-*.so" (a
 * leading "~" is expanded; a relative pattern is taken from the working
 * directory; a pattern ending in '/' or without a name part lists every
 * file). Every subdirectory, "." and ".." included, goes to *dir_names;
 * other entries whose names match the last component (qev_fnmatch, flags
 * 0) go to *file_names. Each list holds the names one after the other,
 * each followed by a newline, in the order the system returns them; the
 * counts go to *dir_count and *file_count. *full_path receives the
 * absolute pattern. The three texts belong to the caller (release with
 * free), also after a failure, when any of them may be null.
 * Returns DYX_OK; a dyx_expand_pathname status (DYX_BAD_ARGUMENT, DYX_CANNOT_OPEN_DIRECTORY);
 * DYX_NO_MEMORY when memory is exhausted or the directory cannot be read; DYX_BAD_ARGUMENT for a null
 * argument; DYX_SYSTEM_FAILED when the working directory cannot be read; DYX_CANNOT_OPEN_DIRECTORY
 * when the directory cannot be opened. Messages go through the logger; `verbose` adds one for an
 * unreadable directory. */
DYX_API int dyx_dir_list(const char *pattern, char **full_path, int32_t *dir_count, char **dir_names,
                         int32_t *file_count, char **file_names, int32_t verbose);

/* 1 when `path` may be read (DYX_IO_READ) or written (DYX_IO_WRITE; an
 * absent file is created and removed again to find out), else 0. Flags
 * DYX_IO_NOT_DIR and DYX_IO_REGULAR refuse other kinds of existing paths.
 * With `verbose` 1 the reason (or the overwrite warning) is logged. */
DYX_API int dyx_io_chkfil(const char *path, int32_t mode, int32_t verbose);

/* Reads one line into `buffer`, which holds size + 1 bytes. The newline is
 * not stored, nor a carriage return before it. Returns the length; -1 at
 * the end of input; -2 when the line is longer than `size` (the buffer
 * holds its first `size` characters, unterminated, and the rest of the
 * line stays unread) or `size` is negative. */
DYX_API int dyx_io_get_aline(FILE *stream, int32_t size, char *buffer);

/* Reads `count` items of `size` bytes, going on after short reads until
 * the end of the file; after a read error the error is cleared and fewer
 * items are asked for per call, until none. Returns the items read. */
DYX_API size_t dyx_fread(void *buffer, size_t size, size_t count, FILE *stream);

DYX_END_DECLS

#endif
