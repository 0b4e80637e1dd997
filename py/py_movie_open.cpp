// orvo.movie: open() for reading and writing (codec files, numbered
// sequences, Multi-Tile Movies), close(), and the option parsing of write
// movies.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "py_names.h"
#include "py_reason.h"

namespace orvo {
namespace {

// ---- read movies ------------------------------------------------------------

UdilRecord *choose_codec(const MovieObject *self) {
    return self->format[0] != '\0' ? dyx_udil_find_by_name(self->format)
                                   : dyx_udil_find_by_suffix(self->filename);
}

void take_codec(MovieObject *self, UdilRecord *codec) {
    dyx_udil_load(codec);
    self->codec = codec;
    dyx_strncpy(self->format, codec->name, sizeof self->format);
}

// Marks the movie open; a frame range with repeats whose count does not
// fit nframes closes it again.
PyObject *finish_read_open(MovieObject *self) {
    self->realframes = self->info.frames;
    self->width = self->info.width;
    self->height = self->info.height;
    self->stereo = self->info.stereo;
    self->fps = self->info.frame_rate;
    self->is_open = 1;
    if (movie_clamp_range(self)) return OrvoInt_FromLong(0);
    close_movie(self);
    char message[kMovieTextSize];
    std::snprintf(message, sizeof message, "Unable to open movie file: %s", kTooManyFrames);
    return movie_fail(self, message);
}

PyObject *open_mtm_for_reading(MovieObject *self) {
    UdilMtm *mtm;
    const char *problem = nullptr;
    {
        GilRelease released;
        mtm = dyx_udil_mtm_open(self->filename);
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
    }
    if (mtm == nullptr && problem == nullptr) return movie_fail_with_reason(self, "Unable to open MTM file");
    if (problem != nullptr) return movie_fail_with_reason(self, problem);
    const UdilMtmMovie &first = mtm->movies[0];
    self->mtm = mtm;
    self->codec = first.codec;
    dyx_strncpy(self->format, first.format[0] ? first.format : (first.codec ? first.codec->name : ""),
                sizeof self->format);
    self->info = first.info;
    self->info.width = mtm->full_width;
    self->info.height = mtm->full_height;
    return finish_read_open(self);
}

PyObject *open_for_reading(MovieObject *self) {
    if (std::strstr(self->filename, ".mtm") != nullptr) return open_mtm_for_reading(self);
    UdilRecord *codec = choose_codec(self);
    if (codec == nullptr) return movie_fail(self, "Unsupported movie file format");
    take_codec(self, codec);

    // A numbered sequence opens the run of files that exist, starting at
    // the frame range's first frame; its frame range then counts from the
    // first file opened (stream frame 0), so it is not applied twice.
    int32_t first = -1, last = -1;
    const bool sequence = dyx_udil_has_timestep_wildcard(self->filename) != 0;
    if (sequence) {
        first = self->framerange[0];
        last = self->framerange[1];
        dyx_valid_pathname_range(self->filename, &first, &last);
    } else if (!codec->multi_image_capable) {
        first = last = 0;
    }
    // The movie's option text holds reader options (orientation ...).
    UdilOption *buffer = nullptr;
    int32_t option_count = 0, capacity = 0;
    if (!make_reader_options(codec, self->options, &buffer, &option_count, &capacity)) {
        self->codec = nullptr;
        if (PyErr_Occurred()) return nullptr;
        return movie_fail(self, "Unable to open movie file");
    }
    std::memset(&self->info, 0, sizeof self->info);
    {
        GilRelease released;
        self->stream = dyx_udil_file_open(self->filename, codec, &self->info, &option_count, capacity, buffer,
                                          &first, &last);
    }
    dyx_free(buffer, __LINE__, __FILE__);
    if (self->stream == nullptr) {
        self->codec = nullptr;
        return movie_fail_with_reason(self, "Unable to open movie file");
    }
    if (sequence && first > 0)
        for (int32_t &bound : self->framerange)
            if (bound >= 0) bound = std::max(bound - first, 0);
    return finish_read_open(self);
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

UdilMovieInfo write_description(const MovieObject *self, int32_t width, int32_t height, int32_t stereo) {
    UdilMovieInfo info{};
    info.width = width;
    info.height = height;
    info.frames = self->nframes;
    info.stereo = stereo;
    info.depth = 0;
    info.attribute_b = 0;
    info.frame_rate = self->fps;
    info.pixel_format = DYX_IMG_FMT_RGB;
    return info;
}

// The extension of `filename` when it is one of the codec's suffixes (the
// name then is the file's own), else an empty view: tile names put their
// number before it.
std::string_view codec_extension(const char *filename, const UdilRecord *codec) {
    const std::string_view name(filename);
    std::string_view found;
    for (int32_t i = 0; i < codec->suffix_count && i < DYX_UDIL_MAX_SUFFIXES; ++i) {
        const std::string_view suffix(codec->suffixes[i]);
        if (suffix.empty() || suffix.size() > name.size() || suffix.size() <= found.size()) continue;
        const std::string_view tail = name.substr(name.size() - suffix.size());
        if (strcasecmp(std::string(tail).c_str(), codec->suffixes[i]) == 0) found = tail;
    }
    return found;
}

PyObject *create_plain(MovieObject *self, const OptionTable &table, int32_t stereo) {
    self->info = write_description(self, self->width, self->height, stereo);
    // The stream keeps a name that ends with one of the codec's suffixes
    // and appends the codec's choice to any other.
    {
        GilRelease released;
        self->stream =
            dyx_udil_file_new(self->filename, self->codec, &self->info, table.count, table.options);
    }
    if (self->stream == nullptr) {
        self->codec = nullptr;
        return movie_fail_with_reason(self, "Unable to create movie file");
    }
    self->realframes = 0;
    self->is_open = 1;
    return OrvoInt_FromLong(0);
}

// Tiles are numbered down each column, then across the columns.
bool fill_tiles(MovieObject *self, UdilMtm *mtm, const OptionTable &table, int32_t stereo) {
    const int32_t across = self->tiling[0], down = self->tiling[1];
    const int32_t tile_width = self->width / across, tile_height = self->height / down;
    // "tiles.mov" makes tiles_0000.mov ...; "tiles" makes tiles_0000 plus
    // the codec's suffix.
    const std::string_view extension = codec_extension(self->filename, self->codec);
    const std::string tile_frame_part = movie_tile_frame_part(self, self->codec, stereo);
    int32_t k = 0;
    for (int32_t i = 0; i < across; ++i)
        for (int32_t j = 0; j < down; ++j, ++k) {
            UdilMtmMovie &movie = mtm->movies[k];
            movie.image_offset[0] = i * tile_width;
            movie.image_offset[1] = j * tile_height;
            movie.info = write_description(self, tile_width, tile_height, stereo);
            dyx_strncpy(movie.format, mtm->default_format, sizeof movie.format);
            if (table.count > 0)
                std::memcpy(movie.options, table.options, size_t(table.count) * sizeof(UdilOption));
            movie.option_count = table.count;
            const int written =
                std::snprintf(movie.file, sizeof movie.file, "%.*s_%04d%s%.*s",
                              int(std::strlen(self->filename) - extension.size()), self->filename, k,
                              tile_frame_part.c_str(), int(extension.size()), extension.data());
            if (written < 0 || size_t(written) >= sizeof movie.file) return false;
        }
    return true;
}

PyObject *create_tiled(MovieObject *self, const OptionTable &table, int32_t stereo) {
    self->tiling[0] = std::max(self->tiling[0], 1);
    self->tiling[1] = std::max(self->tiling[1], 1);
    const int32_t slots = std::max(table.count, kMovieOptionCapacity);
    UdilMtm *mtm = dyx_udil_mtm_alloc(self->tiling[0] * self->tiling[1], slots);
    if (mtm == nullptr) return movie_fail(self, "Unable to allocate MTM file");
    mtm->full_width = self->width;
    mtm->full_height = self->height;
    mtm->full_resolution = 1;
    dyx_strncpy(mtm->default_format, self->format, sizeof mtm->default_format);
    char description[kMovieTextSize + 8];
    std::snprintf(description, sizeof description, "%s.mtm", self->filename);
    const char *problem = nullptr;
    {
        GilRelease released;
        if (!fill_tiles(self, mtm, table, stereo) || dyx_udil_mtm_new_movies(mtm) != 0)
            problem = "Unable to create MTM subfiles";
        else if (dyx_udil_mtm_new(description, mtm) != 0)
            problem = "Unable to create MTM file";
        if (problem != nullptr) {
            dyx_udil_mtm_close(mtm);  // sub-movies made before a failure keep handles
            dyx_udil_mtm_free(&mtm);
        }
    }
    if (problem != nullptr) {
        self->codec = nullptr;
        return movie_fail_with_reason(self, problem);
    }
    self->mtm = mtm;
    self->info = write_description(self, self->width, self->height, stereo);
    self->realframes = 0;
    self->is_open = 1;
    return OrvoInt_FromLong(0);
}

PyObject *open_for_writing(MovieObject *self) {
    if (self->width < 1 || self->height < 1) return movie_fail(self, "Unknown output movie dimensions");
    if (self->fps < 0.5f) self->fps = 30.0f;
    UdilRecord *codec = choose_codec(self);
    if (codec == nullptr) return movie_fail(self, "Unable to find movie CODEC");
    take_codec(self, codec);
    OptionTable table;
    if (!parse_udil_options(codec, self->options, &table.options, &table.count)) {
        self->codec = nullptr;
        if (PyErr_Occurred()) return nullptr;  // a warning made an error: nothing was created
        return movie_fail(self, "Unable to create movie file");
    }
    // An anaglyph movie is written as a mono movie.
    const int32_t stereo = self->anaglyph != 0 ? 0 : self->stereo;
    if (!movie_check_write_names(self, codec, stereo)) {
        self->codec = nullptr;
        return OrvoInt_FromLong(-1);
    }
    if (self->tiling[0] <= 1 && self->tiling[1] <= 1) return create_plain(self, table, stereo);
    return create_tiled(self, table, stereo);
}

}  // namespace

// The parser's warnings reach the script as orvo.OrvoWarning; a filter that
// makes them errors fails the call before any file is made.
bool parse_udil_options(UdilRecord *codec, const char *text, UdilOption **options, int32_t *count) {
    LoggedWarnings warnings;
    *options = dyx_udil_parse_options(codec, text, count);
    if (!warnings.deliver()) {
        if (*options != nullptr) dyx_free(*options, __LINE__, __FILE__);
        *options = nullptr;
        *count = 0;
        return false;
    }
    return *options != nullptr || codec->option_count <= 0;
}

bool make_reader_options(UdilRecord *codec, const char *text, UdilOption **buffer, int32_t *count,
                         int32_t *capacity) {
    *buffer = nullptr;
    *count = 0;
    UdilOption *parsed = nullptr;
    int32_t parsed_count = 0;
    if (text != nullptr && text[0] != '\0' && !parse_udil_options(codec, text, &parsed, &parsed_count))
        return false;
    *capacity = std::max(kMovieOptionCapacity, parsed_count);
    dyx_malloc("movie_open", buffer, uint64_t(*capacity) * sizeof(UdilOption), __LINE__, __FILE__);
    if (*buffer != nullptr && parsed_count > 0) {
        std::memcpy(*buffer, parsed, size_t(parsed_count) * sizeof(UdilOption));
        *count = parsed_count;
    }
    if (parsed != nullptr) dyx_free(parsed, __LINE__, __FILE__);
    return *buffer != nullptr;
}

int close_movie(MovieObject *movie) {
    movie_stop_pipeline(movie);  // the workers let go of the stream first
    int status = 0;
    if (movie->mtm != nullptr) {
        status = dyx_udil_mtm_close(movie->mtm);
        dyx_udil_mtm_free(&movie->mtm);
    }
    if (movie->stream != nullptr) status = dyx_udil_file_close(&movie->stream);
    movie->stream = nullptr;
    movie->mtm = nullptr;
    movie->codec = nullptr;
    movie->is_open = 0;
    movie->realframes = 0;
    return status;
}

PyObject *movie_open(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    if (!PyArg_ParseTuple(args, ":open")) return nullptr;
    if (self->is_open) return movie_fail(self, "movie is already open");
    if (self->filename[0] == '\0') return movie_fail(self, "a filename must be specified");
    reason_reset();
    return self->read_mode ? open_for_reading(self) : open_for_writing(self);
}

PyObject *movie_close(PyObject *object, PyObject *args) {
    MovieObject *self = as_movie(object);
    if (!PyArg_ParseTuple(args, ":close")) return nullptr;
    if (!self->is_open) return movie_fail(self, "open() required before close()");
    reason_reset();
    // A frame written behind the script that failed is reported here as
    // append() would have reported it.
    int unwritten, status;
    {
        // Finishing a file written behind the script can take a while.
        GilRelease released;
        unwritten = movie_stop_pipeline(self);
        status = close_movie(self);
    }
    if (unwritten != 0) return OrvoInt_FromLong(unwritten);
    if (status != 0) return movie_fail_with_reason(self, "Unable to finish movie file");
    return OrvoInt_FromLong(0);
}

}  // namespace orvo
