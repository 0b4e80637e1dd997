#include "png_animation.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "png_decode.h"

namespace png_codec {
namespace {

const char kSignature[] = "\x89PNG\r\n\x1a\n";

// x / 255 rounded, for x up to 255 * 255.
inline unsigned div255(unsigned x) { return ((x + 128) * 257) >> 16; }

// Lays `in` over `out` (RGBA, not premultiplied), both 8 bits a sample.
inline void blend_over(const uint8_t *in, uint8_t *out) {
    const unsigned alpha = in[3], below = out[3];
    if (alpha == 255) {
        std::memcpy(out, in, 4);
        return;
    }
    if (alpha == 0) return;
    const unsigned result = alpha + div255((255 - alpha) * below);
    for (int c = 0; c < 3; ++c) {
        if (below == 255)
            out[c] = uint8_t(div255(alpha * in[c] + (255 - alpha) * out[c]));
        else
            out[c] = uint8_t((255 * alpha * in[c] + (255 - alpha) * below * out[c]) / (255 * result));
    }
    out[3] = uint8_t(result);
}

}  // namespace

bool Animation::open(const char *path, const Layout &layout, int32_t width, int32_t height, int32_t channels,
                     std::string &error) {
    close();
    file_ = std::fopen(path, "rb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    layout_ = layout;
    width_ = width;
    height_ = height;
    channels_ = channels;
    return true;
}

void Animation::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    layout_ = Layout();
    canvas_.clear();
    saved_.clear();
    shown_ = -1;
}

bool Animation::render(int32_t index, uint8_t *pixels, std::string &error) {
    if (file_ == nullptr) {
        error = "no PNG file is open";
        return false;
    }
    if (index < 0 || index >= frames()) {
        error = "no frame " + std::to_string(index) + ": the animation has " + std::to_string(frames());
        return false;
    }
    if (shown_ < 0 || shown_ > index) {
        canvas_.assign(size_t(width_) * size_t(height_) * 4, 0);
        shown_ = -1;
    }
    std::vector<uint8_t> rgba;
    while (shown_ < index) {
        const int32_t next = shown_ + 1;
        const FrameControl &frame = layout_.frames[size_t(next)];
        if (shown_ >= 0) dispose(layout_.frames[size_t(shown_)], shown_ == 0);
        if (!decode(frame, rgba, error)) {
            shown_ = -1;  // the canvas is half made: start again next time
            error = "frame " + std::to_string(next) + ": " + error;
            return false;
        }
        if (frame.dispose == kDisposePrevious && next > 0) save_rectangle(frame);
        // The first frame covers an empty canvas: laying it over would only
        // blacken its fully transparent pixels, which others keep as stored.
        draw(frame, rgba, next == 0);
        shown_ = next;
    }
    copy_out(pixels);
    return true;
}

bool Animation::decode(const FrameControl &frame, std::vector<uint8_t> &rgba, std::string &error) {
    std::string stream;
    if (!frame_stream(frame, stream, error)) return false;
    rgba.resize(size_t(frame.width) * size_t(frame.height) * 4);
    return decode_rgba(stream, frame.width, frame.height, rgba.data(), error);
}

// A PNG stream of the frame alone: the picture's header with the frame's
// size, its palette and transparency, the frame's data as IDAT chunks.
bool Animation::frame_stream(const FrameControl &frame, std::string &stream, std::string &error) {
    if (layout_.header.size() != 25) {
        error = "the IHDR chunk is damaged";
        return false;
    }
    const std::string header = be32(frame.width) + be32(frame.height) + layout_.header.substr(16, 5);
    stream.assign(kSignature, 8);
    stream += make_chunk("IHDR", header);
    stream += layout_.palette;
    stream += layout_.transparency;
    std::string chunk;
    for (const DataChunk &data : frame.data) {
        chunk.resize(size_t(data.length) + 12);
        if (std::fseek(file_, long(data.offset), SEEK_SET) != 0 ||
            std::fread(&chunk[0], 1, chunk.size(), file_) != chunk.size()) {
            error = std::ferror(file_) ? "the file could not be read" : "the file is cut short";
            return false;
        }
        // The stored CRC is checked here, as the copy gets a new one.
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(chunk.data() + 4), uInt(data.length + 4));
        if (uint32_t(crc) != read_be32(chunk.data() + 8 + data.length)) {
            error = chunk.substr(4, 4) + ": CRC error";
            return false;
        }
        stream += make_chunk("IDAT", chunk.substr(8 + data.skip, data.length - data.skip));
    }
    stream += make_chunk("IEND", "");
    return true;
}

// What the frame just shown leaves for the next one. The first frame has
// nothing to put back, so "previous" clears it like "background".
void Animation::dispose(const FrameControl &frame, bool first) {
    const size_t row = size_t(frame.width) * 4;
    for (uint32_t y = 0; y < frame.height; ++y) {
        uint8_t *out = &canvas_[((size_t(frame.y) + y) * size_t(width_) + frame.x) * 4];
        if (frame.dispose == kDisposeBackground || (frame.dispose == kDisposePrevious && first))
            std::memset(out, 0, row);
        else if (frame.dispose == kDisposePrevious)
            std::memcpy(out, &saved_[y * row], row);
    }
}

void Animation::save_rectangle(const FrameControl &frame) {
    const size_t row = size_t(frame.width) * 4;
    saved_.resize(row * frame.height);
    for (uint32_t y = 0; y < frame.height; ++y)
        std::memcpy(&saved_[y * row], &canvas_[((size_t(frame.y) + y) * size_t(width_) + frame.x) * 4], row);
}

void Animation::draw(const FrameControl &frame, const std::vector<uint8_t> &rgba, bool copy) {
    const size_t row = size_t(frame.width) * 4;
    for (uint32_t y = 0; y < frame.height; ++y) {
        uint8_t *out = &canvas_[((size_t(frame.y) + y) * size_t(width_) + frame.x) * 4];
        const uint8_t *in = &rgba[y * row];
        if (copy || frame.blend == kBlendSource) {
            std::memcpy(out, in, row);
        } else {
            for (uint32_t x = 0; x < frame.width; ++x) blend_over(in + 4 * x, out + 4 * x);
        }
    }
}

// The canvas in the file's own channels; the buffer's first row is the
// canvas's last. Grey canvases hold R = G = B, so R is the grey.
void Animation::copy_out(uint8_t *pixels) const {
    const size_t out_row = size_t(width_) * size_t(channels_);
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t *in = &canvas_[size_t(y) * size_t(width_) * 4];
        uint8_t *out = pixels + size_t(height_ - 1 - y) * out_row;
        if (channels_ == 4) {
            std::memcpy(out, in, out_row);
            continue;
        }
        for (int32_t x = 0; x < width_; ++x, in += 4) {
            switch (channels_) {
                case 1:
                    *out++ = in[0];
                    break;
                case 2:
                    *out++ = in[0];
                    *out++ = in[3];
                    break;
                default:
                    *out++ = in[0];
                    *out++ = in[1];
                    *out++ = in[2];
                    break;
            }
        }
    }
}

}  // namespace png_codec
