// TIFF pages of 16-bit unsigned, 16-bit half or 32-bit float samples, read
// and written whole as deep frames.
#pragma once

#include <string>

#include "tiff_file.h"
#include "tiff_write.h"
#include "udil_plugin.h"

namespace tiff_codec {

// The sample kind (UDIL_SAMPLE_*) the current page of `tif` is read in as a
// deep frame: U16, F16 or F32 for grey or RGB pages of those samples, with
// or without alpha, in contiguous strips or tiles; U8 for every other page
// (those are read through their 8-bit pictures). `channels` gets the
// page's samples per pixel for a deep page.
int32_t deep_sample_of(TIFF *tif, int32_t &channels);

// Reads the current page, whose deep_sample_of is `frame.sample`, into
// `frame` as stored (callers give turned pages their 8-bit pictures).
bool read_deep(TiffFile &file, const UdilDeepFrame &frame, std::string &error);

// Reads the current page of F16 or F32 samples, laid out as `frame` says
// (pixels unused), into 8-bit `pixels`, the bottom row first: 0..1 clamped
// and scaled to 0..255 with rounding.
bool read_deep_as_8bit(TiffFile &file, const UdilDeepFrame &frame, uint8_t *pixels, std::string &error);

// Writes `frame` (U16, F16 or F32 samples) as the next page of the TIFF
// open for writing in `file`. JPEG compression is refused: it holds 8-bit
// samples only.
bool encode_deep(TiffFile &file, const UdilDeepFrame &frame, const EncodeSettings &settings,
                 std::string &error);

}  // namespace tiff_codec
