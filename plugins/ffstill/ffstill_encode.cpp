#include "ffstill_encode.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "ffstill_decode.h"

#include "ffstill_owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace ffstill {

namespace {

struct ScalerFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

AVPixelFormat format_of_channels(int32_t channels) {
    switch (channels) {
        case 1:
            return AV_PIX_FMT_GRAY8;
        case 2:
            return AV_PIX_FMT_YA8;
        case 4:
            return AV_PIX_FMT_RGBA;
        default:
            return AV_PIX_FMT_RGB24;
    }
}

// sRGB-encoded 8-bit values to linear light.
const std::array<float, 256> &linear_table() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            const double encoded = double(i) / 255.0;
            values[i] =
                float(encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4));
        }
        return values;
    }();
    return table;
}

// The picture as OpenEXR's float planes (G, B, R, A order of FFmpeg's
// GBR formats; grey as one plane).
bool fill_float_planes(const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
                       AVFrame &frame) {
    const bool grey = channels <= 2, alpha = channels == 2 || channels == 4;
    frame.format = grey ? AV_PIX_FMT_GRAYF32 : alpha ? AV_PIX_FMT_GBRAPF32 : AV_PIX_FMT_GBRPF32;
    if (grey && alpha) return false;  // grey with alpha is written as RGBA (see encode)
    frame.width = width;
    frame.height = height;
    if (av_frame_get_buffer(&frame, 0) < 0) return false;
    const std::array<float, 256> &linear = linear_table();
    // Plane of each source channel: R -> 2, G -> 0, B -> 1, A -> 3.
    static constexpr int kPlaneOf[4] = {2, 0, 1, 3};
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *in = pixels + size_t(height - 1 - y) * size_t(width) * size_t(channels);
        for (int32_t c = 0; c < channels; ++c) {
            const int plane = grey ? 0 : kPlaneOf[c];
            auto *out = reinterpret_cast<float *>(frame.data[plane] + int64_t(y) * frame.linesize[plane]);
            if (c == 3)
                for (int32_t x = 0; x < width; ++x) out[x] = float(in[size_t(x) * 4 + 3]) / 255.0f;
            else
                for (int32_t x = 0; x < width; ++x)
                    out[x] = linear[in[size_t(x) * size_t(channels) + size_t(c)]];
        }
    }
    return true;
}

// The picture in the pixel format `format` the encoder takes.
bool fill_converted(const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
                    AVPixelFormat format, AVFrame &frame, std::string &error) {
    frame.format = format;
    frame.width = width;
    frame.height = height;
    if (av_frame_get_buffer(&frame, 0) < 0) {
        error = "out of memory";
        return false;
    }
    const AVPixelFormat source = format_of_channels(channels);
    const int row = width * channels;
    // Read bottom row first: the last row of the buffer is the top.
    const uint8_t *top_row = pixels + size_t(height - 1) * size_t(row);
    if (format == source) {
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(frame.data[0] + int64_t(y) * frame.linesize[0], top_row - int64_t(y) * row,
                        size_t(row));
        return true;
    }
    std::unique_ptr<SwsContext, ScalerFreer> scaler(
        sws_getContext(width, height, source, width, height, format,
                       SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!scaler) {
        error = std::string("can't convert pictures into ") +
                (av_get_pix_fmt_name(format) ?: "the encoder's format");
        return false;
    }
    // Top row first into a copy: some of swscale's paths take forward
    // strides only.
    std::vector<uint8_t> top_down(size_t(row) * size_t(height) + 64);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(top_down.data() + size_t(y) * size_t(row), top_row - int64_t(y) * row, size_t(row));
    const uint8_t *rows[4] = {top_down.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {row, 0, 0, 0};
    if (sws_scale(scaler.get(), rows, strides, 0, height, frame.data, frame.linesize) != height) {
        error = "swscale converted only part of the picture";
        return false;
    }
    return true;
}

// The encoder's pixel format closest to the picture's, the picture's own
// when the encoder takes it.
AVPixelFormat encoder_format(const AVCodec &codec, int32_t channels) {
    const AVPixelFormat source = format_of_channels(channels);
    if (codec.pix_fmts == nullptr) return source;
    for (const AVPixelFormat *format = codec.pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
        if (*format == source) return source;
    return avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, source, channels == 2 || channels == 4, nullptr);
}

void set_codec_options(const EncodeSettings &settings, const char *path_suffix, AVDictionary *&options) {
    switch (settings.format->kind) {
        case Kind::exr:
            av_dict_set(&options, "compression", settings.exr_compression, 0);
            av_dict_set(&options, "format", settings.exr_float ? "float" : "half", 0);
            break;
        case Kind::webp:
            av_dict_set_int(&options, "lossless", settings.lossless ? 1 : 0, 0);
            av_dict_set_int(&options, "quality", settings.quality, 0);
            break;
        case Kind::jpegxl: {
            // libjxl's own mapping of a JPEG-like quality to its distance.
            const double distance = settings.lossless ? 0.0
                                    : settings.quality >= 30
                                        ? 0.1 + (100 - settings.quality) * 0.09
                                        : 6.4 + std::pow(2.5, (30 - settings.quality) / 5.0) / 6.25;
            av_dict_set(&options, "distance", std::to_string(distance).c_str(), 0);
            break;
        }
        case Kind::jpeg2000:
            // .j2k and .j2c hold the bare code stream, .jp2 the boxed file.
            av_dict_set(&options, "format", std::strcmp(path_suffix, ".jp2") == 0 ? "jp2" : "j2k", 0);
            // The reversible wavelet: film and archive pictures are kept exactly.
            av_dict_set(&options, "pred", "dwt53", 0);
            break;
        default:
            break;
    }
}

}  // namespace

bool StillEncoder::encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                          int32_t channels, const Settings &settings, std::string &error) {
    av_log_set_level(AV_LOG_QUIET);
    if (settings.format == nullptr) {
        error = "the file name names no still-picture format";
        return false;
    }
    const AVCodec *codec = avcodec_find_encoder_by_name(settings.format->encoder);
    if (codec == nullptr) {
        error = std::string("this FFmpeg has no ") + settings.format->encoder + " encoder";
        return false;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        error = "out of memory";
        return false;
    }
    bool filled = false;
    if (settings.format->kind == Kind::exr) {
        // OpenEXR has no grey-with-alpha layout FFmpeg writes.
        if (channels == 2) {
            error = "OpenEXR pictures are written as L, RGB or RGBA: convert grey with alpha to RGBA first";
            return false;
        }
        filled = fill_float_planes(pixels, width, height, channels, *frame);
        if (!filled) error = "out of memory";
    } else {
        filled =
            fill_converted(pixels, width, height, channels, encoder_format(*codec, channels), *frame, error);
    }
    if (!filled) return false;
    return encode_frame(file, *frame, settings, error);
}

bool encode_frame(std::FILE *file, const AVFrame &frame, const EncodeSettings &settings, std::string &error) {
    const AVCodec *codec = avcodec_find_encoder_by_name(settings.format->encoder);
    CodecPtr encoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !packet) {
        error = codec ? "out of memory"
                      : std::string("this FFmpeg has no ") + settings.format->encoder + " encoder";
        return false;
    }
    encoder->width = frame.width;
    encoder->height = frame.height;
    encoder->pix_fmt = AVPixelFormat(frame.format);
    encoder->time_base = AVRational{1, 25};
    encoder->thread_count = 1;
    AVDictionary *options = nullptr;
    set_codec_options(settings, settings.format->suffix, options);
    int status = avcodec_open2(encoder.get(), codec, &options);
    av_dict_free(&options);
    if (status < 0) {
        error = std::string("can't open the ") + codec->name + " encoder: " + error_text(status);
        return false;
    }
    status = avcodec_send_frame(encoder.get(), &frame);
    if (status >= 0) status = avcodec_send_frame(encoder.get(), nullptr);
    if (status >= 0) status = avcodec_receive_packet(encoder.get(), packet.get());
    if (status < 0) {
        error = std::string("the ") + codec->name + " encoder failed: " + error_text(status);
        return false;
    }
    return std::fwrite(packet->data, 1, size_t(packet->size), file) == size_t(packet->size);
}

}  // namespace ffstill
