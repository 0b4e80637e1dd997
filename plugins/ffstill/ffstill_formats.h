// The still-picture formats of the ffstill plug-in: which FFmpeg decoder
// reads a file and which encoder writes it, chosen by the file's suffix.
#pragma once

#include <cstdint>

#include "udil_plugin.h"

namespace ffstill {

enum class Kind { exr, dpx, webp, bmp, targa, jpeg2000, sgi, qoi, jpegxl };

struct StillFormat {
    const char *suffix;  // with its dot
    Kind kind;
    const char *decoder;   // FFmpeg decoder name
    const char *encoder;   // FFmpeg encoder name
    const char *name;      // the format's name in messages
    int32_t deep_samples;  // UDIL_SAMPLE_* kinds written beyond 8 bits
};

// The format of `path` by its suffix (ignoring case), or null.
const StillFormat *format_of(const char *path);

}  // namespace ffstill
