// Owning pointers for the FFmpeg objects the decoder and the encoder make.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace ffstill {

struct CodecCloser {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

}  // namespace ffstill
