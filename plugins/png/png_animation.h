// The frames of an animated PNG, each composed on the canvas as the
// animation shows it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "png_chunks.h"

namespace png_codec {

// Renders frame after frame of an animation onto an RGBA canvas the size
// of the picture: before each frame the previous one's rectangle is
// disposed of (left, cleared to transparent black, or put back as it was),
// then the frame is copied or alpha-blended over its rectangle. Any frame
// can be asked for; going back starts again from the first frame.
class Animation {
public:
    Animation() = default;
    ~Animation() { close(); }
    Animation(const Animation &) = delete;
    Animation &operator=(const Animation &) = delete;

    // Takes the frames of `layout`, read from `path`, for pictures of
    // `width` x `height` with `channels` (1 L, 2 LA, 3 RGB, 4 RGBA).
    bool open(const char *path, const Layout &layout, int32_t width, int32_t height, int32_t channels,
              std::string &error);
    void close();

    int32_t frames() const { return int32_t(layout_.frames.size()); }
    // Writes frame `index` as shown into `pixels`: packed rows of
    // width * channels bytes, the bottom row first.
    bool render(int32_t index, uint8_t *pixels, std::string &error);

private:
    bool decode(const FrameControl &frame, std::vector<uint8_t> &rgba, std::string &error);
    bool frame_stream(const FrameControl &frame, std::string &stream, std::string &error);
    void dispose(const FrameControl &frame, bool first);
    void save_rectangle(const FrameControl &frame);
    void draw(const FrameControl &frame, const std::vector<uint8_t> &rgba, bool copy);
    void copy_out(uint8_t *pixels) const;

    std::FILE *file_ = nullptr;
    Layout layout_;
    int32_t width_ = 0, height_ = 0, channels_ = 0;
    std::vector<uint8_t> canvas_;  // RGBA, the top row first
    std::vector<uint8_t> saved_;   // what a frame disposed of "previous" puts back
    int32_t shown_ = -1;           // the frame the canvas holds
};

}  // namespace png_codec
