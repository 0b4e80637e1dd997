// Reading the raster of a Netpbm file into 8-bit samples.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ppm_header.h"

namespace ppm {

// Reads the raster that `header` describes from `file` (positioned at it)
// into `pixels`: packed rows of width * channels bytes, the bottom row
// first. Samples are scaled from 0..maxval to 0..255 with rounding
// (v * 255 + maxval / 2) / maxval; a bitmap's black is 0 and white 255.
// False, with the reason in `error`, for a raster cut short or a plain
// raster holding something other than samples up to maxval.
bool read_raster(std::FILE *file, const Header &header, uint8_t *pixels, std::string &error);

// Reads a raster of maxval above 255 as 16-bit samples (the machine's byte
// order) scaled from 0..maxval to 0..65535 with rounding, into rows from
// `top` (the top row) `stride` bytes apart. A maxval of 65535 keeps every
// sample as it is.
bool read_raster16(std::FILE *file, const Header &header, uint8_t *top, int64_t stride, std::string &error);

}  // namespace ppm
