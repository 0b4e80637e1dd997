// Reader of the .mtm text file: header line, top-level keywords, the
// sub-movie blocks, and resolution of the sub-movie names against the
// file's directory.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "dyx_lex.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"
#include "udil_internal.h"

namespace {

constexpr uint32_t kWordMode = DYX_LEX_STRING | DYX_LEX_QUOTED;

int fail(const char *message) {
    dyx_udil_set_err_str(message);
    return DYX_SYSTEM_FAILED;
}

// Owns the open file and its lexer for the length of one read.
struct MtmInput {
    FILE *file = nullptr;
    dyx_lex_t *lexer = nullptr;
    ~MtmInput() {
        dyx_lex_close(lexer);
        if (file != nullptr) std::fclose(file);
    }
};

// The next word, passing over ';' (which ends nothing in this format).
// False at the end of the file.
bool next_word(dyx_lex_t *lexer, uint32_t mode, dyx_lex_word_t &word) {
    for (;;) {
        const int result = dyx_lex_get_word(lexer, mode, &word);
        if (result == DYX_LEX_WORD) return true;
        if (result != DYX_LEX_END_OF_COMMAND) return false;
    }
}

bool is(const dyx_lex_word_t &word, const char *keyword) { return std::strcmp(word.text, keyword) == 0; }

// Reads the first line (at most 255 characters; the rest of a longer line
// is dropped) and checks "MTM 1.0".
int check_header(FILE *file) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, file) == nullptr) return fail("File is not an MTM file");
    if (std::strchr(line, '\n') == nullptr) {
        int c;
        while ((c = std::fgetc(file)) != EOF && c != '\n') {
        }
    }
    float version = 0.0f;
    if (std::sscanf(line, "MTM %f", &version) != 1) return fail("File is not an MTM file");
    if (!(version == 1.0f)) return fail("Wrong MTM file version");
    return DYX_OK;
}

// Three coordinates of a corner. A number too large for a float reads as
// infinity, which places no tile and could not be written back: refused.
bool parse_point(dyx_lex_t *lexer, UdilMtmPoint &point) {
    return dyx_parse_3floats(lexer, &point.x, &point.y, &point.z) == 0 && std::isfinite(point.x) &&
           std::isfinite(point.y) && std::isfinite(point.z);
}

int parse_corners(dyx_lex_t *lexer, UdilMtmMovie &movie) {
    dyx_lex_word_t word;
    if (!parse_point(lexer, movie.bottom_left)) return fail("Unable to parse bottomleft");
    if (!next_word(lexer, kWordMode, word)) return fail("Unexpected end of file");
    if (!is(word, "bottomright")) return fail("Unable to find bottomright");
    if (!parse_point(lexer, movie.bottom_right)) return fail("Unable to parse bottomright");
    if (!next_word(lexer, kWordMode, word)) return fail("Unexpected end of file");
    if (!is(word, "topleft")) return fail("Unable to find topleft");
    if (!parse_point(lexer, movie.top_left)) return fail("Unable to parse topleft");
    return DYX_OK;
}

// One keyword of a sub-movie block (the word already read).
int parse_movie_keyword(dyx_lex_t *lexer, const dyx_lex_word_t &keyword, UdilMtmMovie &movie) {
    dyx_lex_word_t word;
    if (is(keyword, "bottomleft")) return parse_corners(lexer, movie);
    if (is(keyword, "imageoffset")) {
        if (dyx_parse_3ints(lexer, &movie.image_offset[0], &movie.image_offset[1], nullptr) != 0)
            return fail("Unable to parse timageoffset");
        return DYX_OK;
    }
    if (is(keyword, "format")) {
        if (!next_word(lexer, kWordMode, word) || !(word.flags & DYX_LEX_STRING))
            return fail("Unable to parse movie format");
        udil::copy_text(movie.format, sizeof movie.format, word.text);
        return DYX_OK;
    }
    if (is(keyword, "file")) {
        if (!next_word(lexer, kWordMode, word) || !(word.flags & DYX_LEX_STRING))
            return fail("Unable to parse file");
        udil::copy_text(movie.file, sizeof movie.file, word.text);
        return DYX_OK;
    }
    return fail("Unexpected word encountered");
}

// Parses the sub-movie blocks from block `index` to the end of the file
// (the `movie` word of block `index` already read). Each further `movie`
// starts the next block; one more block than the record holds is refused
// rather than written past the sub-movie array. 0 or 7.
int parse_movie(dyx_lex_t *lexer, UdilMtm *mtm, int32_t index) {
    dyx_lex_word_t word;
    for (;;) {
        if (index >= mtm->movie_count) return fail("More movie blocks than nummovies");
        UdilMtmMovie &movie = mtm->movies[index];
        bool next_block = false;
        while (!next_block) {
            if (!next_word(lexer, kWordMode, word)) {
                if (index + 1 < mtm->movie_count) return fail("Fewer movie blocks than nummovies");
                return DYX_OK;
            }
            if (is(word, "movie")) {
                next_block = true;
            } else {
                const int result = parse_movie_keyword(lexer, word, movie);
                if (result != 0) return result;
            }
        }
        ++index;
    }
}

// The sub-movie's name as a path: '~' from the home directory, names
// beginning with '.' or '/' or a drive letter as written, any other name
// below the MTM file's directory. False when the result does not fit.
bool resolve_name(UdilMtmMovie &movie, const std::string &base_directory) {
    const char *name = movie.file;
    char resolved[DYX_UDIL_MTM_FILE_SIZE];
    if (name[0] == '.' || name[0] == '/' || (name[0] != '\0' && name[1] == ':')) return true;
    if (name[0] == '~') {
        // "~/x" and "~user/x" alike; an unknown user keeps the name, whose
        // open then reports it.
        const int result = dyx_expand_pathname(name, resolved, sizeof resolved);
        if (result == DYX_BAD_ARGUMENT) return false;
        if (result == DYX_OK) udil::copy_text(movie.file, sizeof movie.file, resolved);
        return true;
    }
    const int length = std::snprintf(resolved, sizeof resolved, "%s/%s", base_directory.c_str(), name);
    if (length < 0 || size_t(length) >= sizeof resolved) return false;
    udil::copy_text(movie.file, sizeof movie.file, resolved);
    return true;
}

std::string base_directory_of(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    return std::string(path, size_t(slash - path) + 1);
}

// The top level of the file up to the first `movie`; then the blocks.
int parse_top_level(dyx_lex_t *lexer, UdilMtm **result) {
    dyx_lex_word_t word;
    int32_t movie_count = 0;
    int32_t full_width = -1;
    int32_t full_height = -1;
    char default_format[DYX_UDIL_MTM_FORMAT_SIZE] = {};
    while (next_word(lexer, kWordMode, word)) {
        if (is(word, "defaultformat")) {
            if (!next_word(lexer, kWordMode, word) || !(word.flags & (DYX_LEX_STRING | DYX_LEX_QUOTED)))
                return fail("Unable to parse defaultformat");
            udil::copy_text(default_format, sizeof default_format, word.text);
        } else if (is(word, "fullresolution")) {
            if (dyx_parse_3ints(lexer, &full_width, &full_height, nullptr) != 0)
                return fail("Unable to parse fullresolution");
        } else if (is(word, "nummovies")) {
            if (!next_word(lexer, kWordMode | DYX_LEX_INT, word) || !(word.flags & DYX_LEX_INT))
                return fail("Unable to parse nummovies");
            movie_count = word.int_value;
            if (movie_count > DYX_UDIL_MTM_MAX_MOVIES) return fail("Nummovies above 4096 not supported");
        } else if (is(word, "movie")) {
            if (movie_count < 1) return fail("Nummovies < 1 before first movie");
            UdilMtm *mtm = dyx_udil_mtm_alloc(movie_count, 32);
            if (mtm == nullptr) return fail("Error allocating mtm");
            udil::copy_text(mtm->default_format, sizeof mtm->default_format, default_format);
            if (full_width > 0) {
                mtm->full_resolution = 1;
                mtm->full_width = full_width;
                mtm->full_height = full_height;
            } else {
                mtm->full_resolution = 0;
            }
            const int status = parse_movie(lexer, mtm, 0);
            if (status != 0) {
                dyx_udil_mtm_free(&mtm);
                return status;
            }
            *result = mtm;
            return DYX_OK;
        } else {
            return fail("Unexpeced word detected");
        }
    }
    return fail("No movie block in MTM file");
}

UdilMtm *read_mtm_file(const char *path) {
    MtmInput input;
    // A FIFO named as the .mtm file would block the read for ever.
    if (!udil::input_file_usable(path)) {
        udil::prefix_last_error("Unable to open file");
        return nullptr;
    }
    input.file = std::fopen(path, "r");
    if (input.file == nullptr) {
        fail("Unable to open file");
        return nullptr;
    }
    if (check_header(input.file) != 0) return nullptr;
    input.lexer = dyx_lex_init_file(input.file, ';', 1);
    if (input.lexer == nullptr) {
        fail("Error allocating mtm");
        return nullptr;
    }
    const std::string base_directory = base_directory_of(path);
    UdilMtm *mtm = nullptr;
    if (parse_top_level(input.lexer, &mtm) != 0) return nullptr;
    for (int32_t i = 0; i < mtm->movie_count; ++i) {
        if (!resolve_name(mtm->movies[i], base_directory)) {
            fail("Sub movie file name too long");
            dyx_udil_mtm_free(&mtm);
            return nullptr;
        }
    }
    return mtm;
}

}  // namespace

extern "C" {

UdilMtm *dyx_udil_mtm_open(const char *path) {
    if (path == nullptr) {
        fail("Unable to open file");
        return nullptr;
    }
    try {
        return read_mtm_file(path);
    } catch (const std::bad_alloc &) {
        fail("Error allocating mtm");
        return nullptr;
    }
}

}  // extern "C"
