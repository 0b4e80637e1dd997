// Encoding 8-bit L and RGB pictures as JPEG with libjpeg-turbo.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace jpeg_codec {

enum Subsampling { k444, k422, k420 };

struct EncodeSettings {
    int quality = 90;                // 1..100
    Subsampling subsampling = k420;  // chroma of RGB pictures
    bool progressive = false;
    bool optimize = false;  // Huffman tables fitted to the picture
};

// Writes one picture (packed rows of width * channels bytes, the bottom
// row first; 1 channel grey, 3 RGB) as a JPEG stream to `file`.
bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error);

}  // namespace jpeg_codec
