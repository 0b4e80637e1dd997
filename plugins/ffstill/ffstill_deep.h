// Decoded pictures handed over whole as deep frames: integer RGB and grey
// samples deeper than 8 bits as 16-bit (widened to the full range by
// repeating their bits, as swscale widens them to rgb48), float ones
// (OpenEXR's half and float) as 32-bit floats, exactly as decoded.
#pragma once

#include <cstdint>
#include <string>

#include "udil_plugin.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace ffstill {

// The sample kind `picture` is handed over in: UDIL_SAMPLE_U16 or
// UDIL_SAMPLE_F32 for RGB and grey pictures deeper than 8 bits,
// UDIL_SAMPLE_U8 for every other picture (read as 8 bits).
int32_t deep_sample_of(const AVFrame &picture);

// Writes the first `frame.channels` components (R, G, B, A; or grey and
// alpha) of `picture`, whose deep_sample_of is `frame.sample`, into
// `frame`. False with `error` set when a component is missing.
bool read_deep(const AVFrame &picture, const UdilDeepFrame &frame, std::string &error);

}  // namespace ffstill
