// The Python conveniences of orvo.movie: `with` closes the movie, a read
// movie has len() and yields its frames by index and in `for` loops.
#include "py_movie.h"

namespace orvo {

PyObject *movie_enter(PyObject *self, PyObject *) {
    Py_INCREF(self);
    return self;
}

// Closes an open movie on leaving the block, also on an exception, which
// then goes on (the result is False).
PyObject *movie_exit(PyObject *self, PyObject *) {
    MovieObject *movie = as_movie(self);
    if (movie->is_open) close_movie(movie);
    Py_INCREF(Py_False);
    return Py_False;
}

namespace {

Py_ssize_t movie_length(PyObject *self) { return as_movie(self)->nframes; }

// movie[n] is getframe(n), except that failures raise: past the last frame
// IndexError (which also ends a for loop), otherwise RuntimeError with the
// movie's error text.
PyObject *movie_item(PyObject *self, Py_ssize_t index) {
    MovieObject *movie = as_movie(self);
    if (movie->is_open && movie->read_mode && (index < 0 || index >= movie->nframes)) {
        PyErr_SetString(PyExc_IndexError, "movie frame out of range");
        return nullptr;
    }
    if (index > INT32_MAX) index = INT32_MAX;
    PyObject *args = Py_BuildValue("(i)", static_cast<int>(index));
    if (args == nullptr) return nullptr;
    PyObject *frame = movie_getframe(self, args);
    Py_DECREF(args);
    if (frame == nullptr || PyList_Check(frame)) return frame;
    Py_DECREF(frame);
    PyErr_SetString(PyExc_RuntimeError, movie->error[0] ? movie->error : "unable to read the frame");
    return nullptr;
}

}  // namespace

PySequenceMethods movie_sequence = [] {
    PySequenceMethods methods{};
    methods.sq_length = movie_length;
    methods.sq_item = movie_item;
    return methods;
}();

}  // namespace orvo
