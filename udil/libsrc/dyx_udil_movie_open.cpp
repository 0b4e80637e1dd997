// Movies: open for reading and writing (codec files, numbered sequences,
// Multi-Tile Movies) and close.
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_movie.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

// Tile records hold room for this many options at least.
constexpr int32_t kTileOptionCapacity = 20;

UdilRecord *choose_codec(const DyxUdilMovie *movie) {
    return movie->format[0] != '\0' ? dyx_udil_find_by_name(movie->format)
                                    : dyx_udil_find_by_suffix(movie->filename);
}

void take_codec(DyxUdilMovie *movie, UdilRecord *codec) {
    dyx_udil_load(codec);
    movie->internals->codec = codec;
    dyx_strncpy(movie->format, codec->name, sizeof movie->format);
}

std::atomic<uint64_t> openings{0};

// The internals of a movie being opened; freed again when the open fails.
bool make_internals(DyxUdilMovie *movie) {
    movie->internals = new (std::nothrow) DyxUdilMovieInternals;
    if (movie->internals == nullptr) return false;
    movie->internals->opening = ++openings;
    return true;
}

void drop_internals(DyxUdilMovie *movie) {
    delete movie->internals;
    movie->internals = nullptr;
}

// A failure before anything was opened: the internals go, the status stays.
int open_failed(DyxUdilMovie *movie, int status) {
    drop_internals(movie);
    return status;
}

// ---- read movies ------------------------------------------------------------

// Marks the movie open; a frame range with repeats whose count does not
// fit nframes closes it again.
int finish_read_open(DyxUdilMovie *movie) {
    movie->realframes = movie->info.frames;
    movie->width = movie->info.width;
    movie->height = movie->info.height;
    movie->stereo = movie->info.stereo;
    movie->fps = movie->info.frame_rate;
    movie->is_open = 1;
    if (movie_clamp_range(movie)) return 0;
    movie_release(movie);
    char message[DYX_MOVIE_TEXT_SIZE];
    std::snprintf(message, sizeof message, "Unable to open movie file: %s", kTooManyFrames);
    return movie_fail(movie, message);
}

int open_mtm_for_reading(DyxUdilMovie *movie) {
    const char *problem = nullptr;
    UdilMtm *mtm = dyx_udil_mtm_open(movie->filename);
    if (mtm != nullptr) {
        if (dyx_udil_mtm_open_movies(mtm) != 0)
            problem = "Unable to open MTM subfiles";
        else if (!mtm->full_resolution || mtm->movie_count < 1)
            problem = "Only planar MTM files supported";
        if (problem != nullptr) {
            dyx_udil_mtm_close(mtm);  // sub-movies opened before a failure keep handles
            dyx_udil_mtm_free(&mtm);
        }
    }
    if (mtm == nullptr && problem == nullptr)
        return open_failed(movie, movie_fail_with_reason(movie, "Unable to open MTM file"));
    if (problem != nullptr) return open_failed(movie, movie_fail_with_reason(movie, problem));
    const UdilMtmMovie &first = mtm->movies[0];
    movie->internals->mtm = mtm;
    movie->internals->codec = first.codec;
    dyx_strncpy(movie->format, first.format[0] ? first.format : (first.codec ? first.codec->name : ""),
                sizeof movie->format);
    movie->info = first.info;
    movie->info.width = mtm->full_width;
    movie->info.height = mtm->full_height;
    return finish_read_open(movie);
}

int open_for_reading(DyxUdilMovie *movie, DyxUdilWarningFunc warn, void *context) {
    if (std::strstr(movie->filename, ".mtm") != nullptr) return open_mtm_for_reading(movie);
    UdilRecord *codec = choose_codec(movie);
    if (codec == nullptr) return open_failed(movie, movie_fail(movie, "Unsupported movie file format"));
    take_codec(movie, codec);

    // A numbered sequence opens the run of files that exist, starting at
    // the frame range's first frame; its frame range then counts from the
    // first file opened (stream frame 0), so it is not applied twice.
    int32_t first = -1, last = -1;
    const bool sequence = dyx_udil_has_timestep_wildcard(movie->filename) != 0;
    if (sequence) {
        first = movie->framerange[0];
        last = movie->framerange[1];
        dyx_valid_pathname_range(movie->filename, &first, &last);
    } else if (!codec->multi_image_capable) {
        first = last = 0;
    }
    // The movie's option text holds reader options (orientation ...).
    UdilOption *buffer = nullptr;
    int32_t option_count = 0, capacity = 0;
    const int parsed =
        dyx_udil_reader_options(codec, movie->options, warn, context, &buffer, &option_count, &capacity);
    if (parsed != DYX_OK) {
        if (parsed == DYX_REFUSED) return open_failed(movie, DYX_MOVIE_STOPPED);
        return open_failed(movie, movie_fail(movie, "Unable to open movie file"));
    }
    std::memset(&movie->info, 0, sizeof movie->info);
    UdilStream *stream = dyx_udil_file_open(movie->filename, codec, &movie->info, &option_count, capacity,
                                            buffer, &first, &last);
    dyx_free(buffer, __LINE__, __FILE__);
    if (stream == nullptr)
        return open_failed(movie, movie_fail_with_reason(movie, "Unable to open movie file"));
    movie->internals->stream = stream;
    if (sequence && first > 0)
        for (int32_t &bound : movie->framerange)
            if (bound >= 0) bound = std::max(bound - first, 0);
    return finish_read_open(movie);
}

// ---- write movies -------------------------------------------------------------

// Owns the parsed option table for the length of open().
struct OptionTable {
    UdilOption *options = nullptr;
    int32_t count = 0;
    ~OptionTable() {
        if (options != nullptr) dyx_free(options, __LINE__, __FILE__);
    }
};

UdilMovieInfo write_description(const DyxUdilMovie *movie, int32_t width, int32_t height, int32_t stereo) {
    UdilMovieInfo info{};
    info.width = width;
    info.height = height;
    info.frames = movie->nframes;
    info.stereo = stereo;
    info.depth = 0;
    info.attribute_b = 0;
    info.frame_rate = movie->fps;
    info.pixel_format = DYX_IMG_FMT_RGB;
    return info;
}

// The extension of `filename` when it is one of the codec's suffixes (the
// name then is the file's own), else an empty view: tile names put their
// number before it.
std::string_view codec_extension(const char *filename, const UdilRecord *codec) {
    const std::string_view name(filename);
    std::string_view found;
    const auto consider = [&](const char *text) {
        const std::string_view suffix(text);
        if (suffix.empty() || suffix.size() > name.size() || suffix.size() <= found.size()) return;
        const std::string_view tail = name.substr(name.size() - suffix.size());
        if (strcasecmp(std::string(tail).c_str(), text) == 0) found = tail;
    };
    for (int32_t i = 0; i < codec->suffix_count && i < DYX_UDIL_MAX_SUFFIXES; ++i)
        consider(codec->suffixes[i]);
    for (int32_t i = 0; i < codec->more_suffix_count && codec->more_suffixes != nullptr; ++i)
        consider(codec->more_suffixes[i]);
    return found;
}

int create_plain(DyxUdilMovie *movie, const OptionTable &table, int32_t stereo) {
    movie->info = write_description(movie, movie->width, movie->height, stereo);
    // The stream keeps a name that ends with one of the codec's suffixes
    // and appends the codec's choice to any other.
    UdilStream *stream =
        dyx_udil_file_new(movie->filename, movie->internals->codec, &movie->info, table.count, table.options);
    if (stream == nullptr)
        return open_failed(movie, movie_fail_with_reason(movie, "Unable to create movie file"));
    movie->internals->stream = stream;
    movie->realframes = 0;
    movie->is_open = 1;
    return 0;
}

// Tiles are numbered down each column, then across the columns.
bool fill_tiles(DyxUdilMovie *movie, UdilMtm *mtm, const OptionTable &table, int32_t stereo) {
    const int32_t across = movie->tiling[0], down = movie->tiling[1];
    const int32_t tile_width = movie->width / across, tile_height = movie->height / down;
    const UdilRecord *codec = movie->internals->codec;
    // "tiles.mov" makes tiles_0000.mov ...; "tiles" makes tiles_0000 plus
    // the codec's suffix.
    const std::string_view extension = codec_extension(movie->filename, codec);
    const std::string tile_frame_part = movie_tile_frame_part(movie, codec, stereo);
    int32_t k = 0;
    for (int32_t i = 0; i < across; ++i)
        for (int32_t j = 0; j < down; ++j, ++k) {
            UdilMtmMovie &tile = mtm->movies[k];
            tile.image_offset[0] = i * tile_width;
            tile.image_offset[1] = j * tile_height;
            tile.info = write_description(movie, tile_width, tile_height, stereo);
            dyx_strncpy(tile.format, mtm->default_format, sizeof tile.format);
            if (table.count > 0)
                std::memcpy(tile.options, table.options, size_t(table.count) * sizeof(UdilOption));
            tile.option_count = table.count;
            const int written =
                std::snprintf(tile.file, sizeof tile.file, "%.*s_%04d%s%.*s",
                              int(std::strlen(movie->filename) - extension.size()), movie->filename, k,
                              tile_frame_part.c_str(), int(extension.size()), extension.data());
            if (written < 0 || size_t(written) >= sizeof tile.file) return false;
        }
    return true;
}

// Keeps the name of the description a movie without a count writes when
// it closes; false when memory fails.
bool keep_description(DyxUdilMovieInternals *internals, const char *description) {
    try {
        internals->mtm_description = description;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int create_tiled(DyxUdilMovie *movie, const OptionTable &table, int32_t stereo) {
    movie->tiling[0] = std::max(movie->tiling[0], 1);
    movie->tiling[1] = std::max(movie->tiling[1], 1);
    const int32_t slots = std::max(table.count, kTileOptionCapacity);
    UdilMtm *mtm = dyx_udil_mtm_alloc(movie->tiling[0] * movie->tiling[1], slots);
    if (mtm == nullptr) return open_failed(movie, movie_fail(movie, "Unable to allocate MTM file"));
    mtm->full_width = movie->width;
    mtm->full_height = movie->height;
    mtm->full_resolution = 1;
    dyx_strncpy(mtm->default_format, movie->format, sizeof mtm->default_format);
    char description[DYX_MOVIE_TEXT_SIZE + 8];
    std::snprintf(description, sizeof description, "%s.mtm", movie->filename);
    const char *problem = nullptr;
    if (!fill_tiles(movie, mtm, table, stereo) || dyx_udil_mtm_new_movies(mtm) != 0) {
        problem = "Unable to create MTM subfiles";
    } else if (movie->internals->uncounted) {
        // Its description is written at close, when the movie is whole.
        if (!keep_description(movie->internals, description)) problem = "Unable to allocate MTM file";
    } else if (dyx_udil_mtm_new(description, mtm) != 0) {
        problem = "Unable to create MTM file";
    }
    if (problem != nullptr) {
        dyx_udil_mtm_close(mtm);  // sub-movies made before a failure keep handles
        dyx_udil_mtm_free(&mtm);
        return open_failed(movie, movie_fail_with_reason(movie, problem));
    }
    movie->internals->mtm = mtm;
    movie->info = write_description(movie, movie->width, movie->height, stereo);
    movie->realframes = 0;
    movie->is_open = 1;
    return 0;
}

int create_written(DyxUdilMovie *movie, DyxUdilWarningFunc warn, void *context) {
    if (movie->width < 1 || movie->height < 1)
        return open_failed(movie, movie_fail(movie, "Unknown output movie dimensions"));
    if (movie->fps < 0.5f) movie->fps = 30.0f;
    UdilRecord *codec = choose_codec(movie);
    if (codec == nullptr) return open_failed(movie, movie_fail(movie, "Unable to find movie CODEC"));
    take_codec(movie, codec);
    OptionTable table;
    const int parsed =
        dyx_udil_parse_options_warned(codec, movie->options, warn, context, &table.options, &table.count);
    if (parsed != DYX_OK) {
        if (parsed == DYX_REFUSED) return open_failed(movie, DYX_MOVIE_STOPPED);  // nothing was created
        return open_failed(movie, movie_fail(movie, "Unable to create movie file"));
    }
    // An anaglyph movie is written as a mono movie.
    const int32_t stereo = movie->anaglyph != 0 ? 0 : movie->stereo;
    if (!movie_check_write_names(movie, codec, stereo)) return open_failed(movie, DYX_MOVIE_FAILED);
    if (movie->tiling[0] <= 1 && movie->tiling[1] <= 1) return create_plain(movie, table, stereo);
    return create_tiled(movie, table, stereo);
}

// A movie opened without a count is checked and described as one of a
// single frame (plug-ins do not need the count); it then takes frames up
// to what its names can number.
int open_for_writing(DyxUdilMovie *movie, DyxUdilWarningFunc warn, void *context, bool uncounted) {
    if (!uncounted) return create_written(movie, warn, context);
    movie->internals->uncounted = true;
    const int32_t announced = movie->nframes;
    movie->nframes = 1;
    const int status = create_written(movie, warn, context);
    if (status == 0) movie->internals->frame_limit = movie_frame_capacity(movie, movie->internals->codec);
    movie->nframes = announced;
    return status;
}

int open_movie(DyxUdilMovie *movie, DyxUdilWarningFunc warn, void *context, bool uncounted) {
    if (movie->is_open) return movie_fail(movie, "movie is already open");
    if (movie->filename[0] == '\0') return movie_fail(movie, "a filename must be specified");
    dyx_udil_set_err_str(nullptr);  // the reason given after a failure is this open's
    if (!make_internals(movie))
        return movie_fail(movie,
                          movie->read_mode ? "Unable to open movie file" : "Unable to create movie file");
    return movie->read_mode ? open_for_reading(movie, warn, context)
                            : open_for_writing(movie, warn, context, uncounted);
}

}  // namespace

uint64_t movie_opening(const DyxUdilMovie *movie) {
    return movie->is_open && movie->internals != nullptr ? movie->internals->opening : 0;
}

int movie_release(DyxUdilMovie *movie) {
    DyxUdilMovieInternals *internals = movie->internals;
    int status = 0;
    if (internals != nullptr) {
        stop_pipeline(movie);  // the workers let go of the stream first
        drop_kept_frame(*internals);
        if (internals->mtm != nullptr) {
            status = dyx_udil_mtm_close(internals->mtm);
            const std::string &description = internals->mtm_description;
            if (!description.empty() && dyx_udil_mtm_new(description.c_str(), internals->mtm) != 0 &&
                status == 0)
                status = DYX_SYSTEM_FAILED;
            dyx_udil_mtm_free(&internals->mtm);
        }
        if (internals->stream != nullptr) status = dyx_udil_file_close(&internals->stream);
        drop_internals(movie);
    }
    movie->is_open = 0;
    movie->realframes = 0;
    return status;
}

}  // namespace udil

extern "C" {

int dyx_udil_movie_open(DyxUdilMovie *movie, DyxUdilMovieWarningFunc warn, void *context) {
    return udil::open_movie(movie, warn, context, false);
}

int dyx_udil_movie_open_uncounted(DyxUdilMovie *movie, DyxUdilMovieWarningFunc warn, void *context) {
    return udil::open_movie(movie, warn, context, true);
}

int dyx_udil_movie_close(DyxUdilMovie *movie) {
    if (!movie->is_open) return udil::movie_fail(movie, "open() required before close()");
    dyx_udil_set_err_str(nullptr);
    // A frame written behind the caller that failed is reported here as
    // append would have reported it.
    const int unwritten = udil::stop_pipeline(movie);
    const int status = udil::movie_release(movie);
    if (unwritten != 0) return unwritten;
    if (status != 0) return udil::movie_fail_with_reason(movie, "Unable to finish movie file");
    return 0;
}

}  // extern "C"
