// orvo.movie frame transfer over the library's movie: getframe, getarray,
// append (from images, arrays, stereo pairs and read movies, with a
// progress callback), addcount and resetcount.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <algorithm>
#include <cstring>

#include "dyx_image.h"
#include "dyx_string.h"
#include "py_image.h"
#include "py_object_lock.h"
#include "py_threads.h"

namespace orvo {
namespace {

// An image buffer released when the guard goes out of scope.
struct Buffer {
    dyx_image_t *image = nullptr;
    Buffer() = default;
    explicit Buffer(dyx_image_t *owned) : image(owned) {}
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { dyx_image_free(&image); }
    dyx_image_t *release() {
        dyx_image_t *owned = image;
        image = nullptr;
        return owned;
    }
};

// A private copy of a picture, or null when memory fails.
dyx_image_t *copy_of(const dyx_image_t *source) {
    dyx_image_t *copy = dyx_image_alloc(source->width, source->height, 0, source->format);
    if (copy == nullptr) return nullptr;
    const uint64_t size = std::min(dyx_image_data_size(copy), dyx_image_data_size(source));
    if (size != 0) std::memcpy(copy->data, source->data, size);
    return copy;
}

// Ctrl-C and sys.exit() stop the script, not just the append.
bool is_interruption() {
    return PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit);
}

// What the append's callbacks need: the script's progress object and
// method, or a callable (method null).
struct Progress {
    PyObject *object;
    const char *method;
};

// A number's answer: 1 stops, -1 fails, anything else goes on; a result
// that is not a number fails.
int numeric_answer(PyObject *result) {
    long value = -1;
    if (OrvoInt_Check(result) || PyFloat_Check(result)) {
        PyObject *integer = PyNumber_Long(result);
        if (integer != nullptr) {
            value = PyLong_AsLong(integer);
            Py_DECREF(integer);
        }
        if (PyErr_Occurred()) {
            PyErr_Clear();
            value = -1;
        }
    }
    if (value == -1) return DYX_MOVIE_CALLBACK_FAILED;
    return value == 1 ? DYX_MOVIE_ABORT : DYX_MOVIE_CONTINUE;
}

// A plain callable's answer: None and True or False (what list.append and
// progress bars' update return) go on, as does any other object; a number
// answers as the method's does.
int callable_answer(PyObject *result) {
    if (result == Py_None || PyBool_Check(result)) return DYX_MOVIE_CONTINUE;
    if (!OrvoInt_Check(result) && !PyFloat_Check(result)) return DYX_MOVIE_CONTINUE;
    return numeric_answer(result);
}

// Before each frame: a signal (Ctrl-C) whose handler raised stops the
// append, the exception going on to the script.
int check_signals(void *) {
    GilAcquire acquired;
    return PyErr_CheckSignals() != 0;
}

// After each frame: object.method(k), or object(k) for a callable. A
// raising call's exception is cleared (the failure is reported through the
// error string like every other one), except KeyboardInterrupt and
// SystemExit, which go on to the script. A result of 1 stops the append.
int call_progress(void *context, int32_t k) {
    const Progress &progress = *static_cast<const Progress *>(context);
    GilAcquire acquired;
    PyObject *result = progress.method != nullptr
                           ? PyObject_CallMethod(progress.object, const_cast<char *>(progress.method),
                                                 const_cast<char *>("i"), k)
                           : PyObject_CallFunction(progress.object, const_cast<char *>("i"), k);
    if (result == nullptr) {
        if (is_interruption()) return DYX_MOVIE_INTERRUPT;
        PyErr_Clear();
        return DYX_MOVIE_CALLBACK_FAILED;
    }
    const int answer = progress.method != nullptr ? numeric_answer(result) : callable_answer(result);
    Py_DECREF(result);
    return answer;
}

bool is_image(PyObject *object) { return Py_TYPE(object) == &image_type; }

bool is_image_or_array(PyObject *object) { return is_image(object) || is_pixel_array(object); }

// A private copy of an image's picture (taken under the image's lock) or
// of an array's pixels; null with an exception set when there is none.
dyx_image_t *frame_copy(PyObject *object) {
    if (!is_image(object)) return image_from_array(object, nullptr, 0);
    ImageObject *image = reinterpret_cast<ImageObject *>(object);
    ObjectLockGuard locked(image->lock);
    dyx_image_t *copy = nullptr;
    {
        GilRelease released;
        copy = copy_of(image->image);
    }
    if (copy == nullptr) PyErr_NoMemory();
    return copy;
}

int fail(DyxUdilMovie *movie, const char *message) {
    dyx_strncpy(movie->error, message, sizeof movie->error);
    return DYX_MOVIE_FAILED;
}

}  // namespace

PyObject *movie_result(int status) {
    if (status == DYX_MOVIE_OUT_OF_MEMORY) return PyErr_NoMemory();
    if (status == DYX_MOVIE_STOPPED) {
        // A callback's exception goes on; a stop without one is a signal
        // handler's doing that raised nothing.
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "movie operation stopped");
        return nullptr;
    }
    return OrvoInt_FromLong(status);
}

PyObject *movie_getframe(PyObject *object, PyObject *args) {
    DyxUdilMovie *movie = movie_state(object);
    int n = 0;
    if (!PyArg_ParseTuple(args, "i:getframe", &n)) return nullptr;
    apply_thread_setting();
    ObjectLockGuard locked(movie_lock(object));
    Buffer left, right;
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_read_frame(movie, n, &left.image, &right.image);
    }
    if (status != 0) return movie_result(status);

    const bool stereo = right.image != nullptr;
    PyObject *list = PyList_New(stereo ? 2 : 1);
    if (list == nullptr) return nullptr;
    Buffer *buffers[2] = {&left, &right};
    for (Py_ssize_t eye = 0; eye < (stereo ? 2 : 1); ++eye) {
        dyx_image_t *buffer = buffers[eye]->release();
        PyObject *image = image_wrap_buffer(buffer);  // frees the buffer on failure
        if (image == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        ImageObject *wrapped = reinterpret_cast<ImageObject *>(image);
        wrapped->frame_number = n;
        wrapped->frame_width = static_cast<int32_t>(buffer->width);
        wrapped->frame_height = static_cast<int32_t>(buffer->height);
        wrapped->origin_x = wrapped->origin_y = 0;
        PyList_SET_ITEM(list, eye, image);
    }
    return list;
}

PyObject *movie_getarray(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"n", "copy", nullptr};
    int n = 0;
    PyObject *copy_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "i|O:getarray", const_cast<char **>(keywords), &n,
                                     &copy_object))
        return nullptr;
    const int copy = copy_object != nullptr ? PyObject_IsTrue(copy_object) : 0;
    if (copy < 0) return nullptr;
    // A negative n counts from the end, as indexing does.
    if (n < 0) {
        ObjectLockGuard locked(movie_lock(object));
        n += movie_state(object)->nframes;
    }
    PyObject *frame_args = Py_BuildValue("(i)", n);
    if (frame_args == nullptr) return nullptr;
    PyObject *frames = movie_getframe(object, frame_args);
    Py_DECREF(frame_args);
    if (frames == nullptr || !PyList_Check(frames)) return frames;  // the status of a failed read
    const Py_ssize_t eyes = PyList_GET_SIZE(frames);
    PyObject *arrays = PyTuple_New(eyes);
    for (Py_ssize_t eye = 0; arrays != nullptr && eye < eyes; ++eye) {
        // Each frame is a new image that nothing else holds: a view of it
        // is as good as a copy, without the copy.
        PyObject *image = PyList_GET_ITEM(frames, eye);
        PyObject *array = copy ? image_toarray(image, nullptr) : pixels_view_array(image);
        if (array == nullptr)
            Py_CLEAR(arrays);
        else
            PyTuple_SET_ITEM(arrays, eye, array);
    }
    Py_DECREF(frames);
    if (arrays == nullptr || eyes != 1) return arrays;
    PyObject *mono = PyTuple_GET_ITEM(arrays, 0);
    Py_INCREF(mono);
    Py_DECREF(arrays);
    return mono;
}

PyObject *movie_append(PyObject *object, PyObject *args, PyObject *kwargs) {
    DyxUdilMovie *movie = movie_state(object);
    static const char *keywords[] = {"arg1", "object", "method", "smooth", nullptr};
    PyObject *source = nullptr, *progress_object = nullptr;
    const char *method = nullptr;
    int smooth = 0;
    // The arguments are parsed first: a failure to parse changes nothing.
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Ozi:append", const_cast<char **>(keywords), &source,
                                     &progress_object, &method, &smooth))
        return nullptr;
    const bool from_movie = Py_TYPE(source) == &movie_type;
    apply_thread_setting();
    ObjectLockGuard locked(movie_lock(object), from_movie ? movie_lock(source) : movie_lock(object));
    const int allowed = dyx_udil_movie_may_append(movie);
    if (allowed != 0) return movie_result(allowed);
    if (progress_object == Py_None) progress_object = nullptr;
    if (progress_object != nullptr && method == nullptr && !PyCallable_Check(progress_object))
        return movie_result(fail(movie, "A method name is required with a progress object"));

    // Every argument is checked before anything is allocated or written.
    PyObject *first = nullptr, *second = nullptr;
    if (PyTuple_Check(source)) {
        const Py_ssize_t size = PyTuple_GET_SIZE(source);
        if (size < 1 || size > 2) return movie_result(fail(movie, "Only one or two (stereo) images allowed"));
        for (Py_ssize_t i = 0; i < size; ++i)
            if (!is_image_or_array(PyTuple_GET_ITEM(source, i)))
                return movie_result(fail(movie, "Tuple must contain image objects"));
        first = PyTuple_GET_ITEM(source, 0);
        second = size == 2 ? PyTuple_GET_ITEM(source, 1) : first;  // one image feeds both eyes
    } else if (is_image_or_array(source)) {
        first = second = source;
    } else if (!from_movie) {
        return movie_result(fail(movie, "A tuple of image(s) or a movie object required"));
    }

    int status;
    if (!from_movie) {
        // The pictures are copied, so that the script's own stay as they
        // are while the frame is prepared and written.
        Buffer left(frame_copy(first));
        if (left.image == nullptr) return nullptr;
        Buffer right;
        if (movie->stereo != 0 && second != first) {
            right.image = frame_copy(second);
            if (right.image == nullptr) return nullptr;
        }
        GilRelease released;
        status = dyx_udil_movie_append_image(movie, left.release(), right.release(), smooth != 0);
    } else {
        Progress progress{progress_object, method};
        const DyxUdilMovieTransfer transfer{smooth != 0, check_signals,
                                            progress_object != nullptr ? call_progress : nullptr, &progress};
        GilRelease released;
        status = dyx_udil_movie_append_movie(movie, movie_state(source), &transfer);
    }
    return movie_result(status);
}

PyObject *movie_addcount(PyObject *object, PyObject *args) {
    DyxUdilMovie *self = movie_state(object);
    PyObject *value = nullptr;
    if (!PyArg_ParseTuple(args, "O:addcount", &value)) return nullptr;
    ObjectLockGuard locked(movie_lock(object), is_image(value) ? reinterpret_cast<ImageObject *>(value)->lock
                                               : Py_TYPE(value) == &movie_type ? movie_lock(value)
                                                                               : movie_lock(object));
    if (self->is_open) return movie_result(fail(self, "addcount() not allowed once file is open()"));
    if (self->read_mode) return movie_result(fail(self, "addcount() not allowed on readonly files"));
    long added = 0;
    if (is_image(value)) {
        const dyx_image_t *image = reinterpret_cast<ImageObject *>(value)->image;
        added = 1;
        if (self->width < 1) self->width = static_cast<int32_t>(std::min<uint32_t>(image->width, INT32_MAX));
        if (self->height < 1)
            self->height = static_cast<int32_t>(std::min<uint32_t>(image->height, INT32_MAX));
    } else if (Py_TYPE(value) == &movie_type) {
        const DyxUdilMovie *source = movie_state(value);
        if (!source->read_mode || !source->is_open)
            return movie_result(fail(self, "added movie object must be readonly and open"));
        added = source->nframes;
        if (self->width < 1) self->width = source->width;
        if (self->height < 1) self->height = source->height;
        if (self->fps < 0.0f) self->fps = source->fps;
    } else {
        if (!PyNumber_Check(value)) {
            PyErr_SetString(PyExc_TypeError, "addcount() takes an image, a movie or a number");
            return nullptr;
        }
        PyObject *integer = PyNumber_Long(value);
        if (integer == nullptr) return nullptr;
        added = PyLong_AsLong(integer);
        Py_DECREF(integer);
        if (added == -1 && PyErr_Occurred()) return nullptr;
        if (added < 1) return movie_result(fail(self, "cannot add less than one frame"));
    }
    if (added > INT32_MAX - self->nframes)
        return movie_result(fail(self, "cannot add more than 2147483647 frames"));
    dyx_udil_movie_set_tiling(self, self->tiling[0], self->tiling[1]);  // the size may just have been adopted
    self->nframes += static_cast<int32_t>(added);
    return OrvoInt_FromLong(self->nframes);
}

PyObject *movie_resetcount(PyObject *object, PyObject *args) {
    DyxUdilMovie *self = movie_state(object);
    if (!PyArg_ParseTuple(args, ":resetcount")) return nullptr;
    ObjectLockGuard locked(movie_lock(object));
    if (self->is_open) return movie_result(fail(self, "resetcount() not allowed once file is open()"));
    if (self->read_mode) return movie_result(fail(self, "resetcount() not allowed on readonly files"));
    self->nframes = 0;
    return OrvoInt_FromLong(0);
}

}  // namespace orvo
