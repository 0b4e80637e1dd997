// The layout of an OpenEXR or DPX file told from its header, without
// decoding the picture: a reader made only to ask a file's size, pixel
// format or depth then costs no decode, and the one read decodes once.
#pragma once

#include <cstdint>

#include "ffstill_decode.h"

namespace ffstill {

struct Layout {
    int32_t width = 0, height = 0;
    int32_t host_format = 0;  // UDIL_FMT_L, RGB or RGBA
    int32_t sample = 0;       // the deep sample kind the picture is handed over in
};

// The layout FFmpeg's decoder will give `path`, when its header says it
// plainly: single-part OpenEXR of R, G, B (and A) or Y channels, all
// half or all float, data window equal to display window, no layer asked;
// DPX of one RGB, RGBA or grey element of 8 to 16 bits, not run-length
// coded. False for every other file (its picture is decoded instead).
bool probe_layout(const char *path, const StillFormat &format, const DecodeSettings &settings,
                  Layout &layout);

}  // namespace ffstill
