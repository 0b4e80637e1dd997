// Decoded pictures reduced to the host's 8 bits a sample, rows bottom
// first, as L, LA, RGB or RGBA.
//
// - Integer RGB and grey samples deeper than 8 bits keep their top 8 bits
//   (DPX: the values as stored); shallower ones (5-bit colours) are
//   widened by repeating their bits.
// - Float samples (OpenEXR's linear light) go through the sRGB transfer
//   and are clipped to 0..1; alpha is clipped and not transferred.
// - Palette pictures give their palette's colours; YUV pictures are
//   converted to RGB by swscale with their stated matrix and range.
#pragma once

#include <cstdint>
#include <string>

#include "udil_plugin.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace ffstill {

// The host's pixel format (UDIL_FMT_L, LA, RGB or RGBA) a picture reads
// as; 0 when its pixel format is unknown. `alpha_if_used`: a picture whose
// alpha is opaque everywhere reads without it (WebP's decoder gives every
// lossless picture an alpha channel, used or not).
int32_t host_format_of(const AVFrame &picture, bool alpha_if_used = false);

// Writes `picture` into `pixels` (width * height * channels of `format`,
// bottom row first). False with `error` set when it cannot be converted.
bool reduce_to_8_bits(const AVFrame &picture, int32_t format, uint8_t *pixels, std::string &error);

}  // namespace ffstill
