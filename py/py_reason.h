/* Error texts with the reason the codec layer gave: "Unable to open movie
 * file: moov atom not found". */
#ifndef ORVO_PY_REASON_H
#define ORVO_PY_REASON_H

// Python.h comes first, as the interpreter requires.
#include "py_movie.h"
// clang-format off
#include <cstddef>
// clang-format on

namespace orvo {

/* Forgets the codec layer's last error, so that the reason appended after
 * a failure belongs to that failure and not to an older one. */
void reason_reset();

/* Writes `message` into `out` (`size` bytes), followed by ": " and the
 * codec layer's last error when there is one. */
void with_reason(char *out, size_t size, const char *message);

}  // namespace orvo

#endif
