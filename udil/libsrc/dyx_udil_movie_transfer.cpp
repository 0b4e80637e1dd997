// Movies: appending every frame of a read movie to a write movie, with the
// caller's stop check and progress callback around each frame.
#include "dyx_image.h"
#include "dyx_status.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

int interrupted(DyxUdilMovie *movie) {
    movie_fail(movie, "Operation interrupted");
    return DYX_MOVIE_STOPPED;
}

// What the caller's answer after a frame means for the transfer: 0 to go
// on, else the status it ends with.
int progress_answer(DyxUdilMovie *movie, int answer) {
    switch (answer) {
        case DYX_MOVIE_CONTINUE:
            return 0;
        case DYX_MOVIE_ABORT:
            return movie_fail(movie, "Operation aborted by user");
        case DYX_MOVIE_INTERRUPT:
            return interrupted(movie);
        default:
            return movie_fail(movie, "Unable to call object method");
    }
}

// Reads frame k of the source in the movie's shape and writes it. 0, or
// the status the transfer ends with (the error text set).
int transfer_frame(DyxUdilMovie *movie, DyxUdilMovie *source, int32_t k, int smooth) {
    const FrameShape shape{movie->width, movie->height, movie->info.pixel_format};
    dyx_image_t *left = nullptr, *right = nullptr;
    // The decoded buffers themselves go on to the writer when they already
    // have the movie's shape.
    const int read =
        movie_read_frame(source, k, shape, movie->stereo != 0, movie->anaglyph, smooth, &left, &right);
    if (read == DYX_FRAME_MISMATCH) {
        movie_fail(movie, "Mixed size images detected in movie. All images must be the same size.");
        return read;
    }
    if (read == DYX_MOVIE_OUT_OF_MEMORY) return read;
    if (read != 0) {
        movie_fail_with_reason(movie, "Unable to read frame from movie file");
        return read;
    }
    const int written = movie_write_frame(movie, left, right);
    if (written != 0) {
        movie_fail_with_reason(movie, "Unable to write frame to movie file");
        return written;
    }
    ++movie->realframes;
    return 0;
}

// The two movies of a transfer as they were opened when it started: a
// callback may close either (the script's own lock lets it) and open it
// again, on another file. Frames of one transfer never go on to another
// file, nor come from one.
struct Openings {
    uint64_t movie;
    uint64_t source;
};

// 0 while both movies are still the ones the transfer started with; else
// DYX_MOVIE_FAILED with the text left in the movie's error string (the
// frames written so far stay where they went).
int check_openings(DyxUdilMovie *movie, const DyxUdilMovie *source, const Openings &started) {
    if (movie_opening(movie) != started.movie)
        return movie_fail(
            movie, "the movie was closed or reopened during append(); the remaining frames were not written");
    if (movie_opening(source) != started.source)
        return movie_fail(movie,
                          "the appended movie was closed or reopened during append(); the remaining frames "
                          "were not written");
    return 0;
}

}  // namespace
}  // namespace udil

extern "C" {

int dyx_udil_movie_append_movie(DyxUdilMovie *movie, DyxUdilMovie *source,
                                const DyxUdilMovieTransfer *transfer) {
    const DyxUdilMovieTransfer none{};
    if (transfer == nullptr) transfer = &none;
    const int allowed = dyx_udil_movie_may_append(movie);
    if (allowed != 0) return allowed;
    dyx_udil_set_err_str(nullptr);
    if (!source->read_mode || !source->is_open)
        return udil::movie_fail(movie, "the appended movie must be readonly and open");
    if (source->nframes < 1) return DYX_MOVIE_FAILED;
    const udil::Openings started{udil::movie_opening(movie), udil::movie_opening(source)};
    for (int32_t k = 0; k < source->nframes; ++k) {
        const int unwritten = udil::movie_report_unwritten(movie);
        if (unwritten != 0) return unwritten;
        // Frames left unwritten are a loss, not a success.
        if (movie->realframes >= udil::movie_frame_limit(movie))
            return udil::movie_fail(movie, "past maximum number of frames, close() required");
        // The caller may stop the copy between frames; the frames written
        // so far stay, and close() finishes a readable file.
        if (transfer->check_stop != nullptr && transfer->check_stop(transfer->context) != 0)
            return udil::interrupted(movie);
        if (const int changed = udil::check_openings(movie, source, started)) return changed;
        const int status = udil::transfer_frame(movie, source, k, transfer->smooth);
        if (status != 0) return status;
        if (transfer->progress == nullptr) continue;
        const int answer = udil::progress_answer(movie, transfer->progress(transfer->context, k));
        if (answer != 0) return answer;
        if (const int changed = udil::check_openings(movie, source, started)) return changed;
    }
    return 0;
}

}  // extern "C"
