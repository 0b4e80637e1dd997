// The movie writer's options and the codecs it can write.
#pragma once

#include <cstdint>
#include <string>

#include "udil_sdk.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace ffmpeg_plugin {

// One codec of the writer's "codec" option.
struct CodecChoice {
    const char *label;    // the option's item
    const char *encoder;  // FFmpeg encoder name
    AVCodecID id;
    const char *suffix;     // natural container for the codec
    const char *container;  // FFmpeg muxer used when the file name has no known suffix
    bool intra_only;        // every frame decodes on its own
    bool uses_crf;          // quality by constant rate factor, else by quantiser
};

// What the options ask of a new movie, each value within its range.
struct WriterSettings {
    const CodecChoice *codec;
    bool codec_given;      // the user's options named the codec
    int crf;               // 0..51, h264
    int qscale;            // 0..31, 0 = the codec's default quality
    int64_t bitrate_kbit;  // 0 = quality mode
    const char *preset;    // x264 preset name
    int keyint;            // 0 = the codec's default key-frame interval
    const char *problem;   // why the options cannot be written, else null
    bool index_first;      // .mp4/.mov index (moov) before the media data
    bool eight_bit;        // deep frames refused (the depth option's 8)
    std::string timecode;  // start timecode; empty for none
    // Colour description asked for, as ITU-T H.273 code points (2: not
    // stated, the picture size decides); range 0 auto, 1 limited, 2 full.
    int primaries, transfer, matrix, range;
};

udil_sdk::OptionList writer_options();
WriterSettings settings_from(const udil_sdk::Options &options);
// The entry of the codec option for `id`, or null.
const CodecChoice *codec_choice_by_id(AVCodecID id);

// How a raw video file, which has no header, is read: the picture size
// ("640x480", empty when not given), FFmpeg's pixel format name and the
// frame rate.
struct RawVideoSettings {
    std::string size;
    std::string pixel_format = "yuv420p";
    double rate = 25.0;
};
RawVideoSettings raw_video_from(const udil_sdk::Options &options);

// Quantiser used for mpeg4 and mjpeg when the qscale option is 0.
constexpr int kDefaultQscale = 3;

}  // namespace ffmpeg_plugin
