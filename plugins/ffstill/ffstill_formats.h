// The still-picture formats of the ffstill plug-in: which FFmpeg decoder
// reads a file and which encoder writes it, chosen by the file's suffix.
#pragma once

#include <cstdint>

namespace ffstill {

enum class Kind { exr, dpx, webp, bmp, targa, jpeg2000, sgi, qoi, jpegxl };

struct StillFormat {
    const char *suffix;  // with its dot
    Kind kind;
    const char *decoder;  // FFmpeg decoder name
    const char *encoder;  // FFmpeg encoder name
};

// The format of `path` by its suffix (ignoring case), or null.
const StillFormat *format_of(const char *path);

}  // namespace ffstill
