// Codec streams: one write movie, or up to 32 read files in a row.
#include "dyx_udil_stream.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "udil_frame_files.h"
#include "udil_internal.h"

namespace {

// The description a reader fills in.
constexpr UdilMovieInfo kBlankInfo = {0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};

bool loaded(const UdilRecord *record) { return record != nullptr && record->entry.create_reader != nullptr; }

UdilStream *new_stream(const char *what) {
    UdilStream *stream = nullptr;
    dyx_malloc(what, &stream, sizeof(UdilStream), __LINE__, __FILE__);
    if (stream != nullptr) std::memset(stream, 0, sizeof(UdilStream));
    return stream;
}

void release_options(UdilFileSlot &slot) {
    if (slot.options != nullptr) dyx_free(slot.options, __LINE__, __FILE__);
    slot.options = nullptr;
}

void destroy_handle(const UdilRecord *codec, UdilHandle &handle) {
    if (handle != nullptr && codec->entry.handle_destroy != nullptr) codec->entry.handle_destroy(&handle);
    handle = nullptr;
}

// Releases whatever a half-made write stream holds.
UdilStream *abandon(UdilStream *stream) {
    UdilFileSlot &slot = stream->slots[0];
    release_options(slot);
    destroy_handle(slot.codec, slot.secondary);
    destroy_handle(slot.codec, slot.primary);
    dyx_free(stream, __LINE__, __FILE__);
    return nullptr;
}

bool same_picture(const UdilMovieInfo &a, const UdilMovieInfo &b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           a.pixel_format == b.pixel_format;
}

// Creates `path` on `handle`; a refusal fills the last error.
bool create_file(UdilFileSlot &slot, UdilHandle handle, const char *path) {
    if (!udil::output_file_usable(path)) return false;
    if (slot.codec->entry.file_new(handle, path) == 0) return true;
    dyx_udil_set_err_udil(slot.codec, handle);
    return false;
}

bool open_file(UdilFileSlot &slot, UdilHandle handle, const char *path) {
    if (!udil::input_file_usable(path)) return false;
    if (slot.codec->entry.file_open(handle, path) == 0) return true;
    dyx_udil_set_err_udil(slot.codec, handle);
    return false;
}

// Refuses the append: destroys the slot's handles and options.
int refuse(UdilFileSlot &slot, int status) {
    destroy_handle(slot.codec, slot.secondary);
    destroy_handle(slot.codec, slot.primary);
    release_options(slot);
    return status;
}

// Keeps a copy of the reader options the caller hands in (a positive count
// of records at the head of `buffer`, at most `capacity`): every reader of
// the slot gets the same ones. False when memory fails.
bool keep_reader_options(UdilFileSlot &slot, const int32_t *count, int32_t capacity,
                         const UdilOption *buffer) {
    if (count == nullptr || buffer == nullptr || *count <= 0 || capacity <= 0) return true;
    const int32_t given = *count < capacity ? *count : capacity;
    slot.options = udil::copy_options("dyx_udil_file_append", buffer, given);
    if (slot.options == nullptr) return false;
    slot.option_count = given;
    return true;
}

// Opens the right-eye reader of a container pair (steps shared with the
// left one) with the slot's reader options; 0 or the append's status.
int open_right_reader(UdilFileSlot &slot, const UdilFileSlot *previous, const char *right_path) {
    UdilOption *scratch = nullptr;
    if (slot.option_count > 0) {
        scratch = udil::copy_options("dyx_udil_file_append", slot.options, slot.option_count);
        if (scratch == nullptr) return refuse(slot, DYX_NO_MEMORY);
    }
    if (!udil::input_file_usable(right_path)) {
        if (scratch != nullptr) dyx_free(scratch, __LINE__, __FILE__);
        return refuse(slot, DYX_REFUSED);
    }
    // The plug-in hands its defaults back into the scratch records.
    int32_t returned = slot.option_count;
    slot.secondary =
        udil::create_reader(*slot.codec, right_path, &slot.info, &returned, slot.option_count, scratch);
    if (scratch != nullptr) dyx_free(scratch, __LINE__, __FILE__);
    if (slot.secondary == nullptr) {
        udil::set_refusal_reason(slot.codec, "The codec cannot read the right-eye file");
        return refuse(slot, DYX_REFUSED);
    }
    slot.info.stereo = 1;
    if (previous != nullptr && !(same_picture(slot.info, previous->info) &&
                                 slot.eye_pair == previous->eye_pair && previous->info.stereo != 0))
        return refuse(slot, DYX_REFUSED);
    return DYX_OK;
}

}  // namespace

extern "C" {

UdilStream *dyx_udil_file_new(const char *name, UdilRecord *record, const UdilMovieInfo *info, int32_t count,
                              const UdilOption *options) {
    if (name == nullptr || info == nullptr || !loaded(record) || std::strlen(name) >= DYX_UDIL_PATH_SIZE)
        return nullptr;
    if (options == nullptr) count = 0;
    udil::UdilCallGuard guard(record);
    try {
        UdilStream *stream = new_stream("dyx_udil_file_new");
        if (stream == nullptr) return nullptr;
        UdilFileSlot &slot = stream->slots[0];
        slot.info = *info;
        slot.last_frame = info->frames - 1 < -1 ? -1 : info->frames - 1;
        slot.frame_count = info->frames;
        slot.codec = record;
        slot.option_count = count;
        if (count > 0) {
            slot.options = udil::copy_options("dyx_udil_file_new", options, count);
            if (slot.options == nullptr) return abandon(stream);
        } else {
            slot.option_count = 0;
        }
        stream->total_frames = info->frames;
        const UdilEntryPoints &entry = record->entry;
        slot.primary = entry.create_writer(&slot.info, slot.option_count, slot.options);
        if (slot.primary == nullptr) {
            char message[DYX_UDIL_ERROR_SIZE];
            dyx_snprintf(message, sizeof message, "The %s codec cannot write %s", record->name, name);
            udil::set_refusal_reason(record, message);
            return abandon(stream);
        }
        udil::copy_text(slot.name, sizeof slot.name, name);
        // A name that already ends with one of the codec's suffixes is the
        // file's name; the plug-in then picks its format from that suffix.
        udil::copy_text(slot.suffix, sizeof slot.suffix,
                        dyx_udil_output_suffix(
                            name, record, entry.choose_suffix(&slot.info, slot.option_count, slot.options)));

        if (!record->multi_image_capable || dyx_udil_has_timestep_wildcard(name)) {
            // One file per frame, named when the frame is written: a run of
            // '#' asks for that from any codec, even one whose files can
            // hold many frames.
            slot.eye_pair = std::strchr(name, '@') != nullptr;
        } else if (!dyx_udil_has_wildcards(name)) {
            char path[DYX_UDIL_PATH_SIZE];
            if (std::strlen(name) + std::strlen(slot.suffix) >= sizeof path) return abandon(stream);
            std::strcpy(path, name);
            std::strcat(path, slot.suffix);
            if (!create_file(slot, slot.primary, path)) return abandon(stream);
            slot.container = 1;
            dyx_debug("dyx_udil_file_new(): opened file %s\n", path);
        } else {
            // A container template names the two eyes (it holds no '#').
            slot.secondary = entry.create_writer(&slot.info, slot.option_count, slot.options);
            if (slot.secondary == nullptr) return abandon(stream);
            char left[DYX_UDIL_PATH_SIZE], right[DYX_UDIL_PATH_SIZE];
            if (!dyx_udil_make_filename(left, name, slot.suffix, 0, UDIL_EYE_LEFT) ||
                !dyx_udil_make_filename(right, name, slot.suffix, 0, UDIL_EYE_RIGHT))
                return abandon(stream);
            if (!create_file(slot, slot.primary, left) || !create_file(slot, slot.secondary, right))
                return abandon(stream);
            slot.container = 1;
            slot.eye_pair = 1;
        }
        stream->file_count = 1;
        return stream;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

UdilStream *dyx_udil_file_open(const char *name, UdilRecord *record, UdilMovieInfo *info, int32_t *count,
                               int32_t capacity, UdilOption *buffer, int32_t *first, int32_t *last) {
    UdilStream *stream = new_stream("dyx_udil_file_open");
    if (stream == nullptr) return nullptr;
    stream->read = 1;
    if (dyx_udil_file_append(stream, name, record, info, count, capacity, buffer, first, last) != 0) {
        dyx_free(stream, __LINE__, __FILE__);
        return nullptr;
    }
    return stream;
}

int dyx_udil_file_append(UdilStream *stream, const char *name, UdilRecord *record, UdilMovieInfo *info,
                         int32_t *count, int32_t capacity, UdilOption *buffer, int32_t *first,
                         int32_t *last) {
    if (stream == nullptr || name == nullptr || info == nullptr || first == nullptr || last == nullptr ||
        !loaded(record))
        return DYX_BAD_ARGUMENT;
    // A full stream has no room for another file: DYX_NO_MEMORY, the status
    // callers of the append have always been given for it.
    if (stream->file_count >= DYX_UDIL_MAX_FILES) return DYX_NO_MEMORY;
    if (std::strlen(name) >= DYX_UDIL_PATH_SIZE) return DYX_NAME_TOO_LONG;
    const int k = stream->file_count;
    const UdilFileSlot *previous = k > 0 ? &stream->slots[k - 1] : nullptr;

    // The slot is built aside and joins the stream only when all is well.
    UdilFileSlot slot;
    std::memset(&slot, 0, sizeof slot);
    udil::copy_text(slot.name, sizeof slot.name, name);
    slot.container = 1;
    slot.eye_pair = std::strchr(name, '@') != nullptr;
    slot.first_frame = *first;
    slot.last_frame = *last;
    slot.codec = record;
    slot.info = kBlankInfo;

    char path[DYX_UDIL_PATH_SIZE], right_path[DYX_UDIL_PATH_SIZE];
    if (dyx_udil_has_timestep_wildcard(name) || !record->multi_image_capable) {
        slot.container = 0;
        if (!dyx_udil_make_filename(path, name, "", *first, UDIL_EYE_LEFT)) return DYX_NAME_TOO_LONG;
    } else if (slot.eye_pair) {
        if (!dyx_udil_make_filename(path, name, "", *first, UDIL_EYE_LEFT)) return DYX_NAME_TOO_LONG;
    } else {
        udil::copy_text(path, sizeof path, name);
    }

    udil::UdilCallGuard guard(record);
    const UdilEntryPoints &entry = record->entry;
    // A FIFO or device handed to a plug-in would block its open for ever.
    if (!udil::input_file_usable(path)) return refuse(slot, DYX_REFUSED);
    if (!keep_reader_options(slot, count, capacity, buffer)) return DYX_NO_MEMORY;
    // With reader options the plug-in reads them from the caller's buffer
    // and hands its defaults back into it; without, it gets no records.
    int32_t returned = slot.option_count;
    slot.primary = udil::create_reader(*record, path, &slot.info, &returned, capacity,
                                       slot.option_count > 0 ? buffer : nullptr);
    if (slot.primary == nullptr) {
        // The plug-in's own reason when it keeps one; otherwise say which
        // file and codec failed so the caller's message is never empty.
        char message[DYX_UDIL_ERROR_SIZE];
        dyx_snprintf(message, sizeof message, "The %s codec cannot read %s", record->name, path);
        udil::set_refusal_reason(record, message);
        return refuse(slot, DYX_REFUSED);
    }
    if (count != nullptr) *count = returned;
    if (slot.eye_pair) slot.info.stereo = 1;
    if (previous != nullptr &&
        !(same_picture(slot.info, previous->info) && slot.info.stereo == previous->info.stereo &&
          slot.eye_pair == previous->eye_pair))
        return refuse(slot, DYX_REFUSED);

    const bool container_pair = slot.container && slot.eye_pair;
    if (container_pair) {
        if (!dyx_udil_make_filename(right_path, name, "", *first, UDIL_EYE_RIGHT))
            return refuse(slot, DYX_NAME_TOO_LONG);
        const int status = open_right_reader(slot, previous, right_path);
        if (status != 0) return status;
    }

    info->width = slot.info.width;
    info->height = slot.info.height;
    info->depth = slot.info.depth;
    info->attribute_b = slot.info.attribute_b;
    info->frame_rate = slot.info.frame_rate;
    info->pixel_format = slot.info.pixel_format;
    if (slot.container) {
        info->stereo = slot.info.stereo;
        info->frames = slot.info.frames;
        if (*last == -1) *last = slot.info.frames - 1;
        if (*first == -1) *first = 0;
    }
    slot.first_frame = *first;
    slot.last_frame = *last;
    const int64_t frames = int64_t(*last) - int64_t(*first) + 1;
    if (!slot.container) {
        info->stereo = slot.eye_pair ? 1 : slot.info.stereo;
        info->frames = int32_t(frames > INT32_MAX ? INT32_MAX : frames);
    }
    if (frames <= 0 || frames + stream->total_frames > INT32_MAX) {
        dyx_udil_set_err_str("Invalid number of frames");
        return refuse(slot, DYX_BAD_ARGUMENT);
    }
    slot.frame_count = int32_t(frames);
    slot.reader_format = slot.info.pixel_format;
    if (!slot.container && frames > 1) {
        // Files of one sequence may differ in layout (a grey frame among
        // colour ones): all are read in the layout that holds them all.
        slot.info.pixel_format = udil::sequence_layout(slot);
        info->pixel_format = slot.info.pixel_format;
    }

    if (slot.container) {
        if (!open_file(slot, slot.primary, path)) return refuse(slot, DYX_SYSTEM_FAILED);
        if (container_pair) {
            if (!open_file(slot, slot.secondary, right_path)) {
                entry.file_close(slot.primary);
                return refuse(slot, DYX_SYSTEM_FAILED);
            }
            dyx_debug("dyx_udil_file_append(): opened files %s %s\n", path, right_path);
        } else {
            dyx_debug("dyx_udil_file_append(): opened file %s\n", path);
        }
    }
    stream->slots[k] = slot;
    stream->total_frames += slot.frame_count;
    stream->file_count = k + 1;
    return DYX_OK;
}

int dyx_udil_file_close(UdilStream **stream) {
    if (stream == nullptr || *stream == nullptr) return DYX_BAD_ARGUMENT;
    UdilStream *closing = *stream;
    int result = DYX_OK;
    for (int k = 0; k < closing->file_count && k < DYX_UDIL_MAX_FILES; ++k) {
        UdilFileSlot &slot = closing->slots[k];
        udil::UdilCallGuard guard(slot.codec);
        for (UdilHandle *handle : {&slot.primary, &slot.secondary}) {
            if (*handle == nullptr) continue;
            if (slot.container && slot.codec->entry.file_close != nullptr) {
                // Closing a movie being written writes its last frames and
                // its index; when that fails (a full disk) the file is
                // damaged, and the caller must hear of it.
                const int closed = slot.codec->entry.file_close(*handle);
                if (closed != 0 && !closing->read && result == DYX_OK) {
                    dyx_udil_set_err_udil(slot.codec, *handle);
                    result = DYX_SYSTEM_FAILED;
                }
            }
            destroy_handle(slot.codec, *handle);
        }
        release_options(slot);
    }
    dyx_free(closing, __LINE__, __FILE__);
    *stream = nullptr;
    return result;
}

int32_t dyx_udil_total_frames(const UdilStream *stream) { return stream ? stream->total_frames : 0; }

}  // extern "C"
