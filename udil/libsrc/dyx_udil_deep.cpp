// Deep frames (16-bit, half and float samples) between callers and the
// files of a codec stream. A codec that declares deep frames gets them as
// they are, through the same slots, per-frame files and eye pairs as the
// 8-bit frames; any other codec is read and written through its 8-bit
// frames, converted here.
#include <cstdio>
#include <cstring>

#include "dyx_image.h"
#include "dyx_status.h"
#include "dyx_udil_stream.h"
#include "udil_frame_files.h"
#include "udil_internal.h"

namespace {

struct Location {
    UdilFileSlot *slot = nullptr;
    int32_t file_frame = 0;
};

bool locate(UdilStream *stream, int32_t frame, Location &where) {
    if (frame < 0 || frame >= stream->total_frames) return false;
    int64_t base = 0;
    for (int k = 0; k < stream->file_count && k < DYX_UDIL_MAX_FILES; ++k) {
        UdilFileSlot &slot = stream->slots[k];
        if (frame < base + slot.frame_count) {
            where.slot = &slot;
            where.file_frame = int32_t(frame - base + slot.first_frame);
            return true;
        }
        base += slot.frame_count;
    }
    return false;
}

bool has_deep(const UdilRecord *codec) { return codec->entry.deep_samples != nullptr; }

int32_t sample_size(int32_t sample) {
    switch (sample) {
        case UDIL_SAMPLE_U8:
            return 1;
        case UDIL_SAMPLE_U16:
        case UDIL_SAMPLE_F16:
            return 2;
        case UDIL_SAMPLE_F32:
            return 4;
        default:
            return 0;
    }
}

const char *sample_name(int32_t sample) {
    switch (sample) {
        case UDIL_SAMPLE_U16:
            return "uint16";
        case UDIL_SAMPLE_F16:
            return "float16";
        case UDIL_SAMPLE_F32:
            return "float32";
        default:
            return "uint8";
    }
}

int32_t format_of_channels(int32_t channels) {
    static const int32_t kFormats[] = {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA};
    return channels >= 1 && channels <= 4 ? kFormats[channels - 1] : 0;
}

// A frame whose rows can be walked: 1 to 4 channels, a known kind, rows
// apart by at least their size. Pixels may be null for a layout query.
bool frame_valid(const UdilDeepFrame *frame) {
    if (frame == nullptr) return true;
    const int64_t row = int64_t(frame->width) * frame->channels * sample_size(frame->sample);
    return frame->pixels == nullptr ||
           (frame->width > 0 && frame->height > 0 && frame->channels >= 1 && frame->channels <= 4 &&
            sample_size(frame->sample) != 0 && frame->stride >= row);
}

int plugin_error(const UdilFileSlot &slot, UdilHandle handle, int status) {
    dyx_udil_set_err_udil(slot.codec, handle);
    return status;
}

int32_t frame_in_own_file(const UdilFileSlot &slot, int32_t frame) {
    return slot.codec->multi_image_capable ? 0 : frame;
}

int32_t per_frame_eye(const UdilFileSlot &slot, int32_t eye) {
    if (eye == UDIL_EYE_BOTH && !slot.codec->entry.stereo_capable()) return UDIL_EYE_LEFT;
    return eye;
}

// ---- codecs with deep frames ---------------------------------------------------

// One deep transfer through the plug-in on an open handle.
struct DeepCall {
    bool writing;
    int operator()(const UdilEntryPoints &entry, UdilHandle handle, int32_t frame, int32_t eye,
                   UdilDeepFrame *left, UdilDeepFrame *right) const {
        return writing ? entry.save_deep_image(handle, frame, eye, left, right)
                       : entry.get_deep_image(handle, frame, eye, left, right);
    }
};

// A per-frame file made or opened on the slot's handle for one transfer.
int transfer_file(UdilFileSlot &slot, DeepCall call, int32_t file_frame, int32_t eye, UdilDeepFrame *left,
                  UdilDeepFrame *right) {
    const UdilEntryPoints &entry = slot.codec->entry;
    char path[DYX_UDIL_PATH_SIZE];
    if (!dyx_udil_make_filename(path, slot.name, slot.suffix, file_frame, eye)) {
        dyx_udil_set_err_str("Frame file name too long");
        return DYX_NAME_TOO_LONG;
    }
    const bool usable = call.writing ? udil::output_file_usable(path) : udil::input_file_usable(path);
    if (!usable) return DYX_SYSTEM_FAILED;
    const int opened =
        call.writing ? entry.file_new(slot.primary, path) : entry.file_open(slot.primary, path);
    if (opened != 0) return plugin_error(slot, slot.primary, DYX_SYSTEM_FAILED);
    const int status = call(entry, slot.primary, frame_in_own_file(slot, file_frame), eye, left, right);
    entry.file_close(slot.primary);
    return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
}

int transfer_deep(UdilFileSlot &slot, DeepCall call, int32_t file_frame, int32_t eye, UdilDeepFrame *left,
                  UdilDeepFrame *right) {
    const UdilEntryPoints &entry = slot.codec->entry;
    if (!slot.container) {
        const int32_t used_eye = per_frame_eye(slot, eye);
        const int status =
            transfer_file(slot, call, file_frame, used_eye, left, used_eye == eye ? right : nullptr);
        if (status != 0 || used_eye == eye) return status;
        return transfer_file(slot, call, file_frame, UDIL_EYE_RIGHT, right, nullptr);
    }
    if (!slot.eye_pair) {
        const int status = call(entry, slot.primary, file_frame, eye, left, right);
        return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
    }
    int left_status = 0;
    if (eye == UDIL_EYE_LEFT || eye == UDIL_EYE_BOTH) {
        left_status = call(entry, slot.primary, file_frame, UDIL_EYE_LEFT, left, nullptr);
        if (left_status != 0) plugin_error(slot, slot.primary, left_status);
    }
    if (eye == UDIL_EYE_RIGHT || eye == UDIL_EYE_BOTH) {
        const int status = call(entry, slot.secondary, file_frame, UDIL_EYE_LEFT, right, nullptr);
        if (status != 0) return plugin_error(slot, slot.secondary, status);
    }
    return left_status;
}

// The layout of a per-frame file's frame, asked on a reader of its own:
// the slot's handle may be busy decoding ahead on another thread.
int query_layout(UdilFileSlot &slot, int32_t file_frame, int32_t eye, UdilDeepFrame *out) {
    const UdilEntryPoints &entry = slot.codec->entry;
    char path[DYX_UDIL_PATH_SIZE];
    if (!dyx_udil_make_filename(path, slot.name, slot.suffix, file_frame, eye)) {
        dyx_udil_set_err_str("Frame file name too long");
        return DYX_NAME_TOO_LONG;
    }
    UdilMovieInfo found;
    UdilHandle reader = nullptr;
    const int opened = udil::open_frame_reader(slot, path, found, reader);
    if (opened != 0) return opened;
    int status = entry.file_open(reader, path);
    if (status == 0) {
        status = entry.get_deep_image(reader, frame_in_own_file(slot, file_frame),
                                      eye == UDIL_EYE_MONO ? UDIL_EYE_MONO : UDIL_EYE_LEFT, out, nullptr);
        if (status != 0) plugin_error(slot, reader, status);
        entry.file_close(reader);
    } else {
        status = plugin_error(slot, reader, DYX_SYSTEM_FAILED);
    }
    entry.handle_destroy(&reader);
    return status;
}

// ---- codecs with 8-bit frames only ------------------------------------------------

void fill_layout(const UdilFileSlot &slot, UdilDeepFrame *frame) {
    if (frame == nullptr) return;
    frame->width = slot.info.width;
    frame->height = slot.info.height;
    frame->channels = dyx_image_format_components(slot.info.pixel_format);
    frame->sample = UDIL_SAMPLE_U8;
}

// Rows of an 8-bit image (bottom row first) into a deep frame (top row
// first) of the same channels, widened to the frame's sample kind.
void widen_rows(const dyx_image_t *image, const UdilDeepFrame &frame) {
    const int64_t width = frame.width, height = frame.height, values = width * frame.channels;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t *source = image->data + (height - 1 - y) * values;
        uint8_t *target = static_cast<uint8_t *>(frame.pixels) + y * frame.stride;
        if (frame.sample == UDIL_SAMPLE_U8) {
            std::memcpy(target, source, size_t(values));
        } else if (frame.sample == UDIL_SAMPLE_U16) {
            auto *row = reinterpret_cast<uint16_t *>(target);
            for (int64_t i = 0; i < values; ++i) row[i] = uint16_t(source[i] * 257u);
        } else {
            auto *row = reinterpret_cast<float *>(target);
            for (int64_t i = 0; i < values; ++i) row[i] = float(source[i]) / 255.0f;
        }
    }
}

bool fits_slot(const UdilFileSlot &slot, const UdilDeepFrame *frame) {
    return frame == nullptr || (frame->width == slot.info.width && frame->height == slot.info.height &&
                                frame->channels == dyx_image_format_components(slot.info.pixel_format) &&
                                frame->sample != UDIL_SAMPLE_F16);
}

int read_through_8bit(UdilStream *stream, const UdilFileSlot &slot, int32_t frame, int32_t eye,
                      UdilDeepFrame *left, UdilDeepFrame *right) {
    if (!fits_slot(slot, left) || !fits_slot(slot, right)) {
        dyx_udil_set_err_str("The deep frame does not match the movie");
        return DYX_BAD_ARGUMENT;
    }
    const uint32_t width = uint32_t(slot.info.width), height = uint32_t(slot.info.height);
    dyx_image_t *images[2] = {nullptr, nullptr};
    UdilDeepFrame *frames[2] = {left, right};
    int status = DYX_OK;
    for (int k = 0; k < 2; ++k)
        if (frames[k] != nullptr &&
            (images[k] = dyx_image_alloc(width, height, 0, slot.info.pixel_format)) == nullptr)
            status = DYX_NO_MEMORY;
    if (status == 0) status = dyx_udil_get_image(stream, frame, eye, images[0], images[1]);
    for (int k = 0; k < 2; ++k) {
        if (status == 0 && frames[k] != nullptr) widen_rows(images[k], *frames[k]);
        dyx_image_free(&images[k]);
    }
    return status;
}

// An 8-bit deep frame as an image of the slot's pixel format, or null.
dyx_image_t *image_of(const UdilFileSlot &slot, const UdilDeepFrame &frame) {
    const int64_t values = int64_t(frame.width) * frame.channels;
    dyx_image_t *image =
        dyx_image_alloc(uint32_t(frame.width), uint32_t(frame.height), 0, format_of_channels(frame.channels));
    if (image == nullptr) return nullptr;
    for (int64_t y = 0; y < frame.height; ++y)
        std::memcpy(image->data + (frame.height - 1 - y) * values,
                    static_cast<const uint8_t *>(frame.pixels) + y * frame.stride, size_t(values));
    if (image->format == slot.info.pixel_format) return image;
    dyx_image_t *layout = dyx_image_alloc(0, 0, 0, slot.info.pixel_format);
    const bool converted = layout != nullptr && dyx_image_convert(&image, layout) == 0;
    dyx_image_free(&layout);
    if (!converted) dyx_image_free(&image);
    return image;
}

int save_through_8bit(UdilStream *stream, const UdilFileSlot &slot, int32_t frame, int32_t eye,
                      const UdilDeepFrame *left, const UdilDeepFrame *right) {
    dyx_image_t *images[2] = {nullptr, nullptr};
    const UdilDeepFrame *frames[2] = {left, right};
    int status = DYX_OK;
    for (int k = 0; k < 2; ++k)
        if (frames[k] != nullptr && (images[k] = image_of(slot, *frames[k])) == nullptr)
            status = DYX_NO_MEMORY;
    if (status == 0) status = dyx_udil_save_image(stream, frame, eye, images[0], images[1]);
    dyx_image_free(&images[0]);
    dyx_image_free(&images[1]);
    return status;
}

}  // namespace

extern "C" {

int32_t dyx_udil_deep_samples(const UdilStream *stream) {
    if (stream == nullptr || stream->file_count < 1) return UDIL_SAMPLE_U8;
    const UdilRecord *codec = stream->slots[0].codec;
    return has_deep(codec) ? (codec->entry.deep_samples() | UDIL_SAMPLE_U8) : UDIL_SAMPLE_U8;
}

int32_t dyx_udil_file_deep_sample(const char *path, UdilRecord *record) {
    if (path == nullptr || record == nullptr || record->handle == nullptr) return 0;
    if (!has_deep(record)) return UDIL_SAMPLE_U8;
    if (!udil::input_file_usable(path)) return 0;
    udil::UdilCallGuard guard(record);
    const UdilEntryPoints &entry = record->entry;
    UdilMovieInfo info{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
    UdilHandle reader = entry.create_reader(path, &info, nullptr, 0, nullptr);
    if (reader == nullptr) return 0;
    UdilDeepFrame layout{};
    int32_t sample = 0;
    if (entry.file_open(reader, path) == 0) {
        if (entry.get_deep_image(reader, 0, UDIL_EYE_MONO, &layout, nullptr) == 0) sample = layout.sample;
        entry.file_close(reader);
    }
    entry.handle_destroy(&reader);
    return sample;
}

int dyx_udil_get_deep(UdilStream *stream, int32_t frame, int32_t eye, UdilDeepFrame *left,
                      UdilDeepFrame *right) {
    if (stream == nullptr) return DYX_REFUSED;
    Location where;
    if (!locate(stream, frame, where)) {
        dyx_udil_set_err_str("Invalid frame number specified");
        return DYX_BAD_ARGUMENT;
    }
    if ((left == nullptr && right == nullptr) || !frame_valid(left) || !frame_valid(right)) {
        dyx_udil_set_err_str("The deep frame does not match the movie");
        return DYX_BAD_ARGUMENT;
    }
    UdilFileSlot &slot = *where.slot;
    UdilDeepFrame *first = left != nullptr ? left : right;
    if (!has_deep(slot.codec)) {
        if (first->pixels != nullptr) return read_through_8bit(stream, slot, frame, eye, left, right);
        fill_layout(slot, first);
        return DYX_OK;
    }
    udil::UdilCallGuard guard(slot.codec);
    if (first->pixels == nullptr) {  // the layout of the one frame asked
        const int32_t one_eye = eye == UDIL_EYE_BOTH ? UDIL_EYE_LEFT : eye;
        // A container's open handle answers at once; a per-frame file is
        // asked on a reader of its own, as its probe is.
        if (slot.container)
            return transfer_deep(slot, DeepCall{false}, where.file_frame, one_eye, first, nullptr);
        return query_layout(slot, where.file_frame, one_eye, first);
    }
    return transfer_deep(slot, DeepCall{false}, where.file_frame, eye, left, right);
}

int dyx_udil_save_deep(UdilStream *stream, int32_t frame, int32_t eye, const UdilDeepFrame *left,
                       const UdilDeepFrame *right) {
    if (stream == nullptr) return DYX_REFUSED;
    if (frame < 0 || stream->file_count < 1) {
        dyx_udil_set_err_str("Invalid frame number specified");
        return DYX_BAD_ARGUMENT;
    }
    UdilFileSlot &slot = stream->slots[0];
    const UdilDeepFrame *frames[2] = {left, right};
    for (const UdilDeepFrame *one : frames)
        if (one != nullptr && (one->pixels == nullptr || !frame_valid(one) || one->width != slot.info.width ||
                               one->height != slot.info.height)) {
            dyx_udil_set_err_str("The deep frame does not match the movie");
            return DYX_BAD_ARGUMENT;
        }
    const UdilDeepFrame *first = left != nullptr ? left : right;
    if (first == nullptr) return DYX_BAD_ARGUMENT;
    if ((dyx_udil_deep_samples(stream) & first->sample) == 0 || (right && right->sample != first->sample)) {
        char text[DYX_UDIL_ERROR_SIZE];
        std::snprintf(text, sizeof text, "The %s format cannot hold %s samples", slot.codec->name,
                      sample_name(first->sample));
        dyx_udil_set_err_str(text);
        return DYX_REFUSED;
    }
    if (!has_deep(slot.codec) || (first->sample == UDIL_SAMPLE_U8 && !(slot.codec->entry.deep_samples() & 1)))
        return save_through_8bit(stream, slot, frame, eye, left, right);
    udil::UdilCallGuard guard(slot.codec);
    return transfer_deep(slot, DeepCall{true}, frame, eye, const_cast<UdilDeepFrame *>(left),
                         const_cast<UdilDeepFrame *>(right));
}

}  // extern "C"
