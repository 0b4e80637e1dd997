/* orvo.image: the Python object around one image buffer, and the NumPy
 * bridge its pixel-array methods use. */
#ifndef ORVO_PY_IMAGE_H
#define ORVO_PY_IMAGE_H

#include "py_compat.h"
#include "py_object_lock.h"

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
    Py_ssize_t exports;           /* buffer views handed out and not yet released */
    Py_ssize_t view_shape[3];     /* the shape and strides those views point at; */
    Py_ssize_t view_strides[3];   /* fixed while exports > 0 */
    ObjectLock lock;              /* serialises the object's operations */
} ImageObject;
// clang-format on

extern PyTypeObject image_type;

inline ObjectLock &image_lock(PyObject *object) { return reinterpret_cast<ImageObject *>(object)->lock; }

/* A new orvo.image that takes ownership of `buffer`, with the constructor's
 * default attributes (frame 100 x 100, origin (0, 0), frame number 0). On
 * failure the buffer is freed and null returned with an exception set. */
PyObject *image_wrap_buffer(dyx_image_t *buffer);

/* Replaces the object's buffer by `buffer`, freeing the old one. */
void image_replace_buffer(ImageObject *self, dyx_image_t *buffer);

/* ---- buffer views and arrays (py_image_buffer.cpp) ---- */

/* The buffer protocol of orvo.image (filled into the type object). */
extern PyBufferProcs image_buffer_procs;

/* False with BufferError when views of the pixels are exported: the
 * operation that asked would free the memory they point at. */
bool image_check_not_exported(const ImageObject *self);

/* The __array_interface__ dictionary of the top-down view. */
PyObject *image_array_interface(ImageObject *self);

/* True when `object` is not an orvo.image and exports a buffer of two or
 * three dimensions (a NumPy array, a shaped memoryview ...). */
bool is_pixel_array(PyObject *object);

/* A new buffer copied from an (height, width[, components]) uint8 buffer
 * whose first row is the top of the picture. `shape` (may be null or None)
 * gives the shape of a flat buffer such as bytes; `format` (0: from the
 * component count, one component being L) picks the pixel format. Null
 * with an exception set on failure. */
dyx_image_t *image_from_array(PyObject *array, PyObject *shape, int format);

/* orvo.image.fromarray and image.toarray. */
PyObject *image_fromarray(PyObject *type, PyObject *args, PyObject *kwargs);
PyObject *image_toarray(PyObject *self, PyObject *unused);

/* ---- NumPy bridge (py_numpy.cpp) ---- */

/* The pixel bytes as a new uint8 array of shape (width, height) or
 * (width, height, components); RuntimeError when NumPy is unavailable. */
PyObject *pixels_to_array(const dyx_image_t *image);
/* NumPy's uint8, C-ordered array of `object` for pixels_from_array, a new
 * reference; null with an exception set (RuntimeError when NumPy is
 * unavailable). Made before the image is locked: `object` may be another
 * image, whose buffer takes that image's lock. */
PyObject *pixels_source(PyObject *object);
/* Copies a pixels_source array of shape (width, height[, components]) into
 * the pixels. Returns 0, or -1 with an exception set. */
int pixels_from_array(dyx_image_t *image, PyObject *source);
/* A copy of the pixels as a new C-ordered uint8 array of shape (height,
 * width) or (height, width, components), top row first; RuntimeError when
 * NumPy is unavailable. */
PyObject *pixels_to_topdown_array(const dyx_image_t *image);
/* A NumPy array over the pixels of the orvo.image `object`, without a copy:
 * the same (height, width[, components]) top-down view as
 * numpy.asarray(image), writable, whose base holds the image's buffer, so
 * the image lives and keeps its pixels where they are while the array
 * does. RuntimeError when NumPy is unavailable. */
PyObject *pixels_view_array(PyObject *object);

}  // namespace orvo

/* Imports NumPy's C interface once, at module start-up. When that fails
 * the reason is kept (getpixels/setpixels raise RuntimeError with it) and
 * the error is cleared, so that orvo still imports. Returns 0 or -1; -2
 * when the import was interrupted (KeyboardInterrupt, SystemExit), with
 * that exception left pending for the caller to pass on. */
int orvo_image_init(void);

#endif
