// Movies: frames at the file's own depth (16-bit, half and float samples)
// read through the frame range, repeats and flip, and appended as they
// are. They are read and written on the calling thread: the frames decoded
// ahead or written behind (8-bit) are settled first.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dyx_image.h"
#include "dyx_status.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace {

int64_t pixel_bytes(const UdilDeepFrame &frame) {
    const int64_t sample = frame.sample == UDIL_SAMPLE_F32 ? 4 : frame.sample == UDIL_SAMPLE_U8 ? 1 : 2;
    return sample * frame.channels;
}

uint8_t *row_of(const UdilDeepFrame &frame, int64_t y) {
    return static_cast<uint8_t *>(frame.pixels) + y * frame.stride;
}

// Mirrors a frame in place as dyx_image_flip mirrors a picture.
void flip_frame(const UdilDeepFrame &frame, int32_t flip) {
    const int64_t bytes = pixel_bytes(frame), row_bytes = bytes * frame.width;
    if (flip & DYX_FLIP_XAXIS) {
        std::vector<uint8_t> spare(static_cast<size_t>(row_bytes));
        for (int64_t top = 0, bottom = frame.height - 1; top < bottom; ++top, --bottom) {
            std::memcpy(spare.data(), row_of(frame, top), size_t(row_bytes));
            std::memcpy(row_of(frame, top), row_of(frame, bottom), size_t(row_bytes));
            std::memcpy(row_of(frame, bottom), spare.data(), size_t(row_bytes));
        }
    }
    if (flip & DYX_FLIP_YAXIS) {
        uint8_t spare[16];
        for (int64_t y = 0; y < frame.height; ++y) {
            uint8_t *row = row_of(frame, y);
            for (int64_t left = 0, right = frame.width - 1; left < right; ++left, --right) {
                std::memcpy(spare, row + left * bytes, size_t(bytes));
                std::memcpy(row + left * bytes, row + right * bytes, size_t(bytes));
                std::memcpy(row + right * bytes, spare, size_t(bytes));
            }
        }
    }
}

void copy_frame(const UdilDeepFrame &target, const UdilDeepFrame &source) {
    const int64_t row_bytes = pixel_bytes(source) * source.width;
    for (int64_t y = 0; y < source.height; ++y)
        std::memcpy(row_of(target, y), row_of(source, y), size_t(row_bytes));
}

bool same_layout(const UdilDeepFrame &a, const UdilDeepFrame &b) {
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.sample == b.sample;
}

// Frames decoded ahead and written behind use the stream: they are done
// with before a deep frame uses it.
int settle_pipeline(DyxUdilMovie *movie) {
    udil::drop_kept_frame(*movie->internals);
    return udil::stop_pipeline(movie);
}

// The file slot stream frame `index` is in; null when none is.
const UdilFileSlot *slot_of(const UdilStream *stream, int32_t index) {
    int64_t base = 0;
    for (int k = 0; k < stream->file_count && k < DYX_UDIL_MAX_FILES; ++k) {
        if (index < base + stream->slots[k].frame_count) return &stream->slots[k];
        base += stream->slots[k].frame_count;
    }
    return nullptr;
}

// The layout of file frame `index`. A per-frame file is asked on a reader
// of its own, beside the frames decoded ahead; a container file once, on
// its handle, after the frames decoded ahead are let go.
int layout_of(DyxUdilMovie *movie, int32_t index, UdilDeepFrame &layout) {
    DyxUdilMovieInternals &internals = *movie->internals;
    const UdilFileSlot *slot = slot_of(internals.stream, index);
    const bool container = slot != nullptr && slot->container;
    if (container && internals.deep_layout_slot == slot) {
        layout = internals.deep_layout;
        return 0;
    }
    if (container) settle_pipeline(movie);
    layout = UdilDeepFrame{};
    const int status = dyx_udil_get_deep(internals.stream, index, UDIL_EYE_LEFT, &layout, nullptr);
    if (status == 0 && container) {
        internals.deep_layout_slot = slot;
        internals.deep_layout = layout;
    }
    return status;
}

}  // namespace

extern "C" {

int dyx_udil_movie_read_deep(DyxUdilMovie *movie, int32_t n, UdilDeepFrame *left, UdilDeepFrame *right) {
    if (!movie->is_open) return udil::movie_fail(movie, "open() required before getframe()");
    if (!movie->read_mode) return udil::movie_fail(movie, "getframe() not allowed on write movie");
    if (n < 0 || n >= movie->nframes) return udil::movie_fail(movie, "invalid frame number");
    if (left == nullptr) return udil::movie_fail(movie, "no deep frame given");
    if (movie->internals->mtm != nullptr)
        return udil::movie_fail(movie, "deep frames are not read from Multi-Tile Movies");
    if (movie->intensity[0] != 1.0f || movie->intensity[1] != 1.0f)
        return udil::movie_fail(movie, "the intensity ramp applies to 8-bit frames only");
    dyx_udil_set_err_str(nullptr);
    const int32_t index =
        std::min(std::max(n - movie->repeat[0], 0) + movie->framerange[0], movie->framerange[1]);
    UdilStream *stream = movie->internals->stream;
    if (left->pixels == nullptr) {
        if (layout_of(movie, index, *left) != 0)
            return udil::movie_fail_with_reason(movie, "unable to read the requested frame");
        if (right != nullptr) *right = *left;
        return 0;
    }
    settle_pipeline(movie);
    const bool stereo_read = right != nullptr && movie->info.stereo != 0;
    if (right != nullptr && !same_layout(*left, *right))
        return udil::movie_fail(movie, "the two eyes' deep frames differ in layout");
    const int status = stereo_read ? dyx_udil_get_deep(stream, index, UDIL_EYE_BOTH, left, right)
                                   : dyx_udil_get_deep(stream, index, UDIL_EYE_MONO, left, nullptr);
    if (status != 0) return udil::movie_fail_with_reason(movie, "unable to read the requested frame");
    if (right != nullptr && !stereo_read) copy_frame(*right, *left);  // a mono file feeds both eyes
    if (movie->flip != 0) {
        flip_frame(*left, movie->flip);
        if (right != nullptr) flip_frame(*right, movie->flip);
    }
    return 0;
}

int dyx_udil_movie_append_deep(DyxUdilMovie *movie, const UdilDeepFrame *left, const UdilDeepFrame *right) {
    int status = dyx_udil_movie_may_append(movie);
    if (status == 0) status = udil::movie_report_unwritten(movie);
    if (status != 0) return status;
    if (left == nullptr) return udil::movie_fail(movie, "Only one or two (stereo) images allowed");
    if (movie->internals->mtm != nullptr)
        return udil::movie_fail(movie, "deep frames are not written to Multi-Tile Movies");
    if (movie->anaglyph != 0) return udil::movie_fail(movie, "anaglyphs are composed from 8-bit frames only");
    const UdilDeepFrame *frames[2] = {left, right};
    for (const UdilDeepFrame *frame : frames)
        if (frame != nullptr && (frame->width != movie->width || frame->height != movie->height)) {
            char text[128];
            std::snprintf(text, sizeof text, "deep frames are written at the movie's size, %dx%d",
                          movie->width, movie->height);
            return udil::movie_fail(movie, text);
        }
    dyx_udil_set_err_str(nullptr);
    status = settle_pipeline(movie);
    if (status != 0) return status;
    const bool stereo = movie->stereo != 0;
    if (stereo && right == nullptr) right = left;  // one picture feeds both eyes
    status =
        stereo
            ? dyx_udil_save_deep(movie->internals->stream, movie->realframes, UDIL_EYE_BOTH, left, right)
            : dyx_udil_save_deep(movie->internals->stream, movie->realframes, UDIL_EYE_MONO, left, nullptr);
    if (status != 0) {
        udil::movie_fail_with_reason(movie, "Unable to write frame to movie file");
        return status;
    }
    ++movie->realframes;
    return 0;
}

}  // extern "C"
