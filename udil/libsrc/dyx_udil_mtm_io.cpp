// Tiled frame transfer through a Multi-Tile Movie: opening and checking the
// sub-movies of a read MTM, reading a full frame tile by tile, writing a
// full frame cut into tiles, closing the sub-movies.
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "dyx_parallel.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "udil_internal.h"

namespace {

bool has_eye_wildcard(const char *name) { return std::strchr(name, '@') != nullptr; }

// Copies the plug-in's error text; a plug-in that has none still leaves a
// message behind.
void plugin_error(const UdilMtmMovie &movie, const char *fallback) {
    dyx_udil_set_err_udil(movie.codec, movie.handle);
    if (dyx_udil_get_last_error_string()[0] == '\0') dyx_udil_set_err_str(fallback);
}

int refuse(const char *message, int status = DYX_REFUSED) {
    dyx_udil_set_err_str(message);
    return status;
}

// A create function gave no handle: the plug-in's reason, else `fallback`.
int refusal(UdilRecord *codec, const char *fallback) {
    udil::set_refusal_reason(codec, fallback);
    return DYX_REFUSED;
}

// The left (or mono) and right tile buffers of one transfer, made again
// whenever a sub-movie's tile differs in size or depth flag.
class TileBuffers {
public:
    explicit TileBuffers(bool stereo) : stereo_(stereo) {}
    ~TileBuffers() { release(); }
    TileBuffers(const TileBuffers &) = delete;
    TileBuffers &operator=(const TileBuffers &) = delete;

    bool fit(const UdilMovieInfo &info) {
        if (left_ != nullptr && left_->width == uint32_t(info.width) &&
            left_->height == uint32_t(info.height) && (left_->depth != 0) == (info.depth != 0) &&
            left_->format == info.pixel_format)
            return true;
        release();
        left_ = dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), info.depth, info.pixel_format);
        if (stereo_)
            right_ =
                dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), info.depth, info.pixel_format);
        return left_ != nullptr && left_->data != nullptr &&
               (!stereo_ || (right_ != nullptr && right_->data != nullptr));
    }
    dyx_image_t *left() const { return left_; }
    dyx_image_t *right() const { return right_; }

private:
    void release() {
        dyx_image_free(&left_);
        dyx_image_free(&right_);
    }
    bool stereo_;
    dyx_image_t *left_ = nullptr;
    dyx_image_t *right_ = nullptr;
};

bool full_size(const UdilMtm &mtm, const dyx_image_t *image) {
    return int64_t(image->width) == mtm.full_width && int64_t(image->height) == mtm.full_height;
}

// 0 when the images suit the MTM's full frame, else 6; sets the eye selector.
int check_frame_images(const UdilMtm &mtm, const dyx_image_t *left, const dyx_image_t *right, int32_t &eye) {
    if (left == nullptr || left->data == nullptr || !full_size(mtm, left)) return DYX_BAD_ARGUMENT;
    if (right != nullptr && (right->data == nullptr || !full_size(mtm, right))) return DYX_BAD_ARGUMENT;
    eye = right != nullptr ? UDIL_EYE_BOTH : UDIL_EYE_MONO;
    return DYX_OK;
}

bool tile_inside(const UdilMtm &mtm, const UdilMtmMovie &movie) {
    const int64_t x = movie.image_offset[0];
    const int64_t y = movie.image_offset[1];
    return x >= 0 && y >= 0 && x + movie.info.width <= mtm.full_width &&
           y + movie.info.height <= mtm.full_height;
}

bool pixel_format_matches(const UdilMtmMovie &movie, const dyx_image_t *left, const dyx_image_t *right) {
    return movie.info.pixel_format == left->format &&
           (right == nullptr || movie.info.pixel_format == right->format);
}

// Places the tile's rows at the sub-movie's offset in the full frame.
void place_tile(const dyx_image_t *tile, dyx_image_t *frame, const int32_t offset[2]) {
    const size_t components = size_t(dyx_image_color_components_per_pixel(tile));
    const size_t tile_row = size_t(tile->width) * components;
    const size_t frame_row = size_t(frame->width) * components;
    const uint8_t *source = tile->data;
    uint8_t *target = frame->data + (size_t(offset[1]) * frame->width + size_t(offset[0])) * components;
    for (uint32_t r = 0; r < tile->height; ++r, source += tile_row, target += frame_row)
        std::memcpy(target, source, tile_row);
}

// ---- opening for reading --------------------------------------------------

int open_movie(UdilMtmMovie &movie) {
    UdilRecord *codec =
        movie.format[0] != '\0' ? dyx_udil_find_by_name(movie.format) : dyx_udil_find_by_suffix(movie.file);
    if (codec == nullptr) return refuse("Unable to find UDIL");
    if (dyx_udil_load(codec) != 0) return refuse("Unable to load UDIL");
    movie.codec = codec;
    udil::UdilCallGuard guard(codec);
    // A sub-movie chosen by its suffix names its plug-in from now on.
    if (movie.format[0] == '\0') dyx_strncpy(movie.format, codec->name, sizeof movie.format);
    const UdilEntryPoints &entry = codec->entry;

    bool stereo_pair = false;
    if (dyx_udil_has_timestep_wildcard(movie.file)) {
        int32_t first = -1;
        int32_t last = -1;
        if (dyx_valid_pathname_range(movie.file, &first, &last) != 0 || last < first)
            return refuse("Unable to find sub movie files");
        movie.single_file = 0;
        movie.first_frame = first;
        movie.frame_counter = last - first + 1;
        stereo_pair = has_eye_wildcard(movie.file);
    } else if (entry.multi_image_capable() == 0) {
        movie.single_file = 0;
        movie.first_frame = 0;
        movie.frame_counter = 1;
        stereo_pair = has_eye_wildcard(movie.file);
    } else {
        movie.single_file = 1;
    }

    const int32_t capacity = movie.options != nullptr ? movie.option_count : 0;
    if (movie.single_file) {
        if (!udil::input_file_usable(movie.file)) return DYX_REFUSED;
        movie.handle = udil::create_reader(*movie.codec, movie.file, &movie.info, &movie.option_count,
                                           capacity, movie.options);
        if (movie.handle == nullptr) return refusal(movie.codec, "Unable to create UDIL handle");
        movie.frame_counter = movie.info.frames;
        if (entry.file_open(movie.handle, movie.file) != 0) {
            plugin_error(movie, "Unable to open sub movie file");
            return DYX_REFUSED;
        }
        return DYX_OK;
    }

    char name[DYX_UDIL_PATH_SIZE];
    if (dyx_udil_make_filename(name, movie.file, "", movie.first_frame, UDIL_EYE_LEFT) == nullptr)
        return refuse("Sub movie file name too long");
    if (!udil::input_file_usable(name)) return DYX_REFUSED;
    movie.handle =
        udil::create_reader(*movie.codec, name, &movie.info, &movie.option_count, capacity, movie.options);
    if (movie.handle == nullptr) return refusal(movie.codec, "Unable to create UDIL handle");
    if (entry.file_open(movie.handle, name) != 0) {
        plugin_error(movie, "Unable to open sub movie file");
        return DYX_REFUSED;
    }
    entry.file_close(movie.handle);
    if (stereo_pair) movie.info.stereo = 1;
    movie.info.frames = movie.frame_counter;
    return DYX_OK;
}

// The sub-movie against sub-movie 0 and the full frame.
int check_movie(const UdilMtm &mtm, int32_t index) {
    const UdilMtmMovie &movie = mtm.movies[index];
    const UdilMtmMovie &first = mtm.movies[0];
    if (movie.frame_counter != first.frame_counter) return refuse("Different number of frames in sub movies");
    if (movie.info.stereo != first.info.stereo) return refuse("Different stereo settings in sub movies");
    if (movie.info.width <= 0 || movie.info.height <= 0) return refuse("Invalid tile size in sub movies");
    // Files without full resolution place tiles in space; the caller
    // refuses those for frame transfer.
    if (mtm.full_resolution == 1 && !tile_inside(mtm, movie))
        return refuse("Invalid offset values in sub movies");
    return DYX_OK;
}

// ---- reading a frame ------------------------------------------------------

// Opens the frame file `name` on the sub-movie's handle after checking that
// it holds the picture the sub-movie describes: a file of another size
// would be read past the end of the tile buffers. 0, 12 for a file that
// differs, else the plug-in's status.
int open_frame_file(UdilMtmMovie &movie, const char *name) {
    const UdilEntryPoints &entry = movie.codec->entry;
    UdilMovieInfo found = {0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
    if (!udil::input_file_usable(name)) return DYX_SYSTEM_FAILED;
    UdilHandle probe = udil::create_reader(*movie.codec, name, &found, nullptr, 0, nullptr);
    if (probe != nullptr) {
        entry.handle_destroy(&probe);
        if (found.width != movie.info.width || found.height != movie.info.height ||
            found.depth != movie.info.depth || found.pixel_format != movie.info.pixel_format)
            return refuse("Mixed size images in sub movie", DYX_FRAME_MISMATCH);
    }
    const int result = entry.file_open(movie.handle, name);
    if (result != 0) plugin_error(movie, "Unable to open sub movie file");
    return result;
}

// Reads frame `frame` of one-file-per-frame sub-movie into the tiles.
int read_frame_file(UdilMtmMovie &movie, int32_t frame, int32_t eye, TileBuffers &tiles, bool want_right) {
    const UdilEntryPoints &entry = movie.codec->entry;
    const int64_t number = int64_t(movie.first_frame) + frame;
    if (number > INT32_MAX) return refuse("Invalid frame number", DYX_BAD_ARGUMENT);
    const int32_t n = int32_t(number);
    char name[DYX_UDIL_PATH_SIZE];
    if (dyx_udil_make_filename(name, movie.file, "", n, UDIL_EYE_LEFT) == nullptr)
        return refuse("Sub movie file name too long");
    int result = open_frame_file(movie, name);
    if (result != 0) return result;
    // A multi-image codec counts the frames of each file from 0.
    const int32_t in_file = entry.multi_image_capable() != 0 ? 0 : n;
    if (entry.stereo_capable() == 0 || movie.info.stereo == 0) {
        result = entry.get_image(movie.handle, in_file, UDIL_EYE_LEFT, tiles.left()->data, nullptr);
        if (result == 0 && movie.info.stereo != 0 && want_right) {
            entry.file_close(movie.handle);
            if (dyx_udil_make_filename(name, movie.file, "", n, UDIL_EYE_RIGHT) == nullptr)
                return refuse("Sub movie file name too long");
            result = open_frame_file(movie, name);
            if (result != 0) return result;
            result = entry.get_image(movie.handle, in_file, UDIL_EYE_LEFT, tiles.right()->data, nullptr);
        }
    } else {
        void *right = want_right ? tiles.right()->data : nullptr;
        result = entry.get_image(movie.handle, in_file, eye, tiles.left()->data, right);
    }
    if (result != 0) plugin_error(movie, "Unable to read sub movie frame");
    entry.file_close(movie.handle);
    return result;
}

int read_planar_frame(UdilMtm &mtm, int32_t frame, dyx_image_t *left, dyx_image_t *right) {
    int32_t eye = UDIL_EYE_MONO;
    if (check_frame_images(mtm, left, right, eye) != 0) return DYX_BAD_ARGUMENT;
    if (frame < 0 ||
        (mtm.movie_count > 0 && mtm.movies[0].frame_counter > 0 && frame >= mtm.movies[0].frame_counter))
        return refuse("Frame outside the sub movies", DYX_BAD_ARGUMENT);
    if (mtm.movie_count <= 0) return DYX_OK;
    TileBuffers tiles(right != nullptr);
    if (!tiles.fit(mtm.movies[0].info)) return refuse("Unable to allocate image buffer");

    int first_failure = 0;
    for (int32_t i = 0; i < mtm.movie_count; ++i) {
        UdilMtmMovie &movie = mtm.movies[i];
        if (movie.handle == nullptr) return refuse("Sub movie not open");
        if (eye == UDIL_EYE_BOTH && movie.info.stereo == 0)
            return refuse("Invalid stereo/input image option");
        if (!pixel_format_matches(movie, left, right)) return refuse("Invalid input pixel format");
        if (!tile_inside(mtm, movie)) return refuse("Invalid offset values in sub movies");
        if (!tiles.fit(movie.info)) return refuse("Unable to allocate image buffer");

        const bool want_right = right != nullptr && movie.info.stereo != 0;
        udil::UdilCallGuard guard(movie.codec);
        int result;
        if (movie.single_file) {
            result = movie.codec->entry.get_image(movie.handle, frame, eye, tiles.left()->data,
                                                  want_right ? tiles.right()->data : nullptr);
            if (result != 0) plugin_error(movie, "Unable to read sub movie frame");
        } else {
            result = read_frame_file(movie, frame, eye, tiles, want_right);
        }
        // A failed tile leaves its part of the frame alone and the others
        // are still read; the first failure is the result.
        if (result != 0) {
            if (first_failure == 0) first_failure = result;
            continue;
        }
        place_tile(tiles.left(), left, movie.image_offset);
        if (right != nullptr) place_tile(tiles.right(), right, movie.image_offset);
    }
    return first_failure;
}

// ---- writing a frame ------------------------------------------------------

int write_frame_file(UdilMtmMovie &movie, int32_t eye, TileBuffers &tiles, bool with_right) {
    const UdilEntryPoints &entry = movie.codec->entry;
    const int32_t n = movie.frame_counter;
    char name[DYX_UDIL_PATH_SIZE];
    if (dyx_udil_make_filename(name, movie.file, "", n, UDIL_EYE_LEFT) == nullptr)
        return refuse("Sub movie file name too long");
    if (!udil::output_file_usable(name)) return DYX_SYSTEM_FAILED;
    int result = entry.file_new(movie.handle, name);
    if (result != 0) {
        plugin_error(movie, "Unable to create sub movie file");
        return result;
    }
    // A multi-image codec counts the frames of each file from 0.
    const int32_t in_file = entry.multi_image_capable() != 0 ? 0 : n;
    if (entry.stereo_capable() == 0 || movie.info.stereo == 0) {
        result = entry.save_image(movie.handle, in_file, UDIL_EYE_LEFT, tiles.left()->data, nullptr);
        if (result == 0 && movie.info.stereo != 0 && with_right) {
            result = entry.file_close(movie.handle);
            if (result != 0) {
                plugin_error(movie, "Unable to write sub movie frame");
                return result;
            }
            if (dyx_udil_make_filename(name, movie.file, "", n, UDIL_EYE_RIGHT) == nullptr)
                return refuse("Sub movie file name too long");
            if (!udil::output_file_usable(name)) return DYX_SYSTEM_FAILED;
            result = entry.file_new(movie.handle, name);
            if (result != 0) {
                plugin_error(movie, "Unable to create sub movie file");
                return result;
            }
            result = entry.save_image(movie.handle, in_file, UDIL_EYE_LEFT, tiles.right()->data, nullptr);
        }
    } else {
        result = entry.save_image(movie.handle, in_file, eye, tiles.left()->data,
                                  with_right ? tiles.right()->data : nullptr);
    }
    if (result != 0) plugin_error(movie, "Unable to write sub movie frame");
    const int closed = entry.file_close(movie.handle);
    if (result == 0 && closed != 0) {
        plugin_error(movie, "Unable to write sub movie frame");
        result = closed;
    }
    return result;
}

// 0 when tile `i` can take its part of the frame, else the refusal.
int check_tile(UdilMtmMovie &movie, int32_t eye, const dyx_image_t *left, const dyx_image_t *right) {
    if (movie.handle == nullptr) return refuse("Sub movie not open");
    if ((movie.info.stereo != 0) != (eye == UDIL_EYE_BOTH))
        return refuse("Stereo/input image mismatch", DYX_BAD_ARGUMENT);
    if (!pixel_format_matches(movie, left, right)) return refuse("Incorrect image pixel format");
    return DYX_OK;
}

// The refusal of the tile after the ready ones, its reason set again (the
// tiles written meanwhile may have changed the last error); 0 when every
// tile was ready.
int refusal_after(UdilMtm &mtm, int32_t ready, int32_t eye, const dyx_image_t *left,
                  const dyx_image_t *right) {
    return ready < mtm.movie_count ? check_tile(mtm.movies[ready], eye, left, right) : DYX_OK;
}

// Cuts one tile out of the frame and writes it to its sub-movie.
int write_tile(UdilMtmMovie &movie, int32_t eye, TileBuffers &tiles, const dyx_image_t *left,
               const dyx_image_t *right) {
    if (!tiles.fit(movie.info)) return refuse("Unable to allocate buffer memory");
    int result = dyx_image_subrect(left, tiles.left(), movie.image_offset[0], movie.image_offset[1]);
    if (result == 0 && right != nullptr)
        result = dyx_image_subrect(right, tiles.right(), movie.image_offset[0], movie.image_offset[1]);
    if (result != 0) return refuse("Unable to cut tile from image", result);

    udil::UdilCallGuard guard(movie.codec);
    const bool with_right = right != nullptr && movie.info.stereo != 0;
    if (!movie.single_file) return write_frame_file(movie, eye, tiles, with_right);
    result = movie.codec->entry.save_image(movie.handle, movie.frame_counter, eye, tiles.left()->data,
                                           with_right ? tiles.right()->data : nullptr);
    if (result != 0) plugin_error(movie, "Unable to write sub movie frame");
    return result;
}

// The tiles of one frame written side by side: each band of tiles has
// its own buffers; each tile keeps its status and the reason it failed.
struct TileJob {
    UdilMtm *mtm;
    const dyx_image_t *left;
    const dyx_image_t *right;
    int32_t eye;
    std::vector<int> status;
    std::vector<std::array<char, DYX_UDIL_ERROR_SIZE>> reason;
};

void write_tile_band(int64_t first, int64_t end, void *context) {
    TileJob &job = *static_cast<TileJob *>(context);
    TileBuffers tiles(job.right != nullptr);
    for (int64_t i = first; i < end; ++i) {
        job.status[size_t(i)] = write_tile(job.mtm->movies[i], job.eye, tiles, job.left, job.right);
        if (job.status[size_t(i)] != 0)
            dyx_udil_copy_last_error(job.reason[size_t(i)].data(), DYX_UDIL_ERROR_SIZE);
    }
}

// Tiles go to several workers when there are workers to spare and every
// sub-movie's plug-in may be used from several threads at once.
bool tiles_side_by_side(const UdilMtm &mtm, int32_t count) {
    if (count < 2 || dyx_parallel_threads() < 2) return false;
    for (int32_t i = 0; i < count; ++i)
        if (mtm.movies[i].codec == nullptr || !mtm.movies[i].codec->concurrent_use) return false;
    return true;
}

int write_planar_frame(UdilMtm &mtm, const dyx_image_t *left, const dyx_image_t *right) {
    int32_t eye = UDIL_EYE_MONO;
    if (check_frame_images(mtm, left, right, eye) != 0) return DYX_BAD_ARGUMENT;
    if (mtm.movie_count <= 0) return DYX_OK;
    // The tiles before the first one refused are written, as one by one.
    int32_t ready = 0;
    while (ready < mtm.movie_count && check_tile(mtm.movies[ready], eye, left, right) == DYX_OK) ++ready;
    if (!tiles_side_by_side(mtm, ready)) {
        TileBuffers tiles(right != nullptr);
        for (int32_t i = 0; i < ready; ++i) {
            const int result = write_tile(mtm.movies[i], eye, tiles, left, right);
            if (result != 0) return result;
            ++mtm.movies[i].frame_counter;
        }
        return refusal_after(mtm, ready, eye, left, right);
    }
    try {
        TileJob job{&mtm,
                    left,
                    right,
                    eye,
                    std::vector<int>(size_t(ready), 0),
                    std::vector<std::array<char, DYX_UDIL_ERROR_SIZE>>(size_t(ready))};
        dyx_parallel_rows(ready, 1, write_tile_band, &job);
        int first_failure = DYX_OK;
        for (int32_t i = 0; i < ready; ++i) {
            if (job.status[size_t(i)] == 0) {
                ++mtm.movies[i].frame_counter;
            } else if (first_failure == DYX_OK) {
                first_failure = job.status[size_t(i)];
                dyx_udil_set_err_str(job.reason[size_t(i)].data());
            }
        }
        return first_failure != DYX_OK ? first_failure : refusal_after(mtm, ready, eye, left, right);
    } catch (const std::bad_alloc &) {
        return refuse("Unable to allocate buffer memory");
    }
}

}  // namespace

extern "C" {

int dyx_udil_mtm_open_movies(UdilMtm *mtm) {
    if (mtm == nullptr) return DYX_REFUSED;
    for (int32_t i = 0; i < mtm->movie_count; ++i) {
        if (open_movie(mtm->movies[i]) != 0) return DYX_REFUSED;
        if (check_movie(*mtm, i) != 0) return DYX_REFUSED;
    }
    return DYX_OK;
}

int dyx_udil_mtm_read_planar_frame(UdilMtm *mtm, int32_t frame, dyx_image_t *left, dyx_image_t *right) {
    if (mtm == nullptr) return DYX_BAD_ARGUMENT;
    return read_planar_frame(*mtm, frame, left, right);
}

int dyx_udil_mtm_write_planar_frame(UdilMtm *mtm, const dyx_image_t *left, const dyx_image_t *right) {
    if (mtm == nullptr) return DYX_BAD_ARGUMENT;
    return write_planar_frame(*mtm, left, right);
}

int dyx_udil_mtm_close(UdilMtm *mtm) {
    if (mtm == nullptr) return DYX_OK;
    int status = DYX_OK;
    for (int32_t i = 0; i < mtm->movie_count; ++i) {
        UdilMtmMovie &movie = mtm->movies[i];
        if (movie.handle == nullptr || movie.codec == nullptr) continue;
        udil::UdilCallGuard guard(movie.codec);
        // One-file-per-frame sub-movies close each file after its frame. A
        // movie file that cannot be finished (a full disk) is damaged, and
        // the caller must hear of it.
        if (movie.single_file && movie.codec->entry.file_close(movie.handle) != 0 && status == 0) {
            dyx_udil_set_err_udil(movie.codec, movie.handle);
            status = DYX_SYSTEM_FAILED;
        }
        movie.codec->entry.handle_destroy(&movie.handle);
        movie.handle = nullptr;
    }
    return status;
}

}  // extern "C"
