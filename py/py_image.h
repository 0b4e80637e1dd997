/* orvo.image: the Python object around one image buffer, and the NumPy
 * bridge its pixel-array methods use. */
#ifndef ORVO_PY_IMAGE_H
#define ORVO_PY_IMAGE_H

#include "py_compat.h"

// Declared here so that Python.h stays the first header of every source.
typedef struct dyx_image dyx_image_t;

namespace orvo {

/* Size of the error text kept by load and save. */
constexpr int kImageErrorSize = 1024;

// clang-format off
typedef struct {
    PyObject_HEAD
    dyx_image_t *image;           /* owned; replaced by in-place operations */
    char error[kImageErrorSize];  /* last error of load and save */
    int32_t frame_number;
    int32_t frame_width;
    int32_t frame_height;
    int32_t origin_x;
    int32_t origin_y;
} ImageObject;
// clang-format on

extern PyTypeObject image_type;

/* A new orvo.image that takes ownership of `buffer`, with the constructor's
 * default attributes (frame 100 x 100, origin (0, 0), frame number 0). On
 * failure the buffer is freed and null returned with an exception set. */
PyObject *image_wrap_buffer(dyx_image_t *buffer);

/* Replaces the object's buffer by `buffer`, freeing the old one. */
void image_replace_buffer(ImageObject *self, dyx_image_t *buffer);

/* ---- NumPy bridge (py_numpy.cpp) ---- */

/* The pixel bytes as a new uint8 array of shape (width, height) or
 * (width, height, components); RuntimeError when NumPy is unavailable. */
PyObject *pixels_to_array(const dyx_image_t *image);
/* Copies an array of shape (width, height[, components]) into the pixels.
 * Returns 0, or -1 with an exception set. */
int pixels_from_array(dyx_image_t *image, PyObject *array);

}  // namespace orvo

/* Imports NumPy's C interface once, at module start-up. When that fails
 * the reason is kept (getpixels/setpixels raise RuntimeError with it) and
 * the error is cleared, so that orvo still imports. Returns 0 or -1; -2
 * when the import was interrupted (KeyboardInterrupt, SystemExit), with
 * that exception left pending for the caller to pass on. */
int orvo_image_init(void);

#endif
