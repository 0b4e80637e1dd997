#include "ffstill_deep_write.h"

#include <cstring>

#include "ffstill_decode.h"
#include "udil_sdk.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace ffstill {
namespace {

bool allocate(AVFrame &picture, AVPixelFormat format, const UdilDeepFrame &frame, std::string &error) {
    picture.format = format;
    picture.width = frame.width;
    picture.height = frame.height;
    if (av_frame_get_buffer(&picture, 0) >= 0) return true;
    error = "out of memory";
    return false;
}

// OpenEXR's planes (FFmpeg's G, B, R, A order; grey as one plane) of float
// samples; half ones are widened exactly, and the encoder's half format
// narrows them back to the same bits.
bool fill_exr_planes(const UdilDeepFrame &frame, AVFrame &picture, std::string &error) {
    static constexpr AVPixelFormat kLayouts[] = {AV_PIX_FMT_GRAYF32, AV_PIX_FMT_NONE, AV_PIX_FMT_GBRPF32,
                                                 AV_PIX_FMT_GBRAPF32};
    if (frame.channels == 2) {
        error = "OpenEXR pictures are written as L, RGB or RGBA: convert grey with alpha to RGBA first";
        return false;
    }
    if (!allocate(picture, kLayouts[frame.channels - 1], frame, error)) return false;
    static constexpr int kPlaneOf[4] = {2, 0, 1, 3};  // R, G, B, A
    const int64_t channels = frame.channels;
    for (int64_t y = 0; y < frame.height; ++y) {
        const uint8_t *row = udil_sdk::deep_row(frame, y);
        for (int c = 0; c < frame.channels; ++c) {
            const int plane = channels == 1 ? 0 : kPlaneOf[c];
            auto *out = reinterpret_cast<float *>(picture.data[plane] + y * picture.linesize[plane]);
            if (frame.sample == UDIL_SAMPLE_F32) {
                for (int64_t x = 0; x < frame.width; ++x)
                    out[x] = udil_sdk::row_sample<float>(row, x * channels + c);
            } else {
                for (int64_t x = 0; x < frame.width; ++x)
                    out[x] = udil_sdk::half_to_float(udil_sdk::row_sample<uint16_t>(row, x * channels + c));
            }
        }
    }
    return true;
}

bool encoder_takes(const char *encoder_name, AVPixelFormat format) {
    const AVCodec *codec = avcodec_find_encoder_by_name(encoder_name);
    if (codec == nullptr || codec->pix_fmts == nullptr) return false;
    for (const AVPixelFormat *one = codec->pix_fmts; *one != AV_PIX_FMT_NONE; ++one)
        if (*one == format) return true;
    return false;
}

// DPX at 10 or 12 bits: FFmpeg writes those from planar GBR pictures; the
// samples keep their top bits, the inverse of the reader's widening.
bool fill_gbr_planes(const UdilDeepFrame &frame, int bits, AVFrame &picture, std::string &error) {
    if (frame.channels != 3) {
        error = "DPX is written at " + std::to_string(bits) + " bits from RGB pictures only: write 16 bits";
        return false;
    }
    if (!allocate(picture, bits == 10 ? AV_PIX_FMT_GBRP10 : AV_PIX_FMT_GBRP12, frame, error)) return false;
    static constexpr int kPlaneOf[3] = {2, 0, 1};
    const int shift = 16 - bits;
    for (int64_t y = 0; y < frame.height; ++y) {
        const uint8_t *in = udil_sdk::deep_row(frame, y);
        for (int c = 0; c < 3; ++c) {
            auto *out =
                reinterpret_cast<uint16_t *>(picture.data[kPlaneOf[c]] + y * picture.linesize[kPlaneOf[c]]);
            for (int64_t x = 0; x < frame.width; ++x)
                out[x] = uint16_t(udil_sdk::row_sample<uint16_t>(in, x * 3 + c) >> shift);
        }
    }
    return true;
}

// 16-bit samples as they are, in the packed layout of their channels.
bool fill_packed_16(const UdilDeepFrame &frame, const StillFormat &format, AVFrame &picture,
                    std::string &error) {
    static constexpr AVPixelFormat kLayouts[] = {AV_PIX_FMT_GRAY16LE, AV_PIX_FMT_YA16LE, AV_PIX_FMT_RGB48LE,
                                                 AV_PIX_FMT_RGBA64LE};
    static constexpr const char *kNames[] = {"grey", "grey with alpha", "RGB", "RGBA"};
    const AVPixelFormat layout = kLayouts[frame.channels - 1];
    if (!encoder_takes(format.encoder, layout)) {
        error = std::string("this FFmpeg's ") + format.encoder + " encoder writes no 16-bit " +
                kNames[frame.channels - 1] + " pictures";
        return false;
    }
    if (!allocate(picture, layout, frame, error)) return false;
    const size_t row_bytes = size_t(frame.width) * size_t(frame.channels) * 2;
    for (int64_t y = 0; y < frame.height; ++y)
        std::memcpy(picture.data[0] + y * picture.linesize[0], udil_sdk::deep_row(frame, y), row_bytes);
    return true;
}

}  // namespace

bool encode_deep(std::FILE *file, const UdilDeepFrame &frame, const EncodeSettings &settings,
                 std::string &error) {
    FramePtr picture(av_frame_alloc());
    if (!picture) {
        error = "out of memory";
        return false;
    }
    EncodeSettings used = settings;
    bool filled;
    if (settings.format->kind == Kind::exr) {
        used.exr_float = frame.sample == UDIL_SAMPLE_F32;  // the frame's own kind, whatever exrpixel says
        filled = fill_exr_planes(frame, *picture, error);
    } else if (settings.format->kind == Kind::dpx && settings.dpx_bits < 16) {
        filled = fill_gbr_planes(frame, settings.dpx_bits, *picture, error);
    } else {
        filled = fill_packed_16(frame, *settings.format, *picture, error);
    }
    return filled && encode_frame(file, *picture, used, error);
}

}  // namespace ffstill
