// The NumPy bridge of orvo.image: the one place that uses NumPy's C API.
// NumPy is optional: without it (or when its import fails) the pixel-array
// methods raise RuntimeError and everything else works.
// clang-format off
#include "py_image.h"  // Python.h comes before every other header
// clang-format on

#include <cstring>
#include <new>
#include <string>

#include "dyx_image.h"

#if ORVO_HAVE_NUMPY
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>
#endif

namespace {

const char kImportFailed[] = "numpy.core.multiarray failed to import";

// Why the arrays are unavailable; empty once NumPy's interface is imported.
std::string numpy_unavailable =
#if ORVO_HAVE_NUMPY
    kImportFailed;
#else
    "orvo was built without NumPy support";
#endif

#if ORVO_HAVE_NUMPY
// The text of the pending exception (which is cleared).
std::string take_error_text() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    std::string text;
    if (value != nullptr) {
        PyObject *str = PyObject_Str(value);
        if (str != nullptr) {
            const char *utf8 = OrvoText_AsUTF8(str);
            if (utf8 != nullptr) text = utf8;
            Py_DECREF(str);
        }
    }
    PyErr_Clear();
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return text;
}

// A new uint8 array of shape (rows, columns) for one component, else
// (rows, columns, components).
PyObject *new_pixel_array(uint32_t rows, uint32_t columns, int components) {
    npy_intp dims[3] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(columns), components};
    return PyArray_SimpleNew(components == 1 ? 2 : 3, dims, NPY_UBYTE);
}
#endif

bool numpy_ready() {
    if (numpy_unavailable.empty()) return true;
    PyErr_SetString(PyExc_RuntimeError, numpy_unavailable.c_str());
    return false;
}

}  // namespace

int orvo_image_init(void) {
#if ORVO_HAVE_NUMPY
    // NumPy's own import checks the ABI and API versions and endianness.
    if (_import_array() < 0) {
        // Ctrl-C or sys.exit() while NumPy loads is the user's wish, not a
        // missing NumPy: it stays pending and the import of orvo stops.
        if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception)) return -2;
        try {
            const std::string reason = take_error_text();
            numpy_unavailable = reason.empty() ? kImportFailed : std::string(kImportFailed) + ": " + reason;
        } catch (const std::bad_alloc &) {
            PyErr_Clear();  // the generic message stays
        }
        return -1;
    }
    numpy_unavailable.clear();
    return 0;
#else
    return -1;
#endif
}

namespace orvo {

PyObject *pixels_to_array(const dyx_image_t *image) {
    if (!numpy_ready()) return nullptr;
#if ORVO_HAVE_NUMPY
    PyObject *array =
        new_pixel_array(image->width, image->height, dyx_image_color_components_per_pixel(image));
    if (array == nullptr) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, "Unable to create NumPy array");
        return nullptr;
    }
    const uint64_t size = dyx_image_data_size(image);
    if (size != 0) {
        GilRelease released;
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject *>(array)), image->data, size);
    }
    return array;
#else
    (void)image;
    return nullptr;
#endif
}

PyObject *pixels_to_topdown_array(const dyx_image_t *image) {
    if (!numpy_ready()) return nullptr;
#if ORVO_HAVE_NUMPY
    const int components = dyx_image_color_components_per_pixel(image);
    PyObject *array = new_pixel_array(image->height, image->width, components);
    if (array == nullptr) return nullptr;
    // The buffer's last row is the top of the picture, the array's first.
    const size_t row_bytes = static_cast<size_t>(image->width) * static_cast<size_t>(components);
    auto *out = static_cast<uint8_t *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(array)));
    GilRelease released;
    if (row_bytes != 0)
        for (uint32_t row = image->height; row-- > 0; out += row_bytes)
            std::memcpy(out, image->data + static_cast<size_t>(row) * row_bytes, row_bytes);
    return array;
#else
    (void)image;
    return nullptr;
#endif
}

PyObject *pixels_view_array(PyObject *object) {
    if (!numpy_ready()) return nullptr;
#if ORVO_HAVE_NUMPY
    // Through the buffer protocol: the array's base is a memoryview holding
    // one export of the image, which stops resizing or reloading it.
    PyObject *view = PyMemoryView_FromObject(object);
    if (view == nullptr) return nullptr;
    PyObject *array = PyArray_FromAny(view, nullptr, 0, 0, 0, nullptr);
    Py_DECREF(view);
    return array;
#else
    (void)object;
    return nullptr;
#endif
}

PyObject *pixels_source(PyObject *object) {
    if (!numpy_ready()) return nullptr;
#if ORVO_HAVE_NUMPY
    // NumPy's own conversion, without forced casting.
    return PyArray_FromAny(object, PyArray_DescrFromType(NPY_UBYTE), 0, 0,
                           NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr);
#else
    (void)object;
    return nullptr;
#endif
}

int pixels_from_array(dyx_image_t *image, PyObject *converted) {
#if ORVO_HAVE_NUMPY
    auto *array = reinterpret_cast<PyArrayObject *>(converted);
    const int ndim = PyArray_NDIM(array);
    const npy_intp *dims = PyArray_DIMS(array);
    const int components = dyx_image_color_components_per_pixel(image);
    const uint64_t size = dyx_image_data_size(image);
    const char *problem = nullptr;
    // The byte count check guards against a further dimension of 0, which
    // would leave the array shorter than the picture.
    if (ndim < 2 || dims[0] != static_cast<npy_intp>(image->width) ||
        dims[1] != static_cast<npy_intp>(image->height))
        problem = "Invalid array dimensions";
    else if ((ndim >= 3 ? dims[2] : 1) != components)
        problem = "Invalid array depth";
    else if (static_cast<uint64_t>(PyArray_NBYTES(array)) < size)
        problem = "Invalid array dimensions";
    if (problem != nullptr) {
        PyErr_SetString(PyExc_RuntimeError, problem);
        return -1;
    }
    if (size != 0) {
        GilRelease released;
        std::memcpy(image->data, PyArray_DATA(array), size);
    }
    return 0;
#else
    (void)image;
    (void)converted;
    return -1;
#endif
}

}  // namespace orvo
