// Conversion between the host's RGB rows (bottom row first) and the
// pictures of a codec, with the YUV matrix and range a stream states.
//
// Streams that do not state their matrix are taken as BT.601 for standard
// definition and BT.709 for HD; YUV without a stated range as limited
// (16..235), except the full-range "J" formats of Motion JPEG.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg_util.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace ffmpeg_plugin {

// What a written stream is tagged with so that players show its colours
// as they were meant.
struct ColourTags {
    AVColorSpace space;
    AVColorRange range;
    AVColorPrimaries primaries;
    AVColorTransferCharacteristic transfer;
};

// HD from 720 lines (or 1280 columns) on.
bool is_high_definition(int width, int height);

// The tags of a new movie stored in `format`: RGB formats carry no matrix,
// YUV ones BT.601 or BT.709 by picture size at limited range, and the
// full-range J formats of Motion JPEG BT.601 as JPEG defines them.
ColourTags tags_for_new_movie(int width, int height, AVPixelFormat format);

// True when pictures of `format` carry an alpha channel.
bool has_alpha(AVPixelFormat format);

// True when pictures of `format` hold more than 8 bits a sample: they are
// read as 16-bit RGB(A) deep frames.
bool is_deep_format(AVPixelFormat format);

// Decoded pictures into RGB or RGBA rows, bottom row first. Scales when a
// picture's size differs from the one the reader announced.
class PictureToRgb {
public:
    // 0, or a negative FFmpeg error code.
    int convert(const AVFrame &picture, uint8_t *pixels, int width, int height, bool alpha);
    // The same as 16-bit RGB or RGBA (the machine's byte order) into rows
    // from `top` (the top row) `stride` bytes apart.
    int convert_deep(const AVFrame &picture, uint8_t *top, int64_t stride, int width, int height, bool alpha);

private:
    // Makes the scaler for pictures like `picture` into `target` pixels
    // of width x height, unless it is the one made last. 0, or an error.
    int prepare(const AVFrame &picture, int width, int height, AVPixelFormat target, bool alpha);

    ScalerPtr scaler_;
    int source_width_ = 0, source_height_ = 0, target_width_ = 0, target_height_ = 0;
    int source_format_ = -1, space_ = -1, range_ = -1, target_format_ = -1;
    bool alpha_ = false;
    bool reads_upside_down_ = false;  // see reads_upside_down_well()
    std::vector<uint8_t> top_down_;   // the picture converted top row first
};

// RGB rows, bottom row first, into pictures for an encoder.
class RgbToPicture {
public:
    // Prepares the conversion into `format` with the matrix and range of
    // `tags`. 0, or a negative FFmpeg error code.
    int prepare(int width, int height, AVPixelFormat format, const ColourTags &tags);
    // Fills `picture` (allocated for the prepared size and format). 0, or
    // a negative FFmpeg error code when swscale converted fewer rows.
    int convert(const uint8_t *pixels, AVFrame &picture);

private:
    ScalerPtr scaler_;
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> top_down_;  // the picture top row first, padded; see convert()
};

// 16-bit frames (1 to 4 channels, top row first, any row stride) into
// pictures for an encoder. Grey frames are widened to RGB (grey and alpha
// to RGBA), so that every encoder format is reached from RGB as on the
// 8-bit path and lossless RGB formats give the frame's values back.
class DeepToPicture {
public:
    // Prepares the conversion of frames with (`alpha`) or without alpha
    // into `format` with the matrix and range of `tags`. 0, or a negative
    // FFmpeg error code.
    int prepare(int width, int height, bool alpha, AVPixelFormat format, const ColourTags &tags);
    // Fills `picture` from a frame of `channels` 16-bit samples a pixel
    // (1 or 3 for a conversion prepared without alpha, 2 or 4 with it).
    int convert(const uint8_t *top, int64_t stride, int channels, AVFrame &picture);

private:
    ScalerPtr scaler_;
    int width_ = 0, height_ = 0, values_ = 0;  // values_: samples a row of RGB(A)
    std::vector<uint16_t> rows_;               // the frame as packed RGB(A), padded past its end
};

}  // namespace ffmpeg_plugin
