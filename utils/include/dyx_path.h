/* Path names as text. Both '/' and '\' are separators where stated. */
#ifndef DYX_PATH_H
#define DYX_PATH_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Directory part of `path`; trailing separators are removed in place.
 * Returns "." or the root as shared constants (never modify them), else
 * `path` cut at its last separator. */
DYX_API char *dyx_dirname(char *path);
/* Last component of `path` (trailing separators removed in place). */
DYX_API char *dyx_basename(char *path);

/* Statuses of the path functions beside those of dyx_status.h: a user
 * name in a '~' expansion that the user database does not know, and a path
 * that cannot be made (dyx_get_full_path, dyx_get_norm_path). */
#define DYX_PATH_UNKNOWN_USER 8
#define DYX_PATH_IMPOSSIBLE (-1)

/* Room of a filename template, its terminating NUL included. */
#define DYX_PATH_TEMPLATE_SIZE 1024
/* Longest run of '#' in a template. */
#define DYX_PATH_MAX_FRAME_DIGITS 9

/* dyx_convert_pathname modes: a direction, optionally with flags. */
#define DYX_PATH_TO_SLASH 1            /* every '\' becomes '/' (also 0) */
#define DYX_PATH_TO_BACKSLASH 2        /* every '/' becomes '\' */
#define DYX_PATH_REPLACE_SPECIAL 0x100 /* :*?"<>| become '_' (not a drive colon) */
#define DYX_PATH_CLEAN 0x200           /* drop "/./", resolve "/../", merge runs */

/* Finds the run of existing numbered files of a filename template. The
 * run of '#' (first to last '#', at most 9 characters) stands for the
 * zero-padded frame number; the last '@' is probed as 'l' (the left eye).
 * A frame exists when its file can be opened for reading; frame numbers
 * that do not fit the run's digits never exist.
 * *first == -1 asks for the lowest existing frame (none: *first = -1 and
 * the result is 6). *last == -1 lets the run go as far as the digits
 * allow; otherwise it ends at *last at the latest. On success *last is the
 * last frame of the consecutive run that begins at *first (*first - 1 when
 * *first itself is missing) and the result is 0. A path without '#', a run
 * longer than 9 or a template of DYX_PATH_TEMPLATE_SIZE bytes or more
 * gives 6. The directory holding the numbered names is listed once, so
 * the work grows with its size, not with the number of possible frames. */
DYX_API int dyx_valid_pathname_range(const char *path_template, int32_t *first, int32_t *last);

/* Expands a leading "~" (calling user, by real user id) or "~user" to the
 * home directory from the user database: home, "/", rest. Other paths are
 * copied. DYX_OK; DYX_BAD_ARGUMENT when the result does not fit `size` bytes;
 * DYX_CANNOT_OPEN_DIRECTORY when the user is unknown. */
DYX_API int dyx_expand_pathname(const char *path, char *out, int32_t size);

/* Makes `path` absolute against the working directory (an absolute path,
 * see dyx_path_is_absolute, is copied). 0; -1 for a null or empty path or
 * an unreadable working directory; else the size `out` would need. */
DYX_API int dyx_get_full_path(const char *path, char *out, int32_t size);
/* Normalises `path` with '/' separators: "." components are dropped, ".."
 * removes the component before it, runs of '/' become one (two leading
 * slashes stay two), an empty result is ".". 0; -1 for a null path, a ".."
 * that climbs above the start, more than 1024 components or exhausted
 * memory; else the size `out` would need. */
DYX_API int dyx_get_norm_path(const char *path, char *out, int32_t size);
/* 1 when `path` begins with '/', '~' or a drive letter and ':'; else 0. */
DYX_API int dyx_path_is_absolute(const char *path);
/* Converts separators in place by the DYX_PATH_* direction and flags of
 * `mode`. Returns 0. */
DYX_API int dyx_convert_pathname(char *path, int32_t mode);
/* `out` becomes `list` (empty when null); when path components follow
 * (the argument list ends with a null pointer), ":" when a list was given
 * and the components joined by "/". `out` must have room for the result.
 * Returns 0. */
DYX_API int dyx_addpath(char *out, const char *list, ...);
/* The last '.' of the last component (after '/' or '\'), or null. */
DYX_API char *dyx_find_dot_in_filename(const char *path);
/* Cuts the extension of the last component in place: 1 when cut, else 0. */
DYX_API int dyx_remove_ext(char *path);
/* getcwd and chdir. */
DYX_API char *dyx_getcwd(char *buffer, int32_t size);
DYX_API int dyx_setcwd(const char *path);

DYX_END_DECLS

#endif
