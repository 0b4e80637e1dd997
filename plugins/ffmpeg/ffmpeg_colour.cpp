#include "ffmpeg_colour.h"

#include <cstring>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

#include "udil_sdk.h"

namespace ffmpeg_plugin {

namespace {

// swscale's special unscaled YUV to RGB converters (see
// special_layout) are fast and give each chroma sample to the pixels it
// was made for; the ffmpeg command uses them too. They work on groups of
// 16 pixels and spoil the last columns of other widths, which take the
// exact path instead (chroma interpolated for every pixel). Every other
// picture is converted with the command's default filter, bicubic, so
// that it reads as the command reads it. Scaled pictures (a size that
// differs from the stream's) take the exact path.
constexpr int kFastFlags = SWS_BILINEAR;
constexpr int kExactFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
constexpr int kCommandFlags = SWS_BICUBIC;

// Bytes after the RGB rows swscale reads: FFmpeg's own input padding,
// more than any vector word.
constexpr size_t kReadPadding = 64;

// Whether swscale has a special unscaled converter for `format` at
// `height`: planar 4:2:2, and 4:2:0 when its rows pair up (an even height).
bool special_layout(AVPixelFormat format, int height) {
    switch (format) {
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUVJ422P:
            return true;
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVA420P:
            return height % 2 == 0;
        default:
            return false;
    }
}

int flags_for(AVPixelFormat format, int source_width, int source_height, int width, int height) {
    if (source_width != width || source_height != height) return kExactFlags;
    if (!special_layout(format, source_height)) return kCommandFlags;
    return source_width % 16 == 0 ? kFastFlags : kExactFlags;
}

bool is_rgb(AVPixelFormat format) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

bool is_full_range_format(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            return false;
    }
}

// swscale's coefficient table for a stream's matrix; unstated matrices go
// by picture size.
int swscale_matrix(AVColorSpace space, int width, int height) {
    switch (space) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return is_high_definition(width, height) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

int set_matrix(SwsContext *scaler, int matrix, bool source_full, bool target_full) {
    const int *table = sws_getCoefficients(matrix);
    // Brightness 0, contrast and saturation 1.0 in 16.16 fixed point.
    return sws_setColorspaceDetails(scaler, table, source_full, table, target_full, 0, 1 << 16, 1 << 16);
}

// Points `data` at the last row of every plane of `picture` and negates
// the strides, so that the picture reads bottom row first. A palette is
// not a plane of rows and stays as it is.
void flip_planes(const AVFrame &picture, const uint8_t *data[4], int stride[4]) {
    const auto format = AVPixelFormat(picture.format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    const bool palette = descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    const int planes = palette ? 1 : av_pix_fmt_count_planes(format);
    for (int i = 0; i < 4; ++i) {
        data[i] = picture.data[i];
        stride[i] = picture.linesize[i];
    }
    for (int i = 0; i < planes && i < 4; ++i) {
        const int shift = (i == 1 || i == 2) && descriptor != nullptr ? descriptor->log2_chroma_h : 0;
        const int rows = AV_CEIL_RSHIFT(picture.height, shift);
        data[i] = picture.data[i] + int64_t(picture.linesize[i]) * (rows - 1);
        stride[i] = -picture.linesize[i];
    }
}

// Whether swscale converts `format` read bottom row first (negative
// strides) exactly as it converts it top row first. Only its special
// converters give each chroma row to the luma rows it was made of
// whichever way round they are read. Every other path sites chroma
// between rows, which read upside down puts colour edges a row off: those
// pictures are converted top row first and their rows turned afterwards.
bool reads_upside_down_well(AVPixelFormat format, int source_width, int source_height, int width,
                            int height) {
    return flags_for(format, source_width, source_height, width, height) == kFastFlags;
}

}  // namespace

bool is_high_definition(int width, int height) { return height >= 720 || width >= 1280; }

ColourTags tags_for_new_movie(int width, int height, AVPixelFormat format) {
    if (is_rgb(format))
        return {AVCOL_SPC_RGB, AVCOL_RANGE_JPEG, AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED};
    const bool high_definition = is_high_definition(width, height);
    const AVColorPrimaries primaries = high_definition ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    const AVColorTransferCharacteristic transfer = high_definition ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    // JPEG pictures (JFIF) are BT.601 at full range whatever their size:
    // that is what every decoder assumes.
    if (is_full_range_format(format)) return {AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG, primaries, transfer};
    return {high_definition ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, primaries, transfer};
}

bool has_alpha(AVPixelFormat format) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

bool is_deep_format(AVPixelFormat format) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && descriptor->comp[0].depth > 8;
}

int PictureToRgb::prepare(const AVFrame &picture, int width, int height, AVPixelFormat target, bool alpha) {
    const auto source_format = AVPixelFormat(picture.format);
    const bool full_range = picture.color_range == AVCOL_RANGE_JPEG || is_full_range_format(source_format);
    // A damaged stream can leave a number outside the enumeration in the
    // frame: read it as the integer it is, and take unknown ones as unstated.
    int stated_space = 0;
    std::memcpy(&stated_space, &picture.colorspace, sizeof stated_space);
    const AVColorSpace colorspace =
        stated_space >= 0 && stated_space < AVCOL_SPC_NB ? AVColorSpace(stated_space) : AVCOL_SPC_UNSPECIFIED;
    const int space = swscale_matrix(colorspace, picture.width, picture.height);
    if (!scaler_ || picture.width != source_width_ || picture.height != source_height_ ||
        picture.format != source_format_ || width != target_width_ || height != target_height_ ||
        space != space_ || int(full_range) != range_ || alpha != alpha_ || target != target_format_) {
        scaler_.reset(sws_getContext(picture.width, picture.height, source_format, width, height, target,
                                     flags_for(source_format, picture.width, picture.height, width, height),
                                     nullptr, nullptr, nullptr));
        if (!scaler_) return AVERROR(ENOSYS);
        // A matrix swscale cannot take would give wrong colours: refuse.
        if (!is_rgb(source_format) && set_matrix(scaler_.get(), space, full_range, true) < 0) {
            scaler_.reset();
            return AVERROR(EINVAL);
        }
        reads_upside_down_ =
            reads_upside_down_well(source_format, picture.width, picture.height, width, height);
        source_width_ = picture.width;
        source_height_ = picture.height;
        source_format_ = picture.format;
        target_width_ = width;
        target_height_ = height;
        space_ = space;
        range_ = full_range;
        alpha_ = alpha;
        target_format_ = target;
    }
    return 0;
}

int PictureToRgb::convert(const AVFrame &picture, uint8_t *pixels, int width, int height, bool alpha) {
    const int prepared = prepare(picture, width, height, alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24, alpha);
    if (prepared < 0) return prepared;
    // The host's row 0 is the bottom of the picture.
    const int row = width * (alpha ? 4 : 3);
    if (reads_upside_down_) {
        const uint8_t *source[4] = {nullptr, nullptr, nullptr, nullptr};
        int source_stride[4] = {0, 0, 0, 0};
        flip_planes(picture, source, source_stride);
        uint8_t *target[4] = {pixels, nullptr, nullptr, nullptr};
        const int target_stride[4] = {row, 0, 0, 0};
        const int made =
            sws_scale(scaler_.get(), source, source_stride, 0, picture.height, target, target_stride);
        if (made < 0) return made;
        return made == height ? 0 : AVERROR(EINVAL);
    }
    top_down_.resize(size_t(row) * size_t(height) + kReadPadding);
    uint8_t *target[4] = {top_down_.data(), nullptr, nullptr, nullptr};
    const int target_stride[4] = {row, 0, 0, 0};
    const int made =
        sws_scale(scaler_.get(), picture.data, picture.linesize, 0, picture.height, target, target_stride);
    if (made < 0) return made;
    if (made != height) return AVERROR(EINVAL);
    for (int y = 0; y < height; ++y)
        std::memcpy(pixels + size_t(height - 1 - y) * size_t(row), top_down_.data() + size_t(y) * size_t(row),
                    size_t(row));
    return 0;
}

int PictureToRgb::convert_deep(const AVFrame &picture, uint8_t *top, int64_t stride, int width, int height,
                               bool alpha) {
    const AVPixelFormat target = alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48;
    const int prepared = prepare(picture, width, height, target, alpha);
    if (prepared < 0) return prepared;
    if (stride > INT32_MAX) return AVERROR(EINVAL);
    // Converted top row first, as the ffmpeg command converts.
    uint8_t *target_rows[4] = {top, nullptr, nullptr, nullptr};
    const int target_stride[4] = {int(stride), 0, 0, 0};
    const int made = sws_scale(scaler_.get(), picture.data, picture.linesize, 0, picture.height, target_rows,
                               target_stride);
    if (made < 0) return made;
    return made == height ? 0 : AVERROR(EINVAL);
}

namespace {

// A scaler from full-range RGB pixels of `source` into `format` with the
// matrix and range of `tags`. 0, or a negative FFmpeg error code.
int make_encoder_scaler(ScalerPtr &scaler, int width, int height, AVPixelFormat source, AVPixelFormat format,
                        const ColourTags &tags) {
    scaler.reset(
        sws_getContext(width, height, source, width, height, format, kExactFlags, nullptr, nullptr, nullptr));
    if (!scaler) return AVERROR(ENOSYS);
    if (!is_rgb(format)) {
        const int matrix = swscale_matrix(tags.space, width, height);
        const int status = set_matrix(scaler.get(), matrix, true, tags.range == AVCOL_RANGE_JPEG);
        if (status < 0) return AVERROR(EINVAL);
    }
    return 0;
}

}  // namespace

int RgbToPicture::prepare(int width, int height, AVPixelFormat format, const ColourTags &tags) {
    const int made = make_encoder_scaler(scaler_, width, height, AV_PIX_FMT_RGB24, format, tags);
    if (made < 0) return made;
    width_ = width;
    height_ = height;
    top_down_.assign(size_t(height) * size_t(width) * 3 + kReadPadding, 0);
    return 0;
}

int RgbToPicture::convert(const uint8_t *pixels, AVFrame &picture) {
    // The host's row 0 is the bottom of the picture: the rows are copied
    // top row first into a buffer padded past its end, because swscale's
    // row readers load whole vector words and run past a row's end, and
    // some of its unscaled paths only handle forward strides.
    const size_t row = size_t(width_) * 3;
    for (int y = 0; y < height_; ++y)
        std::memcpy(top_down_.data() + size_t(y) * row, pixels + size_t(height_ - 1 - y) * row, row);
    // Paired chroma input reads one pixel past an odd row: let it be the
    // row's own last pixel rather than padding.
    std::memcpy(top_down_.data() + size_t(height_) * row, top_down_.data() + size_t(height_) * row - 3, 3);
    const int source_stride[4] = {int(row), 0, 0, 0};
    const uint8_t *source[4] = {top_down_.data(), nullptr, nullptr, nullptr};
    const int made =
        sws_scale(scaler_.get(), source, source_stride, 0, height_, picture.data, picture.linesize);
    if (made < 0) return made;
    return made == height_ ? 0 : AVERROR(EINVAL);
}

int DeepToPicture::prepare(int width, int height, bool alpha, AVPixelFormat format, const ColourTags &tags) {
    const int made = make_encoder_scaler(scaler_, width, height, alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48,
                                         format, tags);
    if (made < 0) return made;
    width_ = width;
    height_ = height;
    values_ = width * (alpha ? 4 : 3);
    // swscale's row readers load whole vector words past a row's end.
    rows_.assign(size_t(values_) * size_t(height) + kReadPadding / sizeof(uint16_t), 0);
    return 0;
}

int DeepToPicture::convert(const uint8_t *top, int64_t stride, int channels, AVFrame &picture) {
    // Copied into the padded buffer (the caller's frame ends where its last
    // row does), grey widened on the way.
    const size_t width = size_t(width_);
    for (int y = 0; y < height_; ++y) {
        const uint8_t *source = top + y * stride;
        uint16_t *target = rows_.data() + size_t(y) * size_t(values_);
        if (channels * int(width) == values_) {
            std::memcpy(target, source, width * size_t(channels) * sizeof(uint16_t));
        } else if (channels == 1) {
            for (size_t x = 0; x < width; ++x)
                target[3 * x] = target[3 * x + 1] = target[3 * x + 2] =
                    udil_sdk::row_sample<uint16_t>(source, int64_t(x));
        } else {
            for (size_t x = 0; x < width; ++x) {
                target[4 * x] = target[4 * x + 1] = target[4 * x + 2] =
                    udil_sdk::row_sample<uint16_t>(source, int64_t(2 * x));
                target[4 * x + 3] = udil_sdk::row_sample<uint16_t>(source, int64_t(2 * x + 1));
            }
        }
    }
    // Paired chroma input reads one pixel past an odd row (see RgbToPicture).
    const size_t pixel = size_t(values_) / width;
    std::memcpy(rows_.data() + size_t(height_) * size_t(values_),
                rows_.data() + size_t(height_) * size_t(values_) - pixel, pixel * sizeof(uint16_t));
    const int source_stride[4] = {int(size_t(values_) * sizeof(uint16_t)), 0, 0, 0};
    const uint8_t *source[4] = {reinterpret_cast<const uint8_t *>(rows_.data()), nullptr, nullptr, nullptr};
    const int made =
        sws_scale(scaler_.get(), source, source_stride, 0, height_, picture.data, picture.linesize);
    if (made < 0) return made;
    return made == height_ ? 0 : AVERROR(EINVAL);
}

}  // namespace ffmpeg_plugin
