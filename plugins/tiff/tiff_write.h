// Writing 8-bit L, LA, RGB and RGBA pictures (A as L) as TIFF pages.
#pragma once

#include <cstdint>
#include <string>

#include "tiff_file.h"

namespace tiff_codec {

struct EncodeSettings {
    uint16_t compression = COMPRESSION_LZW;  // libtiff's COMPRESSION_* value
    bool predictor = false;                  // horizontal differencing (LZW and Deflate)
};

// Quality of JPEG-compressed TIFFs; TIFF has no quality option of its own here.
constexpr int kJpegQuality = 90;

// Writes one picture (packed rows of width * channels bytes, the bottom row
// first) as the next page (directory) of the TIFF open for writing in
// `file`. One channel is written as grey, two as grey and alpha.
bool encode(TiffFile &file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error);

}  // namespace tiff_codec
