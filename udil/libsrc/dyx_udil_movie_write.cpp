// Movies: writing a frame (mono, stereo pair or anaglyph) now or behind
// the caller, and appending a caller's pictures.
#include <algorithm>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_status.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

// With an anaglyph the composed left buffer is the whole (mono) frame.
bool writes_both_eyes(const DyxUdilMovie *movie, const dyx_image_t *right) {
    return movie->stereo != 0 && movie->anaglyph == 0 && right != nullptr;
}

// Brings a picture (owned) to the movie's shape; false when memory fails
// (the picture is then released).
bool fit_to_movie(const DyxUdilMovie *movie, dyx_image_t **frame, int smooth) {
    const dyx_image_t *image = *frame;
    if (int64_t(image->width) == movie->width && int64_t(image->height) == movie->height &&
        image->format == movie->info.pixel_format && image->depth == 0)
        return true;
    dyx_image_t *target = alloc_frame(movie->width, movie->height, movie->info.pixel_format);
    const bool fitted = target != nullptr && fit_into(frame, target, smooth) == 0;
    dyx_image_free(frame);
    if (!fitted) dyx_image_free(&target);
    *frame = target;
    return fitted;
}

// A private copy of a picture, or null when memory fails.
dyx_image_t *copy_of(const dyx_image_t *source) {
    dyx_image_t *copy = alloc_frame(int32_t(source->width), int32_t(source->height), source->format);
    if (copy == nullptr) return nullptr;
    const uint64_t size = std::min(dyx_image_data_size(copy), dyx_image_data_size(source));
    if (size != 0) std::memcpy(copy->data, source->data, size);
    return copy;
}

}  // namespace

int movie_write_frame(DyxUdilMovie *movie, dyx_image_t *left, dyx_image_t *right) {
    const bool both_eyes = writes_both_eyes(movie, right);
    const int32_t eye = both_eyes ? UDIL_EYE_BOTH : UDIL_EYE_MONO;
    if (!both_eyes) dyx_image_free(&right);
    // The first frame is written here: a movie that cannot be written at
    // all (a missing directory, a read-only disk) fails at once.
    const int behind = movie->realframes > 0 ? write_behind(movie) : 0;
    if (behind < 0) {  // the writers could not start
        dyx_image_free(&left);
        dyx_image_free(&right);
        return DYX_NO_MEMORY;
    }
    if (behind > 0) return write_behind_frame(movie, movie->realframes, eye, left, right);
    DyxUdilMovieInternals &internals = *movie->internals;
    const int status = internals.mtm != nullptr
                           ? dyx_udil_mtm_write_planar_frame(internals.mtm, left, right)
                           : dyx_udil_save_image(internals.stream, movie->realframes, eye, left, right);
    dyx_image_free(&left);
    dyx_image_free(&right);
    return status;
}

int movie_report_unwritten(DyxUdilMovie *movie) {
    if (movie->internals == nullptr || movie->internals->pipeline == nullptr) return 0;
    int32_t frame = 0;
    const int status = write_behind_failure(movie, &frame, false);
    if (status == 0) return 0;
    movie->realframes = frame;
    movie_fail_with_reason(movie, "Unable to write frame to movie file");
    return status;
}

}  // namespace udil

extern "C" {

int dyx_udil_movie_append_image(DyxUdilMovie *movie, dyx_image_t *left, dyx_image_t *right, int32_t smooth) {
    int status = dyx_udil_movie_may_append(movie);
    if (status == 0) status = udil::movie_report_unwritten(movie);
    if (status != 0 || left == nullptr) {
        dyx_image_free(&left);
        dyx_image_free(&right);
        return status != 0 ? status : udil::movie_fail(movie, "Only one or two (stereo) images allowed");
    }
    dyx_udil_set_err_str(nullptr);
    const bool stereo = movie->stereo != 0;
    if (!stereo) dyx_image_free(&right);
    if (stereo && right == nullptr) right = udil::copy_of(left);  // one picture feeds both eyes
    bool prepared = !stereo || right != nullptr;
    if (prepared) prepared = udil::fit_to_movie(movie, &left, smooth != 0);
    if (prepared && stereo) prepared = udil::fit_to_movie(movie, &right, smooth != 0);
    if (!prepared) {
        dyx_image_free(&left);
        dyx_image_free(&right);
        return DYX_MOVIE_OUT_OF_MEMORY;
    }
    if (movie->anaglyph != 0 && dyx_image_color_components_per_pixel(right) == 3)
        dyx_image_anaglyph(left, right, movie->anaglyph);
    const int written = udil::movie_write_frame(movie, left, right);
    if (written != 0) {
        udil::movie_fail_with_reason(movie, "Unable to write frame to movie file");
        return written;
    }
    ++movie->realframes;
    return 0;
}

}  // extern "C"
