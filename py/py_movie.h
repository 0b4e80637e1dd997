/* orvo.movie: the Python object for a movie to read or to write (a codec
 * file, a numbered image sequence or a Multi-Tile Movie). */
#ifndef ORVO_PY_MOVIE_H
#define ORVO_PY_MOVIE_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <cstdint>
#include <string>

#include "dyx_udil.h"
#include "py_object_lock.h"
// clang-format on

struct UdilStream;
struct UdilMtm;

namespace orvo {

constexpr int kMovieTextSize = 1024;  // file name, options and error string
constexpr int kMovieFormatSize = 256;
constexpr int kMovieOptionCapacity = 20;  // options a read stream reports

// clang-format off
typedef struct {
    PyObject_HEAD
    int32_t read_mode;               /* 1 read, 0 write; fixed at construction */
    int32_t is_open;
    char options[kMovieTextSize];    /* codec option text: writer or reader options */
    char format[kMovieFormatSize];   /* plug-in name; the one in use after open() */
    float fps;                       /* -1.0 unset */
    int32_t width, height;
    char filename[kMovieTextSize];
    int32_t nframes;                 /* read: frames yielded; write: pending count */
    int32_t realframes;              /* read: frames in the file; write: written */
    char error[kMovieTextSize];
    int32_t tiling[2];               /* across, down */
    int32_t stereo;
    int32_t anaglyph;                /* MOVIE_ANAGLYPH_* */
    int32_t repeat[2];               /* copies of the first and the last frame */
    int32_t framerange[2];           /* first, last; -1 the file's own */
    int32_t flip;                    /* DYX_FLIP_* */
    float intensity[2];              /* factor at the first and the last frame */
    UdilRecord *codec;               /* not owned */
    UdilStream *stream;              /* owned while open */
    UdilMtm *mtm;                    /* owned while open */
    UdilMovieInfo info;
    ObjectLock lock;                 /* serialises the object's operations */
    struct FramePipeline *pipeline;  /* read-ahead or write-behind; owned while open */
} MovieObject;
// clang-format on

extern PyTypeObject movie_type;

inline MovieObject *as_movie(PyObject *object) { return reinterpret_cast<MovieObject *>(object); }
inline ObjectLock &movie_lock(PyObject *object) { return as_movie(object)->lock; }

/* Leaves `message` in the movie's error string and returns the int -1. */
PyObject *movie_fail(MovieObject *movie, const char *message);

/* Keeps each tile count at 1 or a divisor of its dimension (when known). */
void movie_check_tiling(MovieObject *movie);

/* Recomputes the read movie's frame range and nframes after open() or a
 * change of repeats (the range is clamped to the opened frames). False,
 * with nframes unchanged, when the count would pass 2147483647. */
bool movie_clamp_range(MovieObject *movie);

/* The reason a read movie's frame range and repeats are refused. */
constexpr const char *kTooManyFrames = "the frame range and repeats give more than 2147483647 frames";

/* open() and close() (py_movie_open.cpp). close_movie releases the stream
 * or the Multi-Tile Movie; it is also the destructor's path. Non-zero when
 * a file being written could not be finished (its last frames or index
 * were not written); the movie is closed all the same. */
PyObject *movie_open(PyObject *self, PyObject *args);
PyObject *movie_close(PyObject *self, PyObject *args);
int close_movie(MovieObject *movie);

/* The option table of a new file: the plug-in's defaults with the option
 * text applied; warnings are issued as orvo.OrvoWarning. *options is null
 * with *count 0 when the plug-in has no options. False when the plug-in
 * has options but the table could not be made: writing on with the
 * defaults would silently drop what the script asked for; false with a
 * Python exception set when a warnings filter turned a warning into an
 * error. Call with the interpreter's lock held. Release the table with
 * dyx_free. */
bool parse_udil_options(UdilRecord *codec, const char *text, UdilOption **options, int32_t *count);

/* The option buffer of a file opened for reading: room for the reader's
 * defaults (*capacity records) with the reader options of `text` at its
 * head (*count of them, 0 for an empty text), ready for dyx_udil_file_open.
 * False when memory fails or the options cannot be parsed, with a Python
 * exception set when a warnings filter turned a warning into an error.
 * Call with the interpreter's lock held. Release the buffer with dyx_free. */
bool make_reader_options(UdilRecord *codec, const char *text, UdilOption **buffer, int32_t *count,
                         int32_t *capacity);

/* Checks of a write movie's names at open() (py_movie_write_checks.cpp):
 * false, with the reason in the error string, when a frame or an eye would
 * be lost or written under a name that does not read back. `stereo` is the
 * stereo flag the codec is given (0 for an anaglyph). */
bool movie_check_write_names(MovieObject *movie, const UdilRecord *codec, int32_t stereo);

/* True when the name holds an '@' outside its run of '#': the eye mark. */
bool movie_name_has_eye_mark(const char *name);

/* What a tile's file name gets after its number: for a one-picture codec
 * the frame number run (and "_@" when each eye needs its own file), for a
 * movie codec nothing. */
std::string movie_tile_frame_part(const MovieObject *movie, const UdilRecord *codec, int32_t stereo);

/* `with` support, len() and frames by index (py_movie_protocols.cpp). */
PyObject *movie_enter(PyObject *self, PyObject *args);
PyObject *movie_exit(PyObject *self, PyObject *args);
extern PySequenceMethods movie_sequence;

/* Frame transfer (py_movie_transfer.cpp). */
/* Waits for the frames still being written behind the script and stops
 * the movie's worker threads (read-ahead or write-behind). 0, or the status
 * of the first frame that could not be written, with the error string set
 * as append() would have set it. Call before the stream or the Multi-Tile
 * Movie is closed; with or without the interpreter's lock. */
int movie_stop_pipeline(MovieObject *movie);
PyObject *movie_append(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *movie_getframe(PyObject *self, PyObject *args);
/* getarray(n): frame n as a top-down uint8 NumPy array, a (left, right)
 * tuple of them for a stereo movie, or getframe's status on failure. */
PyObject *movie_getarray(PyObject *self, PyObject *args);
PyObject *movie_addcount(PyObject *self, PyObject *args);
PyObject *movie_resetcount(PyObject *self, PyObject *args);

}  // namespace orvo

#endif
