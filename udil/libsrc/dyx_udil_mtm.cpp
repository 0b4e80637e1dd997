// Multi-Tile Movie records, the writer of the .mtm text file and the
// creation of the sub-movie files for writing.
#include "dyx_udil_mtm.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_stream.h"
#include "udil_internal.h"

namespace {

constexpr const char *kAllocWhat = "dyx_udil_mtm_alloc";
constexpr const char *kSourceName = "udil/libsrc/dyx_udil_mtm";

// The description of a sub-movie before anything is known about it.
constexpr UdilMovieInfo kBlankInfo = {0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};

void blank_movie(UdilMtmMovie &movie, int32_t slots) {
    std::memset(&movie, 0, sizeof movie);
    movie.info = kBlankInfo;
    movie.option_count = slots;
    movie.single_file = 1;
}

void release_movies(UdilMtm *mtm) {
    if (mtm->movies == nullptr) return;
    for (int32_t i = 0; i < mtm->movie_count; ++i)
        if (mtm->movies[i].options != nullptr) dyx_free(mtm->movies[i].options, __LINE__, __FILE__);
    dyx_free(mtm->movies, __LINE__, __FILE__);
    mtm->movies = nullptr;
}

// The directory part of `path` as dyx_dirname gives it.
std::string directory_of(const char *path) {
    std::string copy(path);
    return dyx_dirname(copy.data());
}

std::string last_component(const char *path) {
    std::string copy(path);
    return dyx_basename(copy.data());
}

// The name a sub-movie file is written under: relative to the MTM file when
// both lie in one directory. A relative name elsewhere is written absolute,
// because the reader resolves relative names against the MTM's directory.
std::string name_for_file(const std::string &mtm_directory, const char *file) {
    if (directory_of(file) == mtm_directory) return last_component(file);
    if (dyx_path_is_absolute(file)) return file;
    char full[DYX_UDIL_MTM_FILE_SIZE];
    if (dyx_get_full_path(file, full, sizeof full) == 0) return full;
    return file;
}

// A quoted word of the text format cannot hold a quote or a line break.
bool writable_name(const std::string &name) { return name.find_first_of("\"\r\n") == std::string::npos; }

bool write_movie_block(FILE *file, const UdilMtm &mtm, const UdilMtmMovie &movie, const std::string &name) {
    bool ok = std::fprintf(file, "movie\n") > 0;
    if (mtm.full_resolution == 1) {
        ok = ok &&
             std::fprintf(file, "  imageoffset %d %d\n", movie.image_offset[0], movie.image_offset[1]) > 0;
    } else {
        const UdilMtmPoint *corners[] = {&movie.bottom_left, &movie.bottom_right, &movie.top_left};
        const char *keywords[] = {"bottomleft", "bottomright", "topleft"};
        for (int k = 0; k < 3; ++k)
            ok = ok && std::fprintf(file, "  %s %f %f %f\n", keywords[k], corners[k]->x, corners[k]->y,
                                    corners[k]->z) > 0;
    }
    // An empty format (choose by suffix) is left out: "format" with no word
    // would swallow the next keyword when the file is read back.
    if (movie.format[0] != '\0') ok = ok && std::fprintf(file, "  format %s\n", movie.format) > 0;
    ok = ok && std::fprintf(file, "  file \"%s\"\n\n", name.c_str()) > 0;
    return ok;
}

int write_mtm_file(const char *path, const UdilMtm &mtm) {
    const std::string mtm_directory = directory_of(path);
    // Settle every name first so that a refused one leaves no half file.
    std::vector<std::string> written(size_t(mtm.movie_count > 0 ? mtm.movie_count : 0));
    for (int32_t i = 0; i < mtm.movie_count; ++i) {
        written[i] = name_for_file(mtm_directory, mtm.movies[i].file);
        if (!writable_name(written[i])) {
            dyx_udil_set_err_str("Sub movie file name holds a quote or line break");
            return DYX_BAD_ARGUMENT;
        }
    }

    if (!udil::output_file_usable(path)) return DYX_SYSTEM_FAILED;
    FILE *file = std::fopen(path, "w");
    if (file == nullptr) {
        dyx_udil_set_err_str("Unable to open .mtm file");
        return DYX_SYSTEM_FAILED;
    }
    bool ok = std::fprintf(file, "MTM 1.0\n#\n# This is a Multi-Tile Movie file.\n#\n\n") > 0;
    if (mtm.full_resolution == 1)
        ok = ok && std::fprintf(file, "fullresolution %d %d\n", mtm.full_width, mtm.full_height) > 0;
    ok = ok && std::fprintf(file, "\nnummovies %d\n\n", mtm.movie_count) > 0;
    for (int32_t i = 0; ok && i < mtm.movie_count; ++i)
        ok = write_movie_block(file, mtm, mtm.movies[i], written[i]);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        dyx_udil_set_err_str("Unable to write .mtm file");
        return DYX_SYSTEM_FAILED;
    }
    return DYX_OK;
}

// Makes the writer of one sub-movie and, for a single file, the file.
int new_movie(const UdilMtm &mtm, UdilMtmMovie &movie) {
    const char *format = movie.format[0] != '\0' ? movie.format : mtm.default_format;
    UdilRecord *codec = dyx_udil_find_by_name(format);
    if (codec == nullptr || dyx_udil_load(codec) != 0) {
        dyx_udil_set_err_str("Unable to find necessary UDIL");
        return DYX_REFUSED;
    }
    movie.codec = codec;
    udil::UdilCallGuard guard(codec);
    const UdilEntryPoints &entry = codec->entry;
    movie.handle = entry.create_writer(&movie.info, movie.option_count, movie.options);
    if (movie.handle == nullptr) {
        udil::set_refusal_reason(codec, "Unable to create UDIL handle");
        return DYX_REFUSED;
    }
    // A sub-movie named with one of the codec's suffixes keeps its name.
    const char *suffix = dyx_udil_output_suffix(
        movie.file, codec, entry.choose_suffix(&movie.info, movie.option_count, movie.options));
    const size_t length = std::strlen(movie.file) + (suffix != nullptr ? std::strlen(suffix) : 0);
    if (length >= sizeof movie.file) {
        dyx_udil_set_err_str("Sub movie file name too long");
        return DYX_REFUSED;
    }
    dyx_strncat(movie.file, suffix, sizeof movie.file);
    movie.frame_counter = 0;

    if (dyx_udil_has_wildcards(movie.file)) {
        // One file per frame, made at each write. A run of '#' asks for that
        // from any codec, even one whose files can hold many frames.
        if (entry.multi_image_capable() != 0 && !dyx_udil_has_timestep_wildcard(movie.file)) {
            dyx_udil_set_err_str("UDIL is not multi-image capable");
            return DYX_REFUSED;
        }
        movie.single_file = 0;
        return DYX_OK;
    }
    movie.single_file = 1;
    const bool usable = udil::output_file_usable(movie.file);
    if (!usable || entry.file_new(movie.handle, movie.file) != 0) {
        if (usable) dyx_udil_set_err_udil(codec, movie.handle);
        if (udil::thread_last_error()[0] == '\0') dyx_udil_set_err_str("Unable to create sub movie file");
        entry.handle_destroy(&movie.handle);
        movie.handle = nullptr;
        return DYX_REFUSED;
    }
    return DYX_OK;
}

}  // namespace

extern "C" {

UdilMtm *dyx_udil_mtm_alloc(int32_t count, int32_t slots) {
    if (count < 0 || slots < 0) {
        dyx_udil_set_err_str("Unable to allocate MTM");
        return nullptr;
    }
    UdilMtm *mtm = nullptr;
    dyx_malloc(kAllocWhat, &mtm, sizeof(UdilMtm), __LINE__, kSourceName);
    if (mtm == nullptr) {
        dyx_udil_set_err_str("Unable to allocate MTM");
        return nullptr;
    }
    std::memset(mtm, 0, sizeof *mtm);
    mtm->full_resolution = 1;
    mtm->full_width = -1;
    mtm->full_height = -1;
    if (count > 0) {
        dyx_malloc(kAllocWhat, &mtm->movies, uint64_t(count) * sizeof(UdilMtmMovie), __LINE__, kSourceName);
        if (mtm->movies == nullptr) {
            dyx_udil_set_err_str("Unable to allocate MTM movies");
            dyx_free(mtm, __LINE__, __FILE__);
            return nullptr;
        }
    }
    mtm->movie_count = count;
    for (int32_t i = 0; i < count; ++i) blank_movie(mtm->movies[i], 0);
    for (int32_t i = 0; i < count && slots > 0; ++i) {
        UdilMtmMovie &movie = mtm->movies[i];
        dyx_malloc(kAllocWhat, &movie.options, uint64_t(slots) * sizeof(UdilOption), __LINE__, kSourceName);
        if (movie.options == nullptr) {
            dyx_udil_set_err_str("Unable to allocate MTM movie options");
            dyx_udil_mtm_free(&mtm);
            return nullptr;
        }
        std::memset(movie.options, 0, size_t(slots) * sizeof(UdilOption));
        movie.option_count = slots;
    }
    return mtm;
}

void dyx_udil_mtm_free(UdilMtm **mtm) {
    if (mtm == nullptr || *mtm == nullptr) return;
    release_movies(*mtm);
    dyx_free(*mtm, __LINE__, __FILE__);
    *mtm = nullptr;
}

int dyx_udil_mtm_new(const char *path, const UdilMtm *mtm) {
    if (mtm == nullptr || path == nullptr) return DYX_REFUSED;
    try {
        return write_mtm_file(path, *mtm);
    } catch (const std::bad_alloc &) {
        dyx_udil_set_err_str("Unable to write .mtm file");
        return DYX_NO_MEMORY;
    }
}

int dyx_udil_mtm_new_movies(UdilMtm *mtm) {
    if (mtm == nullptr) return DYX_REFUSED;
    for (int32_t i = 0; i < mtm->movie_count; ++i) {
        const int result = new_movie(*mtm, mtm->movies[i]);
        if (result != 0) return result;
    }
    return DYX_OK;
}

int dyx_udil_mtm_open_streams(void) { return DYX_OK; }

char *dyx_udil_mtm_last_error(char *buffer) {
    if (buffer != nullptr) udil::copy_text(buffer, DYX_UDIL_ERROR_SIZE, udil::thread_last_error());
    return buffer;
}

}  // extern "C"
