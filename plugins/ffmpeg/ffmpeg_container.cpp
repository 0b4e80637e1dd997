#include "ffmpeg_container.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace ffmpeg_plugin {

namespace {

// Muxers that cannot answer avformat_query_codec, with the codecs of ours
// that they are known to carry readably. Anything else they accept only
// produces files no reader decodes (MPEG-TS takes FFV1 packets, the GIF
// and YUV4MPEG muxers refuse every compressed codec).
struct QuietMuxer {
    const char *name;
    AVCodecID carries[3];
};
constexpr QuietMuxer kQuietMuxers[] = {
    {"mpeg", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG2VIDEO}},
    {"mpegts", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG2VIDEO}},
    {"mxf", {AV_CODEC_ID_H264, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE}},
    {"ogg", {AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE}},
    {"ogv", {AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE}},
    {"gif", {AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE}},
    {"yuv4mpegpipe", {AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE}},
};

bool holds(const AVOutputFormat &container, AVCodecID id) {
    if (id == container.video_codec) return true;
    const int answer = avformat_query_codec(&container, id, FF_COMPLIANCE_NORMAL);
    if (answer >= 0) return answer == 1;
    for (const QuietMuxer &muxer : kQuietMuxers)
        if (std::strcmp(muxer.name, container.name) == 0)
            return std::find(std::begin(muxer.carries), std::end(muxer.carries), id) !=
                   std::end(muxer.carries);
    return true;  // an unknown muxer says so itself when the header is written
}

// The file name's extension for messages ("" when it has none).
std::string extension_of(const char *path) {
    const char *slash = std::strrchr(path, '/');
    const char *dot = std::strrchr(slash != nullptr ? slash : path, '.');
    return dot != nullptr ? dot : "";
}

}  // namespace

bool codec_for_container(const AVOutputFormat &container, const char *path, const WriterSettings &settings,
                         CodecChoice &chosen, std::string &error) {
    const CodecChoice &asked = *settings.codec;
    const AVCodecID own = container.video_codec;
    const std::string where = extension_of(path) + " file (" + container.name + " container)";
    if (settings.codec_given) {
        if (holds(container, asked.id)) {
            chosen = asked;
            return true;
        }
        const AVOutputFormat *usual = av_guess_format(asked.container, nullptr, nullptr);
        if (usual != nullptr && holds(*usual, asked.id))
            error = std::string("ffmpeg: ") + asked.label + " video cannot go in a " + where +
                    "; write it as " + asked.suffix + " or leave the codec option out";
        else
            error =
                std::string("ffmpeg: ") + asked.label + " video cannot go in a " + where +
                ": it is a codec of pictures that no movie container of this FFmpeg (.mkv, .mov, .avi) takes";
        return false;
    }
    // Without a codec option a container gets what the ffmpeg command
    // writes there when that is one of ours (MPEG-4 in .avi), else H.264
    // where it fits, else its own codec (VP9 in .webm, GIF in .gif).
    if (const CodecChoice *listed = codec_choice_by_id(own)) {
        chosen = *listed;
        return true;
    }
    if (holds(container, asked.id)) {
        chosen = asked;
        return true;
    }
    const AVCodec *encoder = own != AV_CODEC_ID_NONE ? avcodec_find_encoder(own) : nullptr;
    if (encoder == nullptr) {
        error = std::string("ffmpeg: a ") + where + " needs " + avcodec_get_name(own) +
                " video, which this FFmpeg build cannot encode";
        return false;
    }
    chosen =
        CodecChoice{avcodec_get_name(own), encoder->name, own, asked.suffix, container.name, false, false};
    return true;
}

}  // namespace ffmpeg_plugin
