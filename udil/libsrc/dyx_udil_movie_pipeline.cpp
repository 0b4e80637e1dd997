// A movie's frames decoded ahead of the caller or encoded behind it on the
// library's worker threads (dyx_udil_pipeline.h).
//
// Writing: each appended frame (its converted, scaled buffers) goes to a
// writer thread that encodes frames in order; a numbered sequence of
// pictures from a codec safe for concurrent use is written on several
// threads at once, each frame its own file under its usual name.
//
// Reading: frames read in order are decoded ahead (a numbered sequence on
// several threads); any other frame is read at once after the frames ahead
// are dropped, so random access gives the same pixels.
//
// With one worker (dyx_parallel_threads() == 1) nothing starts and every
// frame is read and written on the calling thread.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "dyx_malloc.h"
#include "dyx_parallel.h"
#include "dyx_status.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_pipeline.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {

// What the workers of one movie read from or write to.
struct FramePipeline {
    DyxUdilPipeline *workers = nullptr;
    bool writing = false;
    // Each worker opens its own stream on the same files: a per-frame
    // stream keeps one plug-in handle that it reopens for every frame.
    bool own_streams = false;
    UdilStream *stream = nullptr;  // the movie's; used when !own_streams
    UdilMtm *mtm = nullptr;
    UdilFileSlot recipe{};    // what a worker's own stream is made from
    UdilMovieInfo info{};     // reading: the file's frames
    int32_t ahead = 0;        // reading: frames decoded ahead at most
    int32_t next_index = 0;   // reading: the next frame to decode ahead
    int32_t last_index = -2;  // reading: the frame read last
    std::mutex mutex;         // guards the two below, which the workers share
    // Writing on several workers: the frames lately written, so that the
    // files of frames after a failed one can be taken back.
    std::set<int32_t> written;
    std::vector<UdilStream *> spare_streams;  // opened for workers not yet started
    bool reading_alone = false;               // reading: the workers could not start
    pid_t owner = getpid();                   // a forked child has none of the workers
};

namespace {

struct FrameJob {
    int32_t index;  // file frame (reading) or stream frame (writing)
    int32_t eye;
    dyx_image_t *left;
    dyx_image_t *right;
};

void release_job(void *job, void *) {
    FrameJob *frame = static_cast<FrameJob *>(job);
    dyx_image_free(&frame->left);
    dyx_image_free(&frame->right);
    delete frame;
}

void close_worker_stream(void *state, void *) {
    UdilStream *stream = static_cast<UdilStream *>(state);
    dyx_udil_file_close(&stream);
}

// A worker's own stream over the files of the movie's per-frame slot.
UdilStream *open_worker_stream(const FramePipeline &pipeline) {
    const UdilFileSlot &slot = pipeline.recipe;
    if (pipeline.writing)
        return dyx_udil_file_new(slot.name, slot.codec, &slot.info, slot.option_count, slot.options);
    // The reader writes its defaults back into the options: each worker
    // hands it a copy of its own.
    UdilOption *options = nullptr;
    const int32_t capacity = slot.options != nullptr ? slot.option_count : 0;
    if (capacity > 0) {
        dyx_malloc("open_worker_stream", &options, uint64_t(capacity) * sizeof(UdilOption), __LINE__,
                   __FILE__);
        if (options == nullptr) return nullptr;
        std::memcpy(options, slot.options, size_t(capacity) * sizeof(UdilOption));
    }
    UdilMovieInfo info{};
    int32_t count = capacity, first = slot.first_frame, last = slot.last_frame;
    UdilStream *stream =
        dyx_udil_file_open(slot.name, slot.codec, &info, &count, capacity, options, &first, &last);
    if (options != nullptr) dyx_free(options, __LINE__, __FILE__);
    return stream;
}

// The stream a job uses on this worker, or null with the reason in `text`.
UdilStream *worker_stream(FramePipeline &pipeline, void **state, char *text, size_t size) {
    if (!pipeline.own_streams) return pipeline.stream;
    if (*state == nullptr) {
        std::lock_guard<std::mutex> lock(pipeline.mutex);
        if (!pipeline.spare_streams.empty()) {
            *state = pipeline.spare_streams.back();
            pipeline.spare_streams.pop_back();
        }
    }
    if (*state == nullptr) dyx_udil_copy_last_error(text, int32_t(std::min<size_t>(size, INT32_MAX)));
    return static_cast<UdilStream *>(*state);
}

int run_job(void *job, void **state, void *context, char *text, size_t size) {
    FrameJob &frame = *static_cast<FrameJob *>(job);
    FramePipeline &pipeline = *static_cast<FramePipeline *>(context);
    dyx_udil_set_err_str(nullptr);  // the reason kept must be this frame's
    int status = 0;
    if (pipeline.mtm != nullptr) {
        if (pipeline.writing) {
            status = dyx_udil_mtm_write_planar_frame(pipeline.mtm, frame.left, frame.right);
        } else {
            for (dyx_image_t *target : {frame.left, frame.right})
                if (target != nullptr) std::memset(target->data, 0, dyx_image_data_size(target));
            status = dyx_udil_mtm_read_planar_frame(pipeline.mtm, frame.index, frame.left, frame.right);
        }
    } else {
        UdilStream *stream = worker_stream(pipeline, state, text, size);
        if (stream == nullptr) return DYX_SYSTEM_FAILED;
        status = pipeline.writing
                     ? dyx_udil_save_image(stream, frame.index, frame.eye, frame.left, frame.right)
                     : dyx_udil_get_image(stream, frame.index, frame.eye, frame.left, frame.right);
    }
    if (status != 0) {
        dyx_udil_copy_last_error(text, int32_t(std::min<size_t>(size, INT32_MAX)));
    } else if (pipeline.writing && pipeline.own_streams) {
        std::lock_guard<std::mutex> lock(pipeline.mutex);
        pipeline.written.insert(frame.index);
        if (pipeline.written.size() > 256) pipeline.written.erase(pipeline.written.begin());
    }
    return status;
}

// Frames written on several workers finish in any order: when one fails,
// the files of later frames already written are removed, so that the
// files on disk are the frames before the failed one, as when written one
// by one (the caller writes the later frames again).
void take_back_frames_after(FramePipeline &pipeline, int32_t failed) {
    std::lock_guard<std::mutex> lock(pipeline.mutex);
    const UdilFileSlot &slot = pipeline.recipe;
    for (auto frame = pipeline.written.upper_bound(failed); frame != pipeline.written.end(); ++frame) {
        char path[DYX_UDIL_PATH_SIZE];
        for (int32_t eye : {UDIL_EYE_LEFT, UDIL_EYE_RIGHT})
            if (dyx_udil_make_filename(path, slot.name, slot.suffix, *frame, eye) != nullptr)
                std::remove(path);
    }
    pipeline.written.clear();
}

// A numbered sequence is read or written on at most this many threads.
constexpr int32_t kMostWorkers = 8;

// Worker count and whether each worker needs its own stream: a numbered
// sequence of one-picture files through a codec safe for concurrent use
// spreads over every worker; anything else keeps one worker in order.
void choose_workers(FramePipeline &pipeline, const DyxUdilMovie *movie, int32_t *count) {
    *count = 1;
    const UdilStream *stream = movie->internals->stream;
    if (movie->internals->mtm != nullptr || stream == nullptr || stream->file_count != 1) return;
    const UdilFileSlot &slot = stream->slots[0];
    if (slot.container || slot.codec == nullptr || !slot.codec->concurrent_use) return;
    *count = std::min(dyx_parallel_threads(), kMostWorkers);
    pipeline.own_streams = *count > 1;
    pipeline.recipe = slot;
}

// Opens every worker's own stream here, on the calling thread, so that a
// failure is the caller's to report and no worker meets it later.
bool open_spare_streams(FramePipeline &pipeline, int32_t count) {
    try {
        while (int32_t(pipeline.spare_streams.size()) < count) {
            UdilStream *stream = open_worker_stream(pipeline);
            if (stream == nullptr) return false;
            pipeline.spare_streams.push_back(stream);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void close_spare_streams(FramePipeline &pipeline) {
    for (UdilStream *stream : pipeline.spare_streams) dyx_udil_file_close(&stream);
    pipeline.spare_streams.clear();
}

// How many frames may be held at once: the workers' plus two, fewer when
// reading frames so large that they would pass the byte bound.
int32_t frames_held(const FramePipeline &pipeline, int32_t workers) {
    if (pipeline.writing) return workers + 2;
    const UdilMovieInfo &info = pipeline.info;
    const uint64_t frame_bytes = uint64_t(std::max(info.width, 0)) * uint64_t(std::max(info.height, 0)) *
                                 uint64_t(dyx_image_format_components(info.pixel_format)) *
                                 (info.stereo != 0 ? 2u : 1u);
    return read_ahead_frames(frame_bytes, workers);
}

// Starts the workers of the movie's pipeline. False when memory, a thread
// or a worker's stream cannot be had (nothing is left running).
bool start_workers(FramePipeline &pipeline, const DyxUdilMovie *movie) {
    if (pipeline.workers != nullptr) return true;
    int32_t workers = 1;
    choose_workers(pipeline, movie, &workers);
    pipeline.ahead = frames_held(pipeline, workers);
    if (pipeline.own_streams && !open_spare_streams(pipeline, workers)) {
        close_spare_streams(pipeline);
        return false;
    }
    const DyxUdilPipelineSetup setup{workers,  pipeline.ahead, pipeline.writing ? 0 : 1,
                                     run_job,  release_job,    close_worker_stream,
                                     &pipeline};
    pipeline.workers = dyx_udil_pipeline_new(&setup);
    if (pipeline.workers == nullptr) close_spare_streams(pipeline);
    return pipeline.workers != nullptr;
}

// A process forked while workers ran has the pipeline's memory but not its
// threads: waiting for them would never end, so the child leaves it alone
// and works on its own thread.
void forget_in_child(DyxUdilMovie *movie) {
    FramePipeline *&pipeline = movie->internals->pipeline;
    if (pipeline != nullptr && pipeline->owner != getpid()) pipeline = nullptr;
}

// The movie's pipeline state, made on first use when more than one worker
// is allowed; null to work on the calling thread.
FramePipeline *pipeline_of(DyxUdilMovie *movie) {
    forget_in_child(movie);
    if (movie->internals->pipeline == nullptr && movie->is_open && dyx_parallel_threads() > 1) {
        FramePipeline *pipeline = new (std::nothrow) FramePipeline;
        if (pipeline == nullptr) return nullptr;
        pipeline->writing = movie->read_mode == 0;
        pipeline->stream = movie->internals->stream;
        pipeline->mtm = movie->internals->mtm;
        pipeline->info = movie->info;
        movie->internals->pipeline = pipeline;
    }
    return movie->internals->pipeline;
}

dyx_image_t *file_frame_buffer(const UdilMovieInfo &info) {
    if (info.width < 0 || info.height < 0) return nullptr;
    return dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
}

// Queues the frames after `index` that are not yet decoded ahead.
void decode_ahead(FramePipeline &pipeline, int32_t index, int32_t end) {
    const bool stereo = pipeline.info.stereo != 0;
    pipeline.next_index = std::max(pipeline.next_index, index + 1);
    while (pipeline.next_index < end && pipeline.next_index <= index + pipeline.ahead) {
        FrameJob *job = new (std::nothrow)
            FrameJob{pipeline.next_index, stereo ? UDIL_EYE_BOTH : UDIL_EYE_MONO,
                     file_frame_buffer(pipeline.info), stereo ? file_frame_buffer(pipeline.info) : nullptr};
        if (job == nullptr) return;
        if (job->left == nullptr || (stereo && job->right == nullptr)) {
            release_job(job, nullptr);
            return;
        }
        if (dyx_udil_pipeline_submit(pipeline.workers, pipeline.next_index, job) != 0) return;
        ++pipeline.next_index;
    }
}

// Decodes the frames after `index` ahead, starting the workers when they
// are not running yet; a reader whose workers cannot start reads on alone.
void read_on_ahead(FramePipeline &pipeline, const DyxUdilMovie *movie, int32_t index, int32_t end,
                   bool same_eyes) {
    if (!same_eyes || index + 1 >= end || pipeline.reading_alone) return;
    pipeline.reading_alone = !start_workers(pipeline, movie);
    if (!pipeline.reading_alone) decode_ahead(pipeline, index, end);
}

// Decodes file frame `index` into `left` (and `right` when not null),
// buffers of the file's size and format, on the calling thread.
int read_file_frame(DyxUdilMovie *movie, int32_t index, dyx_image_t *left, dyx_image_t *right) {
    if (movie->internals->mtm != nullptr) {
        // The tiles need not cover the whole frame: what they leave out is
        // black, not whatever the heap held.
        for (dyx_image_t *target : {left, right})
            if (target != nullptr && target->data != nullptr)
                std::memset(target->data, 0, dyx_image_data_size(target));
        return dyx_udil_mtm_read_planar_frame(movie->internals->mtm, index, left, right);
    }
    return dyx_udil_get_image(movie->internals->stream, index,
                              right != nullptr ? UDIL_EYE_BOTH : UDIL_EYE_MONO, left, right);
}

dyx_image_t *copy_of(const dyx_image_t *source) {
    if (source == nullptr) return nullptr;
    dyx_image_t *copy = dyx_image_alloc(source->width, source->height, 0, source->format);
    if (copy == nullptr) return nullptr;
    const uint64_t size = std::min(dyx_image_data_size(copy), dyx_image_data_size(source));
    if (size != 0) std::memcpy(copy->data, source->data, size);
    return copy;
}

// False when memory fails (nothing is kept).
bool keep_frame(KeptFrame &kept, int32_t index, const dyx_image_t *left, const dyx_image_t *right) {
    kept.left = copy_of(left);
    kept.right = copy_of(right);
    if (kept.left == nullptr || (right != nullptr && kept.right == nullptr)) {
        dyx_image_free(&kept.left);
        dyx_image_free(&kept.right);
        return false;
    }
    kept.index = index;
    return true;
}

// Hands over the kept frame when it is file frame `index` read for the
// same eyes (a mono read of a stereo file is the plug-in's own choice).
bool take_kept_frame(KeptFrame &kept, int32_t index, bool stereo, dyx_image_t **left, dyx_image_t **right) {
    if (kept.left == nullptr || kept.index != index || (kept.right != nullptr) != stereo) return false;
    *left = kept.left;
    *right = kept.right;
    kept = KeptFrame{};
    return true;
}
}  // namespace

int32_t read_ahead_frames(uint64_t frame_bytes, int32_t workers) {
    // About this many bytes at most: a few HD frames, one 4K frame, so that
    // reading ahead costs little more memory than reading on the caller's
    // thread.
    constexpr uint64_t kReadAheadBytes = 32 * 1024 * 1024;
    const int32_t most = workers + 2;
    if (frame_bytes == 0) return most;
    const uint64_t fitting = kReadAheadBytes / frame_bytes;
    return int32_t(std::max<uint64_t>(uint64_t(workers), std::min<uint64_t>(uint64_t(most), fitting)));
}

int stop_pipeline(DyxUdilMovie *movie) {
    if (movie->internals == nullptr) return DYX_OK;
    forget_in_child(movie);
    FramePipeline *pipeline = movie->internals->pipeline;
    if (pipeline == nullptr) return DYX_OK;
    int32_t frame = 0;
    const int status = pipeline->writing ? write_behind_failure(movie, &frame, true) : DYX_OK;
    if (status != 0)
        dyx_udil_with_last_error(movie->error, sizeof movie->error, "Unable to write frame to movie file");
    dyx_udil_pipeline_free(&pipeline->workers);
    close_spare_streams(*pipeline);
    delete pipeline;
    movie->internals->pipeline = nullptr;
    return status;
}

int write_behind(DyxUdilMovie *movie) {
    if (movie->read_mode != 0) return 0;
    FramePipeline *pipeline = pipeline_of(movie);
    if (pipeline == nullptr) return 0;
    if (start_workers(*pipeline, movie)) return 1;
    char reason[DYX_UDIL_ERROR_SIZE];
    dyx_udil_copy_last_error(reason, sizeof reason);
    if (reason[0] == '\0') dyx_udil_set_err_str("Unable to start the frame writers");
    return -1;
}

int write_behind_frame(DyxUdilMovie *movie, int32_t frame, int32_t eye, dyx_image_t *left,
                       dyx_image_t *right) {
    FrameJob *job = new (std::nothrow) FrameJob{frame, eye, left, right};
    if (job == nullptr) {
        dyx_image_free(&left);
        dyx_image_free(&right);
        return DYX_NO_MEMORY;
    }
    return dyx_udil_pipeline_submit(movie->internals->pipeline->workers, frame, job);
}

int write_behind_failure(DyxUdilMovie *movie, int32_t *frame, bool wait) {
    forget_in_child(movie);
    FramePipeline *pipeline = movie->internals->pipeline;
    if (pipeline == nullptr || !pipeline->writing) return DYX_OK;
    if (wait) dyx_udil_pipeline_drain(pipeline->workers);
    int64_t number = 0;
    char text[DYX_UDIL_PIPELINE_TEXT_SIZE];
    int status = dyx_udil_pipeline_failure(pipeline->workers, &number, text, sizeof text);
    if (status == DYX_OK) return DYX_OK;
    // Frames behind the failed one are dropped, and the frames before it
    // still running may fail too: the first failure is the one reported,
    // and the caller goes on from it.
    if (!wait) {
        dyx_udil_pipeline_drain(pipeline->workers);
        int64_t earlier = 0;
        char earlier_text[DYX_UDIL_PIPELINE_TEXT_SIZE];
        const int earlier_status =
            dyx_udil_pipeline_failure(pipeline->workers, &earlier, earlier_text, sizeof earlier_text);
        if (earlier_status != 0 && earlier < number) {
            status = earlier_status;
            number = earlier;
            std::memcpy(text, earlier_text, sizeof text);
        }
    }
    if (pipeline->own_streams) take_back_frames_after(*pipeline, int32_t(number));
    *frame = int32_t(number);
    dyx_udil_set_err_str(text);
    return status;
}

void drop_kept_frame(DyxUdilMovieInternals &internals) {
    dyx_image_free(&internals.kept.left);
    dyx_image_free(&internals.kept.right);
    internals.kept.index = -1;
}

int read_ahead_frame(DyxUdilMovie *movie, int32_t index, bool stereo, dyx_image_t **left,
                     dyx_image_t **right) {
    *left = *right = nullptr;
    DyxUdilMovieInternals &internals = *movie->internals;
    FramePipeline *pipeline = movie->read_mode != 0 ? pipeline_of(movie) : nullptr;
    // Frames decoded ahead are of both eyes of a stereo file.
    const bool both_eyes = movie->info.stereo != 0;
    const int32_t end = movie->framerange[1] + 1;
    if (take_kept_frame(internals.kept, index, stereo, left, right)) {
        // The first frame read again (after a look at it): reading goes on
        // in order from here.
        if (pipeline != nullptr) {
            pipeline->last_index = index;
            read_on_ahead(*pipeline, movie, index, end, stereo == both_eyes);
        }
        return DYX_OK;
    }
    const bool first_read = !internals.read_before;
    internals.read_before = true;
    drop_kept_frame(internals);
    if (pipeline != nullptr && both_eyes == stereo && dyx_udil_pipeline_holds(pipeline->workers, index)) {
        void *taken = nullptr;
        char text[DYX_UDIL_PIPELINE_TEXT_SIZE];
        const int status = dyx_udil_pipeline_take(pipeline->workers, index, &taken, text, sizeof text);
        pipeline->last_index = index;
        decode_ahead(*pipeline, index, end);
        FrameJob *job = static_cast<FrameJob *>(taken);
        if (status != 0) {
            if (job != nullptr) release_job(job, nullptr);
            dyx_udil_set_err_str(text);
            return status;
        }
        std::swap(*left, job->left);
        std::swap(*right, job->right);
        release_job(job, nullptr);
        return DYX_OK;
    }
    // Anything else is read here, once the frames ahead (which use the
    // stream) are dropped; the next frame after it starts decoding ahead.
    const bool in_order = pipeline != nullptr && index == pipeline->last_index + 1;
    if (pipeline != nullptr) {
        dyx_udil_pipeline_discard(pipeline->workers);
        pipeline->next_index = 0;
        pipeline->last_index = index;
    }
    *left = file_frame_buffer(movie->info);
    *right = stereo ? file_frame_buffer(movie->info) : nullptr;
    if (*left == nullptr || (stereo && *right == nullptr)) {
        dyx_image_free(left);
        dyx_image_free(right);
        return DYX_NO_MEMORY;
    }
    const int status = read_file_frame(movie, index, *left, *right);
    if (status != 0) {
        dyx_image_free(left);
        dyx_image_free(right);
        return status;
    }
    // The first frame read is often a look before a transfer that starts
    // with it: a copy is kept for that one read.
    if (first_read && !keep_frame(internals.kept, index, *left, *right)) {
        dyx_image_free(left);
        dyx_image_free(right);
        return DYX_NO_MEMORY;
    }
    if (in_order) read_on_ahead(*pipeline, movie, index, end, stereo == both_eyes);
    return DYX_OK;
}

}  // namespace udil
