// orvo.image: construction, attributes, printing, comparison, pixel and
// string access, pickling, and the methods for resize, flip, swizzle and
// subrect.
#include "py_image.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "dyx_image.h"
#include "dyx_string.h"
#include "py_attributes.h"
#include "py_image_composite.h"
#include "py_image_io.h"
#include "py_names.h"

namespace orvo {
namespace {

constexpr const char *kMethodNames[] = {
    "ppm",      "subrect",  "chromakey", "flip",      "swizzle",   "colormath",  "blend", "bitblt",
    "setpixel", "getpixel", "macclip",   "errstr",    "tostring",  "fromstring", "load",  "save",
    "stats",    "diff",     "resize",    "setpixels", "getpixels", "__reduce__"};

ImageObject *as_image(PyObject *object) { return reinterpret_cast<ImageObject *>(object); }

bool valid_format(int format) { return dyx_image_format_components(format) != 0; }

// Reports a failed in-place operation (only memory can make them fail).
bool check_in_place(int status) {
    if (status == 0) return true;
    PyErr_NoMemory();
    return false;
}

bool convert_to_format(ImageObject *self, int32_t format) {
    if (format != self->image->format && !image_check_not_exported(self)) return false;
    dyx_image_t templ{};
    templ.format = format;
    int status;
    {
        GilRelease released;
        status = dyx_image_convert(&self->image, &templ);
    }
    return check_in_place(status);
}

bool scale_to(ImageObject *self, uint32_t width, uint32_t height, uint32_t flags) {
    const bool same_size = width == self->image->width && height == self->image->height;
    if (!same_size && !image_check_not_exported(self)) return false;
    dyx_image_t templ{};
    templ.width = width;
    templ.height = height;
    int status;
    {
        GilRelease released;
        status = dyx_image_scale(&self->image, &templ, flags);
    }
    return check_in_place(status);
}

// Reads a binary argument (bytes-like in Python 3, str or buffer in 2).
struct BinaryArgument {
    Py_buffer view;
    bool held = false;
    ~BinaryArgument() {
        if (held) PyBuffer_Release(&view);
    }
    bool take(PyObject *object) {
        if (PyObject_GetBuffer(object, &view, PyBUF_SIMPLE) != 0) return false;
        held = true;
        return true;
    }
};

// ---- construction and destruction ---------------------------------------

PyObject *image_alloc_object(PyTypeObject *type) {
    PyObject *object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    ImageObject *self = as_image(object);
    self->image = nullptr;
    self->error[0] = '\0';
    self->frame_number = 0;
    self->frame_width = 100;
    self->frame_height = 100;
    self->origin_x = 0;
    self->origin_y = 0;
    self->exports = 0;
    object_lock_init(&self->lock);
    return object;
}

// tp_new: up to nine items, by position or by name; positional items
// beyond the ninth are ignored, unknown names raise TypeError.
PyObject *image_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"width",      "height",      "format",  "pixels",  "framenumber",
                                     "framewidth", "frameheight", "originx", "originy", nullptr};
    // The frame defaults to the picture's size when not given.
    constexpr int kNotGiven = INT32_MIN;
    int width = 100, height = 100, format = DYX_IMG_FMT_RGB;
    PyObject *pixels = nullptr;
    int frame_number = 0, frame_width = kNotGiven, frame_height = kNotGiven, origin_x = 0, origin_y = 0;
    PyObject *items = PyTuple_GetSlice(args, 0, 9);
    if (items == nullptr) return nullptr;
    const int parsed = PyArg_ParseTupleAndKeywords(
        items, kwargs, "|iiiOiiiii:image", const_cast<char **>(keywords), &width, &height, &format, &pixels,
        &frame_number, &frame_width, &frame_height, &origin_x, &origin_y);
    Py_DECREF(items);
    if (!parsed) return nullptr;
    if (frame_width == kNotGiven) frame_width = width;
    if (frame_height == kNotGiven) frame_height = height;

    if (!valid_format(format)) {
        PyErr_SetString(PyExc_RuntimeError, "Invalid image format specified");
        return nullptr;
    }
    if (width < 0 || height < 0) {
        PyErr_SetString(PyExc_RuntimeError, "Invalid image size specified");
        return nullptr;
    }
    BinaryArgument data;
    if (pixels != nullptr && pixels != Py_None && !data.take(pixels)) return nullptr;

    PyObject *object = image_alloc_object(type);
    if (object == nullptr) return nullptr;
    ImageObject *self = as_image(object);
    self->frame_number = frame_number;
    self->frame_width = frame_width;
    self->frame_height = frame_height;
    self->origin_x = origin_x;
    self->origin_y = origin_y;
    self->image = dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0, format);
    if (self->image == nullptr) {
        Py_DECREF(object);
        PyErr_SetString(PyExc_RuntimeError, "Unable to allocate the image");
        return nullptr;
    }
    if (data.held) {
        const uint64_t size = dyx_image_data_size(self->image);
        if (static_cast<uint64_t>(data.view.len) < size) {
            Py_DECREF(object);
            PyErr_SetString(PyExc_RuntimeError, "Invalid image data specified");
            return nullptr;
        }
        GilRelease released;
        if (size != 0) std::memcpy(self->image->data, data.view.buf, size);
    } else if (self->image->data != nullptr) {
        // A new picture without pixels is black: the heap block may hold
        // whatever an earlier user left there.
        GilRelease released;
        std::memset(self->image->data, 0, dyx_image_data_size(self->image));
    }
    return object;
}

void image_dealloc(PyObject *object) {
    ImageObject *self = as_image(object);
    if (self->image != nullptr) dyx_image_free(&self->image);
    object_lock_destroy(&self->lock);
    Py_TYPE(object)->tp_free(object);
}

// ---- printing and comparison --------------------------------------------

const char *format_name(int format) {
    switch (format) {
        case DYX_IMG_FMT_A:
            return "Alpha";
        case DYX_IMG_FMT_L:
            return "Luminance";
        case DYX_IMG_FMT_LA:
            return "LuminanceAlpha";
        case DYX_IMG_FMT_RGB:
            return "RedGreenBlue";
        case DYX_IMG_FMT_RGBA:
            return "RedGreenBlueAlpha";
        default:
            return "unknown";
    }
}

PyObject *image_repr(PyObject *object) {
    ObjectLockGuard locked(image_lock(object));
    const ImageObject *self = as_image(object);
    char text[512];
    dyx_snprintf(text, sizeof text, "Format: %s\nDims: %u %u\nFrame: %d %d\nOrigin: %d %d\nFramenumber: %d",
                 format_name(self->image->format), self->image->width, self->image->height, self->frame_width,
                 self->frame_height, self->origin_x, self->origin_y, self->frame_number);
    return OrvoText_FromString(text);
}

// Three-way: 1 when the headers differ, else the first differing byte.
int image_compare(PyObject *a, PyObject *b) {
    ObjectLockGuard locked(image_lock(a), image_lock(b));
    const dyx_image_t *x = as_image(a)->image;
    const dyx_image_t *y = as_image(b)->image;
    if (dyx_image_hdr_diff(x, y, 7) != 0) return 1;
    const uint64_t size = dyx_image_data_size(x);
    if (size == 0) return 0;
    int order;
    {
        GilRelease released;
        order = std::memcmp(x->data, y->data, size);
    }
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

#if ORVO_PY3
PyObject *image_richcompare(PyObject *a, PyObject *b, int op) {
    if (!PyObject_TypeCheck(a, &image_type) || !PyObject_TypeCheck(b, &image_type)) Py_RETURN_NOTIMPLEMENTED;
    Py_RETURN_RICHCOMPARE(image_compare(a, b), 0, op);
}
#endif

// ---- attributes -----------------------------------------------------------

PyObject *get_dims(PyObject *object, void *) {
    const dyx_image_t *image = as_image(object)->image;
    return Py_BuildValue("[kk]", static_cast<unsigned long>(image->width),
                         static_cast<unsigned long>(image->height));
}

PyObject *get_format(PyObject *object, void *) { return OrvoInt_FromLong(as_image(object)->image->format); }

PyObject *get_frame(PyObject *object, void *) {
    return Py_BuildValue("[ii]", as_image(object)->frame_width, as_image(object)->frame_height);
}

PyObject *get_origin(PyObject *object, void *) {
    return Py_BuildValue("[ii]", as_image(object)->origin_x, as_image(object)->origin_y);
}

PyObject *get_framenumber(PyObject *object, void *) {
    return OrvoInt_FromLong(as_image(object)->frame_number);
}

PyObject *get_methods(PyObject *, void *) { return string_list(kMethodNames); }

PyObject *get_array_interface(PyObject *object, void *) { return image_array_interface(as_image(object)); }

// Parses a pair written as a tuple of two integers (a list is refused).
bool parse_pair(PyObject *value, int *first, int *second) {
    if (!PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "a tuple of two integers is required");
        return false;
    }
    return PyArg_ParseTuple(value, "ii", first, second) != 0;
}

int attribute_error(const char *message) {
    PyErr_SetString(PyExc_AttributeError, message);
    return -1;
}

int set_dims(ImageObject *self, PyObject *value) {
    int width = 0, height = 0;
    if (!parse_pair(value, &width, &height)) return -1;
    if (width <= 0 || height <= 0) return attribute_error("Invalid image size");
    return scale_to(self, static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0) ? 0 : -1;
}

int set_format(ImageObject *self, PyObject *value) {
    int format = 0;
    if (!PyArg_Parse(value, "i", &format)) return -1;
    if (!valid_format(format)) return attribute_error("Invalid image format");
    return convert_to_format(self, format) ? 0 : -1;
}

int set_frame(ImageObject *self, PyObject *value) {
    int width = 0, height = 0;
    if (!parse_pair(value, &width, &height)) return -1;
    if (width <= 0 || height <= 0) return attribute_error("Invalid frame size");
    self->frame_width = width;
    self->frame_height = height;
    return 0;
}

int set_origin(ImageObject *self, PyObject *value) {
    int x = 0, y = 0;
    if (!parse_pair(value, &x, &y)) return -1;
    if (x < 0 || y < 0) return attribute_error("Invalid origin");
    self->origin_x = x;
    self->origin_y = y;
    return 0;
}

int set_framenumber(ImageObject *self, PyObject *value) {
    int number = 0;
    if (!PyArg_Parse(value, "i", &number)) return -1;
    if (number < 0) return attribute_error("Invalid frame number");
    self->frame_number = number;
    return 0;
}

constexpr const char *kNotDeletable = "Image attributes cannot be deleted";

// A table setter; deletion is refused however the attribute is reached.
template <int (*set)(ImageObject *, PyObject *)>
int checked_set(PyObject *object, PyObject *value, void *) {
    if (value == nullptr) return attribute_error(kNotDeletable);
    return set(as_image(object), value);
}

// The attributes, in the order of __members__.
PyGetSetDef image_attributes[] = {
    attribute_entry("dims", get_dims, checked_set<set_dims>,
                    "[width, height]; setting a tuple rescales the picture (nearest sample)"),
    attribute_entry("format", get_format, checked_set<set_format>,
                    "pixel format, a DYX_IMG_FMT_* constant; setting it converts the pixels"),
    attribute_entry("frame", get_frame, checked_set<set_frame>,
                    "[width, height] of the frame the picture belongs to; set as a tuple"),
    attribute_entry("origin", get_origin, checked_set<set_origin>,
                    "[x, y] of the picture in its frame; set as a tuple"),
    attribute_entry("framenumber", get_framenumber, checked_set<set_framenumber>,
                    "the frame number the picture belongs to (>= 0)"),
    attribute_entry("__members__", member_names, nullptr, "the attribute names"),
    attribute_entry("__methods__", get_methods, nullptr, "the method names"),
    attribute_entry("__array_interface__", get_array_interface, nullptr,
                    "NumPy's description of the pixels as a view, top row first"),
    kEndOfAttributes,
};

PyObject *image_getattro(PyObject *object, PyObject *name_object) {
    const char *name = OrvoText_AsUTF8(name_object);
    if (name == nullptr) return nullptr;
    const PyGetSetDef *attribute = find_attribute(image_attributes, name);
    if (attribute != nullptr) {
        ObjectLockGuard locked(image_lock(object));  // another thread may be changing the object
        return attribute->get(object, attribute->closure);
    }
    return PyObject_GenericGetAttr(object, name_object);
}

int image_setattro(PyObject *object, PyObject *name_object, PyObject *value) {
    const char *name = OrvoText_AsUTF8(name_object);
    if (name == nullptr) return -1;
    if (value == nullptr) return attribute_error(kNotDeletable);
    const PyGetSetDef *attribute = find_attribute(image_attributes, name);
    if (attribute == nullptr || attribute->set == nullptr) return attribute_error(name);
    apply_thread_setting();  // a setter may rescale or convert the pixels
    ObjectLockGuard locked(image_lock(object));
    return attribute->set(object, value, attribute->closure);
}

// ---- pixel access ---------------------------------------------------------

bool pixel_in_range(const dyx_image_t *image, int x, int y) {
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= image->width ||
        static_cast<uint32_t>(y) >= image->height) {
        PyErr_SetString(PyExc_RuntimeError, "Value out of range");
        return false;
    }
    return true;
}

uint8_t *pixel_at(const dyx_image_t *image, int x, int y) {
    const size_t index = static_cast<size_t>(y) * image->width + static_cast<size_t>(x);
    return image->data + index * static_cast<size_t>(dyx_image_color_components_per_pixel(image));
}

PyObject *image_getpixel(PyObject *object, PyObject *args) {
    const dyx_image_t *image = as_image(object)->image;
    int x = 0, y = 0;
    if (!PyArg_ParseTuple(args, "ii:getpixel", &x, &y)) return nullptr;
    if (!pixel_in_range(image, x, y)) return nullptr;
    const int components = dyx_image_color_components_per_pixel(image);
    const uint8_t *pixel = pixel_at(image, x, y);
    PyObject *list = PyList_New(components);
    if (list == nullptr) return nullptr;
    for (int c = 0; c < components; ++c) {
        PyObject *value = OrvoInt_FromLong(pixel[c]);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, c, value);
    }
    return list;
}

// The low 8 bits of an integer of any size.
bool low_byte(PyObject *item, uint8_t *byte) {
    PyObject *integer = PyNumber_Index(item);
    if (integer == nullptr) return false;
    PyObject *mask = OrvoInt_FromLong(0xff);
    PyObject *masked = mask ? PyNumber_And(integer, mask) : nullptr;
    Py_DECREF(integer);
    Py_XDECREF(mask);
    if (masked == nullptr) return false;
    const long value = PyLong_Check(masked) ? PyLong_AsLong(masked) : OrvoInt_AsLong(masked);
    Py_DECREF(masked);
    *byte = static_cast<uint8_t>(value);
    return !PyErr_Occurred();
}

PyObject *image_setpixel(PyObject *object, PyObject *args) {
    dyx_image_t *image = as_image(object)->image;
    int x = 0, y = 0;
    PyObject *value = nullptr;
    if (!PyArg_ParseTuple(args, "iiO:setpixel", &x, &y, &value)) return nullptr;
    if (!pixel_in_range(image, x, y)) return nullptr;
    if (!PyList_Check(value)) {
        PyErr_SetString(PyExc_RuntimeError, "The pixel value must be a list");
        return nullptr;
    }
    const int components = dyx_image_color_components_per_pixel(image);
    if (PyList_GET_SIZE(value) < components) {
        PyErr_SetString(PyExc_RuntimeError, "Insufficient number of components in the pixel");
        return nullptr;
    }
    uint8_t bytes[4];
    for (int c = 0; c < components; ++c)
        if (!low_byte(PyList_GET_ITEM(value, c), &bytes[c])) return nullptr;
    std::memcpy(pixel_at(image, x, y), bytes, static_cast<size_t>(components));
    Py_RETURN_NONE;
}

PyObject *image_getpixels(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"depth", nullptr};
    int depth = 0;  // accepted for compatibility, not used
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|i:getpixels", const_cast<char **>(keywords), &depth))
        return nullptr;
    return pixels_to_array(as_image(object)->image);
}

PyObject *image_setpixels(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"array", "depth", nullptr};
    PyObject *array = nullptr;
    int depth = 0;  // accepted for compatibility, not used
    apply_thread_setting();
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|i:setpixels", const_cast<char **>(keywords), &array,
                                     &depth))
        return nullptr;
    PyObject *source = pixels_source(array);
    if (source == nullptr) return nullptr;
    int status;
    {
        ObjectLockGuard locked(image_lock(object));
        status = pixels_from_array(as_image(object)->image, source);
    }
    Py_DECREF(source);
    if (status != 0) return nullptr;
    Py_RETURN_NONE;
}

// ---- string forms -----------------------------------------------------------

PyObject *image_tostring(PyObject *object, PyObject *) {
    const dyx_image_t *image = as_image(object)->image;
    const uint64_t size = dyx_image_data_size(image);
    PyObject *bytes = OrvoBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (bytes == nullptr || size == 0) return bytes;
    char *out = OrvoBytes_AsString(bytes);
    GilRelease released;
    std::memcpy(out, image->data, size);
    return bytes;
}

PyObject *image_fromstring(PyObject *object, PyObject *args) {
    ImageObject *self = as_image(object);
    PyObject *data_object = nullptr;
    int width = 0, height = 0, format = 0;
    apply_thread_setting();
    if (!PyArg_ParseTuple(args, "Oiii:fromstring", &data_object, &width, &height, &format)) return nullptr;
    BinaryArgument data;
    if (!data.take(data_object)) return nullptr;
    // Locked once the data's buffer is held: the data may be another image,
    // whose buffer takes that image's lock.
    ObjectLockGuard locked(image_lock(object));
    if (width < 0 || height < 0 || !valid_format(format)) {
        PyErr_SetString(PyExc_RuntimeError, "Value out of range");
        return nullptr;
    }
    const uint64_t size = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                          static_cast<uint64_t>(dyx_image_format_components(format));
    if (static_cast<uint64_t>(data.view.len) < size) {
        PyErr_SetString(PyExc_RuntimeError, "Insufficient number of characters in string");
        return nullptr;
    }
    // Converting and scaling the old pixels would only produce bytes that
    // are overwritten at once: a fresh buffer of the new shape is the same.
    dyx_image_t *image = self->image;
    const bool same_shape = image->width == static_cast<uint32_t>(width) &&
                            image->height == static_cast<uint32_t>(height) && image->format == format &&
                            image->depth == 0;
    if (!same_shape) {
        if (!image_check_not_exported(self)) return nullptr;
        dyx_image_t *fresh =
            dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0, format);
        if (fresh == nullptr) return PyErr_NoMemory();
        image_replace_buffer(self, fresh);
    }
    if (size != 0) {
        GilRelease released;
        std::memcpy(self->image->data, data.view.buf, size);
    }
    Py_RETURN_NONE;
}

PyObject *image_ppm(PyObject *object, PyObject *) {
    const dyx_image_t *image = as_image(object)->image;
    const int components = dyx_image_color_components_per_pixel(image);
    const int out_components = components >= 3 ? 3 : 1;
    char header[64];
    dyx_snprintf(header, sizeof header, "%s\n%u %u\n255\n", out_components == 3 ? "P6" : "P5", image->width,
                 image->height);
    const size_t header_length = std::strlen(header);
    const uint64_t body = static_cast<uint64_t>(image->width) * image->height * out_components;
    PyObject *result = OrvoBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(header_length + body));
    if (result == nullptr) return nullptr;
    char *out = OrvoBytes_AsString(result);
    GilRelease released;
    std::memcpy(out, header, header_length);
    uint8_t *pixels = reinterpret_cast<uint8_t *>(out + header_length);
    const size_t row_pixels = image->width;
    // The top of the PPM picture is the buffer's last row.
    for (uint32_t row = image->height; row-- > 0;) {
        const uint8_t *in = image->data + static_cast<size_t>(row) * row_pixels * components;
        if (out_components == components) {
            std::memcpy(pixels, in, row_pixels * components);
            pixels += row_pixels * components;
            continue;
        }
        for (size_t x = 0; x < row_pixels; ++x, in += components) {
            *pixels++ = in[0];
            if (out_components == 3) {
                *pixels++ = in[1];
                *pixels++ = in[2];
            }
        }
    }
    return result;
}

// ---- pickling and small methods ----------------------------------------

PyObject *image_reduce(PyObject *object, PyObject *) {
    const ImageObject *self = as_image(object);
    PyObject *pixels = image_tostring(object, nullptr);
    if (pixels == nullptr) return nullptr;
    PyObject *result = Py_BuildValue(
        "(O(kkiNiiiii))", Py_TYPE(object), static_cast<unsigned long>(self->image->width),
        static_cast<unsigned long>(self->image->height), self->image->format, pixels, self->frame_number,
        self->frame_width, self->frame_height, self->origin_x, self->origin_y);
    return result;
}

PyObject *image_errstr(PyObject *object, PyObject *) { return take_error_text(as_image(object)->error); }

PyObject *image_macclip(PyObject *, PyObject *) { Py_RETURN_NONE; }

#if ORVO_PY3
PyObject *image_dir(PyObject *, PyObject *) {
    return member_and_method_names(image_attributes, kMethodNames);
}
#endif

// ---- resize, flip, swizzle, subrect -----------------------------------

PyObject *image_resize(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"dx", "dy", "smooth", nullptr};
    int dx = 0, dy = 0;
    unsigned int smooth = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ii|I:resize", const_cast<char **>(keywords), &dx, &dy,
                                     &smooth))
        return nullptr;
    if (dx <= 0 || dy <= 0) {
        PyErr_SetString(PyExc_AttributeError, "Invalid image size");
        return nullptr;
    }
    if (!scale_to(as_image(object), static_cast<uint32_t>(dx), static_cast<uint32_t>(dy), smooth))
        return nullptr;
    Py_RETURN_NONE;
}

PyObject *image_flip(PyObject *object, PyObject *args) {
    unsigned int axis = 0;
    if (!PyArg_ParseTuple(args, "I:flip", &axis)) return nullptr;
    {
        GilRelease released;
        dyx_image_flip(as_image(object)->image, axis);
    }
    Py_RETURN_NONE;
}

PyObject *image_swizzle(PyObject *object, PyObject *args) {
    int32_t map[4], mask[4];
    if (!PyArg_ParseTuple(args, "(iiii)(iiii):swizzle", &map[0], &map[1], &map[2], &map[3], &mask[0],
                          &mask[1], &mask[2], &mask[3]))
        return nullptr;
    dyx_image_t *image = as_image(object)->image;
    {
        GilRelease released;
        dyx_image_swizzle(image, image, map, mask);  // a bad map leaves the image as it was
    }
    Py_RETURN_NONE;
}

PyObject *image_subrect(PyObject *object, PyObject *args) {
    const dyx_image_t *image = as_image(object)->image;
    int x = 0, y = 0;
    int width = static_cast<int>(image->width), height = static_cast<int>(image->height);
    if (!PyArg_ParseTuple(args, "|(ii)(ii):subrect", &x, &y, &width, &height)) return nullptr;
    if (width < 0 || height < 0 || x < 0 || y < 0 || static_cast<int64_t>(x) + width > image->width ||
        static_cast<int64_t>(y) + height > image->height) {
        PyErr_Format(PyExc_RuntimeError, "The rectangle (%d, %d) %d x %d does not fit in the %u x %u image",
                     x, y, width, height, image->width, image->height);
        return nullptr;
    }
    dyx_image_t *part =
        dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0, image->format);
    if (part == nullptr) return PyErr_NoMemory();
    {
        GilRelease released;
        dyx_image_subrect(image, part, x, y);
    }
    return image_wrap_buffer(part);
}

// Every method but the class method, macclip, __dir__, the two-image
// methods (blend, bitblt, diff: they lock both images themselves) and the
// ones that take another object's buffer first (fromstring, setpixels)
// holds the image's lock for the whole call.
template <PyObject *(*method)(PyObject *, PyObject *)>
constexpr PyCFunction locked = locked_method<image_lock, method>;
template <PyObject *(*method)(PyObject *, PyObject *, PyObject *)>
constexpr PyObject *(*locked_kw)(PyObject *, PyObject *, PyObject *) = locked_method_kw<image_lock, method>;

PyMethodDef image_methods[] = {
    {"ppm", locked<image_ppm>, METH_VARARGS, "ppm($self, /)\n--\n\nImage as PPM string"},
    {"tostring", locked<image_tostring>, METH_VARARGS, "tostring($self, /)\n--\n\nImage as raw string"},
    {"fromstring", image_fromstring, METH_VARARGS,
     "fromstring($self, data, width, height, format, /)\n--\n\nImage from raw string"},
    {"subrect", locked<image_subrect>, METH_VARARGS, "subrect($self, *rectangle)\n--\n\nImage sub rect"},
    {"chromakey", locked<image_chromakey>, METH_VARARGS,
     "chromakey($self, color, tolerance, alpha, /)\n--\n\nAlpha channel from color test"},
    {"flip", locked<image_flip>, METH_VARARGS, "flip($self, axis, /)\n--\n\nFlip image over axis"},
    {"swizzle", locked<image_swizzle>, METH_VARARGS,
     "swizzle($self, channels, mask, /)\n--\n\nSwap image channels"},
    {"colormath", locked<image_colormath>, METH_VARARGS,
     "colormath($self, row0, row1, row2, row3, /)\n--\n\nMatrix math on colors"},
    {"blend", image_blend, METH_VARARGS,
     "blend($self, image, srccolor, srcalpha, dstcolor, dstalpha, color, calpha, /)\n--\n\n"
     "Blend two images"},
    {"bitblt", image_bitblt, METH_VARARGS,
     "bitblt($self, image, source_origin, source_size, origin, size, mode, color, /)\n--\n\n"
     "Combine two images"},
    {"getpixel", locked<image_getpixel>, METH_VARARGS, "getpixel($self, x, y, /)\n--\n\nGet a pixel value"},
    {"setpixel", locked<image_setpixel>, METH_VARARGS,
     "setpixel($self, x, y, value, /)\n--\n\nSet a pixel value"},
    {"getpixels", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<image_getpixels>)),
     METH_VARARGS | METH_KEYWORDS, "getpixels($self, depth=0)\n--\n\nGet all pixel values"},
    {"setpixels", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(image_setpixels)),
     METH_VARARGS | METH_KEYWORDS, "setpixels($self, array, depth=0)\n--\n\nSet all pixel values"},
    {"macclip", image_macclip, METH_VARARGS, "macclip($self, /)\n--\n\nPut image on Mac clipboard"},
    {"errstr", locked<image_errstr>, METH_VARARGS, "errstr($self, /)\n--\n\nGet last error string"},
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<image_load>)),
     METH_VARARGS | METH_KEYWORDS,
     "load($self, filename, frame=0, options='', format=None)\n--\n\nLoad image from disk"},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<image_save>)),
     METH_VARARGS | METH_KEYWORDS,
     "save($self, filename, options='', format=None)\n--\n\nSave image to disk"},
    {"resize", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<image_resize>)),
     METH_VARARGS | METH_KEYWORDS, "resize($self, dx, dy, smooth=0)\n--\n\nResize the image"},
    {"diff", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(image_diff)),
     METH_VARARGS | METH_KEYWORDS, "diff($self, image, absolute=0)\n--\n\nPixel difference two images"},
    {"stats", locked<image_stats>, METH_VARARGS, "stats($self, /)\n--\n\nCompute pixel statistics"},
    {"fromarray", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(image_fromarray)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "fromarray($type, array, shape=None, format=0)\n--\n\n"
     "A new image from (height, width[, components]) uint8 pixels, top row first"},
    {"toarray", locked<image_toarray>, METH_NOARGS,
     "toarray($self, /)\n--\n\n"
     "A copy of the pixels as a (height, width[, components]) uint8 NumPy array, top row first"},
    {"__reduce__", locked<image_reduce>, METH_NOARGS,
     "__reduce__($self, /)\n--\n\n__reduce__() -> (cls,state)"},
#if ORVO_PY3
    {"__dir__", image_dir, METH_NOARGS, "__dir__($self, /)\n--\n\nAttribute and method names"},
#endif
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject *image_wrap_buffer(dyx_image_t *buffer) {
    PyObject *object = image_alloc_object(&image_type);
    if (object == nullptr) {
        dyx_image_free(&buffer);
        return nullptr;
    }
    as_image(object)->image = buffer;
    return object;
}

void image_replace_buffer(ImageObject *self, dyx_image_t *buffer) {
    dyx_image_free(&self->image);
    self->image = buffer;
}

// The type object; slots the type does not use stay zero.
PyTypeObject image_type = [] {
    PyTypeObject type{};
    reinterpret_cast<PyObject *>(&type)->ob_refcnt = 1;  // a static object is never freed
    type.tp_name = "orvo.image";
    type.tp_basicsize = sizeof(ImageObject);
    type.tp_dealloc = image_dealloc;          // frees the buffer
    type.tp_repr = image_repr;                // the five-line description
    type.tp_getattro = image_getattro;        // the attribute table, then the methods
    type.tp_setattro = image_setattro;        // the table's setters with their validity rules
    type.tp_getset = image_attributes;        // the same table, for help()
    type.tp_as_buffer = &image_buffer_procs;  // the top-down pixel view
#if ORVO_PY3
    type.tp_flags = Py_TPFLAGS_DEFAULT;  // not subclassable
#else
    type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_NEWBUFFER;
#endif
    // The frame's size defaults to the picture's: "..." in the signature.
    type.tp_doc =
        "image(width=100, height=100, format=8, pixels=None, framenumber=0, framewidth=..., frameheight=..., "
        "originx=0, originy=0)\n--\n\nImage objects";
    type.tp_methods = image_methods;
    type.tp_new = image_new;
#if ORVO_PY3
    type.tp_richcompare = image_richcompare;  // all six from the three-way order
#else
    type.tp_compare = image_compare;
#endif
    return type;
}();

}  // namespace orvo
