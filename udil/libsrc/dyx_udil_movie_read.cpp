// Movies: reading a frame through the frame range, repeats, flip,
// intensity ramp and anaglyph.
#include <algorithm>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_status.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

bool has_shape(const dyx_image_t *image, const FrameShape &shape) {
    return int64_t(image->width) == shape.width && int64_t(image->height) == shape.height &&
           image->format == shape.format && image->depth == 0;
}

void copy_pixels(dyx_image_t *dest, const dyx_image_t *src) {
    const uint64_t size = std::min(dyx_image_data_size(dest), dyx_image_data_size(src));
    if (size != 0) std::memcpy(dest->data, src->data, size);
}

// *target becomes the decoded buffer itself when it has the shape wanted
// (no copy), else a buffer of that shape with the decoded pixels converted
// and scaled into it. 0; DYX_MOVIE_OUT_OF_MEMORY when that buffer cannot
// be had, DYX_NO_MEMORY when the conversion fails. `*decoded` is consumed.
int in_shape(dyx_image_t **decoded, const FrameShape &shape, int smooth, dyx_image_t **target) {
    if (has_shape(*decoded, shape)) {
        *target = *decoded;
        *decoded = nullptr;
        return DYX_OK;
    }
    *target = alloc_frame(shape.width, shape.height, shape.format);
    int status = *target == nullptr ? int(DYX_MOVIE_OUT_OF_MEMORY) : fit_into(decoded, *target, smooth);
    if (status != 0) dyx_image_free(target);
    dyx_image_free(decoded);
    return status;
}

// The factor of the intensity ramp at frame k. Rounding may carry it an
// ulp outside 0..1, where clamping changes no truncated byte.
float ramp_factor(const DyxUdilMovie *movie, int32_t k) {
    const int32_t frames = movie->nframes;
    const float start = movie->intensity[0], end = movie->intensity[1];
    const float step = frames > 1 ? (end - start) / static_cast<float>(frames - 1) : 0.0f;
    const float factor = start + step * static_cast<float>(k);
    return std::min(std::max(factor, 0.0f), 1.0f);
}

// True when the codec layer gave no reason for this thread's failure.
bool no_reason() {
    char reason[DYX_UDIL_ERROR_SIZE];
    dyx_udil_copy_last_error(reason, sizeof reason);
    return reason[0] == '\0';
}

}  // namespace

dyx_image_t *alloc_frame(int32_t width, int32_t height, int32_t format) {
    if (width < 0 || height < 0) return nullptr;
    return dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 0, format);
}

int fit_into(dyx_image_t **work, dyx_image_t *dest, int smooth) {
    if (dyx_image_convert(work, dest) != 0) return DYX_NO_MEMORY;
    if (dyx_image_scale(work, dest, smooth ? DYX_SCALE_SMOOTH : 0) != 0) return DYX_NO_MEMORY;
    copy_pixels(dest, *work);
    return DYX_OK;
}

int movie_read_frame(DyxUdilMovie *movie, int32_t k, const FrameShape &shape, bool want_right,
                     int32_t anaglyph, int smooth, dyx_image_t **left, dyx_image_t **right) {
    *left = *right = nullptr;
    const bool stereo_read = want_right && movie->info.stereo != 0;
    const int32_t index =
        std::min(std::max(k - movie->repeat[0], 0) + movie->framerange[0], movie->framerange[1]);
    dyx_image_t *decoded_left = nullptr, *decoded_right = nullptr;
    const int status = read_ahead_frame(movie, index, stereo_read, &decoded_left, &decoded_right);
    if (status != 0) return status;  // the caller reports it
    int fitted = in_shape(&decoded_left, shape, smooth, left);
    if (fitted == 0 && stereo_read) fitted = in_shape(&decoded_right, shape, smooth, right);
    dyx_image_free(&decoded_right);
    if (fitted == 0 && want_right && !stereo_read) {
        // A mono file feeds both eyes.
        *right = alloc_frame(shape.width, shape.height, shape.format);
        if (*right != nullptr)
            copy_pixels(*right, *left);
        else
            fitted = DYX_MOVIE_OUT_OF_MEMORY;
    }
    if (fitted != 0) {
        dyx_image_free(left);
        dyx_image_free(right);
        return fitted;
    }

    if (movie->flip != 0) {
        dyx_image_flip(*left, static_cast<uint32_t>(movie->flip));
        if (*right != nullptr) dyx_image_flip(*right, static_cast<uint32_t>(movie->flip));
    }
    const float factor = ramp_factor(movie, k);
    if (factor != 1.0f) {
        dyx_image_intensity(*left, factor);
        if (*right != nullptr) dyx_image_intensity(*right, factor);
    }
    if (anaglyph != 0 && *right != nullptr && dyx_image_color_components_per_pixel(*right) == 3)
        dyx_image_anaglyph(*left, *right, anaglyph);
    return DYX_OK;
}

}  // namespace udil

extern "C" {

int dyx_udil_movie_read_frame(DyxUdilMovie *movie, int32_t n, dyx_image_t **left, dyx_image_t **right) {
    *left = *right = nullptr;
    if (!movie->is_open) return udil::movie_fail(movie, "open() required before getframe()");
    if (!movie->read_mode) return udil::movie_fail(movie, "getframe() not allowed on write movie");
    if (n < 0 || n >= movie->nframes) return udil::movie_fail(movie, "invalid frame number");
    dyx_udil_set_err_str(nullptr);
    // The frames come in the file's own size and format.
    const udil::FrameShape shape{movie->width, movie->height, movie->info.pixel_format};
    const int status = udil::movie_read_frame(movie, n, shape, movie->info.stereo != 0, 0, 0, left, right);
    // A frame too large for memory has no codec reason: the buffers failed.
    if (status == DYX_MOVIE_OUT_OF_MEMORY || (status == DYX_NO_MEMORY && udil::no_reason()))
        return udil::movie_fail(movie, "unable to allocate image");
    if (status != 0) return udil::movie_fail_with_reason(movie, "unable to read the requested frame");
    return 0;
}

}  // extern "C"
