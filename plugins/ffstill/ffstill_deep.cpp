#include "ffstill_deep.h"

#include <cstring>
#include <vector>

#include "udil_sdk.h"

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

// True when the component's samples are whole machine words of this
// host's byte order (16 bits holding 9 to 16, or a 32-bit float) at a
// fixed step, read directly; others go through FFmpeg's line reader.
bool stored_whole(const AVPixFmtDescriptor &descriptor, const AVComponentDescriptor &component) {
    constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    if (!kLittleEndianHost || has_flag(descriptor, AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_BITSTREAM) ||
        component.shift != 0)
        return false;
    if (has_flag(descriptor, AV_PIX_FMT_FLAG_FLOAT)) return component.depth == 32 && component.step >= 4;
    return component.depth > 8 && component.depth <= 16 && component.step >= 2;
}

// True when the picture's rows are the frame's rows as they are: its
// components whole, full-range and interleaved in the frame's order
// (rgb48, rgba64, gray16, ya16 and grayf32 of this host's byte order).
bool same_rows(const AVPixFmtDescriptor &descriptor, const UdilDeepFrame &frame) {
    const int bytes = udil_sdk::sample_size(frame.sample);
    if (frame.channels != descriptor.nb_components) return false;
    for (int c = 0; c < frame.channels; ++c) {
        const AVComponentDescriptor &component = descriptor.comp[c];
        if (!stored_whole(descriptor, component) || component.depth != 8 * bytes || component.plane != 0 ||
            component.offset != c * bytes || component.step != frame.channels * bytes)
            return false;
    }
    return true;
}

// One component of one row through FFmpeg's own reader of the format's
// layout (planes, packing, byte order).
void read_line(const AVFrame &picture, const AVPixFmtDescriptor &descriptor, int y, int c,
               std::vector<uint32_t> &line) {
    av_read_image_line2(line.data(), const_cast<const uint8_t **>(picture.data), picture.linesize,
                        &descriptor, 0, y, c, int(line.size()), 0, 4);
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
    std::vector<uint32_t> line(size_t(frame.width));
    const int64_t channels = frame.channels;
    const bool copied = same_rows(*descriptor, frame);
    for (int y = 0; y < frame.height; ++y) {
        uint8_t *row = static_cast<uint8_t *>(frame.pixels) + int64_t(y) * frame.stride;
        if (copied) {
            std::memcpy(row, picture.data[0] + int64_t(y) * picture.linesize[0],
                        size_t(frame.width) * size_t(channels) * size_t(udil_sdk::sample_size(frame.sample)));
            continue;
        }
        for (int channel = 0; channel < frame.channels; ++channel) {
            const int c = component_of(*descriptor, channel, frame.channels);
            const AVComponentDescriptor &component = descriptor->comp[c];
            const uint8_t *in = picture.data[component.plane] +
                                int64_t(y) * picture.linesize[component.plane] + component.offset;
            const int64_t step = component.step;
            if (frame.sample == UDIL_SAMPLE_F32) {
                auto *out = reinterpret_cast<float *>(row) + channel;
                if (stored_whole(*descriptor, component)) {
                    for (int64_t x = 0; x < frame.width; ++x)
                        std::memcpy(&out[x * channels], in + x * step, 4);
                    continue;
                }
                read_line(picture, *descriptor, y, c, line);
                for (int64_t x = 0; x < frame.width; ++x)
                    std::memcpy(&out[x * channels], &line[size_t(x)], 4);
                continue;
            }
            auto *out = reinterpret_cast<uint16_t *>(row) + channel;
            const int bits = component.depth;
            if (stored_whole(*descriptor, component)) {
                // The widening below for 9 to 16 bits: abcdefghij -> abcdefghij abcdef.
                const int up = 16 - bits, down = bits - up;
                for (int64_t x = 0; x < frame.width; ++x) {
                    uint16_t value;
                    std::memcpy(&value, in + x * step, 2);
                    out[x * channels] = uint16_t(value << up | value >> down);
                }
                continue;
            }
            read_line(picture, *descriptor, y, c, line);
            for (int64_t x = 0; x < frame.width; ++x) out[x * channels] = widen(line[size_t(x)], bits);
        }
    }
    return true;
}

}  // namespace ffstill
