/* orvo.movie: the Python object for a movie to read or to write (a codec
 * file, a numbered image sequence or a Multi-Tile Movie). */
#ifndef ORVO_PY_MOVIE_H
#define ORVO_PY_MOVIE_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <cstdint>

#include "dyx_udil.h"
#include "dyx_udil_movie.h"
#include "py_object_lock.h"
// clang-format on

namespace orvo {

// The movie's state lives in the library's DyxUdilMovie; the attribute
// table reads and writes its fields.
typedef struct {
    PyObject_HEAD DyxUdilMovie movie;
    ObjectLock lock; /* serialises the object's operations */
    int held_fd;     /* a file in memory the movie reads (-1: none), closed with the movie */
} MovieObject;

extern PyTypeObject movie_type;

inline MovieObject *as_movie(PyObject *object) { return reinterpret_cast<MovieObject *>(object); }
inline DyxUdilMovie *movie_state(PyObject *object) { return &as_movie(object)->movie; }
inline ObjectLock &movie_lock(PyObject *object) { return as_movie(object)->lock; }

/* A library status as the method's result: the int itself, or null with
 * an exception for the statuses a script sees as exceptions (memory ran
 * out; a callback stopped the call and left its exception set). */
PyObject *movie_result(int status);

/* open() and close() (py_movie_open.cpp). */
PyObject *movie_open(PyObject *self, PyObject *args);
PyObject *movie_close(PyObject *self, PyObject *args);
/* _open_uncounted(): open() for a write movie that takes frames until it
 * is closed (dyx_udil_movie_open_uncounted). */
PyObject *movie_open_uncounted(PyObject *self, PyObject *args);
/* Closes the descriptor a movie holds, if any. */
void movie_release_held_fd(PyObject *self);

/* `with` support, len() and frames by index (py_movie_protocols.cpp). */
PyObject *movie_enter(PyObject *self, PyObject *args);
PyObject *movie_exit(PyObject *self, PyObject *args);
extern PySequenceMethods movie_sequence;

/* Frame transfer (py_movie_transfer.cpp). */
PyObject *movie_append(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *movie_getframe(PyObject *self, PyObject *args);
/* getarray(n): frame n (negative n counts from the end) as a top-down
 * uint8 NumPy array, a (left, right) tuple of them for a stereo movie, or
 * getframe's status on failure. */
PyObject *movie_getarray(PyObject *self, PyObject *args);
PyObject *movie_addcount(PyObject *self, PyObject *args);
PyObject *movie_resetcount(PyObject *self, PyObject *args);

/* The read-only `info` attribute: what the open read movie is, as a dict
 * (dyx_udil_movie_describe); None for a closed or a write movie
 * (py_movie_info.cpp). Call with the movie's lock held. */
PyObject *movie_info(PyObject *self);

}  // namespace orvo

#endif
