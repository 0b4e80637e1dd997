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
    int orientation = 1;  // of the Exif block (1 to 8), 1 when there is none
};

// The picture as a reader delivers it: turned the right way up by its
// orientation (sides swapped for 5 to 8), or as stored when asked; its
// orientation is then the turn still to apply (1 for none).
Picture shown_picture(const Picture &stored, bool keep_stored);

// Results of decode(); the values are the plug-in's statuses.
constexpr int kDecoded = 0;
constexpr int kCorrupt = 7;    // not a JPEG, cut short or damaged
constexpr int kMismatch = 12;  // a picture of another size or colour

// Reads the header of the JPEG file open in `file`. false with a reason.
bool read_header(std::FILE *file, Picture &picture, std::string &error);
// Reads the header of the JPEG held in `data`.
bool read_header(const uint8_t *data, size_t size, Picture &picture, std::string &error);

// Decodes the JPEG held in `data` into `pixels`: packed rows, the bottom
// row first, turned the right way up by its Exif orientation unless
// `keep_stored`, for a picture like `expected` (as delivered). A JPEG of
// another size or colour is refused before any pixel is written. Damaged
// entropy data and a cut file are errors, not a half-grey picture.
int decode(const uint8_t *data, size_t size, const Picture &expected, bool keep_stored, uint8_t *pixels,
           std::string &error);

}  // namespace jpeg_codec
