/* Codec streams, file-name templates, the last-error text and frame
 * transfer.
 *
 * A stream ties one plug-in to the files of one movie: one output movie
 * when writing, up to 32 appended input files when reading. A container
 * slot keeps its file (or left/right pair) open for the whole stream; a
 * per-frame slot names one file per frame from a template in which a run
 * of '#' is the zero-padded frame number and '@' the eye ('l' or 'r'), and
 * every transfer opens and closes that frame's file. Streams take no locks. */
#ifndef DYX_UDIL_STREAM_H
#define DYX_UDIL_STREAM_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"
#include "dyx_udil.h"

DYX_BEGIN_DECLS

#define DYX_UDIL_MAX_FILES 32
#define DYX_UDIL_ERROR_SIZE 256

typedef struct UdilFileSlot {
    char name[DYX_UDIL_PATH_SIZE];   /* the name (or template) given */
    char suffix[DYX_UDIL_TEXT_SIZE]; /* writing: appended to name (dyx_udil_output_suffix); reading: empty */
    int32_t container;               /* 1 container slot, 0 per-frame slot */
    int32_t eye_pair;                /* the name holds '@': one file per eye */
    int32_t frame_count;             /* frames this slot gives the stream */
    int32_t first_frame;             /* file frame number of the slot's first frame */
    int32_t last_frame;              /* file frame number of its last frame */
    UdilRecord *codec;               /* not owned */
    UdilHandle primary;              /* the file, or the left one of a pair */
    UdilHandle secondary;            /* the right file of a container pair */
    UdilMovieInfo info;
    int32_t option_count;
    UdilOption *options; /* owned; null when none */
    /* Reading a per-frame slot: the layout of the first file, which the
     * primary handle was made for. Files of other layouts are read on a
     * reader of their own and converted to info.pixel_format, the layout
     * that holds every file's. */
    int32_t reader_format;
} UdilFileSlot;

typedef struct UdilStream {
    int32_t total_frames; /* stream frames run from 0 to total_frames - 1 */
    int32_t read;         /* 1 made by dyx_udil_file_open, 0 by dyx_udil_file_new */
    int32_t file_count;   /* slots in use */
    UdilFileSlot slots[DYX_UDIL_MAX_FILES];
} UdilStream;

/* ---- streams -------------------------------------------------------------- */

/* A write stream for `name` through the loaded plug-in `record`, or null.
 * The files are named `name` plus dyx_udil_output_suffix (nothing when
 * `name` ends with one of the codec's suffixes, else the plug-in's chosen
 * suffix). A multi-image codec creates its file now (or a left/right pair
 * for a name with '@'); a single-image codec, or any codec under a name
 * with '#', names one file per frame later. The options are copied. */
DYX_API UdilStream *dyx_udil_file_new(const char *name, UdilRecord *record, const UdilMovieInfo *info,
                                      int32_t count, const UdilOption *options);
/* A read stream over the one file (or template) `name`, or null. *first
 * and *last are file frame numbers; -1 asks a container for its bounds,
 * which are written back. `info` receives the file's description and
 * *count (when not null) the reader's option count. Reader options: a
 * positive *count on entry names that many records at the head of `buffer`
 * (at most `capacity`, as made by dyx_udil_parse_options); every reader of
 * the file gets them, and plug-ins that know no reader options ignore them.
 * A count of 0 on entry passes none. */
DYX_API UdilStream *dyx_udil_file_open(const char *name, UdilRecord *record, UdilMovieInfo *info,
                                       int32_t *count, int32_t capacity, UdilOption *buffer, int32_t *first,
                                       int32_t *last);
/* Appends a file to a read stream. DYX_OK; DYX_REFUSED the plug-in refused the file or it
 * does not match the earlier files; DYX_NO_MEMORY the stream has DYX_UDIL_MAX_FILES files (no
 * room for another) or memory failed; DYX_BAD_ARGUMENT the frame range is empty or an argument is null;
 * DYX_SYSTEM_FAILED the file cannot be opened; DYX_NAME_TOO_LONG the name, or the first file's name
 * built from a template, does not fit DYX_UDIL_PATH_SIZE bytes. A failed append leaves the stream
 * as it was. */
DYX_API int dyx_udil_file_append(UdilStream *stream, const char *name, UdilRecord *record,
                                 UdilMovieInfo *info, int32_t *count, int32_t capacity, UdilOption *buffer,
                                 int32_t *first, int32_t *last);
/* Closes every file, destroys the handles, releases the stream and nulls
 * *stream. DYX_OK; DYX_BAD_ARGUMENT when *stream is null; DYX_SYSTEM_FAILED when a movie file being written
 * could not be finished (its last frames or its index could not be
 * written, for instance on a full disk): the last error holds the
 * plug-in's message, and the stream is released all the same. */
DYX_API int dyx_udil_file_close(UdilStream **stream);
/* Frames of all slots; 0 for null. */
DYX_API int32_t dyx_udil_total_frames(const UdilStream *stream);

/* ---- names ---------------------------------------------------------------- */

/* 1 when `name` holds '#' or '@'. */
DYX_API int dyx_udil_has_wildcards(const char *name);
/* 1 when `name` holds '#'. */
DYX_API int dyx_udil_has_timestep_wildcard(const char *name);
/* Builds into `out` (DYX_UDIL_PATH_SIZE bytes) the name of frame `frame`:
 * the run from the first to the last '#' becomes the number zero-padded to
 * the run's width (growing when the number is longer), the first '@'
 * becomes 'r' for eye 2 or 'l' for eyes 0 and 1 (eye 3 keeps it), and
 * `suffix` (may be null) is appended. Returns `out`, or null with `out`
 * empty when the name would not fit. */
DYX_API char *dyx_udil_make_filename(char *out, const char *name_template, const char *suffix, int32_t frame,
                                     int32_t eye);

/* What a writer appends to the output name `name`: "" when the name
 * already ends (ignoring case) with one of the suffixes `record` registers,
 * so that the file is written under exactly that name, else `chosen` (the
 * plug-in's udil_choose_suffix; null counts as ""). "out.mkv" stays
 * out.mkv, "out" becomes "out" + chosen, "shot.####.png" keeps its
 * ".png". A descriptor's name ("/proc/self/fd/N", "/dev/fd/N") gets "". */
DYX_API const char *dyx_udil_output_suffix(const char *name, const UdilRecord *record, const char *chosen);

/* ---- last error ----------------------------------------------------------- */

/* Replaces the last-error text by `text` cut to 255 characters (null
 * empties it). Safe from any thread: the text is written under a lock. */
DYX_API void dyx_udil_set_err_str(const char *text);
/* Takes the last-error text from the plug-in's udil_get_err for `handle`;
 * empty when the plug-in has none. */
DYX_API void dyx_udil_set_err_udil(UdilRecord *record, UdilHandle handle);
/* The process-wide last-error text (valid for the life of the process):
 * the latest text any thread set. While several threads use the codec
 * layer it may change under the reader; use dyx_udil_copy_last_error. */
DYX_API const char *dyx_udil_get_last_error_string(void);
/* Copies into `out` (`size` bytes, always terminated) the last-error text
 * that the calling thread set most recently: the reason for its own last
 * failure, whatever other threads did meanwhile. Each setting above also
 * sets the calling thread's own text. */
DYX_API void dyx_udil_copy_last_error(char *out, int32_t size);
/* Writes `message` into `out` (`size` bytes, always terminated), followed
 * by ": " and the calling thread's last-error text when there is one: a
 * failure's text with the codec's reason ("Unable to open movie file: moov
 * atom not found"). */
DYX_API void dyx_udil_with_last_error(char *out, size_t size, const char *message);

/* ---- frame transfer ------------------------------------------------------- */

/* dyx_udil_save_pixels with the images' pixels (null for a missing image).
 * An image that does not match the stream's width, height and pixel format
 * is refused with DYX_BAD_ARGUMENT. */
DYX_API int dyx_udil_save_image(UdilStream *stream, int32_t frame, int32_t eye, const dyx_image_t *left,
                                const dyx_image_t *right);
/* Writes frame `frame` (eye 0 mono, 1 left, 2 right, 3 both). DYX_OK; DYX_REFUSED null
 * stream; DYX_BAD_ARGUMENT negative frame; DYX_NAME_TOO_LONG the frame's file name does not fit
 * DYX_UDIL_PATH_SIZE bytes ("Frame file name too long"); DYX_SYSTEM_FAILED the frame's file cannot be
 * made; otherwise the plug-in's status (with its error text as the last error). */
DYX_API int dyx_udil_save_pixels(UdilStream *stream, int32_t frame, int32_t eye, const void *left,
                                 const void *right);
/* Reads stream frame `frame` into the images (null for an eye not wanted).
 * DYX_OK; DYX_REFUSED null stream; DYX_BAD_ARGUMENT frame outside the stream or an image that does
 * not match the frame's description; DYX_NAME_TOO_LONG a frame file's name does not fit;
 * DYX_SYSTEM_FAILED a frame file cannot be probed or opened; DYX_FRAME_MISMATCH a per-frame file whose size
 * or format differs from its slot's; otherwise the plug-in's status. */
DYX_API int dyx_udil_get_image(UdilStream *stream, int32_t frame, int32_t eye, dyx_image_t *left,
                               dyx_image_t *right);
/* ---- deep frames (16-bit, half and float samples) ---------------------- */

/* The sample kinds the stream's codec reads and writes as deep frames
 * (UDIL_SAMPLE_* mask); UDIL_SAMPLE_U8 alone for a codec without them. */
DYX_API int32_t dyx_udil_deep_samples(const UdilStream *stream);
/* Reads stream frame `frame` at the file's own depth into `left` (and
 * `right` for eye 3; either may be null as for dyx_udil_get_image). With
 * left->pixels null (or right's for eye 2) nothing is read: the frame's
 * layout is filled in (width, height, channels, sample). Otherwise the
 * frames must have that layout, except that a file of 8-bit samples may
 * also be read into UDIL_SAMPLE_U16 (v * 257) or UDIL_SAMPLE_F32 (v / 255)
 * frames. A codec without deep frames is read through its 8-bit frames.
 * Statuses as dyx_udil_get_image; DYX_BAD_ARGUMENT a frame of another
 * layout. */
DYX_API int dyx_udil_get_deep(UdilStream *stream, int32_t frame, int32_t eye, UdilDeepFrame *left,
                              UdilDeepFrame *right);
/* The sample kind (UDIL_SAMPLE_*) of the first frame of the one file
 * `path` read by `record` (loaded), asked on a reader of its own:
 * UDIL_SAMPLE_U8 for a codec without deep frames, 0 when the file cannot
 * be read that way (a stream over it then tells why). */
DYX_API int32_t dyx_udil_file_deep_sample(const char *path, UdilRecord *record);
/* Writes frame `frame` from deep frames of the stream's width and height.
 * A codec without deep frames takes UDIL_SAMPLE_U8 frames only, written
 * through its 8-bit frames; a sample kind the codec does not declare is
 * refused with DYX_REFUSED and a last error that names the codec and the
 * kind. Otherwise statuses as dyx_udil_save_pixels. */
DYX_API int dyx_udil_save_deep(UdilStream *stream, int32_t frame, int32_t eye, const UdilDeepFrame *left,
                               const UdilDeepFrame *right);

/* The largest compressed frame over the whole stream in bytes; -1 when
 * there is no slot, the codec has no compressed frames, or a frame file
 * cannot be opened. */
DYX_API int64_t dyx_udil_get_compressed_size(UdilStream *stream);
/* Fetches request->frame_count compressed frames from stream frame
 * request->first_frame on, split into one plug-in request per slot. DYX_OK; DYX_BAD_ARGUMENT a
 * frame outside the stream; DYX_NAME_TOO_LONG a frame file's name does not fit; DYX_SYSTEM_FAILED a
 * frame file cannot be opened; otherwise the plug-in's status. */
DYX_API int dyx_udil_get_images_compressed(UdilStream *stream, const UdilCompressedRequest *request);
/* Decodes one compressed frame into `image`; a codec without compressed
 * frames reads the frame from its file instead. The plug-in's status; DYX_BAD_ARGUMENT a
 * frame outside the stream or a mismatching image; DYX_NAME_TOO_LONG a frame file's name does not
 * fit; DYX_SYSTEM_FAILED a frame file cannot be probed, matched or opened. */
DYX_API int dyx_udil_uncompress_image(UdilStream *stream, int32_t frame, int32_t eye, const void *data,
                                      int32_t size, dyx_image_t *image);

DYX_END_DECLS

#endif
