// Movies: defaults, life, the error text and the settings that have rules.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "dyx_malloc.h"
#include "dyx_string.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

// A tile count above 1 must divide its dimension (when that is known).
int32_t checked_tiles(int32_t count, int32_t dimension) {
    if (count < 1) count = 1;
    if (count > 1 && dimension > 0 && dimension % count != 0) count = 1;
    return count;
}

void check_tiling(DyxUdilMovie *movie) {
    movie->tiling[0] = checked_tiles(movie->tiling[0], movie->width);
    movie->tiling[1] = checked_tiles(movie->tiling[1], movie->height);
}

}  // namespace

int movie_fail(DyxUdilMovie *movie, const char *message) {
    dyx_strncpy(movie->error, message, sizeof movie->error);
    return DYX_MOVIE_FAILED;
}

int movie_fail_with_reason(DyxUdilMovie *movie, const char *message) {
    dyx_udil_with_last_error(movie->error, sizeof movie->error, message);
    return DYX_MOVIE_FAILED;
}

bool movie_clamp_range(DyxUdilMovie *movie) {
    int32_t &first = movie->framerange[0];
    int32_t &last = movie->framerange[1];
    if (movie->is_open) {
        const int32_t last_frame = movie->realframes - 1;
        first = std::min(std::max(first, 0), std::max(last_frame, 0));
        if (last < 0) last = last_frame;
        last = std::max(std::min(last, last_frame), first);
    }
    const int64_t frames = int64_t(last) - first + movie->repeat[0] + movie->repeat[1] + 1;
    if (frames > INT32_MAX) return false;
    movie->nframes = static_cast<int32_t>(frames);
    if (movie->is_open && movie->realframes < 1) movie->nframes = 0;
    return true;
}

int32_t movie_frame_limit(const DyxUdilMovie *movie) {
    const DyxUdilMovieInternals *internals = movie->internals;
    return internals != nullptr && internals->uncounted ? internals->frame_limit : movie->nframes;
}

}  // namespace udil

extern "C" {

void dyx_udil_movie_init(DyxUdilMovie *movie, int32_t read_mode) {
    std::memset(movie, 0, sizeof *movie);
    movie->read_mode = read_mode;
    movie->fps = -1.0f;
    movie->tiling[0] = movie->tiling[1] = 1;
    movie->framerange[0] = movie->framerange[1] = -1;
    movie->intensity[0] = movie->intensity[1] = 1.0f;
}

DyxUdilMovie *dyx_udil_movie_new(int32_t read_mode) {
    DyxUdilMovie *movie = nullptr;
    dyx_malloc("dyx_udil_movie_new", &movie, sizeof *movie, __LINE__, __FILE__);
    if (movie != nullptr) dyx_udil_movie_init(movie, read_mode);
    return movie;
}

void dyx_udil_movie_free(DyxUdilMovie **movie) {
    if (movie == nullptr || *movie == nullptr) return;
    udil::movie_release(*movie);
    dyx_free(*movie, __LINE__, __FILE__);
    *movie = nullptr;
}

const char *dyx_udil_movie_error(const DyxUdilMovie *movie) { return movie->error; }

int dyx_udil_movie_set_framerange(DyxUdilMovie *movie, int32_t first, int32_t last) {
    first = std::max(first, 0);
    last = std::max(first, last);
    if (movie->is_open) {
        const int32_t last_frame = std::max(movie->realframes - 1, 0);
        first = std::min(first, last_frame);
        last = std::min(last, last_frame);
    }
    const int64_t frames = int64_t(last) - first + movie->repeat[0] + movie->repeat[1] + 1;
    if (frames > INT32_MAX) return DYX_MOVIE_TOO_MANY_FRAMES;
    movie->framerange[0] = first;
    movie->framerange[1] = last;
    movie->nframes = static_cast<int32_t>(frames);
    if (movie->is_open && movie->realframes < 1) movie->nframes = 0;
    return 0;
}

int dyx_udil_movie_set_repeat(DyxUdilMovie *movie, int32_t first, int32_t last) {
    const int32_t saved_repeat[2] = {movie->repeat[0], movie->repeat[1]};
    const int32_t saved_range[2] = {movie->framerange[0], movie->framerange[1]};
    movie->repeat[0] = std::max(first, 0);
    movie->repeat[1] = std::max(last, 0);
    if (udil::movie_clamp_range(movie)) return 0;
    std::copy(saved_repeat, saved_repeat + 2, movie->repeat);
    std::copy(saved_range, saved_range + 2, movie->framerange);
    return DYX_MOVIE_TOO_MANY_FRAMES;
}

void dyx_udil_movie_set_dims(DyxUdilMovie *movie, int32_t width, int32_t height) {
    movie->width = std::max(width, 0);
    movie->height = std::max(height, 0);
    udil::check_tiling(movie);
}

void dyx_udil_movie_set_tiling(DyxUdilMovie *movie, int32_t across, int32_t down) {
    movie->tiling[0] = across;
    movie->tiling[1] = down;
    udil::check_tiling(movie);
}

int dyx_udil_movie_may_append(DyxUdilMovie *movie) {
    if (movie->stereo == 0) movie->anaglyph = 0;  // an anaglyph needs a stereo movie
    if (!movie->is_open) return udil::movie_fail(movie, "open() required before append()");
    if (movie->realframes >= udil::movie_frame_limit(movie))
        return udil::movie_fail(movie, "past maximum number of frames, close() required");
    return 0;
}

}  // extern "C"
