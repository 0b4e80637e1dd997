// orvo.movie frame transfer: getframe, append (from images, stereo pairs
// and read movies, with anaglyphs and a progress callback), addcount and
// resetcount.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <algorithm>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "py_image.h"
#include "py_movie_pipeline.h"
#include "py_object_lock.h"
#include "py_reason.h"
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

dyx_image_t *alloc_frame(int32_t width, int32_t height, int32_t format) {
    if (width < 0 || height < 0) return nullptr;
    return dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0, format);
}

bool same_shape(const dyx_image_t *a, const dyx_image_t *b) {
    return a->width == b->width && a->height == b->height && a->format == b->format && a->depth == 0 &&
           b->depth == 0;
}

void copy_pixels(dyx_image_t *dest, const dyx_image_t *src) {
    const uint64_t size = std::min(dyx_image_data_size(dest), dyx_image_data_size(src));
    if (size != 0) std::memcpy(dest->data, src->data, size);
}

// Brings `*work` (owned) to the destination's format and size and copies
// its pixels into the destination. 0, or 2 when memory fails.
int fit_into(dyx_image_t **work, dyx_image_t *dest, int smooth) {
    if (dyx_image_convert(work, dest) != 0) return DYX_NO_MEMORY;
    if (dyx_image_scale(work, dest, smooth ? DYX_SCALE_SMOOTH : 0) != 0) return DYX_NO_MEMORY;
    copy_pixels(dest, *work);
    return DYX_OK;
}

// The factor of the intensity ramp at frame k. Rounding may carry it an
// ulp outside 0..1, where clamping changes no truncated byte.
float ramp_factor(const MovieObject *movie, int32_t k) {
    const int32_t frames = movie->nframes;
    const float start = movie->intensity[0], end = movie->intensity[1];
    const float step = frames > 1 ? (end - start) / static_cast<float>(frames - 1) : 0.0f;
    const float factor = start + step * static_cast<float>(k);
    return std::min(std::max(factor, 0.0f), 1.0f);
}

// Reads frame k of the read movie (after its frame range and repeats)
// into `left` and, when given, `right`, converting and scaling to their
// buffers (a decoded frame already in their shape takes their place),
// then flips, applies the intensity ramp and composes an anaglyph. Returns
// the read's status (0 on success). Runs with the interpreter's lock
// released.
int read_frame(MovieObject *movie, int32_t k, Buffer &left, Buffer &right, int32_t anaglyph, int smooth) {
    const bool stereo_read = right.image != nullptr && movie->info.stereo != 0;
    const int32_t index =
        std::min(std::max(k - movie->repeat[0], 0) + movie->framerange[0], movie->framerange[1]);
    Buffer decoded_left, decoded_right;
    const int status = read_ahead_frame(movie, index, stereo_read, &decoded_left.image, &decoded_right.image);
    if (status != 0) return status;  // the caller reports it
    const auto take = [smooth](Buffer &decoded, Buffer &target) -> int {
        if (same_shape(decoded.image, target.image)) {
            dyx_image_free(&target.image);
            target.image = decoded.release();
            return DYX_OK;
        }
        return fit_into(&decoded.image, target.image, smooth);
    };
    if (take(decoded_left, left) != 0) return DYX_NO_MEMORY;
    if (stereo_read && take(decoded_right, right) != 0) return DYX_NO_MEMORY;
    if (right.image != nullptr && !stereo_read) copy_pixels(right.image, left.image);

    if (movie->flip != 0) {
        dyx_image_flip(left.image, static_cast<uint32_t>(movie->flip));
        if (right.image != nullptr) dyx_image_flip(right.image, static_cast<uint32_t>(movie->flip));
    }
    const float factor = ramp_factor(movie, k);
    if (factor != 1.0f) {
        dyx_image_intensity(left.image, factor);
        if (right.image != nullptr) dyx_image_intensity(right.image, factor);
    }
    if (anaglyph != 0 && right.image != nullptr && dyx_image_color_components_per_pixel(right.image) == 3)
        dyx_image_anaglyph(left.image, right.image, anaglyph);
    return DYX_OK;
}

// ---- writing ----------------------------------------------------------------

// The eye the frame is written with, and whether the right image goes
// too. With an anaglyph the composed left buffer is the whole (mono) frame.
bool writes_both_eyes(const MovieObject *movie, const dyx_image_t *right) {
    return movie->stereo != 0 && movie->anaglyph == 0 && right != nullptr;
}

// Writes one frame to the stream or the Multi-Tile Movie now, or hands
// its buffers (owned) to the writer behind the script. Runs with the
// interpreter's lock released.
int write_frame(MovieObject *movie, Buffer &left, Buffer &right) {
    const bool both_eyes = writes_both_eyes(movie, right.image);
    const int32_t eye = both_eyes ? UDIL_EYE_BOTH : UDIL_EYE_MONO;
    // The first frame is written here: a movie that cannot be written at
    // all (a missing directory, a read-only disk) fails at once.
    const int behind = movie->realframes > 0 ? write_behind(movie) : 0;
    if (behind < 0) return DYX_NO_MEMORY;  // the writers could not start
    if (behind > 0) {
        dyx_image_t *second = both_eyes ? right.release() : nullptr;
        return write_behind_frame(movie, movie->realframes, eye, left.release(), second);
    }
    if (movie->mtm != nullptr)
        return dyx_udil_mtm_write_planar_frame(movie->mtm, left.image, both_eyes ? right.image : nullptr);
    return dyx_udil_save_image(movie->stream, movie->realframes, eye, left.image,
                               both_eyes ? right.image : nullptr);
}

// A private copy of a picture, or null when memory fails.
dyx_image_t *copy_of(const dyx_image_t *source) {
    dyx_image_t *copy = alloc_frame(static_cast<int32_t>(source->width), static_cast<int32_t>(source->height),
                                    source->format);
    if (copy != nullptr) copy_pixels(copy, source);
    return copy;
}

// Brings a private copy of a script's picture to the movie's shape.
int fit_to_movie(const MovieObject *movie, Buffer &frame, int smooth) {
    dyx_image_t shape{};
    shape.width = static_cast<uint32_t>(movie->width);
    shape.height = static_cast<uint32_t>(movie->height);
    shape.format = movie->info.pixel_format;
    if (same_shape(frame.image, &shape)) return DYX_OK;
    Buffer target(alloc_frame(movie->width, movie->height, shape.format));
    if (target.image == nullptr || fit_into(&frame.image, target.image, smooth) != 0) return DYX_NO_MEMORY;
    std::swap(frame.image, target.image);
    return DYX_OK;
}

enum class Progress { kContinue, kAbort, kFailed, kInterrupted };

// Ctrl-C and sys.exit() stop the script, not just the append.
bool is_interruption() {
    return PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit);
}

// Calls object.method(k). A raising method's exception is cleared (the
// failure is reported through the error string like every other one),
// except KeyboardInterrupt and SystemExit, which go on to the script.
Progress call_progress(PyObject *object, const char *method, int32_t k) {
    PyObject *result = PyObject_CallMethod(object, const_cast<char *>(method), const_cast<char *>("i"), k);
    if (result == nullptr) {
        if (is_interruption()) return Progress::kInterrupted;
        PyErr_Clear();
        return Progress::kFailed;
    }
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
    Py_DECREF(result);
    if (value == -1) return Progress::kFailed;
    return value == 1 ? Progress::kAbort : Progress::kContinue;
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

// An exception (KeyboardInterrupt, SystemExit, or what a signal handler
// raised) stops the append and goes on to the script.
PyObject *interrupted(MovieObject *movie) {
    dyx_strncpy(movie->error, "Operation interrupted", sizeof movie->error);
    return nullptr;
}

// A frame written behind the script that failed is reported by the next
// append as its own write would have been; the script goes on from that
// frame. True, with *result set, when there was one.
bool report_unwritten(MovieObject *movie, PyObject **result) {
    if (movie->pipeline == nullptr) return false;
    int32_t frame = 0;
    int status = 0;
    {
        GilRelease released;
        status = write_behind_failure(movie, &frame, false);
    }
    if (status == 0) return false;
    movie->realframes = frame;
    movie_fail_with_reason(movie, "Unable to write frame to movie file");
    *result = OrvoInt_FromLong(status);
    return true;
}

struct AppendRequest {
    MovieObject *movie;
    PyObject *progress_object;
    const char *progress_method;
    int smooth;
};

PyObject *append_movie(const AppendRequest &request, MovieObject *source) {
    MovieObject *self = request.movie;
    if (!source->read_mode || !source->is_open)
        return movie_fail(self, "the appended movie must be readonly and open");
    if (source->nframes < 1) return OrvoInt_FromLong(-1);
    const int32_t format = self->info.pixel_format;
    for (int32_t k = 0; k < source->nframes; ++k) {
        PyObject *result = nullptr;
        if (report_unwritten(self, &result)) return result;
        // Frames left unwritten are a loss, not a success.
        if (self->realframes >= self->nframes)
            return movie_fail(self, "past maximum number of frames, close() required");
        // A signal (Ctrl-C) stops the copy between frames; the frames
        // written so far stay, and close() finishes a readable file.
        if (PyErr_CheckSignals() != 0) return interrupted(self);
        bool no_memory = false;
        int read = 0, written = 0;
        {
            GilRelease released;
            Buffer left(alloc_frame(self->width, self->height, format));
            Buffer right(self->stereo ? alloc_frame(self->width, self->height, format) : nullptr);
            no_memory = left.image == nullptr || (self->stereo && right.image == nullptr);
            if (!no_memory) read = read_frame(source, k, left, right, self->anaglyph, request.smooth);
            if (!no_memory && read == 0) written = write_frame(self, left, right);
        }
        if (no_memory) return PyErr_NoMemory();
        if (read != 0) {
            if (read == DYX_FRAME_MISMATCH)
                movie_fail(self, "Mixed size images detected in movie. All images must be the same size.");
            else
                movie_fail_with_reason(self, "Unable to read frame from movie file");
            return OrvoInt_FromLong(read);
        }
        if (written != 0) {
            movie_fail_with_reason(self, "Unable to write frame to movie file");
            return OrvoInt_FromLong(written);
        }
        ++self->realframes;
        if (request.progress_object == nullptr) continue;
        const Progress progress = call_progress(request.progress_object, request.progress_method, k);
        if (progress == Progress::kInterrupted) return interrupted(self);
        if (progress == Progress::kFailed) return movie_fail(self, "Unable to call object method");
        if (progress == Progress::kAbort) return movie_fail(self, "Operation aborted by user");
    }
    return OrvoInt_FromLong(0);
}

// Writes one frame from private copies of the script's pictures (the
// script's own never change): brought to the movie's shape, the anaglyph
// composed in the left one.
PyObject *append_images(MovieObject *self, Buffer &left, Buffer &right, int smooth) {
    PyObject *result = nullptr;
    if (report_unwritten(self, &result)) return result;
    const bool stereo = self->stereo != 0;
    int prepared = 0, written = 0;
    {
        GilRelease released;
        prepared = fit_to_movie(self, left, smooth);
        if (prepared == 0 && stereo) prepared = fit_to_movie(self, right, smooth);
        if (prepared == 0 && self->anaglyph != 0 && dyx_image_color_components_per_pixel(right.image) == 3)
            dyx_image_anaglyph(left.image, right.image, self->anaglyph);
        if (prepared == 0) written = write_frame(self, left, right);
    }
    if (prepared != 0) return PyErr_NoMemory();
    if (written != 0) {
        movie_fail_with_reason(self, "Unable to write frame to movie file");
        return OrvoInt_FromLong(written);
    }
    ++self->realframes;
    return OrvoInt_FromLong(0);
}

}  // namespace

PyObject *movie_getframe(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    int n = 0;
    if (!PyArg_ParseTuple(args, "i:getframe", &n)) return nullptr;
    apply_thread_setting();
    ObjectLockGuard locked(self->lock);
    if (!self->is_open) return movie_fail(self, "open() required before getframe()");
    if (!self->read_mode) return movie_fail(self, "getframe() not allowed on write movie");
    if (n < 0 || n >= self->nframes) return movie_fail(self, "invalid frame number");
    reason_reset();
    const int32_t format = self->info.pixel_format;
    Buffer left, right;
    bool no_memory = false;
    int status = 0;
    {
        GilRelease released;
        left.image = alloc_frame(self->width, self->height, format);
        right.image = self->info.stereo ? alloc_frame(self->width, self->height, format) : nullptr;
        no_memory = left.image == nullptr || (self->info.stereo && right.image == nullptr);
        if (!no_memory) status = read_frame(self, n, left, right, 0, 0);
    }
    if (no_memory) return movie_fail(self, "unable to allocate image");
    if (status != 0) return movie_fail_with_reason(self, "unable to read the requested frame");

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

PyObject *movie_getarray(PyObject *object, PyObject *args) {
    PyObject *frames = movie_getframe(object, args);
    if (frames == nullptr || !PyList_Check(frames)) return frames;  // the status of a failed read
    const Py_ssize_t eyes = PyList_GET_SIZE(frames);
    PyObject *arrays = PyTuple_New(eyes);
    for (Py_ssize_t eye = 0; arrays != nullptr && eye < eyes; ++eye) {
        PyObject *array = image_toarray(PyList_GET_ITEM(frames, eye), nullptr);
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
    MovieObject *self = as_movie(object);
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
    ObjectLockGuard locked(self->lock, from_movie ? as_movie(source)->lock : self->lock);
    if (self->stereo == 0) self->anaglyph = 0;  // an anaglyph needs a stereo movie
    if (!self->is_open) return movie_fail(self, "open() required before append()");
    if (self->realframes >= self->nframes)
        return movie_fail(self, "past maximum number of frames, close() required");
    reason_reset();
    if (progress_object == Py_None) progress_object = nullptr;
    if (progress_object != nullptr && method == nullptr)
        return movie_fail(self, "A method name is required with a progress object");

    // Every argument is checked before anything is allocated or written.
    PyObject *first = nullptr, *second = nullptr;
    if (PyTuple_Check(source)) {
        const Py_ssize_t size = PyTuple_GET_SIZE(source);
        if (size < 1 || size > 2) return movie_fail(self, "Only one or two (stereo) images allowed");
        for (Py_ssize_t i = 0; i < size; ++i)
            if (!is_image_or_array(PyTuple_GET_ITEM(source, i)))
                return movie_fail(self, "Tuple must contain image objects");
        first = PyTuple_GET_ITEM(source, 0);
        second = size == 2 ? PyTuple_GET_ITEM(source, 1) : first;  // one image feeds both eyes
    } else if (is_image_or_array(source)) {
        first = second = source;
    } else if (!from_movie) {
        return movie_fail(self, "A tuple of image(s) or a movie object required");
    }

    if (!from_movie) {
        // The pictures are copied, so that the script's own stay as they
        // are while the frame is prepared and written.
        Buffer left(frame_copy(first));
        if (left.image == nullptr) return nullptr;
        Buffer right;
        if (self->stereo != 0) {
            right.image = second == first ? copy_of(left.image) : frame_copy(second);
            if (right.image == nullptr) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
        }
        return append_images(self, left, right, smooth != 0);
    }
    const AppendRequest request{self, progress_object, method, smooth != 0};
    return append_movie(request, as_movie(source));
}

PyObject *movie_addcount(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    PyObject *value = nullptr;
    if (!PyArg_ParseTuple(args, "O:addcount", &value)) return nullptr;
    ObjectLockGuard locked(self->lock, is_image(value) ? reinterpret_cast<ImageObject *>(value)->lock
                                       : Py_TYPE(value) == &movie_type ? as_movie(value)->lock
                                                                       : self->lock);
    if (self->is_open) return movie_fail(self, "addcount() not allowed once file is open()");
    if (self->read_mode) return movie_fail(self, "addcount() not allowed on readonly files");
    long added = 0;
    if (is_image(value)) {
        const dyx_image_t *image = reinterpret_cast<ImageObject *>(value)->image;
        added = 1;
        if (self->width < 1) self->width = static_cast<int32_t>(std::min<uint32_t>(image->width, INT32_MAX));
        if (self->height < 1)
            self->height = static_cast<int32_t>(std::min<uint32_t>(image->height, INT32_MAX));
    } else if (Py_TYPE(value) == &movie_type) {
        const MovieObject *source = as_movie(value);
        if (!source->read_mode || !source->is_open)
            return movie_fail(self, "added movie object must be readonly and open");
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
        if (added < 1) return movie_fail(self, "cannot add less than one frame");
    }
    if (added > INT32_MAX - self->nframes) return movie_fail(self, "cannot add more than 2147483647 frames");
    movie_check_tiling(self);  // the size may just have been adopted
    self->nframes += static_cast<int32_t>(added);
    return OrvoInt_FromLong(self->nframes);
}

PyObject *movie_resetcount(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    if (!PyArg_ParseTuple(args, ":resetcount")) return nullptr;
    ObjectLockGuard locked(self->lock);
    if (self->is_open) return movie_fail(self, "resetcount() not allowed once file is open()");
    if (self->read_mode) return movie_fail(self, "resetcount() not allowed on readonly files");
    self->nframes = 0;
    return OrvoInt_FromLong(0);
}

}  // namespace orvo
