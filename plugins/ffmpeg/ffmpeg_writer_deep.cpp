// Deep frames of the writer: 16-bit RGB(A) or grey frames encoded at 10
// bits (ProRes 422 HQ and 4444, DNxHR HQX, H.264 High 10, HEVC Main 10 and
// any other encoder with a format of 10 bits or more) or at 16 bits (FFV1,
// lossless). The encoder's format waits for the first frame's depth.
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_writer.h"

namespace ffmpeg_plugin {

namespace {

bool deep_enough(AVPixelFormat format) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && descriptor->comp[0].depth >= 10 && sws_isSupportedOutput(format);
}

// An encoder's own formats of 10 bits or more, the one closest to the
// frames; none when it has no such format.
AVPixelFormat offered_deep_format(const char *encoder, bool alpha) {
    const AVCodec *codec = avcodec_find_encoder_by_name(encoder);
    if (codec == nullptr || codec->pix_fmts == nullptr) return AV_PIX_FMT_NONE;
    std::vector<AVPixelFormat> usable;
    for (const AVPixelFormat *format = codec->pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
        if (deep_enough(*format)) usable.push_back(*format);
    if (usable.empty()) return AV_PIX_FMT_NONE;
    usable.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(usable.data(), alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48,
                                             alpha, nullptr);
}

}  // namespace

AVPixelFormat MovieWriter::deep_format(int channels) const {
    const bool alpha = channels == 2 || channels == 4;
    const bool odd = width_ % 2 != 0 || height_ % 2 != 0;
    switch (codec_.id) {
        // 4:2:0 needs even sizes; odd ones keep full chroma (High 4:4:4,
        // Main 4:4:4 10). Alpha is not coded.
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_HEVC:
            return odd ? AV_PIX_FMT_YUV444P10 : AV_PIX_FMT_YUV420P10;
        // 422 HQ, or 4444 for alpha and for odd widths (see encoded_format).
        case AV_CODEC_ID_PRORES:
            if (alpha) return AV_PIX_FMT_YUVA444P10;
            return width_ % 2 ? AV_PIX_FMT_YUV444P10 : AV_PIX_FMT_YUV422P10;
        case AV_CODEC_ID_DNXHD:
            return AV_PIX_FMT_YUV422P10;
        // Planar 16-bit RGB: the frames' own values, losslessly.
        case AV_CODEC_ID_FFV1:
            return alpha ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16;
        default:
            return offered_deep_format(codec_.encoder, alpha);
    }
}

int32_t MovieWriter::restart_deep(int channels) {
    if (settings_.eight_bit)
        return fail(1, "ffmpeg: the depth option 8 writes 8-bit frames only, not uint16 samples");
    if (deep_format(channels) == AV_PIX_FMT_NONE)
        return fail(1,
                    "ffmpeg: %s video cannot hold uint16 samples; write 8-bit frames, or the codec prores, "
                    "ffv1, h264 or hevc, or the encoder dnxhd",
                    codec_.label);
    // Nothing is encoded yet: the 8-bit start is let go and the file made
    // again, with the same container, options and tags.
    const std::string path = path_;
    release();
    deep_channels_ = channels;
    return start(path.c_str());
}

int32_t MovieWriter::save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) {
    if (!header_written_) return fail(6, "ffmpeg: no file is open");
    if (!udil_sdk::deep_frame_usable(in) || in.width != width_ || in.height != height_)
        return fail(6, "ffmpeg: the deep frame does not match the movie");
    if (in.sample == UDIL_SAMPLE_U8) {
        if (in.channels != 3) return fail(6, "ffmpeg: 8-bit frames are written from RGB");
        return udil_sdk::save_image_from_deep(*this, frame, eye, in);
    }
    if (in.sample != UDIL_SAMPLE_U16)
        return fail(1, "The ffmpeg format cannot hold %s samples", udil_sdk::sample_name(in.sample));
    if (in_forked_child())
        return fail(7,
                    "ffmpeg: %s is being written by another process (%d): a forked process cannot add to it",
                    path_.c_str(), int(owner_));
    const bool alpha = in.channels == 2 || in.channels == 4;
    const bool written_alpha = deep_channels_ == 2 || deep_channels_ == 4;
    if (next_pts_ > 0 && deep_channels_ == 0)
        return fail(1, "ffmpeg: %s holds 8-bit frames: a uint16 frame cannot follow them", path_.c_str());
    if (next_pts_ > 0 && alpha != written_alpha)
        return fail(1, "ffmpeg: %s holds uint16 frames %s alpha: a frame %s alpha cannot follow them",
                    path_.c_str(), written_alpha ? "with" : "without", alpha ? "with" : "without");
    if (next_pts_ == 0 && deep_channels_ != in.channels) {
        if (const int32_t status = restart_deep(in.channels)) return status;
    }
    clear_logged_error();
    int result = av_frame_make_writable(picture_.get());
    if (result < 0) return fail(2, "ffmpeg: out of memory");
    result = from_deep_.convert(udil_sdk::deep_row(in, 0), in.stride, in.channels, *picture_);
    if (result < 0)
        return fail(7, "ffmpeg: converting a frame of %s to %s failed: %s", path_.c_str(),
                    av_get_pix_fmt_name(AVPixelFormat(picture_->format)), error_text(result).c_str());
    return send_picture();
}

}  // namespace ffmpeg_plugin
