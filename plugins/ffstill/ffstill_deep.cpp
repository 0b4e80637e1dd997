#include "ffstill_deep.h"

#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ffstill {
namespace {

bool has_flag(const AVPixFmtDescriptor &descriptor, uint64_t flag) { return (descriptor.flags & flag) != 0; }

// RGB or grey samples, no palette: what a deep frame holds as it is.
bool plain_samples(const AVPixFmtDescriptor &descriptor) {
    if (has_flag(descriptor, AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_HWACCEL))
        return false;
    return has_flag(descriptor, AV_PIX_FMT_FLAG_RGB) || descriptor.nb_components <= 2;
}

// The descriptor's component for channel `channel` of a frame of
// `channels`: grey and alpha are components 0 and the last one.
int component_of(const AVPixFmtDescriptor &descriptor, int channel, int channels) {
    if (channels <= 2 && channel == 1) return descriptor.nb_components - 1;
    return channel;
}

// Repeats a sample's `bits` bits to fill 16, so that its top value is
// 65535 (10-bit abcdefghij gives abcdefghij abcdef).
uint16_t widen(uint32_t value, int bits) {
    if (bits >= 16) return uint16_t(value);
    uint32_t wide = 0;
    for (int shift = 16 - bits; shift > -bits; shift -= bits)
        wide |= shift >= 0 ? value << shift : value >> -shift;
    return uint16_t(wide);
}

}  // namespace

int32_t deep_sample_of(const AVFrame &picture) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    if (descriptor == nullptr || !plain_samples(*descriptor) || descriptor->comp[0].depth <= 8)
        return UDIL_SAMPLE_U8;
    if (has_flag(*descriptor, AV_PIX_FMT_FLAG_FLOAT))
        return descriptor->comp[0].depth == 32 ? UDIL_SAMPLE_F32 : UDIL_SAMPLE_U8;
    return descriptor->comp[0].depth <= 16 ? UDIL_SAMPLE_U16 : UDIL_SAMPLE_U8;
}

bool read_deep(const AVFrame &picture, const UdilDeepFrame &frame, std::string &error) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    if (descriptor == nullptr || frame.channels > descriptor->nb_components) {
        error = "the picture has fewer components than asked";
        return false;
    }
    // One component of one row at a time, through FFmpeg's own reader of
    // the format's layout (planes, packing, byte order).
    std::vector<uint32_t> line(size_t(frame.width));
    for (int y = 0; y < frame.height; ++y) {
        uint8_t *row = static_cast<uint8_t *>(frame.pixels) + int64_t(y) * frame.stride;
        for (int channel = 0; channel < frame.channels; ++channel) {
            const int c = component_of(*descriptor, channel, frame.channels);
            av_read_image_line2(line.data(), const_cast<const uint8_t **>(picture.data), picture.linesize,
                                descriptor, 0, y, c, frame.width, 0, 4);
            if (frame.sample == UDIL_SAMPLE_F32) {
                auto *out = reinterpret_cast<float *>(row);
                for (int x = 0; x < frame.width; ++x)
                    std::memcpy(&out[int64_t(x) * frame.channels + channel], &line[size_t(x)], sizeof(float));
            } else {
                auto *out = reinterpret_cast<uint16_t *>(row);
                const int bits = descriptor->comp[c].depth;
                for (int x = 0; x < frame.width; ++x)
                    out[int64_t(x) * frame.channels + channel] = widen(line[size_t(x)], bits);
            }
        }
    }
    return true;
}

}  // namespace ffstill
