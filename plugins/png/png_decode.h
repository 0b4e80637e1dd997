// Reading PNG files with libpng into 8-bit L, LA, RGB or RGBA pixels.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "png_chunks.h"

namespace png_codec {

// Decodes a complete PNG stream held in memory, of `width` x `height`
// pixels, into 8-bit RGBA rows (the top row first) at `rgba`: grey is
// widened to RGB and pictures without alpha are made opaque.
bool decode_rgba(const std::string &stream, uint32_t width, uint32_t height, uint8_t *rgba,
                 std::string &error);

// One PNG file being read. Every PNG colour type and bit depth comes out as
// 8-bit samples: palettes expand to RGB, grey below 8 bits widens, 16-bit
// samples are scaled with rounding, and a tRNS chunk becomes an alpha
// channel. Interlaced files are de-interlaced. libpng's error jumps are
// caught here; a failure leaves a message and the decoder closed.
class Decoder {
public:
    Decoder() = default;
    ~Decoder() { close(); }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // Opens `path` and reads everything up to the pixels. With `deep`,
    // 16-bit samples stay 16-bit (in the machine's byte order).
    bool open(const char *path, std::string &error, bool deep = false);
    // Decodes the picture into `pixels`: packed rows of width * channels()
    // bytes, the bottom row first. Once per open().
    bool read(uint8_t *pixels, std::string &error);
    // Decodes the picture into rows from `top` (the top row), `stride`
    // bytes apart, of sample_bits() samples. Once per open().
    bool read_rows(uint8_t *top, int64_t stride, std::string &error);
    void close();

    bool is_open() const { return png_ != nullptr; }
    bool is_consumed() const { return consumed_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t channels() const { return channels_; }  // 1 L, 2 LA, 3 RGB, 4 RGBA
    // 16 for a file of 16-bit samples, else 8 (what a deep open delivers).
    int32_t file_bits() const { return file_bits_; }
    // The file's chunks; its frames when the file is an animation.
    const Layout &layout() const { return layout_; }

private:
    bool fail(std::string &error);

    std::FILE *file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = "";
    int32_t width_ = 0, height_ = 0, channels_ = 0, file_bits_ = 8, sample_bits_ = 8;
    bool consumed_ = false;
    Layout layout_;
};

}  // namespace png_codec
