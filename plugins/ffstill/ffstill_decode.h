// Decoding one still-picture file with FFmpeg's decoder for its format.
// The decoded picture keeps the file's own samples (10-bit, 16-bit, half
// or float); reducing them to the host's 8 bits is a separate step (see
// ffstill_reduce.h), so that the full-depth samples can be had first.
#pragma once

#include <memory>
#include <string>

#include "ffstill_formats.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace ffstill {

struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// What a reader may ask of the decoder.
struct DecodeSettings {
    std::string layer;  // OpenEXR: the layer read (empty: the RGBA channels)
    int threads = 1;    // the decoder's threads (0: as many as the machine has)
};

// Decodes `path`, a file of `format`. Null with `error` set when the file
// cannot be read or decoded.
FramePtr decode_still(const char *path, const StillFormat &format, const DecodeSettings &settings,
                      std::string &error);

// FFmpeg's text for an error code.
std::string error_text(int code);

}  // namespace ffstill
