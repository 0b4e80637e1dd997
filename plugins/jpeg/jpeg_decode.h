// Decoding JPEG data with libjpeg-turbo into 8-bit L or RGB pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace jpeg_codec {

// What a JPEG decodes to: grey pictures give L (1 channel); RGB, YCbCr,
// CMYK and YCCK pictures give RGB (3 channels).
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
};

// Results of decode(); the values are the plug-in's statuses.
constexpr int kDecoded = 0;
constexpr int kCorrupt = 7;    // not a JPEG, cut short or damaged
constexpr int kMismatch = 12;  // a picture of another size or colour

// Reads the header of the JPEG file open in `file`. false with a reason.
bool read_header(std::FILE *file, Picture &picture, std::string &error);
// Reads the header of the JPEG held in `data`.
bool read_header(const uint8_t *data, size_t size, Picture &picture, std::string &error);

// Decodes the JPEG held in `data` into `pixels`: packed rows, the bottom
// row first, for a picture like `expected`. A JPEG of another size or
// colour is refused before any pixel is written. Damaged entropy data and
// a cut file are errors, not a half-grey picture.
int decode(const uint8_t *data, size_t size, const Picture &expected, uint8_t *pixels, std::string &error);

}  // namespace jpeg_codec
