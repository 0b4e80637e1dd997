// The Python conveniences of orvo.movie: `with` closes the movie, a read
// movie has len() and yields its frames by index and in `for` loops.
#include "py_movie.h"
#include "py_names.h"

namespace orvo {

PyObject *movie_enter(PyObject *self, PyObject *) {
    Py_INCREF(self);
    return self;
}

// Closes an open movie on leaving the block, also on an exception, which
// then goes on (the result is False). A close that fails (a file that
// could not be finished) raises OSError with the movie's error text,
// unless an exception is already leaving the block.
PyObject *movie_exit(PyObject *self, PyObject *args) {
    DyxUdilMovie *movie = movie_state(self);
    PyObject *exception_type = Py_None, *exception_value = nullptr, *traceback = nullptr;
    if (!PyArg_ParseTuple(args, "|OOO:__exit__", &exception_type, &exception_value, &traceback))
        return nullptr;
    if (movie->is_open) {
        PyObject *no_arguments = PyTuple_New(0);
        if (no_arguments == nullptr) return nullptr;
        PyObject *status = movie_close(self, no_arguments);
        Py_DECREF(no_arguments);
        if (status == nullptr) return nullptr;
        const long result = OrvoInt_AsLong(status);
        Py_DECREF(status);
        if (result != 0 && exception_type == Py_None) {
            raise_with_reason(PyExc_OSError, movie->error);
            return nullptr;
        }
    }
    Py_INCREF(Py_False);
    return Py_False;
}

namespace {

Py_ssize_t movie_length(PyObject *self) {
    ObjectLockGuard locked(movie_lock(self));
    return movie_state(self)->nframes;
}

// movie[n] is getframe(n), except that failures raise: past the last frame
// IndexError (which also ends a for loop), otherwise RuntimeError with the
// movie's error text.
PyObject *movie_item(PyObject *self, Py_ssize_t index) {
    ObjectLockGuard locked(movie_lock(self));
    DyxUdilMovie *movie = movie_state(self);
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
    raise_with_reason(PyExc_RuntimeError, movie->error[0] ? movie->error : "unable to read the frame");
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
