#include "ffmpeg_options.h"

#include <algorithm>

#include "udil_sdk_orientation.h"

namespace ffmpeg_plugin {

namespace {

constexpr CodecChoice kCodecs[] = {
    {"h264", "libx264", AV_CODEC_ID_H264, ".mp4", "mp4", false, true},
    {"mpeg4", "mpeg4", AV_CODEC_ID_MPEG4, ".mp4", "mp4", false, false},
    {"mjpeg", "mjpeg", AV_CODEC_ID_MJPEG, ".avi", "avi", true, false},
    {"ffv1", "ffv1", AV_CODEC_ID_FFV1, ".mkv", "matroska", true, false},
    {"prores", "prores_ks", AV_CODEC_ID_PRORES, ".mov", "mov", true, false},
};
constexpr int kCodecCount = int(sizeof kCodecs / sizeof kCodecs[0]);

// The host picks a choice by the first place its word occurs in the item
// list, so an item that is part of another one ("fast" in "veryfast")
// must come first or the longer item would be chosen.
constexpr const char *kPresets[] = {"medium",    "fast", "faster", "veryfast", "superfast",
                                    "ultrafast", "slow", "slower", "veryslow"};
constexpr int kPresetCount = int(sizeof kPresets / sizeof kPresets[0]);

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"codec", UDIL_OPT_CHOICE, "h264|mpeg4|mjpeg|ffv1|prores", "0", "Video codec written"},
    {"crf", UDIL_OPT_INT, "0 51", "20", "H.264 constant rate factor (lower is better)"},
    {"qscale", UDIL_OPT_INT, "0 31", "0",
     "Quantiser for mpeg4, mjpeg and prores (lower is better, 0 the codec's default)"},
    {"bitrate", UDIL_OPT_INT, "0 1000000", "0", "Bit rate in kbit/s (0 for quality mode)"},
    {"preset", UDIL_OPT_CHOICE, "medium|fast|faster|veryfast|superfast|ultrafast|slow|slower|veryslow", "0",
     "H.264 encoder preset (speed against size)"},
    {"keyint", UDIL_OPT_INT, "0 1000", "0", "Key-frame interval in frames (0 the codec's default)"},
    {udil_sdk::kOrientationOption, UDIL_OPT_CHOICE, udil_sdk::kOrientationRange, "0",
     "Reading: turn frames the right way up by the stream's display matrix (display) or give them as "
     "stored"},
    {"stream", UDIL_OPT_INT, "0 1000", "0",
     "Reading: the video stream read, 1 for the file's first (0 the one players show)"},
    {"size", UDIL_OPT_TEXT, "", "", "Reading raw video (.yuv): the picture size, as 640x480"},
    {"pixfmt", UDIL_OPT_TEXT, "", "yuv420p", "Reading raw video (.yuv): FFmpeg's name of the pixel format"},
    {"rate", UDIL_OPT_FLOAT, "0.001 1000", "25", "Reading raw video (.yuv): frames per second"},
};

int clamped(const udil_sdk::Options &options, const char *name, long fallback, long low, long high) {
    return int(std::clamp(options.integer(name, fallback), low, high));
}

}  // namespace

const CodecChoice *codec_choice_by_id(AVCodecID id) {
    for (const CodecChoice &choice : kCodecs)
        if (choice.id == id) return &choice;
    return nullptr;
}

udil_sdk::OptionList writer_options() { return udil_sdk::make_option_list(kOptionSpecs); }

WriterSettings settings_from(const udil_sdk::Options &options) {
    WriterSettings settings;
    settings.codec = &kCodecs[clamped(options, "codec", 0, 0, kCodecCount - 1)];
    const UdilOption *codec = options.find("codec");
    settings.codec_given = codec != nullptr && codec->set != 0;
    settings.crf = clamped(options, "crf", 20, 0, 51);
    settings.qscale = clamped(options, "qscale", 0, 0, 31);
    settings.bitrate_kbit = clamped(options, "bitrate", 0, 0, 1000000);
    settings.preset = kPresets[clamped(options, "preset", 0, 0, kPresetCount - 1)];
    settings.keyint = clamped(options, "keyint", 0, 0, 1000);
    return settings;
}

RawVideoSettings raw_video_from(const udil_sdk::Options &options) {
    RawVideoSettings settings;
    settings.size = options.text("size", "");
    settings.pixel_format = options.text("pixfmt", "yuv420p");
    settings.rate = std::clamp(options.real("rate", 25.0), 0.001, 1000.0);
    return settings;
}

}  // namespace ffmpeg_plugin
