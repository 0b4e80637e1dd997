// Checks made when a write movie is opened, so that no frame or eye the
// caller hands over is lost while every call reports success: each frame
// and each eye must get a file of its own, under a name that reads back.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dyx_path.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

// Characters from the first to the last '#' of the name (the frame number
// run), 0 without a '#'.
size_t frame_run_width(const char *name) {
    const char *first = std::strchr(name, '#');
    if (first == nullptr) return 0;
    return size_t(std::strrchr(name, '#') - first) + 1;
}

// The largest frame number that a run of `digits` characters holds.
int64_t largest_frame_number(size_t digits) {
    int64_t largest = 0;
    for (size_t i = 0; i < digits; ++i) largest = largest * 10 + 9;
    return largest;
}

// One picture per file: frames 0 .. frames-1 each need their own number.
bool frames_fit(int32_t frames, size_t digits) { return int64_t(frames) - 1 <= largest_frame_number(digits); }

// Leaves "<what>: <reason>" in the movie's error string; always false.
bool refuse(DyxUdilMovie *self, const char *what, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
bool refuse(DyxUdilMovie *self, const char *what, const char *format, ...) {
    // A text longer than the error string is cut there, as every errstr() text is.
    int used = std::snprintf(self->error, sizeof self->error, "%s: ", what);
    if (used >= 0 && static_cast<size_t>(used) < sizeof self->error) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(self->error + used, sizeof self->error - used, format, args);
        va_end(args);
    }
    return false;
}

// Both eyes land in one file only when the codec stores stereo frames;
// otherwise an '@' in the name must give each eye its own file.
bool eyes_have_files(const UdilRecord *codec, const char *name, int32_t stereo) {
    return !stereo || codec->stereo_capable || movie_name_has_eye_mark(name);
}

bool check_plain(DyxUdilMovie *self, const UdilRecord *codec, int32_t stereo) {
    static const char kWhat[] = "Unable to create movie file";
    const char *name = self->filename;
    if (!eyes_have_files(codec, name, stereo))
        return refuse(self, kWhat,
                      "the %s codec stores one eye per file: a stereo movie needs an @ in its file name "
                      "(written as l and r)",
                      codec->name);
    if (!stereo && movie_name_has_eye_mark(name))
        return refuse(self, kWhat, "an @ in the file name stands for the eye, but the movie is not stereo");
    // A run of '#' gives every frame a file of its own, for any codec; without
    // one, a multi-image codec keeps all frames in one file.
    const size_t digits = frame_run_width(name);
    if (digits == 0 && codec->multi_image_capable) return true;
    if (digits == 0 && self->nframes > 1)
        return refuse(self, kWhat,
                      "a %s file holds one picture: %d frames need a run of # in the file name for the "
                      "frame number",
                      codec->name, self->nframes);
    if (digits > DYX_PATH_MAX_FRAME_DIGITS)
        return refuse(self, kWhat, "a run of %zu # could not be read back (at most %d)", digits,
                      DYX_PATH_MAX_FRAME_DIGITS);
    if (digits > 0 && !frames_fit(self->nframes, digits))
        return refuse(self, kWhat, "%d frames need more digits than the run of %zu # holds", self->nframes,
                      digits);
    return true;
}

bool check_tiled(DyxUdilMovie *self, const UdilRecord *codec, int32_t stereo) {
    static const char kWhat[] = "Unable to create MTM subfiles";
    // A tile of a movie file is one file: its name cannot carry an eye.
    if (stereo && !codec->stereo_capable && codec->multi_image_capable)
        return refuse(self, kWhat,
                      "the %s codec stores one eye per file, so its tiles cannot hold a stereo movie",
                      codec->name);
    if (!stereo && movie_name_has_eye_mark(self->filename))
        return refuse(self, kWhat, "an @ in the file name stands for the eye, but the movie is not stereo");
    if (!codec->multi_image_capable && !frames_fit(self->nframes, DYX_PATH_MAX_FRAME_DIGITS))
        return refuse(self, kWhat, "%d frames are more than numbered tile files can hold", self->nframes);
    // A run of '#' in the name numbers the frame files of every tile.
    const size_t digits = frame_run_width(self->filename);
    if (codec->multi_image_capable && digits > 0 && !frames_fit(self->nframes, digits))
        return refuse(self, kWhat, "%d frames need more digits than the run of %zu # holds", self->nframes,
                      digits);
    return true;
}

}  // namespace

bool movie_name_has_eye_mark(const char *name) {
    const char *first = std::strchr(name, '#');
    const char *last = std::strrchr(name, '#');
    for (const char *at = std::strchr(name, '@'); at != nullptr; at = std::strchr(at + 1, '@'))
        if (first == nullptr || at < first || at > last) return true;
    return false;
}

bool movie_check_write_names(DyxUdilMovie *self, const UdilRecord *codec, int32_t stereo) {
    const bool tiled = self->tiling[0] > 1 || self->tiling[1] > 1;
    return tiled ? check_tiled(self, codec, stereo) : check_plain(self, codec, stereo);
}

int32_t movie_frame_capacity(const DyxUdilMovie *self, const UdilRecord *codec) {
    const bool tiled = self->tiling[0] > 1 || self->tiling[1] > 1;
    size_t digits = frame_run_width(self->filename);
    // A tile of a one-picture codec is numbered by the run its name gets.
    if (tiled && !codec->multi_image_capable && digits == 0)
        digits = movie_tile_frame_part(self, codec, 0).size() - 1;
    if (digits == 0) return codec->multi_image_capable ? INT32_MAX : 1;
    const int64_t numbers = largest_frame_number(digits) + 1;
    return numbers > INT32_MAX ? INT32_MAX : int32_t(numbers);
}

std::string movie_tile_frame_part(const DyxUdilMovie *self, const UdilRecord *codec, int32_t stereo) {
    if (codec->multi_image_capable) return std::string();
    // One picture per file: each tile is a numbered sequence with enough
    // digits, and, for a codec without stereo frames, one file per eye.
    std::string part;
    if (stereo && !codec->stereo_capable && !movie_name_has_eye_mark(self->filename)) part = "_@";
    size_t digits = 4;
    while (digits < DYX_PATH_MAX_FRAME_DIGITS && !frames_fit(self->nframes, digits)) ++digits;
    part += '.';
    part.append(digits, '#');
    return part;
}

}  // namespace udil
