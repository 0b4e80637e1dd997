// orvo.image load and save: each call opens its own codec stream for one
// frame and closes it again; failures are a negative status and a text.
#include "py_image_io.h"

#include <cstdio>
#include <cstring>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_stream.h"
#include "py_image.h"
#include "py_names.h"

namespace orvo {
namespace {

// What load and save return to the script: 0, or a negative status for
// the step that failed (the error text tells the script more).
enum LoadStatus {
    kLoaded = 0,
    kLoadNoCodec = -1,
    kLoadCannotOpen = -2,
    kLoadBadFrame = -3,
    kLoadNoMemory = -4,
    kLoadReadFailed = -5,
};
enum SaveStatus {
    kSaved = 0,
    kSaveNoCodec = -1,
    kSaveFormatUnsupported = -2,
    kSaveCannotCreate = -3,
    kSaveWriteFailed = -4,
    kSaveNameTooLong = -5,
};

PyObject *status(ImageObject *image, int code, const char *message) {
    if (message != nullptr) dyx_strncpy(image->error, message, sizeof image->error);
    return OrvoInt_FromLong(code);
}

// A failure of the codec layer: the message and the reason it gave.
PyObject *status_with_reason(ImageObject *image, int code, const char *message) {
    dyx_udil_with_last_error(image->error, sizeof image->error, message);
    return OrvoInt_FromLong(code);
}

// Releases a block from dyx_malloc when the call ends.
struct OwnedBlock {
    void *block = nullptr;
    ~OwnedBlock() {
        if (block != nullptr) dyx_free(block, __LINE__, __FILE__);
    }
};

// Reads frame `frame` of the file into a new *picture. Runs without the
// interpreter's lock: no Python API here.
LoadStatus read_frame(const char *filename, UdilRecord *codec, int frame, UdilOption *options, int32_t count,
                      int32_t capacity, dyx_image_t **picture) {
    UdilMovieInfo info{};
    int32_t first = codec->multi_image_capable ? -1 : 0;
    int32_t last = first;
    UdilStream *stream = dyx_udil_file_open(filename, codec, &info, &count, capacity, options, &first, &last);
    if (stream == nullptr) return kLoadCannotOpen;
    LoadStatus result = kLoaded;
    if (frame >= info.frames) {
        result = kLoadBadFrame;
    } else {
        *picture = info.width < 0 || info.height < 0
                       ? nullptr
                       : dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
        if (*picture == nullptr) {
            result = kLoadNoMemory;
        } else if (dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, *picture, nullptr) != 0) {
            dyx_image_free(picture);
            result = kLoadReadFailed;
        }
    }
    dyx_udil_file_close(&stream);
    return result;
}

// Writes the image as the one frame of a new file. Runs without the
// interpreter's lock.
SaveStatus write_frame(const char *name, UdilRecord *codec, const UdilMovieInfo &info, int32_t count,
                       const UdilOption *options, const dyx_image_t *image) {
    UdilStream *stream = dyx_udil_file_new(name, codec, &info, count, options);
    if (stream == nullptr) return kSaveCannotCreate;
    const int written = dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, image, nullptr);
    // A movie codec finishes its file at close: a failure there loses it.
    const int closed = dyx_udil_file_close(&stream);
    return written != 0 || closed != 0 ? kSaveWriteFailed : kSaved;
}

}  // namespace

UdilRecord *codec_for_format(const char *format) {
    if (format[0] == '.') ++format;
    if (format[0] == '\0' || std::strlen(format) > 64) return nullptr;
    UdilRecord *codec = dyx_udil_find_by_name(format);
    if (codec != nullptr) return codec;
    char name[80];
    std::snprintf(name, sizeof name, "x.%s", format);
    return dyx_udil_find_by_suffix(name);
}

PyObject *image_load(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"filename", "frame", "options", "format", nullptr};
    ImageObject *self = reinterpret_cast<ImageObject *>(object);
    TextArgument name_argument, options_argument;
    int frame = 0;
    const char *format = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|iO&z:load", const_cast<char **>(keywords),
                                     path_converter, &name_argument, &frame, text_converter,
                                     &options_argument, &format))
        return nullptr;
    // The loaded picture replaces the pixel memory that views point at.
    if (!image_check_not_exported(self)) return nullptr;
    const char *filename = name_argument.text();
    if (frame < 0) frame = 0;
    dyx_udil_set_err_str(nullptr);  // the reason given after a failure is this call's
    UdilRecord *codec = format != nullptr ? codec_for_format(format) : dyx_udil_find_by_suffix(filename);
    if (codec == nullptr)
        return status(
            self, kLoadNoCodec,
            "File extension indicates unknown file format. Check orvo.codecs() for permissible extensions");
    dyx_udil_load(codec);

    // Reader options (orientation ...) go to the plug-in with the file.
    OwnedBlock buffer;
    UdilOption *options = nullptr;
    int32_t count = 0, capacity = 0;
    const int made = dyx_udil_reader_options(codec, options_argument.text(), issue_option_warning, nullptr,
                                             &options, &count, &capacity);
    buffer.block = options;
    if (made == DYX_REFUSED) return nullptr;  // a warning made an error: nothing was read
    if (made != DYX_OK) return status(self, kLoadNoMemory, "Unable to allocate image memory.");
    // The file is read with the interpreter's lock released.
    dyx_image_t *picture = nullptr;
    LoadStatus result;
    {
        GilRelease released;
        result = read_frame(filename, codec, frame, options, count, capacity, &picture);
    }
    switch (result) {
        case kLoaded:
            image_replace_buffer(self, picture);
            return OrvoInt_FromLong(kLoaded);
        case kLoadCannotOpen:
            return status_with_reason(self, result, "Unable to open the file.");
        case kLoadBadFrame:
            return status(self, result, "Invalid frame number.");
        case kLoadReadFailed:
            return status_with_reason(self, result, "Unable to read image frame.");
        default:
            return status(self, kLoadNoMemory, "Unable to allocate image memory.");
    }
}

PyObject *image_save(PyObject *object, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"filename", "options", "format", nullptr};
    ImageObject *self = reinterpret_cast<ImageObject *>(object);
    TextArgument name_argument, options_argument;
    const char *format = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|O&z:save", const_cast<char **>(keywords),
                                     path_converter, &name_argument, text_converter, &options_argument,
                                     &format))
        return nullptr;
    const char *filename = name_argument.text();
    const char *options_text = options_argument.text();
    dyx_udil_set_err_str(nullptr);  // the reason given after a failure is this call's
    UdilRecord *codec = format != nullptr ? codec_for_format(format) : dyx_udil_find_by_suffix(filename);
    if (codec == nullptr)
        return status(self, kSaveNoCodec,
                      "File extension indicates unknown file format.  Check orvo.codecs() for permissible "
                      "extensions.");
    dyx_udil_load(codec);
    OwnedBlock options;
    int32_t count = 0;
    UdilOption *table = nullptr;
    const int parsed =
        dyx_udil_parse_options_warned(codec, options_text, issue_option_warning, nullptr, &table, &count);
    options.block = table;
    if (parsed == DYX_REFUSED) return nullptr;  // a warning made an error: nothing was written
    if (parsed != DYX_OK) return status(self, kSaveCannotCreate, "Unable to create the new file.");

    const dyx_image_t *image = self->image;
    UdilMovieInfo info{};
    info.width = static_cast<int32_t>(image->width);
    info.height = static_cast<int32_t>(image->height);
    info.frames = 1;
    info.frame_rate = -1.0f;
    info.pixel_format = image->format;
    const int32_t formats = codec->entry.image_formats != nullptr ? codec->entry.image_formats() : 0;
    if ((formats & image->format) == 0)
        return status(self, kSaveFormatUnsupported, "Pixel format unsupported by this file format.");

    const size_t length = std::strlen(filename);
    // No copy of that size can be made.
    if (length >= DYX_UDIL_PATH_SIZE) return status(self, kSaveNameTooLong, nullptr);
    char name[DYX_UDIL_PATH_SIZE];
    std::memcpy(name, filename, length + 1);
    // The codec was found by the name's suffix (or named by `format`), so
    // the file is written under exactly this name.
    SaveStatus result;
    {
        GilRelease released;
        result = write_frame(name, codec, info, count, static_cast<const UdilOption *>(options.block), image);
    }
    if (result == kSaveCannotCreate)
        return status_with_reason(self, result, "Unable to create the new file.");
    if (result == kSaveWriteFailed) return status_with_reason(self, result, "Unable to save the image.");
    return OrvoInt_FromLong(kSaved);
}

}  // namespace orvo
