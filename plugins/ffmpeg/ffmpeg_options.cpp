#include "ffmpeg_options.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "udil_sdk_orientation.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace ffmpeg_plugin {

namespace {

constexpr CodecChoice kCodecs[] = {
    {"h264", "libx264", AV_CODEC_ID_H264, ".mp4", "mp4", false, true},
    {"mpeg4", "mpeg4", AV_CODEC_ID_MPEG4, ".mp4", "mp4", false, false},
    {"mjpeg", "mjpeg", AV_CODEC_ID_MJPEG, ".avi", "avi", true, false},
    {"ffv1", "ffv1", AV_CODEC_ID_FFV1, ".mkv", "matroska", true, false},
    {"prores", "prores_ks", AV_CODEC_ID_PRORES, ".mov", "mov", true, false},
    {"hevc", "libx265", AV_CODEC_ID_HEVC, ".mp4", "mp4", false, true},
    {"vp9", "libvpx-vp9", AV_CODEC_ID_VP9, ".webm", "webm", false, true},
    {"av1", "libaom-av1", AV_CODEC_ID_AV1, ".mkv", "matroska", false, true},
};
constexpr int kCodecCount = int(sizeof kCodecs / sizeof kCodecs[0]);

// The host picks a choice by the first place its word occurs in the item
// list, so an item that is part of another one ("fast" in "veryfast")
// must come first or the longer item would be chosen.
constexpr const char *kPresets[] = {"medium",    "fast", "faster", "veryfast", "superfast",
                                    "ultrafast", "slow", "slower", "veryslow"};
constexpr int kPresetCount = int(sizeof kPresets / sizeof kPresets[0]);

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"codec", UDIL_OPT_CHOICE, "h264|mpeg4|mjpeg|ffv1|prores|hevc|vp9|av1", "0", "Video codec written"},
    {"encoder", UDIL_OPT_TEXT, "", "",
     "Any FFmpeg video encoder by its name (libx265, libvpx, mpeg2video, dnxhd, utvideo ...), in place "
     "of the codec option's"},
    {"crf", UDIL_OPT_INT, "0 51", "20", "H.264 constant rate factor (lower is better)"},
    {"qscale", UDIL_OPT_INT, "0 31", "0",
     "Quantiser for mpeg4, mjpeg and prores (lower is better, 0 the codec's default)"},
    {"bitrate", UDIL_OPT_INT, "0 1000000", "0", "Bit rate in kbit/s (0 for quality mode)"},
    {"preset", UDIL_OPT_CHOICE, "medium|fast|faster|veryfast|superfast|ultrafast|slow|slower|veryslow", "0",
     "H.264 encoder preset (speed against size)"},
    {"keyint", UDIL_OPT_INT, "0 1000", "0", "Key-frame interval in frames (0 the codec's default)"},
    {"primaries", UDIL_OPT_INT, "0 255", "2",
     "Colour primaries tagged, as ITU-T H.273 numbers them (1 BT.709, 9 BT.2020; 2 by picture size)"},
    {"transfer", UDIL_OPT_INT, "0 255", "2",
     "Transfer characteristic tagged, H.273 number (1 BT.709, 16 PQ, 18 HLG; 2 by picture size)"},
    {"matrix", UDIL_OPT_INT, "0 255", "2",
     "YUV matrix used and tagged, H.273 number (1 BT.709, 9 BT.2020 non-constant; 2 by picture size)"},
    {"range", UDIL_OPT_CHOICE, "auto|limited|full", "0",
     "YUV range written: limited (16..235), full (0..255), or the codec's usual one (auto)"},
    {"timecode", UDIL_OPT_TEXT, "", "",
     "Start timecode HH:MM:SS:FF (';' before FF for drop frame) of .mov, .mp4 and .mxf files"},
    {"depth", UDIL_OPT_CHOICE, "auto|8", "0",
     "Frames of 16-bit samples: auto writes them at 10 bits (FFV1 16) where the codec can, 8 refuses them"},
    {"faststart", UDIL_OPT_BOOLEAN, "", "0",
     "Index of .mp4/.mov files at the front, so that they play while downloading"},
    {udil_sdk::kOrientationOption, UDIL_OPT_CHOICE, udil_sdk::kOrientationRange, "0",
     "Reading: turn frames the right way up by the stream's display matrix (display) or give them as "
     "stored"},
    {"stream", UDIL_OPT_INT, "0 1000", "0",
     "Reading: the video stream read, 1 for the file's first (0 the one players show)"},
    {"size", UDIL_OPT_TEXT, "", "", "Reading raw video (.yuv): the picture size, as 640x480"},
    {"pixfmt", UDIL_OPT_TEXT, "", "yuv420p", "Reading raw video (.yuv): FFmpeg's name of the pixel format"},
    {"rate", UDIL_OPT_FLOAT, "0.001 1000", "25", "Reading raw video (.yuv): frames per second"},
};

// The container a codec is written in when the file name has no suffix
// that names one: the codec's usual one, else the first of kHolders that
// takes it.
struct NaturalContainer {
    AVCodecID id;
    const char *suffix;
    const char *container;
};
constexpr NaturalContainer kContainers[] = {
    {AV_CODEC_ID_H264, ".mp4", "mp4"},        {AV_CODEC_ID_HEVC, ".mp4", "mp4"},
    {AV_CODEC_ID_MPEG4, ".mp4", "mp4"},       {AV_CODEC_ID_VP8, ".webm", "webm"},
    {AV_CODEC_ID_VP9, ".webm", "webm"},       {AV_CODEC_ID_PRORES, ".mov", "mov"},
    {AV_CODEC_ID_DNXHD, ".mov", "mov"},       {AV_CODEC_ID_QTRLE, ".mov", "mov"},
    {AV_CODEC_ID_MJPEG, ".avi", "avi"},       {AV_CODEC_ID_MPEG1VIDEO, ".mpg", "mpeg"},
    {AV_CODEC_ID_MPEG2VIDEO, ".mpg", "mpeg"}, {AV_CODEC_ID_FLV1, ".flv", "flv"},
};

constexpr NaturalContainer kHolders[] = {{AV_CODEC_ID_NONE, ".mkv", "matroska"},
                                         {AV_CODEC_ID_NONE, ".mov", "mov"},
                                         {AV_CODEC_ID_NONE, ".avi", "avi"}};

NaturalContainer natural_container(AVCodecID id) {
    for (const NaturalContainer &natural : kContainers)
        if (natural.id == id) return natural;
    for (const NaturalContainer &holder : kHolders) {
        const AVOutputFormat *muxer = av_guess_format(holder.container, nullptr, nullptr);
        if (muxer != nullptr && avformat_query_codec(muxer, id, FF_COMPLIANCE_NORMAL) == 1)
            return NaturalContainer{id, holder.suffix, holder.container};
    }
    return NaturalContainer{id, kHolders[0].suffix, kHolders[0].container};
}

// Entries made for encoders named by the encoder option. Their texts are
// FFmpeg's own or literals, so an entry lives as long as the process; a
// deque keeps earlier entries in place while it grows.
std::mutex named_lock;
std::deque<CodecChoice> named_choices;

const CodecChoice *named_encoder(const char *name) {
    const AVCodec *encoder = avcodec_find_encoder_by_name(name);
    if (encoder == nullptr || encoder->type != AVMEDIA_TYPE_VIDEO) return nullptr;
    std::lock_guard<std::mutex> guard(named_lock);
    for (const CodecChoice &choice : named_choices)
        if (std::strcmp(choice.encoder, encoder->name) == 0) return &choice;
    const NaturalContainer natural = natural_container(encoder->id);
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(encoder->id);
    const bool intra_only = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
    const AVClass *const *options = encoder->priv_class != nullptr ? &encoder->priv_class : nullptr;
    const bool uses_crf = options != nullptr && av_opt_find(const_cast<AVClass **>(options), "crf", nullptr,
                                                            0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
    named_choices.push_back(CodecChoice{encoder->name, encoder->name, encoder->id, natural.suffix,
                                        natural.container, intra_only, uses_crf});
    return &named_choices.back();
}

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
    settings.problem = nullptr;
    const char *encoder = options.text("encoder", "");
    if (encoder[0] != '\0') {
        const CodecChoice *named = named_encoder(encoder);
        if (named != nullptr) {
            settings.codec = named;
            settings.codec_given = true;
        } else {
            settings.problem =
                "ffmpeg: the encoder option names no video encoder of this FFmpeg (see 'ffmpeg -encoders')";
        }
    }
    settings.index_first = options.integer("faststart", 0) != 0;
    settings.eight_bit = options.integer("depth", 0) == 1;
    settings.timecode = options.text("timecode", "");
    settings.primaries = clamped(options, "primaries", 2, 0, 255);
    settings.transfer = clamped(options, "transfer", 2, 0, 255);
    settings.matrix = clamped(options, "matrix", 2, 0, 255);
    settings.range = clamped(options, "range", 0, 0, 2);
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
