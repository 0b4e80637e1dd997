/* A movie's frames decoded ahead of the script or encoded behind it on the
 * library's worker threads (dyx_udil_pipeline.h).
 *
 * Writing: each appended frame (its converted, scaled buffers) goes to a
 * writer thread that encodes frames in order; a numbered sequence of
 * pictures from a codec safe for concurrent use is written on several
 * threads at once, each frame its own file under its usual name. A frame
 * that fails is reported at the next append() or at close().
 *
 * Reading: frames read in order are decoded ahead (a numbered sequence on
 * several threads); any other frame is read at once after the frames ahead
 * are dropped, so random access gives the same pixels as before.
 *
 * With one worker (dyx_parallel_threads() == 1) nothing starts and every
 * frame is read and written on the calling thread as before. None of these
 * functions uses the Python API: call them with the interpreter's lock
 * released, and with the movie's object lock held. */
#ifndef ORVO_PY_MOVIE_PIPELINE_H
#define ORVO_PY_MOVIE_PIPELINE_H

#include "py_movie.h"
// clang-format off
#include <cstdint>

#include "dyx_image.h"
// clang-format on

namespace orvo {

/* 1 when frames appended to the open write movie are encoded behind the
 * script (its workers started on first use), 0 when they are written on
 * the calling thread, -1 when the workers could not start (memory, a
 * thread or a worker's stream), with the reason as the last error. */
int write_behind(MovieObject *movie);

/* Hands one frame to the writer: frame number `frame`, eye as for
 * dyx_udil_save_image, the buffers (`right` may be null) owned from now on.
 * 0, or 2 when memory fails (the buffers are released). */
int write_behind_frame(MovieObject *movie, int32_t frame, int32_t eye, dyx_image_t *left, dyx_image_t *right);

/* The first frame written behind that failed since the last call: its
 * status (0 when none), with *frame its number and the codec layer's last
 * error set to its reason, so that the caller reports it as a synchronous
 * write would have. Call wait first to see every frame handed over. */
int write_behind_failure(MovieObject *movie, int32_t *frame, bool wait);

/* Reads file frame `index` of the open read movie into new buffers of the
 * file's size and format (*right only for a stereo read), from the frames
 * decoded ahead when the script reads in order. The read's status (0 on
 * success, when the caller owns the buffers; otherwise they are null and
 * the codec layer's last error holds the reason). */
int read_ahead_frame(MovieObject *movie, int32_t index, bool stereo, dyx_image_t **left, dyx_image_t **right);

/* Decodes file frame `index` of the open read movie into `left` (and
 * `right` when not null), buffers of the file's size and format, on the
 * calling thread. The read's status. */
int read_file_frame(MovieObject *movie, int32_t index, dyx_image_t *left, dyx_image_t *right);

}  // namespace orvo

#endif
