// Encoding one 8-bit picture into a still-picture file with FFmpeg's
// encoder for the format the file name asks for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ffstill_formats.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace ffstill {

// What the writer's options chose, and the format of the file being made.
struct EncodeSettings {
    const StillFormat *format = nullptr;  // set from the file name by the writer
    int quality = 90;                     // WebP and JPEG XL, 1..100
    bool lossless = false;                // WebP and JPEG XL
    const char *exr_compression = "zip16";
    bool exr_float = false;  // 32-bit float samples rather than half
    int dpx_bits = 16;       // DPX from 16-bit frames: 16, 12 or 10 bits a sample
};

struct StillEncoder {
    static constexpr const char *kName = "ffstill";
    using Settings = EncodeSettings;
    // `pixels`: rows bottom first, `channels` 1 (L), 2 (LA), 3 (RGB) or
    // 4 (RGBA). OpenEXR files get linear light: the 8-bit values are taken
    // as sRGB-encoded and decoded through the sRGB transfer.
    static bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                       int32_t channels, const Settings &settings, std::string &error);
};

// Encodes `frame`, in a pixel format the encoder of `settings.format`
// takes, into `file` with the options of `settings`.
bool encode_frame(std::FILE *file, const AVFrame &frame, const EncodeSettings &settings, std::string &error);

}  // namespace ffstill
