#include "ffstill_reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace ffstill {

namespace {

int32_t channels_of(int32_t format) {
    switch (format) {
        case UDIL_FMT_L:
            return 1;
        case UDIL_FMT_LA:
            return 2;
        case UDIL_FMT_RGB:
            return 3;
        case UDIL_FMT_RGBA:
            return 4;
        default:
            return 0;
    }
}

bool has_flag(const AVPixFmtDescriptor &descriptor, uint64_t flag) { return (descriptor.flags & flag) != 0; }

// Samples the generic row reader takes: RGB and grey, integer or float.
bool is_rgb_or_grey(const AVPixFmtDescriptor &descriptor) {
    if (has_flag(descriptor, AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_HWACCEL)) return false;
    return has_flag(descriptor, AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL) || descriptor.nb_components <= 2;
}

// Whether a palette picture uses a colour that is not opaque.
bool palette_has_alpha(const AVFrame &picture) {
    const auto *palette = reinterpret_cast<const uint32_t *>(picture.data[1]);
    if (palette == nullptr) return false;
    std::array<bool, 256> used{};
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t *row = picture.data[0] + int64_t(y) * picture.linesize[0];
        for (int x = 0; x < picture.width; ++x) used[row[x]] = true;
    }
    for (int i = 0; i < 256; ++i)
        if (used[size_t(i)] && (palette[i] >> 24) != 0xff) return true;
    return false;
}

// Whether any 8-bit or deeper integer alpha sample is below opaque.
bool alpha_is_used(const AVFrame &picture, const AVPixFmtDescriptor &descriptor) {
    const int alpha = descriptor.nb_components - 1;
    const AVComponentDescriptor &component = descriptor.comp[alpha];
    if (has_flag(descriptor, AV_PIX_FMT_FLAG_FLOAT)) return true;
    const uint32_t opaque = (1u << component.depth) - 1;
    const uint8_t *data[4] = {picture.data[0], picture.data[1], picture.data[2], picture.data[3]};
    std::vector<uint32_t> samples(static_cast<size_t>(picture.width));
    for (int y = 0; y < picture.height; ++y) {
        av_read_image_line2(samples.data(), data, picture.linesize, &descriptor, 0, y, alpha, picture.width,
                            0, 4);
        for (const uint32_t sample : samples)
            if (sample != opaque) return true;
    }
    return false;
}

// Linear light 0..1 in 1/65535 steps to sRGB-encoded 8-bit values.
const std::array<uint8_t, 65536> &srgb_table() {
    static const std::array<uint8_t, 65536> table = [] {
        std::array<uint8_t, 65536> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            const double linear = double(i) / 65535.0;
            const double encoded =
                linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
            values[i] = uint8_t(std::lround(std::clamp(encoded, 0.0, 1.0) * 255.0));
        }
        return values;
    }();
    return table;
}

float clipped(float value) { return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f); }

// One component of one row, as 8-bit values written every `step` bytes.
void reduce_component(const uint32_t *samples, int width, const AVComponentDescriptor &component,
                      bool is_float, bool transfer, uint8_t *out, int step) {
    if (is_float) {
        const std::array<uint8_t, 65536> &table = srgb_table();
        for (int x = 0; x < width; ++x) {
            float value;
            std::memcpy(&value, &samples[x], sizeof value);
            value = clipped(value);
            out[size_t(x) * size_t(step)] = transfer ? table[size_t(std::lround(value * 65535.0f))]
                                                     : uint8_t(std::lround(value * 255.0f));
        }
        return;
    }
    const int depth = component.depth;
    if (depth >= 8) {
        const int shift = depth - 8;
        for (int x = 0; x < width; ++x) out[size_t(x) * size_t(step)] = uint8_t(samples[x] >> shift);
        return;
    }
    // Fewer bits repeat to fill 8 (5-bit abcde gives abcdeabc), as swscale
    // widens them: 0 stays 0 and the largest value gives 255.
    uint8_t widened[128];
    const uint32_t values = 1u << depth;
    for (uint32_t v = 0; v < values; ++v) {
        uint32_t bits = 0, filled = 0;
        while (filled < 8) {
            bits = (bits << depth) | v;
            filled += uint32_t(depth);
        }
        widened[v] = uint8_t(bits >> (filled - 8));
    }
    for (int x = 0; x < width; ++x) out[size_t(x) * size_t(step)] = widened[samples[x] & (values - 1)];
}

// RGB, grey and palette pictures, sample by sample.
bool reduce_directly(const AVFrame &picture, const AVPixFmtDescriptor &descriptor, int32_t channels,
                     uint8_t *pixels) {
    const int width = picture.width, height = picture.height;
    const bool palette = has_flag(descriptor, AV_PIX_FMT_FLAG_PAL);
    const bool is_float = has_flag(descriptor, AV_PIX_FMT_FLAG_FLOAT);
    const bool colour_in = palette || has_flag(descriptor, AV_PIX_FMT_FLAG_RGB);
    const bool alpha_in = has_flag(descriptor, AV_PIX_FMT_FLAG_ALPHA) && !palette;
    const bool colour_out = channels >= 3, alpha_out = channels == 2 || channels == 4;
    const int colours_out = colour_out ? 3 : 1;
    const uint8_t *data[4] = {picture.data[0], picture.data[1], picture.data[2], picture.data[3]};
    const size_t row_bytes = size_t(width) * size_t(channels);
    std::vector<uint32_t> samples(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        uint8_t *out = pixels + size_t(height - 1 - y) * row_bytes;
        if (palette) {
            av_read_image_line2(samples.data(), data, picture.linesize, &descriptor, 0, y, 0, width, 0, 4);
            const auto *colours = reinterpret_cast<const uint32_t *>(picture.data[1]);
            for (int x = 0; x < width; ++x) {
                const uint32_t argb = colours[samples[size_t(x)] & 0xff];
                uint8_t *pixel = out + size_t(x) * size_t(channels);
                const uint8_t red = uint8_t(argb >> 16), green = uint8_t(argb >> 8), blue = uint8_t(argb);
                if (colour_out) {
                    pixel[0] = red;
                    pixel[1] = green;
                    pixel[2] = blue;
                } else {
                    pixel[0] = uint8_t((red * 299 + green * 587 + blue * 114 + 500) / 1000);
                }
                if (alpha_out) pixel[colours_out] = uint8_t(argb >> 24);
            }
            continue;
        }
        for (int c = 0; c < colours_out; ++c) {
            // Grey delivered as RGB repeats its one component.
            const int component = colour_in ? c : 0;
            av_read_image_line2(samples.data(), data, picture.linesize, &descriptor, 0, y, component, width,
                                0, 4);
            reduce_component(samples.data(), width, descriptor.comp[component], is_float, is_float, out + c,
                             channels);
        }
        if (!alpha_out) continue;
        if (!alpha_in) {
            for (int x = 0; x < width; ++x) out[size_t(x) * size_t(channels) + size_t(colours_out)] = 255;
            continue;
        }
        const int alpha = colour_in ? 3 : 1;
        av_read_image_line2(samples.data(), data, picture.linesize, &descriptor, 0, y, alpha, width, 0, 4);
        reduce_component(samples.data(), width, descriptor.comp[alpha], is_float, false, out + colours_out,
                         channels);
    }
    return true;
}

struct ScalerFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

// YUV and other pictures through swscale, with the matrix and range the
// picture states (BT.601 when it states none), top row first.
bool reduce_through_swscale(const AVFrame &picture, int32_t channels, uint8_t *pixels, std::string &error) {
    const AVPixelFormat target = channels == 4 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    if (channels != 3 && channels != 4) {
        error = "a colour picture cannot be read as grey";
        return false;
    }
    std::unique_ptr<SwsContext, ScalerFreer> scaler(sws_getContext(
        picture.width, picture.height, AVPixelFormat(picture.format), picture.width, picture.height, target,
        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!scaler) {
        error = std::string("can't convert pictures in ") +
                (av_get_pix_fmt_name(AVPixelFormat(picture.format)) ?: "an unknown pixel format");
        return false;
    }
    const int matrix = picture.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    const int *table = sws_getCoefficients(matrix);
    const bool full_range = picture.color_range == AVCOL_RANGE_JPEG;
    sws_setColorspaceDetails(scaler.get(), table, full_range, table, 1, 0, 1 << 16, 1 << 16);
    const int row = picture.width * channels;
    std::vector<uint8_t> top_down(size_t(row) * size_t(picture.height) + 64);
    uint8_t *target_rows[4] = {top_down.data(), nullptr, nullptr, nullptr};
    const int target_stride[4] = {row, 0, 0, 0};
    const int made = sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, target_rows,
                               target_stride);
    if (made != picture.height) {
        error = "swscale converted only part of the picture";
        return false;
    }
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(pixels + size_t(picture.height - 1 - y) * size_t(row),
                    top_down.data() + size_t(y) * size_t(row), size_t(row));
    return true;
}

}  // namespace

int32_t host_format_of(const AVFrame &picture, bool alpha_if_used) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    if (descriptor == nullptr) return 0;
    if (has_flag(*descriptor, AV_PIX_FMT_FLAG_PAL))
        return palette_has_alpha(picture) ? UDIL_FMT_RGBA : UDIL_FMT_RGB;
    const bool alpha = has_flag(*descriptor, AV_PIX_FMT_FLAG_ALPHA) &&
                       (!alpha_if_used || alpha_is_used(picture, *descriptor));
    if (is_rgb_or_grey(*descriptor) && !has_flag(*descriptor, AV_PIX_FMT_FLAG_RGB))
        return alpha ? UDIL_FMT_LA : UDIL_FMT_L;
    return alpha ? UDIL_FMT_RGBA : UDIL_FMT_RGB;
}

bool reduce_to_8_bits(const AVFrame &picture, int32_t format, uint8_t *pixels, std::string &error) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    const int32_t channels = channels_of(format);
    if (descriptor == nullptr || channels == 0) {
        error = "unknown pixel format";
        return false;
    }
    if (is_rgb_or_grey(*descriptor)) return reduce_directly(picture, *descriptor, channels, pixels);
    return reduce_through_swscale(picture, channels, pixels, error);
}

}  // namespace ffstill
