// Frame transfer between image pixels and the files of a codec stream.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_udil_stream.h"
#include "udil_frame_files.h"
#include "udil_internal.h"

namespace {

// The slot of stream frame `frame` and the file's own number for it.
struct Location {
    UdilFileSlot *slot = nullptr;
    int32_t base = 0;  // stream frames of the slots before it
    int32_t file_frame = 0;
};

bool locate(UdilStream *stream, int32_t frame, Location &where) {
    if (frame < 0) return false;
    int64_t base = 0;
    for (int k = 0; k < stream->file_count && k < DYX_UDIL_MAX_FILES; ++k) {
        UdilFileSlot &slot = stream->slots[k];
        if (frame < base + slot.frame_count) {
            where.slot = &slot;
            where.base = int32_t(base);
            where.file_frame = int32_t(frame - base + slot.first_frame);
            return true;
        }
        base += slot.frame_count;
    }
    return false;
}

// The plug-in reads or writes width x height pixels of the slot's format:
// an image of any other shape would be overrun.
bool fits(const dyx_image_t *image, const UdilMovieInfo &info) {
    return image == nullptr ||
           (int64_t(image->width) == info.width && int64_t(image->height) == info.height &&
            image->format == info.pixel_format && image->data != nullptr);
}

uint8_t *pixels_of(const dyx_image_t *image) { return image ? image->data : nullptr; }

// The eye a per-frame file is named and transferred with: both eyes go to
// one call only when the codec takes stereo frames.
int32_t per_frame_eye(const UdilFileSlot &slot, int32_t eye) {
    if (eye == UDIL_EYE_BOTH && !slot.codec->entry.stereo_capable()) return UDIL_EYE_LEFT;
    return eye;
}

int plugin_error(const UdilFileSlot &slot, UdilHandle handle, int status) {
    dyx_udil_set_err_udil(slot.codec, handle);
    return status;
}

// The frame number a plug-in gets for a per-frame file. A multi-image codec
// counts the frames of each file from 0, so the one picture of such a file
// is its frame 0; a one-picture codec is told the sequence number.
int32_t frame_in_own_file(const UdilFileSlot &slot, int32_t frame) {
    return slot.codec->multi_image_capable ? 0 : frame;
}

bool frame_path(char *path, const UdilFileSlot &slot, int32_t frame, int32_t eye) {
    if (dyx_udil_make_filename(path, slot.name, slot.suffix, frame, eye)) return true;
    dyx_udil_set_err_str("Frame file name too long");
    return false;
}

// Writes one picture into its own new file on the slot's handle.
int save_to_file(UdilFileSlot &slot, const char *path, int32_t frame, int32_t eye, const void *left,
                 const void *right) {
    const UdilEntryPoints &entry = slot.codec->entry;
    if (!udil::output_file_usable(path)) return DYX_SYSTEM_FAILED;
    if (entry.file_new(slot.primary, path) != 0) return plugin_error(slot, slot.primary, 7);
    const int status = entry.save_image(slot.primary, frame_in_own_file(slot, frame), eye, left, right);
    entry.file_close(slot.primary);
    return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
}

bool same_size(const UdilMovieInfo &found, const UdilMovieInfo &want) {
    return found.width == want.width && found.height == want.height && found.depth == want.depth;
}

// Reads a file whose layout differs from the slot's on the reader made for
// it, into buffers of its own layout, and converts them into the slot's.
int read_converted(UdilFileSlot &slot, UdilHandle reader, const UdilMovieInfo &found, const char *path,
                   int32_t frame, int32_t eye, void *left, void *right) {
    const UdilEntryPoints &entry = slot.codec->entry;
    const uint32_t width = uint32_t(found.width), height = uint32_t(found.height);
    dyx_image_t *decoded[2] = {nullptr, nullptr};
    void *targets[2] = {left, right};
    dyx_image_t *layout = dyx_image_alloc(0, 0, 0, slot.info.pixel_format);
    int status = layout == nullptr ? int(DYX_NO_MEMORY) : DYX_OK;
    for (int k = 0; k < 2 && status == 0; ++k)
        if (targets[k] != nullptr) {
            decoded[k] = dyx_image_alloc(width, height, 0, found.pixel_format);
            if (decoded[k] == nullptr) status = DYX_NO_MEMORY;
        }
    if (status == 0) {
        if (entry.file_open(reader, path) != 0) {
            status = plugin_error(slot, reader, 7);
        } else {
            status = entry.get_image(reader, frame_in_own_file(slot, frame), eye,
                                     decoded[0] ? decoded[0]->data : nullptr,
                                     decoded[1] ? decoded[1]->data : nullptr);
            entry.file_close(reader);
            if (status != 0) plugin_error(slot, reader, status);
        }
    }
    for (int k = 0; k < 2; ++k) {
        if (status == 0 && decoded[k] != nullptr) {
            if (dyx_image_convert(&decoded[k], layout) != 0)
                status = DYX_NO_MEMORY;
            else
                std::memcpy(targets[k], decoded[k]->data, size_t(dyx_image_data_size(decoded[k])));
        }
        dyx_image_free(&decoded[k]);
    }
    dyx_image_free(&layout);
    return status;
}

// Reads one picture from its own file: on the slot's handle when the file
// has the layout that handle was made for, else on a reader of its own.
int read_from_file(UdilFileSlot &slot, const char *path, int32_t frame, int32_t eye, void *left,
                   void *right) {
    UdilMovieInfo found;
    UdilHandle reader = nullptr;
    const int opened = udil::open_frame_reader(slot, path, found, reader);
    if (opened != 0) return opened;
    const UdilEntryPoints &entry = slot.codec->entry;
    int status = DYX_OK;
    if (!same_size(found, slot.info)) {
        status = DYX_FRAME_MISMATCH;
    } else if (found.pixel_format != slot.info.pixel_format || found.pixel_format != slot.reader_format) {
        status = read_converted(slot, reader, found, path, frame, eye, left, right);
        entry.handle_destroy(&reader);
        return status;
    }
    entry.handle_destroy(&reader);
    if (status != 0) return status;
    if (entry.file_open(slot.primary, path) != 0) return plugin_error(slot, slot.primary, 7);
    status = entry.get_image(slot.primary, frame_in_own_file(slot, frame), eye, left, right);
    entry.file_close(slot.primary);
    return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
}

// Left eye to the primary file and right eye to the secondary one.
template <typename Transfer>
int per_eye_files(UdilFileSlot &slot, int32_t eye, Transfer transfer) {
    int left_status = 0;
    if (eye == UDIL_EYE_LEFT || eye == UDIL_EYE_BOTH) {
        left_status = transfer(slot.primary, true);
        if (left_status != 0) plugin_error(slot, slot.primary, left_status);
    }
    if (eye == UDIL_EYE_RIGHT || eye == UDIL_EYE_BOTH) {
        const int right_status = transfer(slot.secondary, false);
        if (right_status != 0) return plugin_error(slot, slot.secondary, right_status);
    }
    return left_status;
}

// Both eyes of a frame for a codec that stores one picture per file, under
// a name without '@': the right eye would replace or miss the left.
int refuse_both_eyes() {
    dyx_udil_set_err_str("The codec stores one eye per file: the name needs an @ for the eye");
    return DYX_BAD_ARGUMENT;
}

bool has_compressed(const UdilFileSlot &slot) { return slot.codec->entry.get_compressed_size != nullptr; }

// Opens a per-frame file for the compressed operations.
bool open_logged(UdilFileSlot &slot, const char *path) {
    if (udil::input_file_usable(path) && slot.codec->entry.file_open(slot.primary, path) == 0) return true;
    dyx_error("can't open file %s\n", path);
    return false;
}

// Size of the compressed frame in one per-frame file; -1 when it can't be opened.
int64_t file_compressed_size(UdilFileSlot &slot, int32_t frame, int32_t eye) {
    char path[DYX_UDIL_PATH_SIZE];
    if (!dyx_udil_make_filename(path, slot.name, slot.suffix, frame, eye)) {
        dyx_error("can't open file %s\n", slot.name);
        return -1;
    }
    if (!open_logged(slot, path)) return -1;
    const int64_t size = slot.codec->entry.get_compressed_size(slot.primary);
    slot.codec->entry.file_close(slot.primary);
    return size;
}

// Passes the plug-in one request for `count` frames of a slot, starting at
// `local`; `done` frames of the caller's request come before them.
int fetch_compressed(UdilFileSlot &slot, const UdilCompressedRequest &request, int32_t local, int32_t count,
                     int32_t done) {
    const int64_t entry_index = slot.info.stereo ? int64_t(done) * 2 : done;
    UdilCompressedRequest part = request;
    part.marker = -1;
    part.first_frame = slot.first_frame + local;
    part.frame_count = count;
    if (part.data) part.data += int64_t(request.stride) * done;
    if (part.entries64) part.entries64 += entry_index;
    if (part.entries32) part.entries32 += entry_index;
    const UdilEntryPoints &entry = slot.codec->entry;
    if (!slot.container) {
        char path[DYX_UDIL_PATH_SIZE];
        if (!dyx_udil_make_filename(path, slot.name, slot.suffix, part.first_frame, request.eye)) {
            dyx_error("can't open file %s\n", slot.name);
            return DYX_NAME_TOO_LONG;
        }
        if (!open_logged(slot, path)) return DYX_SYSTEM_FAILED;
        part.first_frame = frame_in_own_file(slot, part.first_frame);
    }
    const int status = entry.get_images_compressed(slot.primary, &part);
    // The per-frame file is closed on failure too, so the stream stays usable.
    if (!slot.container) entry.file_close(slot.primary);
    return status;
}

}  // namespace

extern "C" {

int dyx_udil_save_image(UdilStream *stream, int32_t frame, int32_t eye, const dyx_image_t *left,
                        const dyx_image_t *right) {
    if (stream == nullptr) return DYX_REFUSED;
    if (stream->file_count < 1 || !fits(left, stream->slots[0].info) || !fits(right, stream->slots[0].info)) {
        dyx_udil_set_err_str("Image does not match the movie");
        return DYX_BAD_ARGUMENT;
    }
    return dyx_udil_save_pixels(stream, frame, eye, pixels_of(left), pixels_of(right));
}

int dyx_udil_save_pixels(UdilStream *stream, int32_t frame, int32_t eye, const void *left,
                         const void *right) {
    if (stream == nullptr) return DYX_REFUSED;
    if (frame < 0 || stream->file_count < 1) {
        dyx_udil_set_err_str("Invalid frame number specified");
        return DYX_BAD_ARGUMENT;
    }
    UdilFileSlot &slot = stream->slots[0];
    udil::UdilCallGuard guard(slot.codec);
    const UdilEntryPoints &entry = slot.codec->entry;
    if (!slot.container) {
        const int32_t used_eye = per_frame_eye(slot, eye);
        char path[DYX_UDIL_PATH_SIZE];
        if (!frame_path(path, slot, frame, used_eye)) return DYX_NAME_TOO_LONG;
        char right_path[DYX_UDIL_PATH_SIZE];
        if (used_eye != eye) {
            // The codec takes one eye per call: the right image gets its own
            // file, which must not be the left one's.
            if (!frame_path(right_path, slot, frame, UDIL_EYE_RIGHT)) return DYX_NAME_TOO_LONG;
            if (std::strcmp(path, right_path) == 0) return refuse_both_eyes();
        }
        const int status = save_to_file(slot, path, frame, used_eye, left, used_eye == eye ? right : nullptr);
        if (status != 0 || used_eye == eye) return status;
        return save_to_file(slot, right_path, frame, UDIL_EYE_LEFT, right, nullptr);
    }
    // One file without stereo frames would keep the left eye only.
    if (!slot.eye_pair && eye == UDIL_EYE_BOTH && right != nullptr && !entry.stereo_capable())
        return refuse_both_eyes();
    if (!slot.eye_pair) {
        const int status = entry.save_image(slot.primary, frame, eye, left, right);
        return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
    }
    return per_eye_files(slot, eye, [&](UdilHandle handle, bool is_left) {
        return entry.save_image(handle, frame, UDIL_EYE_LEFT, is_left ? left : right, nullptr);
    });
}

int dyx_udil_get_image(UdilStream *stream, int32_t frame, int32_t eye, dyx_image_t *left,
                       dyx_image_t *right) {
    if (stream == nullptr) return DYX_REFUSED;
    Location where;
    if (frame < 0 || frame >= stream->total_frames) {
        dyx_udil_set_err_str("Invalid frame number specified");
        return DYX_BAD_ARGUMENT;
    }
    if (!locate(stream, frame, where)) return DYX_BAD_ARGUMENT;
    UdilFileSlot &slot = *where.slot;
    if (!fits(left, slot.info) || !fits(right, slot.info)) {
        dyx_udil_set_err_str("Image does not match the movie");
        return DYX_BAD_ARGUMENT;
    }
    void *left_pixels = pixels_of(left);
    void *right_pixels = pixels_of(right);
    udil::UdilCallGuard guard(slot.codec);
    const UdilEntryPoints &entry = slot.codec->entry;
    const int32_t file_frame = where.file_frame;
    if (!slot.container) {
        const int32_t used_eye = per_frame_eye(slot, eye);
        char path[DYX_UDIL_PATH_SIZE];
        if (!frame_path(path, slot, file_frame, used_eye)) return DYX_NAME_TOO_LONG;
        const int status = read_from_file(slot, path, file_frame, used_eye, left_pixels,
                                          used_eye == eye ? right_pixels : nullptr);
        if (status != 0 || used_eye == eye) return status;
        if (!frame_path(path, slot, file_frame, UDIL_EYE_RIGHT)) return DYX_NAME_TOO_LONG;
        return read_from_file(slot, path, file_frame, UDIL_EYE_LEFT, right_pixels, nullptr);
    }
    if (!slot.eye_pair) {
        const int status = entry.get_image(slot.primary, file_frame, eye, left_pixels, right_pixels);
        return status != 0 ? plugin_error(slot, slot.primary, status) : 0;
    }
    return per_eye_files(slot, eye, [&](UdilHandle handle, bool is_left) {
        return entry.get_image(handle, file_frame, UDIL_EYE_LEFT, is_left ? left_pixels : right_pixels,
                               nullptr);
    });
}

int64_t dyx_udil_get_compressed_size(UdilStream *stream) {
    if (stream == nullptr) return -1;
    int64_t largest = -1;
    for (int k = 0; k < stream->file_count && k < DYX_UDIL_MAX_FILES; ++k) {
        UdilFileSlot &slot = stream->slots[k];
        if (!has_compressed(slot)) return -1;
        udil::UdilCallGuard guard(slot.codec);
        const UdilEntryPoints &entry = slot.codec->entry;
        if (slot.container) {
            int64_t size = entry.get_compressed_size(slot.primary);
            if (slot.eye_pair) size += entry.get_compressed_size(slot.secondary);
            largest = std::max(largest, size);
            continue;
        }
        for (int64_t f = slot.first_frame; f <= slot.last_frame; ++f) {
            int64_t size;
            if (slot.info.stereo) {
                const int64_t left = file_compressed_size(slot, int32_t(f), UDIL_EYE_LEFT);
                if (left < 0) return -1;
                const int64_t right = file_compressed_size(slot, int32_t(f), UDIL_EYE_RIGHT);
                if (right < 0) return -1;
                size = left + right;
            } else {
                size = file_compressed_size(slot, int32_t(f), UDIL_EYE_MONO);
                if (size < 0) return -1;
            }
            largest = std::max(largest, size);
        }
    }
    return largest;
}

int dyx_udil_get_images_compressed(UdilStream *stream, const UdilCompressedRequest *request) {
    if (stream == nullptr || request == nullptr) return DYX_BAD_ARGUMENT;
    int32_t remaining = request->frame_count;
    int32_t done = 0;
    int32_t current = request->first_frame;
    while (remaining > 0) {
        Location where;
        if (!locate(stream, current, where)) return DYX_BAD_ARGUMENT;
        UdilFileSlot &slot = *where.slot;
        const int32_t local = current - where.base;
        const int32_t n = std::min(slot.frame_count - local, remaining);
        remaining -= n;
        udil::UdilCallGuard guard(slot.codec);
        if (has_compressed(slot)) {
            // A per-frame slot keeps each frame in a file of its own, so its
            // frames are fetched one request (and one open file) at a time.
            const int32_t step = slot.container ? n : 1;
            for (int32_t k = 0; k < n; k += step) {
                const int status = fetch_compressed(slot, *request, local + k, step, done + k);
                if (status != 0) return status;
            }
        }
        done += n;
        current += n;
    }
    return DYX_OK;
}

int dyx_udil_uncompress_image(UdilStream *stream, int32_t frame, int32_t eye, const void *data, int32_t size,
                              dyx_image_t *image) {
    Location where;
    if (stream == nullptr || !locate(stream, frame, where)) return DYX_BAD_ARGUMENT;
    UdilFileSlot &slot = *where.slot;
    if (image == nullptr || !fits(image, slot.info)) return DYX_BAD_ARGUMENT;
    udil::UdilCallGuard guard(slot.codec);
    const UdilEntryPoints &entry = slot.codec->entry;
    if (has_compressed(slot)) return entry.uncompress_image(slot.primary, data, size, image->data);

    // No compressed frames: read the frame from its file instead.
    int32_t file_frame = where.file_frame;
    if (!slot.container) {
        char path[DYX_UDIL_PATH_SIZE];
        if (!dyx_udil_make_filename(path, slot.name, slot.suffix, file_frame, eye)) return DYX_NAME_TOO_LONG;
        UdilMovieInfo found;
        UdilHandle reader = nullptr;
        if (udil::open_frame_reader(slot, path, found, reader) != 0) return DYX_SYSTEM_FAILED;
        if (!same_size(found, slot.info)) {
            entry.handle_destroy(&reader);
            return DYX_SYSTEM_FAILED;
        }
        if (found.pixel_format != slot.info.pixel_format || found.pixel_format != slot.reader_format) {
            // A file of another layout than the slot's handle takes.
            void *pixels = image->data;
            const bool right = eye == UDIL_EYE_RIGHT;
            const int status = read_converted(slot, reader, found, path, file_frame, eye,
                                              right ? nullptr : pixels, right ? pixels : nullptr);
            entry.handle_destroy(&reader);
            return status;
        }
        entry.handle_destroy(&reader);
        file_frame = frame_in_own_file(slot, file_frame);
        if (!open_logged(slot, path)) return DYX_SYSTEM_FAILED;
    }
    int status;
    if (slot.container && slot.eye_pair) {
        status = eye == UDIL_EYE_RIGHT
                     ? entry.get_image(slot.secondary, file_frame, UDIL_EYE_RIGHT, image->data, nullptr)
                     : entry.get_image(slot.primary, file_frame, eye, image->data, nullptr);
    } else {
        status = eye == UDIL_EYE_RIGHT
                     ? entry.get_image(slot.primary, file_frame, UDIL_EYE_RIGHT, nullptr, image->data)
                     : entry.get_image(slot.primary, file_frame, eye, image->data, nullptr);
        if (!slot.container) entry.file_close(slot.primary);
    }
    return status;
}

}  // extern "C"
