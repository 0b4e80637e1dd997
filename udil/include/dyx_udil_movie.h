/* Movies: a codec file, a numbered image sequence or a Multi-Tile Movie,
 * opened to read frames or to write them.
 *
 * A movie is a DyxUdilMovie: the fields below are the caller's settings
 * (filename, format, options, the read rules, the write description) and
 * what open() finds; `internals` holds the stream, the Multi-Tile record
 * and the worker pipeline while the movie is open. A struct may be
 * embedded (dyx_udil_movie_init, then dyx_udil_movie_close before it goes)
 * or made with dyx_udil_movie_new and released with dyx_udil_movie_free.
 *
 * Reading yields `nframes` frames: the file frames framerange[0] ..
 * framerange[1], the first one repeated repeat[0] more times before them
 * and the last one repeat[1] more times after them, each flipped by `flip`
 * (DYX_FLIP_*) and scaled by an intensity factor that runs from
 * intensity[0] at the first frame to intensity[1] at the last.
 *
 * Writing takes `nframes` frames of `width` x `height` (the frames are
 * converted and scaled to that size); `stereo` writes both eyes, and an
 * `anaglyph` (DYX_ANAGLYPH_*) composes both eyes into one mono frame;
 * `tiling` above 1 x 1 writes a Multi-Tile Movie of tile files. The write
 * checks at open refuse a file name under which a frame or an eye would be
 * lost or would not read back.
 *
 * With more than one worker (dyx_parallel_threads()) frames read in order
 * are decoded ahead of the caller and frames appended are encoded behind
 * it; a frame that fails behind is reported by the next append or by
 * close, as a synchronous write would have been. With one worker nothing
 * starts and every frame is read and written on the calling thread.
 *
 * Every function returns 0 on success; a failure leaves its text in
 * `error` (dyx_udil_movie_error) and returns DYX_MOVIE_FAILED, a status of
 * dyx_status.h or a codec plug-in's own status, or one of the statuses
 * below that tell a host what to raise. One thread at a time uses a movie
 * (the host serialises calls); different movies may be used on different
 * threads at once. No function calls back into the caller except through
 * the callbacks it is handed. */
#ifndef DYX_UDIL_MOVIE_H
#define DYX_UDIL_MOVIE_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"
#include "dyx_udil.h"

DYX_BEGIN_DECLS

#define DYX_MOVIE_TEXT_SIZE 1024  /* filename, options and error */
#define DYX_MOVIE_FORMAT_SIZE 256 /* plug-in name */

/* Statuses of the movie functions beyond those of dyx_status.h:
 * DYX_MOVIE_FAILED      refused or failed: `error` says why;
 * DYX_MOVIE_OUT_OF_MEMORY  memory for the caller's frames ran out (a host
 *                       raises its memory error; `error` is unchanged);
 * DYX_MOVIE_STOPPED     a callback asked to stop (a warning made an error,
 *                       or an interruption);
 * DYX_MOVIE_TOO_MANY_FRAMES  the frame range and repeats would give more
 *                       than 2147483647 frames. */
enum dyx_movie_status {
    DYX_MOVIE_FAILED = -1,
    DYX_MOVIE_OUT_OF_MEMORY = -101,
    DYX_MOVIE_STOPPED = -102,
    DYX_MOVIE_TOO_MANY_FRAMES = -103
};

/* What a progress callback answers after each frame of a transfer. */
enum dyx_movie_progress {
    DYX_MOVIE_CONTINUE = 0,
    DYX_MOVIE_ABORT = 1,            /* stop: "Operation aborted by user" */
    DYX_MOVIE_CALLBACK_FAILED = -1, /* the callback itself failed: "Unable to call object method" */
    DYX_MOVIE_INTERRUPT = 2         /* stop at once: "Operation interrupted", DYX_MOVIE_STOPPED */
};

typedef struct DyxUdilMovieInternals DyxUdilMovieInternals;

typedef struct DyxUdilMovie {
    int32_t read_mode;                  /* 1 read, 0 write; fixed at init */
    int32_t is_open;                    /* set by open, cleared by close */
    char options[DYX_MOVIE_TEXT_SIZE];  /* codec options "name value ..."; reader options when reading */
    char format[DYX_MOVIE_FORMAT_SIZE]; /* plug-in name; "" chooses by suffix; the one in use after open */
    float fps;                          /* write: -1.0 unset (30 at open); read: the file's */
    int32_t width, height;              /* write: frame size; read: the file's */
    char filename[DYX_MOVIE_TEXT_SIZE]; /* file, numbered-sequence template or .mtm name */
    int32_t nframes;                    /* read: frames yielded; write: frames announced */
    int32_t realframes;                 /* read: frames in the file; write: frames written */
    char error[DYX_MOVIE_TEXT_SIZE];    /* the text of the last failure */
    int32_t tiling[2];                  /* write: tiles across, down */
    int32_t stereo;                     /* write: 1 writes both eyes; read: 1 for a stereo file */
    int32_t anaglyph;                   /* write: DYX_ANAGLYPH_* (dyx_image_frame.h) of a stereo movie */
    int32_t repeat[2];                  /* read: extra copies of the first and the last frame */
    int32_t framerange[2];              /* read: first, last file frame; -1 the file's own */
    int32_t flip;                       /* read: DYX_FLIP_* bits */
    float intensity[2];                 /* read: factor (0..1) at the first and the last frame */
    UdilMovieInfo info;                 /* after open: the description of the file's frames */
    DyxUdilMovieInternals *internals;   /* stream, Multi-Tile record, pipeline; owned while open */
} DyxUdilMovie;

/* Receives one option warning of open(), such as "warning: unknown option:
 * fast" (no trailing newline). Answers 0 to go on, non-zero to stop: open()
 * then makes nothing and returns DYX_MOVIE_STOPPED, and later warnings are
 * not delivered. Called on the thread that called open(). */
typedef DyxUdilWarningFunc DyxUdilMovieWarningFunc;

/* How dyx_udil_movie_append_movie moves frames and talks to its caller.
 * Either callback may be null; both run on the thread that called
 * append_movie, between frames (no worker thread ever calls them). */
typedef struct DyxUdilMovieTransfer {
    int32_t smooth; /* 1 scales with filtering when the sizes differ */
    /* Before each frame: non-zero stops the transfer with
     * DYX_MOVIE_STOPPED and "Operation interrupted". */
    int (*check_stop)(void *context);
    /* After each frame written, with the source frame number (0 on):
     * DYX_MOVIE_CONTINUE or another dyx_movie_progress answer. */
    int (*progress)(void *context, int32_t frame);
    void *context;
} DyxUdilMovieTransfer;

/* ---- life ------------------------------------------------------------------ */

/* Sets every field of `movie` to its default for a read (read_mode 1) or a
 * write (0) movie: no file, framerange -1 -1, tiling 1 1, intensity 1 1,
 * fps -1. Call once on a struct before any other function. */
DYX_API void dyx_udil_movie_init(DyxUdilMovie *movie, int32_t read_mode);

/* A new movie initialised as by dyx_udil_movie_init, or null when memory
 * fails. Release it with dyx_udil_movie_free. */
DYX_API DyxUdilMovie *dyx_udil_movie_new(int32_t read_mode);

/* Closes *movie when open (a file being written is finished; its failure
 * is lost, call dyx_udil_movie_close first to see it), frees it and nulls
 * *movie. Null or a null *movie is accepted. */
DYX_API void dyx_udil_movie_free(DyxUdilMovie **movie);

/* The text of the movie's last failure ("" when none). Valid until the
 * next call on the movie. */
DYX_API const char *dyx_udil_movie_error(const DyxUdilMovie *movie);

/* ---- settings with rules ----------------------------------------------------- */

/* Read movies: the frames used, first .. last, each at least 0 and last at
 * least first; once open both are kept within the file's frames. nframes
 * follows. 0, or DYX_MOVIE_TOO_MANY_FRAMES with nothing changed. */
DYX_API int dyx_udil_movie_set_framerange(DyxUdilMovie *movie, int32_t first, int32_t last);

/* Read movies: the extra copies of the first and the last frame (negative
 * counts are 0). nframes follows. 0, or DYX_MOVIE_TOO_MANY_FRAMES with
 * nothing changed. */
DYX_API int dyx_udil_movie_set_repeat(DyxUdilMovie *movie, int32_t first, int32_t last);

/* Write movies: the frame size (negative values are 0) and the tile counts
 * (below 1 is 1); a tile count above 1 that does not divide its known
 * dimension falls back to 1. Never fail. */
DYX_API void dyx_udil_movie_set_dims(DyxUdilMovie *movie, int32_t width, int32_t height);
DYX_API void dyx_udil_movie_set_tiling(DyxUdilMovie *movie, int32_t across, int32_t down);

/* ---- open and close ---------------------------------------------------------- */

/* Opens `filename` (a name containing ".mtm" is a Multi-Tile Movie) to read
 * or to write, with the plug-in `format` or, when empty, the one matching
 * the name's suffix. Reading fills width, height, stereo, fps, realframes,
 * info and `format`, and applies the frame range (a numbered sequence
 * opens the run of files from the range's first frame, which then counts
 * as frame 0). Writing needs width and height, sets fps 30 when unset,
 * parses `options`, makes the write checks, then creates the file (or the
 * tile files and their .mtm description).
 * Option warnings go to `warn` (null: to the logger's warnings).
 * 0; DYX_MOVIE_STOPPED when `warn` asked to stop (nothing is made); else
 * DYX_MOVIE_FAILED with "movie is already open", "a filename must be
 * specified", "Unsupported movie file format", "Unable to find movie
 * CODEC", "Unknown output movie dimensions", a write check's text, or
 * "Unable to open movie file", "Unable to create movie file", "Unable to
 * open MTM file", "Unable to create MTM subfiles" ... with the codec's
 * reason after ": ". Blocks on file I/O. */
DYX_API int dyx_udil_movie_open(DyxUdilMovie *movie, DyxUdilMovieWarningFunc warn, void *context);

/* Opens like dyx_udil_movie_open; a write movie then takes frames until it
 * is closed, whatever `nframes` announces, up to what its file names can
 * number (a movie file 2147483647, a run of N '#' 10^N, one picture
 * without a run 1): a frame past that fails append with "past maximum
 * number of frames, close() required". A tiled movie writes its .mtm
 * description when it closes. Same statuses as dyx_udil_movie_open. */
DYX_API int dyx_udil_movie_open_uncounted(DyxUdilMovie *movie, DyxUdilMovieWarningFunc warn, void *context);

/* Waits for the frames written behind the caller, stops the workers and
 * closes the files; the movie is closed in every case (realframes 0) and
 * may be opened again. 0; DYX_MOVIE_FAILED with "open() required before
 * close()" or "Unable to finish movie file: <reason>"; or the status of the
 * first frame written behind that failed, with "Unable to write frame to
 * movie file: <reason>" (realframes then counts the frames before it). */
DYX_API int dyx_udil_movie_close(DyxUdilMovie *movie);

/* ---- what a file is -------------------------------------------------------------- */

/* What the open read movie is, as one JSON object (UTF-8): always
 * "plugin", "width", "height" (of the frames delivered), "frames" (in the
 * file), "fps" (null when unknown) and "stereo"; then whatever the plug-in
 * tells through its optional udil_describe (the ffmpeg plug-in: container,
 * video_codec, profile, source_pixel_format, bit_depth, frame_rate as
 * "num/den", duration, colour, rotation, timecode, audio, tags; see
 * docs/c-api.md). Writes at most `capacity` bytes, NUL-terminated, into
 * `text` and returns the length of the whole text without the NUL (call
 * again with a larger buffer when it is `capacity` or more); -1 with
 * "open() required before describe()" or "describe() not allowed on write
 * movie" in the error text. Read-ahead stops first (it restarts with the
 * next frame read). */
DYX_API int32_t dyx_udil_movie_describe(DyxUdilMovie *movie, char *text, int32_t capacity);

/* ---- reading ------------------------------------------------------------------- */

/* Frame n (0 .. nframes-1) of an open read movie after its range, repeats,
 * flip and intensity ramp: *left (and *right for a stereo file, else null)
 * are new buffers of the file's size and format, owned by the caller
 * (dyx_image_free). 0; DYX_MOVIE_FAILED with "open() required before
 * getframe()", "getframe() not allowed on write movie", "invalid frame
 * number", "unable to allocate image" or "unable to read the requested
 * frame: <reason>", both pointers null. */
DYX_API int dyx_udil_movie_read_frame(DyxUdilMovie *movie, int32_t n, dyx_image_t **left,
                                      dyx_image_t **right);

/* ---- writing ------------------------------------------------------------------- */

/* 0 when the movie may take another frame; DYX_MOVIE_FAILED with "open()
 * required before append()" or "past maximum number of frames, close()
 * required". An anaglyph set on a mono movie is cleared here. The append
 * functions make this check first. */
DYX_API int dyx_udil_movie_may_append(DyxUdilMovie *movie);

/* Appends one frame to an open write movie. `left` and `right` (null: the
 * left picture feeds both eyes of a stereo movie) are owned from now on:
 * they are converted and scaled to the movie's size, composed into an
 * anaglyph when one is set, and written now or behind the caller.
 * realframes grows by one. 0; the may_append failures; DYX_MOVIE_FAILED
 * with "Only one or two (stereo) images allowed" for a null `left`;
 * DYX_MOVIE_OUT_OF_MEMORY; or a write's status with "Unable to write
 * frame to movie file: <reason>" (a frame written behind that failed is
 * reported here: realframes is then its number, and the caller writes
 * again from it). */
DYX_API int dyx_udil_movie_append_image(DyxUdilMovie *movie, dyx_image_t *left, dyx_image_t *right,
                                        int32_t smooth);

/* Appends every frame of the open read movie `source` (after its own
 * range, repeats, flip and ramp) to the open write movie `movie`, with the
 * movie's anaglyph; calls `transfer`'s callbacks around each frame (a null
 * `transfer` moves every frame unfiltered). 0; the may_append failures;
 * DYX_MOVIE_FAILED with "the appended movie must be readonly and open",
 * "past maximum number of frames, close() required" (more frames than
 * announced), "Operation aborted by user", "Unable to call object method";
 * DYX_FRAME_MISMATCH with "Mixed size images detected in movie. All images
 * must be the same size.";
 * DYX_MOVIE_FAILED without a text when the source yields no frame;
 * DYX_MOVIE_STOPPED with "Operation interrupted"; DYX_MOVIE_OUT_OF_MEMORY;
 * or a read's or a write's status with "Unable to read frame from movie
 * file: <reason>" or "Unable to write frame to movie file: <reason>". A
 * callback that closes either movie (or closes and opens it again) ends the
 * transfer with DYX_MOVIE_FAILED and "the movie was closed or reopened
 * during append(); the remaining frames were not written" ("the appended
 * movie ..." for the source): one transfer never writes to two files. The
 * frames written so far stay; close() finishes a readable file. Both movies
 * must be held by the caller for the whole call. */
DYX_API int dyx_udil_movie_append_movie(DyxUdilMovie *movie, DyxUdilMovie *source,
                                        const DyxUdilMovieTransfer *transfer);

/* ---- deep frames (16-bit, half and float samples) ------------------------ */

/* Frame n of an open read movie (after range, repeats and flip) at the
 * file's own depth, read on the calling thread. With left->pixels null
 * nothing is read and *left (and *right when given) gets the frame's
 * layout: width, height, channels and sample (UDIL_SAMPLE_U8 for 8-bit
 * files and codecs without deep frames). Otherwise the caller's frames
 * have that layout and any row stride; `right` (may be null) gets the
 * right eye of a stereo file, else a copy of the left. 0; DYX_MOVIE_FAILED
 * with the read_frame texts, "deep frames are not read from Multi-Tile
 * Movies" or "the intensity ramp applies to 8-bit frames only". */
DYX_API int dyx_udil_movie_read_deep(DyxUdilMovie *movie, int32_t n, UdilDeepFrame *left,
                                     UdilDeepFrame *right);

/* Appends one deep frame (the caller keeps it) of the movie's width and
 * height to an open write movie, written on the calling thread after the
 * frames behind it. A codec without deep frames takes 8-bit ones only. 0;
 * the may_append failures; DYX_MOVIE_FAILED with "deep frames are written
 * at the movie's size, WxH", "anaglyphs are composed from 8-bit frames
 * only" or "deep frames are not written to Multi-Tile Movies"; or the
 * write's status with "Unable to write frame to movie file: <reason>"
 * ("The png format cannot hold float32 samples"). */
DYX_API int dyx_udil_movie_append_deep(DyxUdilMovie *movie, const UdilDeepFrame *left,
                                       const UdilDeepFrame *right);

DYX_END_DECLS

#endif
