// orvo.movie frame transfer: getframe, append (from images, stereo pairs
// and read movies, with anaglyphs and a progress callback), addcount and
// resetcount.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "py_image.h"
#include "py_reason.h"

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
    if (dyx_image_convert(work, dest) != 0) return 2;
    if (dyx_image_scale(work, dest, smooth ? DYX_SCALE_SMOOTH : 0) != 0) return 2;
    copy_pixels(dest, *work);
    return 0;
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
// into `left` and, when given, `right`, converting and scaling to them,
// then flips, applies the intensity ramp and composes an anaglyph.
// Returns the read's status (0 on success).
int read_frame(MovieObject *movie, int32_t k, dyx_image_t *left, dyx_image_t *right, int32_t anaglyph,
               int smooth) {
    const bool stereo_read = right != nullptr && movie->info.stereo != 0;
    const int32_t index =
        std::min(std::max(k - movie->repeat[0], 0) + movie->framerange[0], movie->framerange[1]);

    // Frames already in the destination's shape are read in place.
    const UdilMovieInfo &info = movie->info;
    Buffer left_work, right_work;
    dyx_image_t *left_target = left;
    dyx_image_t *right_target = stereo_read ? right : nullptr;
    const auto matches = [&info](const dyx_image_t *image) {
        return static_cast<int64_t>(image->width) == info.width &&
               static_cast<int64_t>(image->height) == info.height && image->format == info.pixel_format &&
               image->depth == 0;
    };
    if (!matches(left)) {
        left_work.image = alloc_frame(info.width, info.height, info.pixel_format);
        if (left_work.image == nullptr) return 2;
        left_target = left_work.image;
    }
    if (right_target != nullptr && !matches(right)) {
        right_work.image = alloc_frame(info.width, info.height, info.pixel_format);
        if (right_work.image == nullptr) return 2;
        right_target = right_work.image;
    }
    // The tiles of a Multi-Tile Movie need not cover the whole frame: what
    // they leave out is black, not whatever the heap held.
    if (movie->mtm != nullptr)
        for (dyx_image_t *target : {left_target, right_target})
            if (target != nullptr && target->data != nullptr)
                std::memset(target->data, 0, dyx_image_data_size(target));
    const int status =
        movie->mtm != nullptr
            ? dyx_udil_mtm_read_planar_frame(movie->mtm, index, left_target, right_target)
            : dyx_udil_get_image(movie->stream, index, stereo_read ? UDIL_EYE_BOTH : UDIL_EYE_MONO,
                                 left_target, right_target);
    if (status != 0) return status;  // the caller reports it; the pixels are not used
    if (left_work.image != nullptr && fit_into(&left_work.image, left, smooth) != 0) return 2;
    if (right_work.image != nullptr && fit_into(&right_work.image, right, smooth) != 0) return 2;
    if (right != nullptr && !stereo_read) copy_pixels(right, left);

    if (movie->flip != 0) {
        dyx_image_flip(left, static_cast<uint32_t>(movie->flip));
        if (right != nullptr) dyx_image_flip(right, static_cast<uint32_t>(movie->flip));
    }
    const float factor = ramp_factor(movie, k);
    if (factor != 1.0f) {
        dyx_image_intensity(left, factor);
        if (right != nullptr) dyx_image_intensity(right, factor);
    }
    if (anaglyph != 0 && right != nullptr && dyx_image_color_components_per_pixel(right) == 3)
        dyx_image_anaglyph(left, right, anaglyph);
    return 0;
}

// ---- writing ----------------------------------------------------------------

// Writes one frame to the stream or the Multi-Tile Movie. With an
// anaglyph the composed left buffer is the whole (mono) frame.
int write_frame(MovieObject *movie, const dyx_image_t *left, const dyx_image_t *right) {
    const bool both_eyes = movie->stereo != 0 && movie->anaglyph == 0 && right != nullptr;
    if (movie->mtm != nullptr)
        return dyx_udil_mtm_write_planar_frame(movie->mtm, left, both_eyes ? right : nullptr);
    return dyx_udil_save_image(movie->stream, movie->realframes, both_eyes ? UDIL_EYE_BOTH : UDIL_EYE_MONO,
                               left, both_eyes ? right : nullptr);
}

// Copies a script's image into a work buffer: a private copy is converted
// and scaled, so the script's image never changes.
int fill_from_image(dyx_image_t *dest, const dyx_image_t *source, int smooth) {
    if (same_shape(dest, source)) {
        copy_pixels(dest, source);
        return 0;
    }
    Buffer copy(alloc_frame(static_cast<int32_t>(source->width), static_cast<int32_t>(source->height),
                            source->format));
    if (copy.image == nullptr) return 2;
    copy_pixels(copy.image, source);
    return fit_into(&copy.image, dest, smooth);
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

// The picture of an image, or a copy of an array's pixels kept in `copy`;
// null with an exception set when the array cannot be one.
const dyx_image_t *frame_source(PyObject *object, Buffer *copy) {
    if (is_image(object)) return reinterpret_cast<ImageObject *>(object)->image;
    copy->image = image_from_array(object, nullptr, 0);
    return copy->image;
}

struct AppendRequest {
    MovieObject *movie;
    dyx_image_t *left;
    dyx_image_t *right;  // null for a mono movie
    PyObject *progress_object;
    const char *progress_method;
    int smooth;
};

// An exception (KeyboardInterrupt, SystemExit, or what a signal handler
// raised) stops the append and goes on to the script.
PyObject *interrupted(MovieObject *movie) {
    dyx_strncpy(movie->error, "Operation interrupted", sizeof movie->error);
    return nullptr;
}

PyObject *append_movie(const AppendRequest &request, MovieObject *source) {
    MovieObject *self = request.movie;
    if (!source->read_mode || !source->is_open)
        return movie_fail(self, "the appended movie must be readonly and open");
    if (source->nframes < 1) return OrvoInt_FromLong(-1);
    int status = 0;
    for (int32_t k = 0; k < source->nframes; ++k) {
        // Frames left unwritten are a loss, not a success.
        if (self->realframes >= self->nframes)
            return movie_fail(self, "past maximum number of frames, close() required");
        // A signal (Ctrl-C) stops the copy between frames; the frames
        // written so far stay, and close() finishes a readable file.
        if (PyErr_CheckSignals() != 0) return interrupted(self);
        status = read_frame(source, k, request.left, request.right, self->anaglyph, request.smooth);
        if (status != 0) {
            if (status == 12)
                movie_fail(self, "Mixed size images detected in movie. All images must be the same size.");
            else
                movie_fail_with_reason(self, "Unable to read frame from movie file");
            return OrvoInt_FromLong(status);
        }
        status = write_frame(self, request.left, request.right);
        if (status != 0) {
            movie_fail_with_reason(self, "Unable to write frame to movie file");
            return OrvoInt_FromLong(status);
        }
        ++self->realframes;
        if (request.progress_object == nullptr) continue;
        const Progress progress = call_progress(request.progress_object, request.progress_method, k);
        if (progress == Progress::kInterrupted) return interrupted(self);
        if (progress == Progress::kFailed) return movie_fail(self, "Unable to call object method");
        if (progress == Progress::kAbort) return movie_fail(self, "Operation aborted by user");
    }
    return OrvoInt_FromLong(status);
}

// Writes one frame from the script's images. An image already in the
// movie's shape is handed to the writer as it is; others (and the left
// image of an anaglyph, which is composed in place) go through a buffer.
PyObject *append_images(MovieObject *self, const dyx_image_t *first, const dyx_image_t *second, int smooth) {
    dyx_image_t shape{};
    shape.width = static_cast<uint32_t>(self->width);
    shape.height = static_cast<uint32_t>(self->height);
    shape.format = self->info.pixel_format;
    const bool stereo = self->stereo != 0;
    Buffer left, right;
    const dyx_image_t *left_frame = first;
    const dyx_image_t *right_frame = stereo ? second : nullptr;
    int status = 0;
    if (self->anaglyph != 0 || !same_shape(first, &shape)) {
        left.image = alloc_frame(self->width, self->height, shape.format);
        status = left.image == nullptr ? 2 : fill_from_image(left.image, first, smooth);
        left_frame = left.image;
    }
    if (status == 0 && stereo && !same_shape(second, &shape)) {
        right.image = alloc_frame(self->width, self->height, shape.format);
        status = right.image == nullptr ? 2 : fill_from_image(right.image, second, smooth);
        right_frame = right.image;
    }
    if (status != 0) return PyErr_NoMemory();
    if (self->anaglyph != 0 && dyx_image_color_components_per_pixel(right_frame) == 3)
        dyx_image_anaglyph(left.image, right_frame, self->anaglyph);
    status = write_frame(self, left_frame, right_frame);
    if (status != 0) {
        movie_fail_with_reason(self, "Unable to write frame to movie file");
        return OrvoInt_FromLong(status);
    }
    ++self->realframes;
    return OrvoInt_FromLong(0);
}

}  // namespace

PyObject *movie_getframe(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    int n = 0;
    if (!PyArg_ParseTuple(args, "i:getframe", &n)) return nullptr;
    if (!self->is_open) return movie_fail(self, "open() required before getframe()");
    if (!self->read_mode) return movie_fail(self, "getframe() not allowed on write movie");
    if (n < 0 || n >= self->nframes) return movie_fail(self, "invalid frame number");
    reason_reset();
    const int32_t format = self->info.pixel_format;
    Buffer left(alloc_frame(self->width, self->height, format));
    Buffer right(self->info.stereo ? alloc_frame(self->width, self->height, format) : nullptr);
    if (left.image == nullptr || (self->info.stereo && right.image == nullptr))
        return movie_fail(self, "unable to allocate image");
    if (read_frame(self, n, left.image, right.image, 0, 0) != 0)
        return movie_fail_with_reason(self, "unable to read the requested frame");

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
    if (self->stereo == 0) self->anaglyph = 0;  // an anaglyph needs a stereo movie
    if (!self->is_open) return movie_fail(self, "open() required before append()");
    if (self->realframes >= self->nframes)
        return movie_fail(self, "past maximum number of frames, close() required");
    reason_reset();
    static const char *keywords[] = {"arg1", "object", "method", "smooth", nullptr};
    PyObject *source = nullptr, *progress_object = nullptr;
    const char *method = nullptr;
    int smooth = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Ozi:append", const_cast<char **>(keywords), &source,
                                     &progress_object, &method, &smooth))
        return nullptr;
    if (progress_object == Py_None) progress_object = nullptr;
    if (progress_object != nullptr && method == nullptr)
        return movie_fail(self, "A method name is required with a progress object");

    // Every argument is checked before anything is allocated or written.
    PyObject *first = nullptr, *second = nullptr;
    const bool from_movie = Py_TYPE(source) == &movie_type;
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
        // Arrays are copied into pictures once; the same array for both
        // eyes is copied once.
        Buffer first_copy, second_copy;
        const dyx_image_t *left = frame_source(first, &first_copy);
        if (left == nullptr) return nullptr;
        const dyx_image_t *right = second == first ? left : frame_source(second, &second_copy);
        if (right == nullptr) return nullptr;
        return append_images(self, left, right, smooth != 0);
    }
    const int32_t format = self->info.pixel_format;
    Buffer left(alloc_frame(self->width, self->height, format));
    Buffer right(self->stereo ? alloc_frame(self->width, self->height, format) : nullptr);
    if (left.image == nullptr || (self->stereo && right.image == nullptr)) return PyErr_NoMemory();
    const AppendRequest request{self, left.image, right.image, progress_object, method, smooth != 0};
    return append_movie(request, as_movie(source));
}

PyObject *movie_addcount(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    PyObject *value = nullptr;
    if (!PyArg_ParseTuple(args, "O:addcount", &value)) return nullptr;
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
    if (self->is_open) return movie_fail(self, "resetcount() not allowed once file is open()");
    if (self->read_mode) return movie_fail(self, "resetcount() not allowed on readonly files");
    self->nframes = 0;
    return OrvoInt_FromLong(0);
}

}  // namespace orvo
