// orvo.image load and save: each call opens its own codec stream for one
// frame and closes it again; failures are a negative status and a text.
#include "py_image_io.h"

#include <cstring>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_string.h"
#include "dyx_udil_stream.h"
#include "py_image.h"
#include "py_movie.h"
#include "py_names.h"
#include "py_reason.h"

namespace orvo {
namespace {

PyObject *status(ImageObject *image, int code, const char *message) {
    if (message != nullptr) dyx_strncpy(image->error, message, sizeof image->error);
    return OrvoInt_FromLong(code);
}

// A failure of the codec layer: the message and the reason it gave.
PyObject *status_with_reason(ImageObject *image, int code, const char *message) {
    with_reason(image->error, sizeof image->error, message);
    return OrvoInt_FromLong(code);
}

// Releases a block from dyx_malloc when the call ends.
struct OwnedBlock {
    void *block = nullptr;
    ~OwnedBlock() {
        if (block != nullptr) dyx_free(block, __LINE__, __FILE__);
    }
};

}  // namespace

PyObject *image_load(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"filename", "frame", "options", nullptr};
    ImageObject *self = reinterpret_cast<ImageObject *>(object);
    TextArgument name_argument, options_argument;
    int frame = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|iO&:load", const_cast<char **>(keywords),
                                     path_converter, &name_argument, &frame, text_converter,
                                     &options_argument))
        return nullptr;
    // The loaded picture replaces the pixel memory that views point at.
    if (!image_check_not_exported(self)) return nullptr;
    const char *filename = name_argument.text();
    if (frame < 0) frame = 0;
    reason_reset();
    UdilRecord *codec = dyx_udil_find_by_suffix(filename);
    if (codec == nullptr)
        return status(
            self, -1,
            "File extension indicates unknown file format. Check orvo.codecs() for permissible extensions");
    dyx_udil_load(codec);

    // Reader options (orientation ...) go to the plug-in with the file.
    OwnedBlock buffer;
    UdilOption *options = nullptr;
    int32_t count = 0, capacity = 0;
    const bool made = make_reader_options(codec, options_argument.text(), &options, &count, &capacity);
    buffer.block = options;
    if (!made && PyErr_Occurred()) return nullptr;  // a warning made an error: nothing was read
    if (!made) return status(self, -4, "Unable to allocate image memory.");
    UdilMovieInfo info{};
    int32_t first = codec->multi_image_capable ? -1 : 0;
    int32_t last = first;
    UdilStream *stream = dyx_udil_file_open(filename, codec, &info, &count, capacity, options, &first, &last);
    if (stream == nullptr) return status_with_reason(self, -2, "Unable to open the file.");
    if (frame >= info.frames) {
        dyx_udil_file_close(&stream);
        return status(self, -3, "Invalid frame number.");
    }
    dyx_image_t *picture =
        info.width < 0 || info.height < 0
            ? nullptr
            : dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
    if (picture == nullptr) {
        dyx_udil_file_close(&stream);
        return status(self, -4, "Unable to allocate image memory.");
    }
    if (dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, picture, nullptr) != 0) {
        dyx_image_free(&picture);
        dyx_udil_file_close(&stream);
        return status_with_reason(self, -5, "Unable to read image frame.");
    }
    image_replace_buffer(self, picture);
    dyx_udil_file_close(&stream);
    return OrvoInt_FromLong(0);
}

PyObject *image_save(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"filename", "options", nullptr};
    ImageObject *self = reinterpret_cast<ImageObject *>(object);
    TextArgument name_argument, options_argument;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|O&:save", const_cast<char **>(keywords),
                                     path_converter, &name_argument, text_converter, &options_argument))
        return nullptr;
    const char *filename = name_argument.text();
    const char *options_text = options_argument.text();
    reason_reset();
    UdilRecord *codec = dyx_udil_find_by_suffix(filename);
    if (codec == nullptr)
        return status(self, -1,
                      "File extension indicates unknown file format.  Check orvo.codecs() for permissible "
                      "extensions.");
    dyx_udil_load(codec);
    OwnedBlock options;
    int32_t count = 0;
    UdilOption *table = nullptr;
    const bool parsed = parse_udil_options(codec, options_text, &table, &count);
    options.block = table;
    if (!parsed && PyErr_Occurred()) return nullptr;  // a warning made an error: nothing was written
    if (!parsed) return status(self, -3, "Unable to create the new file.");

    const dyx_image_t *image = self->image;
    UdilMovieInfo info{};
    info.width = static_cast<int32_t>(image->width);
    info.height = static_cast<int32_t>(image->height);
    info.frames = 1;
    info.frame_rate = -1.0f;
    info.pixel_format = image->format;
    const int32_t formats = codec->entry.image_formats != nullptr ? codec->entry.image_formats() : 0;
    if ((formats & image->format) == 0)
        return status(self, -2, "Pixel format unsupported by this file format.");

    const size_t length = std::strlen(filename);
    if (length >= DYX_UDIL_PATH_SIZE) return status(self, -5, nullptr);  // no copy of that size can be made
    char name[DYX_UDIL_PATH_SIZE];
    std::memcpy(name, filename, length + 1);
    // The codec was found by the name's suffix, so the file is written
    // under exactly this name, in the format that suffix names.
    UdilStream *stream =
        dyx_udil_file_new(name, codec, &info, count, static_cast<const UdilOption *>(options.block));
    if (stream == nullptr) return status_with_reason(self, -3, "Unable to create the new file.");
    const int written = dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, image, nullptr);
    // A movie codec finishes its file at close: a failure there loses it.
    const int closed = dyx_udil_file_close(&stream);
    if (written != 0 || closed != 0) return status_with_reason(self, -4, "Unable to save the image.");
    return OrvoInt_FromLong(0);
}

}  // namespace orvo
