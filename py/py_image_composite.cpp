// orvo.image methods over the compositing and measuring operations:
// blend, bitblt, chromakey, colormath, diff and stats. The library results
// of blend, bitblt, chromakey and colormath are not reported to scripts.
#include "py_image_composite.h"

#include <cstdint>

#include "dyx_image_composite.h"
#include "dyx_image_stats.h"
#include "py_image.h"

namespace orvo {
namespace {

dyx_image_t *buffer_of(PyObject *object) { return reinterpret_cast<ImageObject *>(object)->image; }

// The other image of a two-image method must be an orvo.image itself.
bool check_image(PyObject *object) {
    if (Py_TYPE(object) == &image_type) return true;
    PyErr_SetString(PyExc_TypeError, "object not of type Image");
    return false;
}

uint8_t low_byte(long value) { return static_cast<uint8_t>(value & 0xff); }

PyObject *none() {
    Py_INCREF(Py_None);
    return Py_None;
}

// One stats value into the result dictionary.
bool put_number(PyObject *dict, const char *key, double value) {
    PyObject *number = PyFloat_FromDouble(value);
    if (number == nullptr) return false;
    const int status = PyDict_SetItemString(dict, key, number);
    Py_DECREF(number);
    return status == 0;
}

}  // namespace

PyObject *image_blend(PyObject *self, PyObject *args) {
    apply_thread_setting();
    PyObject *source;
    int src_color, src_alpha, dst_color, dst_alpha;
    long c0, c1, c2, c3, calpha;
    if (!PyArg_ParseTuple(args, "Oiiii(llll)l:blend", &source, &src_color, &src_alpha, &dst_color, &dst_alpha,
                          &c0, &c1, &c2, &c3, &calpha))
        return nullptr;
    if (!check_image(source)) return nullptr;
    const uint8_t constant[4] = {low_byte(c0), low_byte(c1), low_byte(c2), low_byte(c3)};
    ObjectLockGuard locked(image_lock(self), image_lock(source));
    {
        GilRelease released;
        dyx_image_blend(buffer_of(source), buffer_of(self), src_color, src_alpha, dst_color, dst_alpha,
                        constant, low_byte(calpha));
    }
    return none();
}

PyObject *image_bitblt(PyObject *self, PyObject *args) {
    apply_thread_setting();
    PyObject *source;
    int32_t src_origin[2], src_size[2], dest_origin[2], dest_size[2];
    int mode;
    long r, g, b, a;
    if (!PyArg_ParseTuple(args, "O(ii)(ii)(ii)(ii)i(llll):bitblt", &source, &src_origin[0], &src_origin[1],
                          &src_size[0], &src_size[1], &dest_origin[0], &dest_origin[1], &dest_size[0],
                          &dest_size[1], &mode, &r, &g, &b, &a))
        return nullptr;
    if (!check_image(source)) return nullptr;
    const uint8_t border[4] = {low_byte(r), low_byte(g), low_byte(b), low_byte(a)};
    ObjectLockGuard locked(image_lock(self), image_lock(source));
    {
        GilRelease released;
        dyx_image_bitblt(buffer_of(source), buffer_of(self), src_origin, src_size, dest_origin, dest_size,
                         mode, border);
    }
    return none();
}

PyObject *image_chromakey(PyObject *self, PyObject *args) {
    long r, g, b, alpha;
    int32_t tolerance[3];
    if (!PyArg_ParseTuple(args, "(lll)(iii)l:chromakey", &r, &g, &b, &tolerance[0], &tolerance[1],
                          &tolerance[2], &alpha))
        return nullptr;
    const uint8_t key[3] = {low_byte(r), low_byte(g), low_byte(b)};
    {
        GilRelease released;
        dyx_image_chromakey(buffer_of(self), key, tolerance, low_byte(alpha));
    }
    return none();
}

PyObject *image_colormath(PyObject *self, PyObject *args) {
    float m[20];
    if (!PyArg_ParseTuple(args, "(fffff)(fffff)(fffff)(fffff):colormath", &m[0], &m[1], &m[2], &m[3], &m[4],
                          &m[5], &m[6], &m[7], &m[8], &m[9], &m[10], &m[11], &m[12], &m[13], &m[14], &m[15],
                          &m[16], &m[17], &m[18], &m[19]))
        return nullptr;
    const float depth_unchanged[2] = {1.0f, 0.0f};
    {
        GilRelease released;
        dyx_image_axb(buffer_of(self), m, depth_unchanged);
    }
    return none();
}

PyObject *image_diff(PyObject *self, PyObject *args, PyObject *keywords) {
    apply_thread_setting();
    static const char *keyword_names[] = {"image", "absolute", nullptr};
    PyObject *other;
    int absolute = 0;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|i:diff", const_cast<char **>(keyword_names), &other,
                                     &absolute))
        return nullptr;
    if (!check_image(other)) return nullptr;
    ObjectLockGuard locked(image_lock(self), image_lock(other));
    const dyx_image_t *a = buffer_of(self);
    const dyx_image_t *b = buffer_of(other);
    if (dyx_image_hdr_diff(a, b, DYX_IMAGE_HDR_SIZE | DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0) {
        PyErr_SetString(PyExc_TypeError, "image size/format mismatch");
        return nullptr;
    }
    // Matching images leave only memory to fail.
    dyx_image_t *difference;
    {
        GilRelease released;
        difference = dyx_image_diff(a, b, absolute);
    }
    if (difference == nullptr) return PyErr_NoMemory();
    return image_wrap_buffer(difference);
}

PyObject *image_stats(PyObject *self, PyObject *) {
    double count, mean, sum, sum_of_squares, variance, minimum, maximum;
    {
        GilRelease released;
        dyx_image_stats(buffer_of(self), &count, &mean, &sum, &sum_of_squares, &variance, &minimum, &maximum);
    }
    PyObject *dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    if (!put_number(dict, "count", count) || !put_number(dict, "mean", mean) ||
        !put_number(dict, "sum", sum) || !put_number(dict, "sumofsquares", sum_of_squares) ||
        !put_number(dict, "variance", variance) || !put_number(dict, "minimum", minimum) ||
        !put_number(dict, "maximum", maximum)) {
        Py_DECREF(dict);
        return nullptr;
    }
    return dict;
}

}  // namespace orvo
