// orvo.movie: open() and close() over the library's movie, with option
// warnings issued as orvo.OrvoWarning.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <algorithm>
#include <cstring>

#include "dyx_malloc.h"
#include "py_names.h"
#include "py_object_lock.h"
#include "py_threads.h"

namespace orvo {
PyObject *movie_open(PyObject *object, PyObject *args) {
    if (!PyArg_ParseTuple(args, ":open")) return nullptr;
    // A reader's decoder takes its thread count from orvo.threads at open.
    apply_thread_setting();
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_open(movie_state(object), issue_option_warning, nullptr);
    }
    return movie_result(status);
}

PyObject *movie_open_uncounted(PyObject *object, PyObject *args) {
    if (!PyArg_ParseTuple(args, ":_open_uncounted")) return nullptr;
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_open_uncounted(movie_state(object), issue_option_warning, nullptr);
    }
    return movie_result(status);
}

PyObject *movie_close(PyObject *object, PyObject *args) {
    if (!PyArg_ParseTuple(args, ":close")) return nullptr;
    int status;
    {
        // Finishing a file written behind the script can take a while.
        GilRelease released;
        status = dyx_udil_movie_close(movie_state(object));
    }
    movie_release_held_fd(object);
    return movie_result(status);
}

}  // namespace orvo
