/* Multi-Tile Movies: one large movie stored as several sub-movies, each
 * written and read through its own codec plug-in, described by a small
 * text file with the suffix ".mtm".
 *
 * The text file starts with the line "MTM 1.0" and is then read as words
 * ('#' comments, quoted names): top-level keywords `defaultformat`,
 * `fullresolution` and `nummovies`, then one `movie` block per sub-movie
 * with `imageoffset`, `bottomleft`/`bottomright`/`topleft`, `format` and
 * `file`.
 *
 * A read MTM: dyx_udil_mtm_open, dyx_udil_mtm_open_movies, any number of
 * dyx_udil_mtm_read_planar_frame calls, dyx_udil_mtm_close,
 * dyx_udil_mtm_free. A write MTM: dyx_udil_mtm_alloc, fill the sub-movies,
 * dyx_udil_mtm_new_movies and dyx_udil_mtm_new, one
 * dyx_udil_mtm_write_planar_frame per frame, dyx_udil_mtm_close,
 * dyx_udil_mtm_free.
 *
 * Every failure leaves its message in the plug-in layer's last-error text
 * (dyx_udil_get_last_error_string). Nothing here takes a lock. */
#ifndef DYX_UDIL_MTM_H
#define DYX_UDIL_MTM_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"
#include "dyx_udil.h"

DYX_BEGIN_DECLS

#define DYX_UDIL_MTM_FORMAT_SIZE 32  /* plug-in names: 31 characters kept */
#define DYX_UDIL_MTM_FILE_SIZE 1024  /* sub-movie file names: 1023 characters kept */
#define DYX_UDIL_MTM_MAX_MOVIES 4096 /* the largest `nummovies` a file may announce */

/* A point in space (corner of a tile in files without full resolution). */
typedef struct UdilMtmPoint {
    float x;
    float y;
    float z;
} UdilMtmPoint;

/* One sub-movie (one tile) of a Multi-Tile Movie. */
typedef struct UdilMtmMovie {
    char file[DYX_UDIL_MTM_FILE_SIZE];     /* file name or template ('#' frame, '@' eye) */
    char format[DYX_UDIL_MTM_FORMAT_SIZE]; /* plug-in name; empty: chosen by the file's suffix */
    int32_t image_offset[2];               /* x, y of the tile's first pixel in the full frame */
    UdilMtmPoint bottom_left;
    UdilMtmPoint bottom_right;
    UdilMtmPoint top_left;
    UdilRecord *codec;        /* the sub-movie's plug-in; not owned */
    UdilHandle handle;        /* from udil_create_writer or udil_create_reader */
    UdilHandle second_handle; /* reserved for a second eye; unused */
    UdilMovieInfo info;       /* the tile: size, frames, stereo, depth flag, pixel format */
    UdilOption *options;      /* owned array of the allocated slot count */
    int32_t option_count;     /* options in use */
    int32_t single_file;      /* 1: one file holds all frames; 0: one file per frame */
    int32_t first_frame;      /* file frame number of the first file of a template */
    int32_t frame_counter;    /* writing: frames written; reading: frames available */
} UdilMtmMovie;

/* A Multi-Tile Movie. */
typedef struct UdilMtm {
    char default_format[DYX_UDIL_MTM_FORMAT_SIZE];
    int32_t full_resolution; /* 1: tiles placed by pixel offsets; 0: by corner points */
    int32_t full_width;      /* size of the whole frame; -1 unknown */
    int32_t full_height;
    int32_t movie_count;
    UdilMtmMovie *movies; /* owned array of movie_count records */
} UdilMtm;

/* ---- records ------------------------------------------------------------ */

/* A new record with `count` sub-movies (0 or more), each with an options
 * array of `slots` entries (option_count = slots), sub-movie fields at
 * their blank values (frames -1, frame rate -1, RGB, single file). Null
 * with a last-error message when memory fails or an argument is negative. */
DYX_API UdilMtm *dyx_udil_mtm_alloc(int32_t count, int32_t slots);
/* Releases the options, the sub-movies and the record and nulls *mtm; null
 * is ignored. Handles are not closed: call dyx_udil_mtm_close first. */
DYX_API void dyx_udil_mtm_free(UdilMtm **mtm);

/* ---- the text file ------------------------------------------------------ */

/* Writes the description of `mtm` to `path`. A sub-movie file in the same
 * directory as `path` is written by its last component only, a relative
 * name from elsewhere as an absolute one. DYX_OK; DYX_REFUSED null record or path; DYX_NO_MEMORY
 * memory exhausted; DYX_BAD_ARGUMENT a file name holding '"' or a line break (nothing is
 * written); DYX_SYSTEM_FAILED the file cannot be created or written. */
DYX_API int dyx_udil_mtm_new(const char *path, const UdilMtm *mtm);
/* Reads the description file `path`: a new record (release with
 * dyx_udil_mtm_free) whose sub-movie names are resolved against the
 * directory of `path` ('~' is the home directory; names beginning with '.'
 * or '/' or a drive letter stay as written). Null with a last-error
 * message when the file cannot be opened, is malformed, announces more
 * than DYX_UDIL_MTM_MAX_MOVIES or a different number of movie blocks than
 * `nummovies`, or has no movie block. */
DYX_API UdilMtm *dyx_udil_mtm_open(const char *path);

/* ---- sub-movies and tiled frame transfer -------------------------------- */

/* Writing: for every sub-movie finds the plug-in named by its format (the
 * record's default format when empty), makes a writer handle, appends the
 * plug-in's chosen suffix to a file name that does not already end with
 * one of the plug-in's suffixes (dyx_udil_output_suffix) and creates the
 * file; a name with '#' or '@' makes one file per frame at each write (a
 * name with '@' but no '#' needs a single-image plug-in). DYX_OK, or DYX_REFUSED with a
 * last-error message; handles made before a failure stay for
 * dyx_udil_mtm_close. */
DYX_API int dyx_udil_mtm_new_movies(UdilMtm *mtm);
/* Reading: makes a reader handle for every sub-movie (plug-in by format,
 * else by suffix, whose name then fills the empty format; containers,
 * templates with '#' and '@', single images) and checks that the
 * sub-movies agree in frame count and stereo, have a tile of at least one
 * pixel and, in full-resolution files, lie inside the full frame. DYX_OK, or DYX_REFUSED
 * with a last-error message; handles made before a failure stay for
 * dyx_udil_mtm_close. */
DYX_API int dyx_udil_mtm_open_movies(UdilMtm *mtm);
/* Kept for compatibility; does nothing and returns DYX_OK. */
DYX_API int dyx_udil_mtm_open_streams(void);
/* Reads frame `frame` of every tile into the full-size images `left` and,
 * when not null, `right` (stereo). DYX_OK; DYX_REFUSED with a last-error message (tile
 * buffers, stereo, pixel format, a sub-movie not open); DYX_BAD_ARGUMENT null left image,
 * sizes that differ from the full frame, or a frame outside the
 * sub-movies; DYX_FRAME_MISMATCH a frame file whose size or format differs from its
 * sub-movie's; a plug-in's own status otherwise. Tiles after a failed read
 * are still read (a failed tile leaves its part of the images as it was);
 * the first failure is returned. */
DYX_API int dyx_udil_mtm_read_planar_frame(UdilMtm *mtm, int32_t frame, dyx_image_t *left,
                                           dyx_image_t *right);
/* Writes the next frame from the full-size images `left` and, when not
 * null, `right` (stereo) by cutting them into tiles. DYX_OK; DYX_REFUSED with a
 * last-error message (buffers, pixel format); DYX_BAD_ARGUMENT null left image, sizes
 * that differ from the full frame, or a stereo mismatch; a plug-in's own
 * status otherwise. A write that stops part way leaves the earlier tiles
 * of the frame written. */
DYX_API int dyx_udil_mtm_write_planar_frame(UdilMtm *mtm, const dyx_image_t *left, const dyx_image_t *right);
/* Closes every sub-movie's file and destroys its handle. DYX_OK (also for
 * null); DYX_SYSTEM_FAILED when a movie file being written could not be finished (the
 * plug-in's error is the last error; the rest are closed all the same).
 * Safe to call twice. */
DYX_API int dyx_udil_mtm_close(UdilMtm *mtm);
/* Copies the last-error text (at most 255 characters and a NUL) into
 * `buffer`, which must hold 256 bytes; returns `buffer`. */
DYX_API char *dyx_udil_mtm_last_error(char *buffer);

DYX_END_DECLS

#endif
