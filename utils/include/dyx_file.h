/* Files and directories: copy, rename, removal of files and trees, a
 * compact status record and temporary names. */
#ifndef DYX_FILE_H
#define DYX_FILE_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* dyx_file_copy flag: refuse to overwrite an existing target (DYX_TARGET_EXISTS). */
#define DYX_FILE_NO_OVERWRITE 1
/* dyx_file_rename flag: copy (refusing an existing target) and remove. */
#define DYX_FILE_COPY_AND_REMOVE 0x10000

/* The status of a file, as filled by dyx_stat. Times are seconds since
 * the epoch. */
typedef struct dyx_stat {
    int64_t access_time;
    int64_t change_time; /* last status change */
    int64_t modify_time;
    uint64_t inode;
    uint32_t group_id;
    uint32_t user_id;
    uint32_t device;
    uint32_t mode; /* type and permission bits */
    uint32_t link_count;
    uint32_t special_device; /* device number of a special file */
    int64_t size;
} dyx_stat_t;

/* Copies a file. DYX_OK; DYX_SOURCE_UNREADABLE when the source cannot be opened; DYX_TARGET_EXISTS when
 * DYX_FILE_NO_OVERWRITE is given and the target exists, or when source and
 * target are the same file; DYX_SYSTEM_FAILED when the target cannot be written or a read
 * fails. */
DYX_API int dyx_file_copy(const char *source, const char *target, int32_t flags);
/* Renames (an existing target is replaced): DYX_OK or DYX_SYSTEM_FAILED. With
 * DYX_FILE_COPY_AND_REMOVE the file is copied with DYX_FILE_NO_OVERWRITE
 * (its status is returned) and the old name removed (DYX_SYSTEM_FAILED when that fails). */
DYX_API int dyx_file_rename(const char *old_path, const char *new_path, int32_t flags);
/* Removes a file: DYX_OK or DYX_SYSTEM_FAILED. */
DYX_API int dyx_file_unlink(const char *path);
/* Removes an empty directory, or with `recursive` a whole tree (symbolic
 * links inside are removed, never followed). DYX_OK, or DYX_SYSTEM_FAILED at the first
 * failure. */
DYX_API int dyx_file_rmdir(const char *path, int32_t recursive);

/* Fills `record` (may be null) with the status of `path`, following
 * symbolic links; the record is zeroed first. 0, or -1 when the file
 * cannot be examined. */
DYX_API int dyx_stat(const char *path, dyx_stat_t *record);
/* 1 for an existing directory, else 0. */
DYX_API int dyx_is_dir(const char *path);

/* A new name (release with free) for a file that does not exist yet, in
 * the manner of tempnam: the directory is $TMPDIR when that is a
 * directory, else `dir` (QEV_TMPDIR when null) when that is one, else
 * P_tmpdir or /tmp; the name begins with up to 5 characters of `prefix`
 * ("file" when null or empty) followed by random characters. Null when no
 * directory is usable or memory is exhausted. */
DYX_API char *dyx_tempnam(const char *dir, const char *prefix);

DYX_END_DECLS

#endif
