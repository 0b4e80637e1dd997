// What the movie sources share (not exported): the open movie's internals
// and the steps open, read, write, transfer and the pipeline hand each
// other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dyx_image.h"
#include "dyx_udil.h"
#include "dyx_udil_movie.h"

struct UdilStream;
struct UdilMtm;

namespace udil {

struct FramePipeline;

// A file frame decoded on the calling thread and kept for one more read of
// the same frame: a caller that looks at the first frame before a transfer
// does not make the file decode it twice.
struct KeptFrame {
    int32_t index = -1;
    dyx_image_t *left = nullptr;
    dyx_image_t *right = nullptr;
};

}  // namespace udil

struct DyxUdilMovieInternals {
    UdilRecord *codec = nullptr;  // not owned
    UdilStream *stream = nullptr;
    UdilMtm *mtm = nullptr;
    udil::FramePipeline *pipeline = nullptr;  // read-ahead or write-behind; made on first use
    udil::KeptFrame kept;
    bool read_before = false;  // a frame was read since open
    // Tells this opening from every other one in the process (never 0), so
    // that a caller sees when a callback closed and reopened the movie.
    uint64_t opening = 0;
    // A write movie opened without a count takes frames up to frame_limit
    // (what its file names can number); a tiled one writes its description,
    // named here, when it closes.
    // The deep layout of the container file read last (its slot), which
    // does not change while it is open: asked once, as its handle is the
    // one the frames decoded ahead use.
    const void *deep_layout_slot = nullptr;
    UdilDeepFrame deep_layout{};
    bool uncounted = false;
    int32_t frame_limit = 0;
    std::string mtm_description;
};

namespace udil {

// ---- error texts (dyx_udil_movie.cpp) ----------------------------------------

// Leaves `message` in the movie's error text; returns DYX_MOVIE_FAILED.
int movie_fail(DyxUdilMovie *movie, const char *message);

// movie_fail with the codec layer's reason appended.
int movie_fail_with_reason(DyxUdilMovie *movie, const char *message);

// Recomputes a read movie's frame range and nframes after open or a
// change of repeats (the range is kept within the opened frames). False,
// with nframes unchanged, when the count would pass 2147483647.
bool movie_clamp_range(DyxUdilMovie *movie);

constexpr const char *kTooManyFrames = "the frame range and repeats give more than 2147483647 frames";

// ---- write checks (dyx_udil_movie_checks.cpp) ------------------------------------

// False, with the reason in the movie's error text, when a frame or an eye
// would be lost or written under a name that does not read back. `stereo`
// is the stereo flag the codec is given (0 for an anaglyph).
bool movie_check_write_names(DyxUdilMovie *movie, const UdilRecord *codec, int32_t stereo);

// True when the name holds an '@' outside its run of '#': the eye mark.
bool movie_name_has_eye_mark(const char *name);

// What a tile's file name gets after its number: for a one-picture codec
// the frame number run (and "_@" when each eye needs its own file), for a
// movie codec nothing.
std::string movie_tile_frame_part(const DyxUdilMovie *movie, const UdilRecord *codec, int32_t stereo);

// How many frames a write movie's names can hold: INT32_MAX for a movie
// file, 10^digits for a run of '#', 1 for one picture without a run.
int32_t movie_frame_capacity(const DyxUdilMovie *movie, const UdilRecord *codec);

// The number of frames an open write movie takes: its count, or its
// capacity when it was opened without one.
int32_t movie_frame_limit(const DyxUdilMovie *movie);

// ---- opening and closing (dyx_udil_movie_open.cpp) -----------------------------------------

// The opening of an open movie (DyxUdilMovieInternals::opening); 0 when
// the movie is closed.
uint64_t movie_opening(const DyxUdilMovie *movie);

// Stops the workers, closes the stream or the Multi-Tile Movie and frees the
// internals; the movie is closed. Non-zero when a file being written could
// not be finished.
int movie_release(DyxUdilMovie *movie);

// ---- frames (dyx_udil_movie_read.cpp, dyx_udil_movie_write.cpp) -----------------

// The size and format a caller wants frames in.
struct FrameShape {
    int32_t width;
    int32_t height;
    int32_t format;
};

// Frame k of the read movie (after range and repeats) as buffers of
// `shape`: *left, and *right when `want_right` (the right eye of a stereo
// file, else a copy of the left), flipped, ramped and composed into an
// anaglyph when `anaglyph` is set. The read's status (DYX_MOVIE_OUT_OF_MEMORY
// when a buffer of `shape` cannot be had); on failure both are null and
// the codec layer's last error holds the reason.
int movie_read_frame(DyxUdilMovie *movie, int32_t k, const FrameShape &shape, bool want_right,
                     int32_t anaglyph, int smooth, dyx_image_t **left, dyx_image_t **right);

// Writes one frame (buffers owned from now on; right may be null) to the
// write movie now or behind the caller. 0 or the write's status.
int movie_write_frame(DyxUdilMovie *movie, dyx_image_t *left, dyx_image_t *right);

// A frame written behind the caller that failed is reported by the next
// append as its own write would have been: its status, with realframes
// set to its number and the error text set; 0 when none.
int movie_report_unwritten(DyxUdilMovie *movie);

// Converts and scales `*work` (owned) to the format and size of `dest`
// and copies its pixels there. 0, or DYX_NO_MEMORY.
int fit_into(dyx_image_t **work, dyx_image_t *dest, int smooth);

// A buffer of width x height in `format`, or null.
dyx_image_t *alloc_frame(int32_t width, int32_t height, int32_t format);

// ---- pipeline (dyx_udil_movie_pipeline.cpp) --------------------------------------

// Waits for the frames still being written behind the caller and stops
// the workers. 0, or the status of the first frame that could not be
// written, with the error text set as append would have set it.
int stop_pipeline(DyxUdilMovie *movie);

// 1 when frames appended are encoded behind the caller (workers started on
// first use), 0 when written on the calling thread, -1 when the workers
// could not start, with the reason as the last error.
int write_behind(DyxUdilMovie *movie);

// Hands one frame (buffers owned from now on) to the writer. 0, or a status.
int write_behind_frame(DyxUdilMovie *movie, int32_t frame, int32_t eye, dyx_image_t *left,
                       dyx_image_t *right);

// The first frame written behind that failed since the last call: its
// status (0 when none), with *frame its number and the last error set.
int write_behind_failure(DyxUdilMovie *movie, int32_t *frame, bool wait);

// File frame `index` of the open read movie as new buffers of the file's
// size and format (*right only for a stereo read), from the frames decoded
// ahead when read in order. The read's status; on failure both are null.
int read_ahead_frame(DyxUdilMovie *movie, int32_t index, bool stereo, dyx_image_t **left,
                     dyx_image_t **right);

// How many frames of `frame_bytes` bytes (both eyes) a reader on `workers`
// threads decodes ahead: the workers' plus two, fewer for frames so large
// that they would pass some 32 MiB, but never fewer than one per worker.
int32_t read_ahead_frames(uint64_t frame_bytes, int32_t workers);

// Releases the kept frame of a read movie.
void drop_kept_frame(DyxUdilMovieInternals &internals);

}  // namespace udil
