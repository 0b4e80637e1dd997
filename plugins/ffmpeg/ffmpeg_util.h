// Small pieces shared by the movie reader and writer: owning pointers for
// FFmpeg's objects, error texts, and the quiet logging set up on first use.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace ffmpeg_plugin {

struct InputCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

// A file being written: its byte stream closed with it.
struct OutputCloser {
    void operator()(AVFormatContext *context) const {
        if (context == nullptr) return;
        if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFreer>;

// A frame and a packet, or null pointers when memory is short.
FramePtr make_frame();
PacketPtr make_packet();

// FFmpeg's text for an error code, followed by the last error FFmpeg
// logged when it adds something.
std::string error_text(int code);

// The last error-level message FFmpeg logged (empty when none since the
// last call of clear_logged_error).
std::string logged_error();
void clear_logged_error();

// Routes FFmpeg's log into a quiet collector (once per process): the
// libraries would otherwise print encoder statistics and every concealed
// decoding error on the standard error stream of the host.
void quiet_ffmpeg_log();

// For a stream copied into a file of `format`: keeps the stored codec tag
// where the container takes it (some codecs name their layout in it, as
// Ut Video's ULRG or ULY0 do), else lets the container pick its own.
void keep_codec_tag(AVCodecParameters &copy, const AVOutputFormat &format);

}  // namespace ffmpeg_plugin
