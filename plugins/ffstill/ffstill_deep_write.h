// Deep frames written whole: OpenEXR from half and float samples (each
// kept as its own kind), DPX, SGI, JPEG 2000 and JPEG XL from 16-bit ones.
#pragma once

#include <cstdio>
#include <string>

#include "ffstill_encode.h"
#include "udil_plugin.h"

namespace ffstill {

// Writes `frame` (top row first, a kind settings.format's deep_samples
// holds) into `file`. False with `error` set when the format has no
// layout for its channels or the encoder fails.
bool encode_deep(std::FILE *file, const UdilDeepFrame &frame, const EncodeSettings &settings,
                 std::string &error);

}  // namespace ffstill
