// Reading the first picture of a TIFF into 8-bit A, L, LA, RGB or RGBA.
#pragma once

#include <cstdint>
#include <string>

#include "tiff_file.h"

namespace tiff_codec {

// What the picture becomes in memory.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;     // 1..4: L (or A), LA, RGB, RGBA
    bool alpha_only = false;  // one sample marked as alpha: format A
};

// 8- and 16-bit unsigned grey or RGB pictures, in strips or tiles, with
// contiguous or separate planes, are read chunk by chunk straight into the
// buffer; extra samples after the colours become alpha (the first one) or
// are dropped. Everything else libtiff can show (palettes, bilevel,
// CMYK, uncompressed YCbCr ...) goes through libtiff's RGBA reader.
class Decoder {
public:
    // Opens `path` and works out how to read its first picture.
    bool open(const char *path, std::string &error);
    // Decodes into `pixels`: packed rows, the bottom row first.
    bool read(uint8_t *pixels, std::string &error);
    void close() { file_.close(); }

    bool is_open() const { return file_.get() != nullptr; }
    const Picture &picture() const { return picture_; }

private:
    bool read_chunks(uint8_t *pixels, std::string &error);
    bool read_through_rgba(uint8_t *pixels, std::string &error);
    void finish(uint8_t *pixels) const;
    bool refuse(std::string &error, const std::string &reason);

    TiffFile file_;
    Picture picture_;
    uint16_t samples_per_pixel_ = 1;
    uint16_t bits_ = 8;
    bool separate_planes_ = false;
    bool tiled_ = false;
    bool through_rgba_ = false;
    bool min_is_white_ = false;
    bool premultiplied_ = false;
};

}  // namespace tiff_codec
