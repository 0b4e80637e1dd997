// The files of a per-frame slot: readers for single files and the layout
// a sequence whose files differ in layout is read in.
#include "udil_frame_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_status.h"
#include "udil_internal.h"

namespace udil {
namespace {

constexpr UdilMovieInfo kBlankInfo = {0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};

int refuse_frame_file(const char *path, const char *why) {
    char text[DYX_UDIL_PATH_SIZE + DYX_UDIL_ERROR_SIZE + 32];
    std::snprintf(text, sizeof text, "Unable to read frame file %s: %s", path, why);
    dyx_udil_set_err_str(text);
    return DYX_SYSTEM_FAILED;
}

constexpr int32_t kColour = DYX_IMG_FMT_RGB | DYX_IMG_FMT_RGBA;
constexpr int32_t kAlpha = DYX_IMG_FMT_A | DYX_IMG_FMT_LA | DYX_IMG_FMT_RGBA;
constexpr int32_t kAnyLayout = DYX_IMG_FMT_A | DYX_IMG_FMT_L | DYX_IMG_FMT_LA | kColour;

}  // namespace

int open_frame_reader(const UdilFileSlot &slot, const char *path, UdilMovieInfo &found, UdilHandle &reader) {
    found = kBlankInfo;
    reader = nullptr;
    // A FIFO or device handed to a plug-in would block its open for ever.
    const std::string problem = input_file_problem(path);
    if (!problem.empty()) return refuse_frame_file(path, problem.c_str());
    // The file is read with the slot's reader options (a picture turned
    // the right way up has its sides swapped), on a copy: the plug-in hands
    // its defaults back into the array.
    UdilOption *scratch = nullptr;
    int32_t count = slot.option_count;
    if (count > 0) {
        scratch = copy_options("dyx_udil_get_image", slot.options, count);
        if (scratch == nullptr) return DYX_NO_MEMORY;
    }
    reader = scratch != nullptr ? create_reader(*slot.codec, path, &found, &count, count, scratch)
                                : create_reader(*slot.codec, path, &found, nullptr, 0, nullptr);
    if (scratch != nullptr) dyx_free(scratch, __LINE__, __FILE__);
    if (reader != nullptr) return DYX_OK;
    // The plug-in's reason when it keeps one; without a text of its own
    // the last error would still describe an older failure.
    set_refusal_reason(slot.codec, "");
    const char *reason = thread_last_error();
    const bool readable = access(path, R_OK) == 0;
    const char *why = reason[0] != '\0' ? reason
                      : readable        ? "not a picture this codec reads"
                                        : std::strerror(errno);
    return refuse_frame_file(path, why);
}

int32_t joined_layout(int32_t a, int32_t b) {
    if (!(a & kAnyLayout)) return b;
    if (!(b & kAnyLayout)) return a;
    const int32_t both = a | b;
    const bool alpha = (both & kAlpha) != 0;
    if (both & kColour) return alpha ? DYX_IMG_FMT_RGBA : DYX_IMG_FMT_RGB;
    if (both & (DYX_IMG_FMT_L | DYX_IMG_FMT_LA)) return alpha ? DYX_IMG_FMT_LA : DYX_IMG_FMT_L;
    return DYX_IMG_FMT_A;
}

int32_t sequence_layout(const UdilFileSlot &slot) {
    int32_t layout = slot.info.pixel_format;
    if (slot.container) return layout;
    // A file passed over here is no failure of the caller's: its reason
    // must not stay behind as the last error.
    char saved_error[DYX_UDIL_ERROR_SIZE];
    dyx_udil_copy_last_error(saved_error, sizeof saved_error);
    char path[DYX_UDIL_PATH_SIZE];
    for (int64_t frame = int64_t(slot.first_frame); frame <= slot.last_frame; ++frame) {
        if (layout == DYX_IMG_FMT_RGBA) break;  // nothing holds more
        for (int32_t eye : {UDIL_EYE_LEFT, UDIL_EYE_RIGHT}) {
            if (eye == UDIL_EYE_RIGHT && !slot.eye_pair) break;
            if (frame == slot.first_frame && eye == UDIL_EYE_LEFT) continue;  // the slot's own description
            if (!dyx_udil_make_filename(path, slot.name, "", int32_t(frame), eye)) continue;
            UdilMovieInfo found;
            UdilHandle reader = nullptr;
            if (open_frame_reader(slot, path, found, reader) != DYX_OK) continue;
            slot.codec->entry.handle_destroy(&reader);
            if (found.width == slot.info.width && found.height == slot.info.height &&
                found.depth == slot.info.depth)
                layout = joined_layout(layout, found.pixel_format);
        }
    }
    dyx_udil_set_err_str(saved_error);
    return layout;
}

}  // namespace udil
