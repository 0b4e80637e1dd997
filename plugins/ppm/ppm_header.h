// Headers of Netpbm files: PBM (P1, P4), PGM (P2, P5), PPM (P3, P6) and
// PAM (P7).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ppm {

// What a header says about the raster that follows it.
struct Header {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;  // 1 L, 2 LA, 3 RGB, 4 RGBA
    uint32_t maxval = 0;   // 1..65535; above 255 samples take two bytes
    bool plain = false;    // samples written as decimal text (P1, P2, P3)
    bool bitmap = false;   // PBM: 1 is black, 0 white; raw rows of 8 pixels a byte
    int64_t raster_offset = 0;

    int bytes_per_sample() const { return maxval > 255 ? 2 : 1; }
    // Bytes of one raw row; the fewest bytes a plain row can take (one
    // character a sample).
    int64_t row_bytes() const {
        if (bitmap && !plain) return (int64_t(width) + 7) / 8;
        return int64_t(width) * channels * (plain ? 1 : bytes_per_sample());
    }
    int64_t raster_bytes() const { return row_bytes() * height; }
};

// Reads the header at the start of `file` (whose size is `file_size`),
// leaving the stream at the raster. Refuses, with a reason in `error`,
// anything it cannot read safely: unknown magic, missing or absurd numbers,
// an unknown tuple type, or a raster longer than the file.
bool read_header(std::FILE *file, int64_t file_size, Header &header, std::string &error);

// Writes a P5/P6 header, or a P7 header when `pam` is set or the picture
// has alpha, or with `maxval` 1 and one channel a P4 header. Returns false
// when the stream refuses.
bool write_header(std::FILE *file, int32_t width, int32_t height, int32_t channels, uint32_t maxval,
                  bool pam);

}  // namespace ppm
