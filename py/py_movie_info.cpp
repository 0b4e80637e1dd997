// orvo.movie's `info`: the library's JSON description of an open read
// movie, read into a dict by Python's own json module.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <new>
#include <vector>

#include "py_threads.h"

namespace orvo {

PyObject *movie_info(PyObject *object) {
    DyxUdilMovie *movie = movie_state(object);
    if (!movie->is_open || !movie->read_mode) Py_RETURN_NONE;
    std::vector<char> text;
    int32_t length = -1;
    try {
        text.resize(8192);
        for (int attempt = 0; attempt < 2; ++attempt) {
            {
                // Stopping the read-ahead may wait for a frame being decoded.
                GilRelease released;
                length = dyx_udil_movie_describe(movie, text.data(), int32_t(text.size()));
            }
            if (length < 0 || size_t(length) < text.size()) break;
            text.resize(size_t(length) + 1);
        }
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
    if (length < 0 || size_t(length) >= text.size()) Py_RETURN_NONE;
    PyObject *json = PyImport_ImportModule("json");
    if (json == nullptr) return nullptr;
    PyObject *loads = PyObject_GetAttrString(json, "loads");
    Py_DECREF(json);
    if (loads == nullptr) return nullptr;
    PyObject *arguments = Py_BuildValue("(s#)", text.data(), Py_ssize_t(length));
    PyObject *info = arguments != nullptr ? PyObject_CallObject(loads, arguments) : nullptr;
    Py_XDECREF(arguments);
    Py_DECREF(loads);
    return info;
}

}  // namespace orvo
