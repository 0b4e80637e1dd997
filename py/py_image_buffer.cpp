// orvo.image as an array: the buffer protocol (a writable, zero-copy view
// with the top row first), __array_interface__, fromarray and toarray.
//
// Rows are stored bottom-up, so the top-down view starts at the last row
// and steps back one row at a time (a negative row stride). A consumer that
// cannot take strides gets the flat bytes in storage order, as tostring()
// gives them. While any view is exported the pixel memory must stay where
// it is: operations that would replace it raise BufferError, as bytearray's
// resizing does.
// clang-format off
#include "py_image.h"  // Python.h comes before every other header
// clang-format on

#include <cstdint>
#include <cstring>

#include "dyx_image.h"

namespace orvo {
namespace {

ImageObject *as_image(PyObject *object) { return reinterpret_cast<ImageObject *>(object); }

// Where an image without pixels points its views: never dereferenced, but
// consumers expect a non-null address.
uint8_t no_pixels[1];

// Any of the contiguity requests (C, Fortran or either).
constexpr int kContiguityBits =
    (PyBUF_C_CONTIGUOUS | PyBUF_F_CONTIGUOUS | PyBUF_ANY_CONTIGUOUS) & ~PyBUF_STRIDES;

int buffer_error(const char *message) {
    PyErr_SetString(PyExc_BufferError, message);
    return -1;
}

// Fills the object's shape and strides of the top-down view; returns the
// number of dimensions and the address of the top row.
int describe_view(ImageObject *self, uint8_t **top_row) {
    const dyx_image_t *image = self->image;
    const Py_ssize_t components = dyx_image_color_components_per_pixel(image);
    const Py_ssize_t row_bytes = static_cast<Py_ssize_t>(image->width) * components;
    const Py_ssize_t height = static_cast<Py_ssize_t>(image->height);
    self->view_shape[0] = height;
    self->view_shape[1] = static_cast<Py_ssize_t>(image->width);
    self->view_shape[2] = components;
    // One row or none is the same either way up: the plain stride keeps
    // such a view contiguous.
    self->view_strides[0] = height > 1 ? -row_bytes : row_bytes;
    self->view_strides[1] = components;
    self->view_strides[2] = 1;
    if (image->data == nullptr || row_bytes == 0 || height == 0)
        *top_row = no_pixels;
    else
        *top_row = image->data + (height - 1) * row_bytes;
    return components == 1 ? 2 : 3;
}

int image_getbuffer(PyObject *object, Py_buffer *view, int flags) {
    // Another thread may be replacing the buffer (resize, load) right now.
    ObjectLockGuard locked(image_lock(object));
    ImageObject *self = as_image(object);
    const dyx_image_t *image = self->image;
    uint8_t *top_row = nullptr;
    const int ndim = describe_view(self, &top_row);
    const bool strided = (flags & PyBUF_STRIDES) == PyBUF_STRIDES;
    if (strided && (flags & kContiguityBits) != 0 && self->view_strides[0] < 0)
        return buffer_error("the image's top-down view is not contiguous: its rows are stored bottom-up");
    if (!strided && (flags & PyBUF_ND) == PyBUF_ND)
        return buffer_error("the image's top-down view needs strides: its rows are stored bottom-up");

    const uint64_t size = dyx_image_data_size(image);
    view->len = static_cast<Py_ssize_t>(size);
    view->readonly = 0;
    view->itemsize = 1;
    view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char *>("B") : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    if (strided) {
        view->buf = top_row;
        view->ndim = ndim;
        view->shape = self->view_shape;
        view->strides = self->view_strides;
    } else {
        view->buf = image->data != nullptr ? image->data : no_pixels;
        view->ndim = 1;
        view->shape = nullptr;
        view->strides = nullptr;
    }
    Py_INCREF(object);  // the view keeps the image alive
    view->obj = object;
    ++self->exports;
    return 0;
}

void image_releasebuffer(PyObject *object, Py_buffer *) {
    ObjectLockGuard locked(image_lock(object));
    --as_image(object)->exports;
}

PyBufferProcs make_buffer_procs() {
    PyBufferProcs procs{};
    procs.bf_getbuffer = image_getbuffer;
    procs.bf_releasebuffer = image_releasebuffer;
    return procs;
}

// A pixel format is one unsigned byte: "B", optionally with a byte-order
// or alignment prefix, which means nothing for a single byte.
bool is_byte_format(const char *format) {
    if (format == nullptr) return true;  // unsigned bytes by definition
    if (format[0] != '\0' && std::strchr("@=<>!", format[0]) != nullptr) ++format;
    return std::strcmp(format, "B") == 0;
}

// Releases a Py_buffer when the call ends.
struct HeldBuffer {
    Py_buffer view{};
    bool held = false;
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
    bool take(PyObject *object, int flags) {
        held = PyObject_GetBuffer(object, &view, flags) == 0;
        return held;
    }
};

// The dimensions and byte strides of the source array.
struct ArrayLayout {
    Py_ssize_t shape[3] = {0, 0, 1};
    Py_ssize_t strides[3] = {0, 0, 1};
    int ndim = 0;
};

bool value_error(const char *message) {
    PyErr_SetString(PyExc_ValueError, message);
    return false;
}

// Reads a (height, width[, components]) shape for a flat buffer.
bool parse_shape(PyObject *shape, const Py_buffer &view, ArrayLayout *layout) {
    PyObject *items = PySequence_Tuple(shape);
    if (items == nullptr) return false;
    const Py_ssize_t count = PyTuple_GET_SIZE(items);
    bool ok = count == 2 || count == 3;
    for (Py_ssize_t i = 0; ok && i < count; ++i) {
        layout->shape[i] = PyNumber_AsSsize_t(PyTuple_GET_ITEM(items, i), PyExc_OverflowError);
        if (layout->shape[i] == -1 && PyErr_Occurred()) {
            Py_DECREF(items);
            return false;
        }
        ok = layout->shape[i] >= 0;
    }
    Py_DECREF(items);
    if (!ok) return value_error("the shape must be (height, width) or (height, width, components)");
    layout->ndim = static_cast<int>(count);
    if (!PyBuffer_IsContiguous(const_cast<Py_buffer *>(&view), 'C'))
        return value_error("a buffer given with a shape must be contiguous");
    // A product past 64 bits cannot match any buffer's size.
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(layout->shape[0]),
                               static_cast<uint64_t>(layout->shape[1]), &bytes) ||
        __builtin_mul_overflow(bytes, static_cast<uint64_t>(layout->shape[2]), &bytes) ||
        bytes != static_cast<uint64_t>(view.len))
        return value_error("the buffer's size does not match the shape given");
    layout->strides[2] = 1;
    layout->strides[1] = layout->shape[2];
    layout->strides[0] = layout->shape[1] * layout->shape[2];
    return true;
}

// Takes the shape and strides the buffer itself describes.
bool read_layout(const Py_buffer &view, ArrayLayout *layout) {
    if (view.ndim != 2 && view.ndim != 3)
        return value_error("an array of shape (height, width) or (height, width, components) is needed");
    layout->ndim = view.ndim;
    for (int i = 0; i < view.ndim; ++i) layout->shape[i] = view.shape[i];
    if (view.strides != nullptr) {
        for (int i = 0; i < view.ndim; ++i) layout->strides[i] = view.strides[i];
    } else {
        layout->strides[view.ndim - 1] = 1;
        for (int i = view.ndim - 1; i-- > 0;) layout->strides[i] = layout->strides[i + 1] * view.shape[i + 1];
    }
    return true;
}

int format_for_components(Py_ssize_t components) {
    switch (components) {
        case 1:
            return DYX_IMG_FMT_L;
        case 2:
            return DYX_IMG_FMT_LA;
        case 3:
            return DYX_IMG_FMT_RGB;
        case 4:
            return DYX_IMG_FMT_RGBA;
        default:
            return 0;
    }
}

// Copies the array's rows, top first, into the bottom-up buffer.
void copy_rows(const ArrayLayout &layout, const uint8_t *source, dyx_image_t *image) {
    const Py_ssize_t height = layout.shape[0], width = layout.shape[1], components = layout.shape[2];
    const size_t row_bytes = static_cast<size_t>(width * components);
    if (row_bytes == 0) return;
    const bool packed_rows = layout.strides[2] == 1 && layout.strides[1] == components;
    for (Py_ssize_t row = 0; row < height; ++row) {
        const uint8_t *in = source + row * layout.strides[0];
        uint8_t *out = image->data + static_cast<size_t>(height - 1 - row) * row_bytes;
        if (packed_rows) {
            std::memcpy(out, in, row_bytes);
            continue;
        }
        for (Py_ssize_t x = 0; x < width; ++x)
            for (Py_ssize_t c = 0; c < components; ++c)
                *out++ = in[x * layout.strides[1] + c * layout.strides[2]];
    }
}

}  // namespace

PyBufferProcs image_buffer_procs = make_buffer_procs();

bool image_check_not_exported(const ImageObject *self) {
    if (self->exports == 0) return true;
    PyErr_SetString(PyExc_BufferError, "Existing exports of data: object cannot be re-sized");
    return false;
}

PyObject *image_array_interface(ImageObject *self) {
    uint8_t *top_row = nullptr;
    const int ndim = describe_view(self, &top_row);
    const Py_ssize_t *shape = self->view_shape, *strides = self->view_strides;
    PyObject *data = Py_BuildValue("(NO)", PyLong_FromVoidPtr(top_row), Py_False);
    if (data == nullptr) return nullptr;
    return ndim == 2 ? Py_BuildValue("{s:(nn),s:s,s:N,s:(nn),s:i}", "shape", shape[0], shape[1], "typestr",
                                     "|u1", "data", data, "strides", strides[0], strides[1], "version", 3)
                     : Py_BuildValue("{s:(nnn),s:s,s:N,s:(nnn),s:i}", "shape", shape[0], shape[1], shape[2],
                                     "typestr", "|u1", "data", data, "strides", strides[0], strides[1],
                                     strides[2], "version", 3);
}

bool is_pixel_array(PyObject *object) {
    if (Py_TYPE(object) == &image_type || !PyObject_CheckBuffer(object)) return false;
    HeldBuffer source;
    if (!source.take(object, PyBUF_RECORDS_RO)) {
        PyErr_Clear();
        return false;
    }
    return source.view.ndim == 2 || source.view.ndim == 3;
}

dyx_image_t *image_from_array(PyObject *array, PyObject *shape, int format) {
    const bool shaped = shape != nullptr && shape != Py_None;
    HeldBuffer source;
    if (!source.take(array, shaped ? PyBUF_FORMAT : PyBUF_RECORDS_RO)) return nullptr;
    const Py_buffer &view = source.view;
    if (view.itemsize != 1 || !is_byte_format(view.format)) {
        PyErr_Format(PyExc_TypeError, "the pixels must be unsigned bytes (uint8), not format '%s'",
                     view.format != nullptr ? view.format : "B");
        return nullptr;
    }
    ArrayLayout layout;
    if (!(shaped ? parse_shape(shape, view, &layout) : read_layout(view, &layout))) return nullptr;
    const Py_ssize_t components = layout.ndim == 3 ? layout.shape[2] : 1;
    if (format == 0) format = format_for_components(components);
    if (format == 0 || dyx_image_format_components(format) != components) {
        value_error("the pixels must have 1 to 4 components, as many as the format has");
        return nullptr;
    }
    if (layout.shape[0] > static_cast<Py_ssize_t>(UINT32_MAX) ||
        layout.shape[1] > static_cast<Py_ssize_t>(UINT32_MAX)) {
        value_error("the array is too large for an image");
        return nullptr;
    }
    dyx_image_t *image = dyx_image_alloc(static_cast<uint32_t>(layout.shape[1]),
                                         static_cast<uint32_t>(layout.shape[0]), 0, format);
    if (image == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    GilRelease released;
    copy_rows(layout, static_cast<const uint8_t *>(view.buf), image);
    return image;
}

PyObject *image_fromarray(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"array", "shape", "format", nullptr};
    PyObject *array = nullptr, *shape = nullptr;
    int format = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Oi:fromarray", const_cast<char **>(keywords), &array,
                                     &shape, &format))
        return nullptr;
    if (format != 0 && dyx_image_format_components(format) == 0) {
        PyErr_SetString(PyExc_ValueError, "Invalid image format specified");
        return nullptr;
    }
    dyx_image_t *image = image_from_array(array, shape, format);
    if (image == nullptr) return nullptr;
    PyObject *object = image_wrap_buffer(image);
    if (object == nullptr) return nullptr;
    // The frame is the picture, as for a new image of that size.
    as_image(object)->frame_width = static_cast<int32_t>(image->width);
    as_image(object)->frame_height = static_cast<int32_t>(image->height);
    return object;
}

PyObject *image_toarray(PyObject *object, PyObject *) {
    return pixels_to_topdown_array(as_image(object)->image);
}

}  // namespace orvo
