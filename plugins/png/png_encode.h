// Writing 8-bit L, LA, RGB and RGBA pictures as PNG with libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace png_codec {

struct EncodeSettings {
    int level = 1;           // zlib level 0..9
    int strategy = 0;        // zlib strategy (Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE ...)
    int filters = 0;         // mask of PNG_FILTER_* flags tried per row
    bool interlace = false;  // Adam7
};

// Writes one picture (packed rows of width * channels bytes, the bottom
// row first) as a complete PNG stream to `file`. libpng's error jumps are
// caught here; false with a message in `error`.
bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error);

// Writes one picture of 8- or 16-bit samples (16-bit ones in the machine's
// byte order) whose rows run from `top` (the top row) `stride` bytes apart;
// a negative stride walks a bottom-first buffer.
bool encode_rows(std::FILE *file, const uint8_t *top, int64_t stride, int32_t width, int32_t height,
                 int32_t channels, int bit_depth, const EncodeSettings &settings, std::string &error);

}  // namespace png_codec
