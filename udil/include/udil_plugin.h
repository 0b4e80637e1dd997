/* The UDIL codec plug-in contract.
 *
 * A codec plug-in is a shared library named libudil-<name>.so that exports
 * the C functions declared below. The host finds it by scanning its plug-in
 * directory, asks it for its name, description, suffixes, options and
 * capabilities, and binds the remaining entry points on first use. This is
 * the one header a plug-in author needs; it depends on nothing else.
 *
 * Conventions:
 * - A status of 0 means success; any other value is the plug-in's own
 *   status and is passed on to the host's caller.
 * - Texts returned by the plug-in stay valid for the life of the library.
 *   The host copies at most 31 characters of a name, description or suffix.
 * - A UdilHandle is the plug-in's own per-file object. A handle has at most
 *   one file open at a time.
 * - Pixel memory is packed rows of 8-bit components, row 0 at the bottom of
 *   the picture, in the pixel format of the movie description.
 */
#ifndef UDIL_PLUGIN_H
#define UDIL_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define UDIL_BEGIN_DECLS extern "C" {
#define UDIL_END_DECLS }
#define UDIL_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define UDIL_BEGIN_DECLS
#define UDIL_END_DECLS
#define UDIL_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* Every entry point is exported with default visibility. */
#define UDIL_EXPORT __attribute__((visibility("default")))

UDIL_BEGIN_DECLS

/* The lowest API version the host accepts. */
#define UDIL_API_VERSION_MIN 3.0

/* Eye selectors of the frame transfers. */
#define UDIL_EYE_MONO 0
#define UDIL_EYE_LEFT 1
#define UDIL_EYE_RIGHT 2
#define UDIL_EYE_BOTH 3

/* Pixel formats (single bits, so that a set of them is a mask). */
#define UDIL_FMT_A 1
#define UDIL_FMT_L 2
#define UDIL_FMT_LA 4
#define UDIL_FMT_RGB 8
#define UDIL_FMT_RGBA 16

/* Option types. */
#define UDIL_OPT_BOOLEAN 0 /* value "0" or "1" */
#define UDIL_OPT_INT 1     /* range "min max", value a decimal integer */
#define UDIL_OPT_FLOAT 2   /* range "min max", value written with "%f" */
#define UDIL_OPT_TEXT 3    /* value is free text */
#define UDIL_OPT_CHOICE 4  /* range "a|b|c", value the chosen item's index */

typedef void *UdilHandle;

/* One codec option (1288 bytes). All texts are NUL-terminated. */
typedef struct UdilOption {
    char name[256];
    int32_t set; /* 1 when a user's text gave the value */
    int32_t type;
    char range[256];
    char value[256];
    char description[512]; /* label shown to users; the name when empty */
} UdilOption;

/* A movie description (32 bytes). */
typedef struct UdilMovieInfo {
    int32_t width;
    int32_t height;
    int32_t frames; /* -1 unknown */
    int32_t stereo;
    int32_t depth;
    int32_t attribute_b; /* passed between caller and plug-in unchanged */
    float frame_rate;    /* frames per second; -1.0 unknown */
    int32_t pixel_format;
} UdilMovieInfo;

/* A request for frames in the codec's compressed form (48 bytes). The host
 * sets marker to -1 and first_frame to a frame number of the open file. */
typedef struct UdilCompressedRequest {
    int32_t marker;
    int32_t first_frame;
    int32_t frame_count;
    int32_t stride; /* bytes between the data of consecutive frames */
    int32_t eye;
    int32_t reserved;
    uint8_t *data;
    int64_t *entries64; /* one per frame, two (left, right) for stereo */
    int32_t *entries32; /* indexed like entries64 */
} UdilCompressedRequest;

/* Sample kinds of deep frames (single bits, so that a set is a mask). */
#define UDIL_SAMPLE_U8 1  /* unsigned 8-bit */
#define UDIL_SAMPLE_U16 2 /* unsigned 16-bit, full 0..65535 range, native byte order */
#define UDIL_SAMPLE_F16 4 /* IEEE half float, native byte order */
#define UDIL_SAMPLE_F32 8 /* IEEE single float, native byte order */

/* A frame at the file's own sample depth (32 bytes): `channels` samples a
 * pixel (1 L, 2 LA, 3 RGB, 4 RGBA), interleaved, the top row first, rows
 * `stride` bytes apart (at least width x channels x sample size). */
typedef struct UdilDeepFrame {
    int32_t width;
    int32_t height;
    int32_t channels;
    int32_t sample; /* one UDIL_SAMPLE_* */
    int64_t stride;
    void *pixels;
} UdilDeepFrame;

UDIL_STATIC_ASSERT(sizeof(UdilOption) == 1288, "UdilOption is 1288 bytes");
UDIL_STATIC_ASSERT(offsetof(UdilOption, set) == 256, "UdilOption.set");
UDIL_STATIC_ASSERT(offsetof(UdilOption, type) == 260, "UdilOption.type");
UDIL_STATIC_ASSERT(offsetof(UdilOption, range) == 264, "UdilOption.range");
UDIL_STATIC_ASSERT(offsetof(UdilOption, value) == 520, "UdilOption.value");
UDIL_STATIC_ASSERT(offsetof(UdilOption, description) == 776, "UdilOption.description");

UDIL_STATIC_ASSERT(sizeof(UdilMovieInfo) == 32, "UdilMovieInfo is 32 bytes");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, frames) == 8, "UdilMovieInfo.frames");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, stereo) == 12, "UdilMovieInfo.stereo");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, depth) == 16, "UdilMovieInfo.depth");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, attribute_b) == 20, "UdilMovieInfo.attribute_b");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, frame_rate) == 24, "UdilMovieInfo.frame_rate");
UDIL_STATIC_ASSERT(offsetof(UdilMovieInfo, pixel_format) == 28, "UdilMovieInfo.pixel_format");

UDIL_STATIC_ASSERT(sizeof(UdilDeepFrame) == 32, "UdilDeepFrame is 32 bytes");
UDIL_STATIC_ASSERT(offsetof(UdilDeepFrame, sample) == 12, "UdilDeepFrame.sample");
UDIL_STATIC_ASSERT(offsetof(UdilDeepFrame, stride) == 16, "UdilDeepFrame.stride");
UDIL_STATIC_ASSERT(offsetof(UdilDeepFrame, pixels) == 24, "UdilDeepFrame.pixels");

UDIL_STATIC_ASSERT(sizeof(UdilCompressedRequest) == 48, "UdilCompressedRequest is 48 bytes");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, first_frame) == 4, "first_frame");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, frame_count) == 8, "frame_count");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, stride) == 12, "stride");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, eye) == 16, "eye");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, data) == 24, "data");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, entries64) == 32, "entries64");
UDIL_STATIC_ASSERT(offsetof(UdilCompressedRequest, entries32) == 40, "entries32");

/* ---- Asked at the scan (all mandatory except udil_set_state) ---------- */

/* The API version as text, read as a number; at least "3.0". */
UDIL_EXPORT const char *udil_api_version(void);
/* Short name (the host keeps 31 characters; unique ignoring case). */
UDIL_EXPORT const char *udil_name(void);
/* One-line description (31 characters kept). */
UDIL_EXPORT const char *udil_desc(void);
/* File suffixes ("." included) and their count through `count`. */
UDIL_EXPORT const char *const *udil_suffix(int32_t *count);
UDIL_EXPORT int32_t udil_get_num_options(void);
/* Fills udil_get_num_options() records with the defaults. */
UDIL_EXPORT int32_t udil_get_default_options(UdilOption *options);
UDIL_EXPORT int32_t udil_multi_image_capable(void); /* one file holds many frames */
UDIL_EXPORT int32_t udil_stereo_capable(void);      /* one call takes both eyes */
UDIL_EXPORT int32_t udil_depth_capable(void);
/* Optional. 0 when the library is taken into use (non-zero refuses a load),
 * 1 before it is closed. */
UDIL_EXPORT int32_t udil_set_state(int32_t state);
/* Optional: more suffixes than udil_suffix's 16, matched after the suffixes
 * of every plug-in. */
UDIL_EXPORT const char *const *udil_more_suffixes(int32_t *count);

/* ---- Bound when the plug-in is first used ----------------------------- */

/* Optional: the path of the plug-in file. */
UDIL_EXPORT void udil_path_to_udil(const char *path);
/* The suffix appended to an output name that does not already end with
 * one of the plug-in's suffixes (udil_suffix), for a movie written with
 * these options. A name that does end with one is used exactly as given,
 * and udil_file_new receives it: a plug-in that writes several formats
 * picks the one that suffix names, and refuses (with a udil_get_err
 * reason) options that format cannot hold. */
UDIL_EXPORT const char *udil_choose_suffix(const UdilMovieInfo *info, int32_t count,
                                           const UdilOption *options);
/* Mask of the pixel formats the plug-in writes. */
UDIL_EXPORT int32_t udil_image_formats(void);
UDIL_EXPORT int32_t udil_rand_reads(void);
UDIL_EXPORT int32_t udil_rand_writes(void);
UDIL_EXPORT int32_t udil_unknown_frames(void);
UDIL_EXPORT int32_t udil_thread_safe(void);
/* Optional: 1 when the host may call the plug-in from several threads at
 * once, each handle still used by one thread at a time (handles share no
 * mutable state, and entry points without a handle only read constants).
 * A plug-in without it, or returning anything else, is called by one
 * thread at a time. */
UDIL_EXPORT int32_t udil_concurrent_use(void);
/* Optional: the number of threads (at least 1) that a reader handle made
 * from now on may use for its own work, such as a video decoder's
 * threads: the host's worker count, passed before every
 * udil_create_reader. A plug-in keeps the count a handle was made with.
 * One without this entry point chooses for itself. */
UDIL_EXPORT void udil_set_threads(int32_t count);
UDIL_EXPORT int32_t udil_can_read_file(const char *path);
UDIL_EXPORT int32_t udil_update_options(UdilHandle handle, int32_t count, UdilOption *options);
/* Writes the handle's last error message into `message` (256 bytes, NUL
 * terminated) and sets *flag non-zero when there is one. With a null handle
 * it tells why the last udil_create_reader or udil_create_writer on the
 * calling thread gave no handle (a plug-in that does not keep that reason
 * sets *flag to 0). */
UDIL_EXPORT int32_t udil_get_err(UdilHandle handle, int32_t *flag, char *message);
/* A handle for writing a movie described by `info`, or null. */
UDIL_EXPORT UdilHandle udil_create_writer(const UdilMovieInfo *info, int32_t count,
                                          const UdilOption *options);
/* A handle for reading `path`, or null; fills `info`. When `count` is not
 * null it receives the number of option records written into `options`
 * (at most `capacity`; none when `options` is null). Reader options: a
 * positive *count on entry says that the first *count records of `options`
 * (never more than `capacity`) are options for reading this file, such as
 * "orientation"; read them before writing the defaults back. A plug-in
 * that takes no reader options ignores them. */
UDIL_EXPORT UdilHandle udil_create_reader(const char *path, UdilMovieInfo *info, int32_t *count,
                                          int32_t capacity, UdilOption *options);
/* Releases the handle (closing any open file) and nulls *handle. */
UDIL_EXPORT int32_t udil_handle_destroy(UdilHandle *handle);
/* Makes the output file `path` on a writer handle. */
UDIL_EXPORT int32_t udil_file_new(UdilHandle handle, const char *path);
/* Opens the input file `path` on a reader handle. */
UDIL_EXPORT int32_t udil_file_open(UdilHandle handle, const char *path);
/* Finishes and closes the handle's file. */
UDIL_EXPORT int32_t udil_file_close(UdilHandle handle);
/* Writes frame `frame` of the open file: eye 0 mono, 1 left, 2 right, 3
 * both (left and right pixels). */
UDIL_EXPORT int32_t udil_save_image(UdilHandle handle, int32_t frame, int32_t eye, const void *left,
                                    const void *right);
/* Reads frame `frame` of the open file into the given pixel memory. */
UDIL_EXPORT int32_t udil_get_image(UdilHandle handle, int32_t frame, int32_t eye, void *left, void *right);
/* Optional: what the file open on reader handle `handle` is, as the
 * members of one JSON object (UTF-8), such as "container": "mov",
 * "video_codec": "h264", "audio": [...]; docs/plugin-guide.md lists the
 * keys a host understands. Writes at most `capacity` bytes, NUL-terminated,
 * into `text` and returns the length of the whole text without the NUL: a
 * result of `capacity` or more asks for a larger buffer. -1 when the
 * handle has no file open or nothing to say. The host adds what it knows
 * itself (plug-in, size, frame count, rate, stereo). */
UDIL_EXPORT int32_t udil_describe(UdilHandle handle, char *text, int32_t capacity);
/* Optional: the largest compressed frame of the open file, in bytes. When
 * present, the two functions below are mandatory. */
UDIL_EXPORT int64_t udil_get_compressed_size(UdilHandle handle);
UDIL_EXPORT int32_t udil_get_images_compressed(UdilHandle handle, UdilCompressedRequest *request);
UDIL_EXPORT int32_t udil_uncompress_image(UdilHandle handle, const void *data, int32_t size, void *pixels);

/* Optional deep frames. udil_deep_samples gives the mask of UDIL_SAMPLE_*
 * kinds the two calls below read and write; a plug-in without it (or
 * answering 0) is read and written through its 8-bit frames only, and the
 * host converts those for a deep request.
 *
 * udil_get_deep_image reads frame `frame` of the open file at the file's
 * own depth. Called with frame->pixels null it reads nothing and fills
 * width, height, channels and sample with the file's own (sample is then
 * UDIL_SAMPLE_U8 for a file of 8 bits or fewer). Otherwise the caller has
 * set all six fields, width, height, channels and sample as that query
 * gave them; a plug-in may refuse any other layout with a status and a
 * udil_get_err reason. Eye 2 without a left frame reads into the right one.
 *
 * udil_save_deep_image writes frame `frame` of the open file from a deep
 * frame of the movie's width and height with 1 to 4 channels and one of
 * the declared sample kinds; a kind the file format cannot hold is refused
 * with a reason that names it. Both are present, or neither is bound. */
UDIL_EXPORT int32_t udil_deep_samples(void);
UDIL_EXPORT int32_t udil_get_deep_image(UdilHandle handle, int32_t frame, int32_t eye, UdilDeepFrame *left,
                                        UdilDeepFrame *right);
UDIL_EXPORT int32_t udil_save_deep_image(UdilHandle handle, int32_t frame, int32_t eye,
                                         const UdilDeepFrame *left, const UdilDeepFrame *right);

/* Pointer types of the entry points, in the host's binding order. */
typedef const char *(*udil_name_fn)(void);
typedef const char *(*udil_desc_fn)(void);
typedef const char *(*udil_api_version_fn)(void);
typedef void (*udil_path_to_udil_fn)(const char *);
typedef void (*udil_set_threads_fn)(int32_t);
typedef const char *const *(*udil_suffix_fn)(int32_t *);
typedef const char *(*udil_choose_suffix_fn)(const UdilMovieInfo *, int32_t, const UdilOption *);
typedef int32_t (*udil_flag_fn)(void); /* rand_reads ... thread_safe, concurrent_use, formats, option count */
typedef int32_t (*udil_can_read_file_fn)(const char *);
typedef int32_t (*udil_set_state_fn)(int32_t);
typedef int32_t (*udil_get_err_fn)(UdilHandle, int32_t *, char *);
typedef int32_t (*udil_get_default_options_fn)(UdilOption *);
typedef int32_t (*udil_update_options_fn)(UdilHandle, int32_t, UdilOption *);
typedef UdilHandle (*udil_create_writer_fn)(const UdilMovieInfo *, int32_t, const UdilOption *);
typedef UdilHandle (*udil_create_reader_fn)(const char *, UdilMovieInfo *, int32_t *, int32_t, UdilOption *);
typedef int32_t (*udil_handle_destroy_fn)(UdilHandle *);
typedef int32_t (*udil_file_fn)(UdilHandle, const char *);
typedef int32_t (*udil_file_close_fn)(UdilHandle);
typedef int32_t (*udil_save_image_fn)(UdilHandle, int32_t, int32_t, const void *, const void *);
typedef int32_t (*udil_get_image_fn)(UdilHandle, int32_t, int32_t, void *, void *);
typedef int64_t (*udil_get_compressed_size_fn)(UdilHandle);
typedef int32_t (*udil_get_images_compressed_fn)(UdilHandle, UdilCompressedRequest *);
typedef int32_t (*udil_uncompress_image_fn)(UdilHandle, const void *, int32_t, void *);
typedef int32_t (*udil_get_deep_image_fn)(UdilHandle, int32_t, int32_t, UdilDeepFrame *, UdilDeepFrame *);
typedef int32_t (*udil_save_deep_image_fn)(UdilHandle, int32_t, int32_t, const UdilDeepFrame *,
                                           const UdilDeepFrame *);
typedef int32_t (*udil_describe_fn)(UdilHandle, char *, int32_t);

UDIL_END_DECLS

#endif
