// Deep frames (16-bit, half and float samples) between Python and the
// library: the movie's _deeplayout, _getdeep and _appenddeep, and the
// module's _savedeep for one picture. Pixels travel as bytes-like objects
// with their layout; the package makes NumPy arrays of them, so that this
// file needs no NumPy.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <cstring>
#include <string>

#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_udil_stream.h"
#include "py_deep.h"
#include "py_image_io.h"
#include "py_names.h"
#include "py_object_lock.h"
#include "py_threads.h"

namespace orvo {
namespace {

struct SampleKind {
    const char *name;
    int32_t sample;
    int32_t size;
};
constexpr SampleKind kSampleKinds[] = {{"uint8", UDIL_SAMPLE_U8, 1},
                                       {"uint16", UDIL_SAMPLE_U16, 2},
                                       {"float16", UDIL_SAMPLE_F16, 2},
                                       {"float32", UDIL_SAMPLE_F32, 4}};

const SampleKind *kind_of_sample(int32_t sample) {
    for (const SampleKind &kind : kSampleKinds)
        if (kind.sample == sample) return &kind;
    return nullptr;
}

const SampleKind *kind_named(const char *name) {
    for (const SampleKind &kind : kSampleKinds)
        if (std::strcmp(kind.name, name) == 0) return &kind;
    return nullptr;
}

int64_t frame_bytes(const UdilDeepFrame &frame) {
    const SampleKind *kind = kind_of_sample(frame.sample);
    return kind ? int64_t(frame.width) * frame.height * frame.channels * kind->size : -1;
}

// A bytes-like frame the caller hands in, held for the call.
class HeldFrame {
public:
    HeldFrame() { view_.obj = nullptr; }
    ~HeldFrame() {
        if (view_.obj != nullptr) PyBuffer_Release(&view_);
    }
    HeldFrame(const HeldFrame &) = delete;
    HeldFrame &operator=(const HeldFrame &) = delete;

    // False with TypeError or ValueError set when `object` is no
    // contiguous buffer of the layout's size.
    bool take(PyObject *object, UdilDeepFrame &frame) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS) != 0) return false;
        const int64_t wanted = frame_bytes(frame);
        if (wanted <= 0 || view_.len != wanted) {
            PyErr_SetString(PyExc_ValueError, "the pixels do not match the frame's size");
            return false;
        }
        frame.pixels = view_.buf;
        frame.stride = int64_t(frame.width) * frame.channels * kind_of_sample(frame.sample)->size;
        return true;
    }

private:
    Py_buffer view_;
};

// The layout arguments of a frame handed in: width, height, channels and
// the NumPy name of the sample kind.
bool parse_layout(int width, int height, int channels, const char *kind_name, UdilDeepFrame &frame) {
    const SampleKind *kind = kind_named(kind_name);
    if (kind == nullptr || width < 1 || height < 1 || channels < 1 || channels > 4) {
        PyErr_SetString(PyExc_ValueError, "a frame of 1 to 4 channels of uint8, uint16, float16 or float32");
        return false;
    }
    frame = UdilDeepFrame{width, height, channels, kind->sample, 0, nullptr};
    return true;
}

// A new bytearray the frame's pixels are read into.
PyObject *frame_storage(UdilDeepFrame &frame) {
    const int64_t size = frame_bytes(frame);
    if (size <= 0) {
        PyErr_SetString(PyExc_ValueError, "the file's frame has no size");
        return nullptr;
    }
    PyObject *bytes = PyByteArray_FromStringAndSize(nullptr, Py_ssize_t(size));
    if (bytes == nullptr) return nullptr;
    frame.pixels = PyByteArray_AS_STRING(bytes);
    frame.stride = int64_t(frame.width) * frame.channels * kind_of_sample(frame.sample)->size;
    return bytes;
}

int32_t frame_of(PyObject *object, int n) {
    const int32_t count = movie_state(object)->nframes;
    return n < 0 ? n + count : n;
}

}  // namespace

PyObject *movie_deeplayout(PyObject *object, PyObject *args) {
    int n = 0;
    if (!PyArg_ParseTuple(args, "i:_deeplayout", &n)) return nullptr;
    UdilDeepFrame frame{};
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_read_deep(movie_state(object), frame_of(object, n), &frame, nullptr);
    }
    if (status != 0) return movie_result(status);
    const SampleKind *kind = kind_of_sample(frame.sample);
    return Py_BuildValue("(iiis)", frame.width, frame.height, frame.channels, kind ? kind->name : "uint8");
}

PyObject *movie_getdeep(PyObject *object, PyObject *args) {
    int n = 0;
    if (!PyArg_ParseTuple(args, "i:_getdeep", &n)) return nullptr;
    DyxUdilMovie *movie = movie_state(object);
    const int32_t frame_number = frame_of(object, n);
    UdilDeepFrame left{}, right{};
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_read_deep(movie, frame_number, &left, nullptr);
    }
    if (status != 0) return movie_result(status);
    const bool stereo = movie->info.stereo != 0;
    right = left;
    PyObject *left_bytes = frame_storage(left);
    PyObject *right_bytes = left_bytes != nullptr && stereo ? frame_storage(right) : nullptr;
    if (left_bytes == nullptr || (stereo && right_bytes == nullptr)) {
        Py_XDECREF(left_bytes);
        return nullptr;
    }
    {
        GilRelease released;
        status = dyx_udil_movie_read_deep(movie, frame_number, &left, stereo ? &right : nullptr);
    }
    if (status != 0) {
        Py_DECREF(left_bytes);
        Py_XDECREF(right_bytes);
        return movie_result(status);
    }
    const SampleKind *kind = kind_of_sample(left.sample);
    if (right_bytes == nullptr) {
        Py_INCREF(Py_None);
        right_bytes = Py_None;
    }
    return Py_BuildValue("(iiisNN)", left.width, left.height, left.channels, kind->name, left_bytes,
                         right_bytes);
}

PyObject *movie_appenddeep(PyObject *object, PyObject *args) {
    PyObject *left_object = nullptr, *right_object = Py_None;
    int width = 0, height = 0, channels = 0;
    const char *kind_name = nullptr;
    if (!PyArg_ParseTuple(args, "Oiiis|O:_appenddeep", &left_object, &width, &height, &channels, &kind_name,
                          &right_object))
        return nullptr;
    UdilDeepFrame left{}, right{};
    if (!parse_layout(width, height, channels, kind_name, left)) return nullptr;
    right = left;
    HeldFrame left_held, right_held;
    if (!left_held.take(left_object, left)) return nullptr;
    const bool has_right = right_object != Py_None;
    if (has_right && !right_held.take(right_object, right)) return nullptr;
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_append_deep(movie_state(object), &left, has_right ? &right : nullptr);
    }
    return movie_result(status);
}

PyObject *module_savedeep(PyObject *, PyObject *args) {
    TextArgument name_argument, options_argument;
    PyObject *pixels = nullptr;
    int width = 0, height = 0, channels = 0;
    const char *kind_name = nullptr, *format = nullptr;
    if (!PyArg_ParseTuple(args, "O&Oiiis|O&z:_savedeep", path_converter, &name_argument, &pixels, &width,
                          &height, &channels, &kind_name, text_converter, &options_argument, &format))
        return nullptr;
    UdilDeepFrame frame{};
    if (!parse_layout(width, height, channels, kind_name, frame)) return nullptr;
    HeldFrame held;
    if (!held.take(pixels, frame)) return nullptr;
    const char *filename = name_argument.text();
    dyx_udil_set_err_str(nullptr);
    UdilRecord *codec = format != nullptr ? codec_for_format(format) : dyx_udil_find_by_suffix(filename);
    if (codec == nullptr)
        return Py_BuildValue("(is)", -1,
                             "File extension indicates unknown file format.  Check orvo.codecs() for "
                             "permissible extensions.");
    dyx_udil_load(codec);
    int32_t count = 0;
    UdilOption *table = nullptr;
    const int parsed = dyx_udil_parse_options_warned(codec, options_argument.text(), issue_option_warning,
                                                     nullptr, &table, &count);
    if (parsed == DYX_REFUSED) return nullptr;  // a warning made an error: nothing was written
    UdilMovieInfo info{};
    info.width = width;
    info.height = height;
    info.frames = 1;
    info.frame_rate = -1.0f;
    info.pixel_format = channels == 1   ? UDIL_FMT_L
                        : channels == 2 ? UDIL_FMT_LA
                        : channels == 3 ? UDIL_FMT_RGB
                                        : UDIL_FMT_RGBA;
    // A codec that stores no 8-bit frames of this layout may still take
    // deeper ones of it (the movie plug-in's 8-bit frames are RGB): its
    // file is made in the layout it has.
    const int32_t formats = codec->entry.image_formats != nullptr ? codec->entry.image_formats() : 0;
    if ((formats & info.pixel_format) == 0 && (formats & UDIL_FMT_RGB) != 0) info.pixel_format = UDIL_FMT_RGB;
    int status = parsed;
    const char *failure = "Unable to create the new file.";
    if (status == 0) {
        GilRelease released;
        UdilStream *stream = dyx_udil_file_new(filename, codec, &info, count, table);
        if (stream == nullptr) {
            status = -3;
        } else {
            status = dyx_udil_save_deep(stream, 0, UDIL_EYE_MONO, &frame, nullptr);
            const int closed = dyx_udil_file_close(&stream);
            if (status == 0) status = closed;
            if (status != 0) failure = "Unable to save the image.";
        }
    }
    if (table != nullptr) dyx_free(table, __LINE__, __FILE__);
    if (status == 0) return Py_BuildValue("(is)", 0, "");
    char text[DYX_MOVIE_TEXT_SIZE];
    dyx_udil_with_last_error(text, sizeof text, failure);
    return Py_BuildValue("(is)", status < 0 ? status : -4, text);
}

PyObject *module_deepkind(PyObject *, PyObject *args) {
    TextArgument name_argument;
    const char *format = nullptr;
    if (!PyArg_ParseTuple(args, "O&|z:_deepkind", path_converter, &name_argument, &format)) return nullptr;
    const char *filename = name_argument.text();
    UdilRecord *codec = format != nullptr ? codec_for_format(format) : dyx_udil_find_by_suffix(filename);
    if (codec == nullptr || dyx_udil_load(codec) != 0 || dyx_udil_has_wildcards(filename)) Py_RETURN_NONE;
    // Codecs that read deep frames but write only 8-bit ones (those over
    // FFmpeg) index or decode a whole file to open it: the movie opened for
    // the frame is asked instead of a reader made only to ask.
    if (codec->entry.deep_samples != nullptr && (codec->entry.deep_samples() & ~UDIL_SAMPLE_U8) == 0)
        Py_RETURN_NONE;
    int32_t sample;
    {
        GilRelease released;
        sample = dyx_udil_file_deep_sample(filename, codec);
    }
    const SampleKind *kind = kind_of_sample(sample);
    if (kind == nullptr) Py_RETURN_NONE;
    return OrvoText_FromString(kind->name);
}

PyObject *module_deepsamples(PyObject *, PyObject *args) {
    const char *name = nullptr;
    if (!PyArg_ParseTuple(args, "s:_deepsamples", &name)) return nullptr;
    UdilRecord *codec = dyx_udil_find_by_name(name);
    int32_t mask = UDIL_SAMPLE_U8;
    if (codec != nullptr && dyx_udil_load(codec) == 0 && codec->entry.deep_samples != nullptr)
        mask |= codec->entry.deep_samples();
    Py_ssize_t count = 0;
    for (const SampleKind &kind : kSampleKinds) count += (mask & kind.sample) != 0;
    PyObject *kinds = PyTuple_New(count);
    Py_ssize_t filled = 0;
    for (const SampleKind &kind : kSampleKinds) {
        if (kinds == nullptr || (mask & kind.sample) == 0) continue;
        PyObject *kind_name = OrvoText_FromString(kind.name);
        if (kind_name == nullptr) {
            Py_CLEAR(kinds);
            break;
        }
        PyTuple_SET_ITEM(kinds, filled++, kind_name);
    }
    return kinds;
}

}  // namespace orvo
