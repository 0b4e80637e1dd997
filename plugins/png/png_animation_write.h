// Writing several frames into one PNG file: one frame is a plain PNG, more
// make an animated PNG (acTL, fcTL and fdAT chunks) of whole frames.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "png_encode.h"

namespace png_codec {

// The frames of one output file. Each frame is compressed by libpng as a
// picture of its own; the first stays as it is while it is the only one,
// and from the second on the file is an animation whose frames each cover
// the whole picture and replace the one before. After every add() the
// file is complete and readable.
class AnimationWriter {
public:
    AnimationWriter(int32_t width, int32_t height, int32_t channels, float frame_rate,
                    const EncodeSettings &settings)
        : width_(width), height_(height), channels_(channels), frame_rate_(frame_rate), settings_(settings) {}
    ~AnimationWriter() { close(); }
    AnimationWriter(const AnimationWriter &) = delete;
    AnimationWriter &operator=(const AnimationWriter &) = delete;

    // Starts `path` (created or truncated).
    bool open(const char *path, std::string &error);
    // Adds the next frame (rows bottom first) and completes the file.
    bool add(const uint8_t *pixels, std::string &error);
    // Writes the file's one picture from rows of 8- or 16-bit samples, top
    // row first (encode_rows); no frame may come before or after it.
    bool add_rows(const uint8_t *top, int64_t stride, int32_t channels, int bit_depth, std::string &error);
    // True when the file was completed as it stands.
    bool close();

    int32_t frames() const { return frames_; }
    const std::string &path() const { return path_; }

private:
    bool write_at(int64_t offset, const std::string &bytes, std::string &error);
    std::string frame_control() const;

    int32_t width_, height_, channels_;
    float frame_rate_;
    EncodeSettings settings_;
    std::FILE *file_ = nullptr;
    std::string path_;
    std::string first_;  // the first frame's PNG, kept until a second comes
    int32_t frames_ = 0;
    bool sealed_ = false;      // its one picture came from add_rows
    uint32_t sequence_ = 0;    // of the next fcTL or fdAT chunk
    int64_t actl_offset_ = 0;  // where the frame count is
    int64_t end_offset_ = 0;   // where the IEND chunk starts
};

}  // namespace png_codec
