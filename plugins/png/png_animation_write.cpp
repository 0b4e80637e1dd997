#include "png_animation_write.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "png_chunks.h"

namespace png_codec {
namespace {

constexpr size_t kSignatureBytes = 8;

std::string be16(uint32_t value) { return std::string{char((value >> 8) & 0xff), char(value & 0xff)}; }

// One chunk of a PNG held in memory.
struct ChunkView {
    std::string type;
    size_t start;   // of its length field
    size_t length;  // of its data
};

std::vector<ChunkView> chunks_of(const std::string &png) {
    std::vector<ChunkView> chunks;
    for (size_t at = kSignatureBytes; at + 12 <= png.size();) {
        const size_t length = read_be32(png.data() + at);
        chunks.push_back(ChunkView{png.substr(at + 4, 4), at, length});
        at += length + 12;
    }
    return chunks;
}

// A whole picture in PNG form, compressed by libpng.
bool encode_to_memory(const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
                      const EncodeSettings &settings, std::string &png, std::string &error) {
    char *buffer = nullptr;
    size_t size = 0;
    std::FILE *memory = open_memstream(&buffer, &size);
    if (memory == nullptr) {
        error = "out of memory";
        return false;
    }
    const bool encoded = encode(memory, pixels, width, height, channels, settings, error);
    const bool closed = std::fclose(memory) == 0;
    if (encoded && closed) png.assign(buffer, size);
    std::free(buffer);
    if (encoded && !closed) error = "out of memory";
    return encoded && closed;
}

}  // namespace

bool AnimationWriter::open(const char *path, std::string &error) {
    close();
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    path_ = path;
    return true;
}

bool AnimationWriter::close() {
    if (file_ == nullptr) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    path_.clear();
    first_.clear();
    frames_ = 0;
    sequence_ = 0;
    sealed_ = false;
    return closed;
}

// The frame's control chunk: the whole picture, shown for one frame
// period, replaced whole by the next frame.
std::string AnimationWriter::frame_control() const {
    uint32_t numerator = 0, denominator = 0;  // unknown rate: "as fast as possible"
    if (frame_rate_ > 0) {
        numerator = frame_rate_ * 1000 <= 65535 ? 1000 : 100;
        denominator = uint32_t(std::lround(double(frame_rate_) * numerator));
        if (denominator > 65535) denominator = 65535;
        if (denominator == 0) denominator = 1;
    }
    const std::string data = be32(sequence_) + be32(uint32_t(width_)) + be32(uint32_t(height_)) + be32(0) +
                             be32(0) + be16(numerator) + be16(denominator) +
                             std::string(1, char(kDisposeNone)) + std::string(1, char(kBlendSource));
    return make_chunk("fcTL", data);
}

bool AnimationWriter::write_at(int64_t offset, const std::string &bytes, std::string &error) {
    errno = 0;
    if (std::fseek(file_, long(offset), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0) {
        error = errno != 0 ? std::strerror(errno) : "write error";
        return false;
    }
    return true;
}

bool AnimationWriter::add_rows(const uint8_t *top, int64_t stride, int32_t channels, int bit_depth,
                               std::string &error) {
    if (file_ == nullptr || frames_ != 0) {
        error = file_ == nullptr ? "no file is open" : "a deep picture is the only one of its file";
        return false;
    }
    if (!encode_rows(file_, top, stride, width_, height_, channels, bit_depth, settings_, error))
        return false;
    if (std::fflush(file_) != 0) {
        error = std::strerror(errno);
        return false;
    }
    frames_ = 1;
    sealed_ = true;
    return true;
}

bool AnimationWriter::add(const uint8_t *pixels, std::string &error) {
    if (file_ == nullptr || sealed_) {
        error = file_ == nullptr ? "no file is open" : "a deep picture is the only one of its file";
        return false;
    }
    std::string png;
    if (!encode_to_memory(pixels, width_, height_, channels_, settings_, png, error)) return false;
    if (frames_ == 0) {
        // A single frame is a plain PNG.
        if (!write_at(0, png, error)) return false;
        first_ = png;
        frames_ = 1;
        return true;
    }
    std::string out;
    if (frames_ == 1) {
        // The second frame turns the file into an animation: the first
        // frame's chunks with the animation's control chunks before its
        // image data.
        out.assign(first_, 0, kSignatureBytes);
        bool before_data = true;
        for (const ChunkView &chunk : chunks_of(first_)) {
            if (chunk.type == "IEND") break;
            if (chunk.type == "IDAT" && before_data) {
                before_data = false;
                actl_offset_ = int64_t(out.size());
                out += make_chunk("acTL", be32(2) + be32(0));
                out += frame_control();
                ++sequence_;
            }
            out.append(first_, chunk.start, chunk.length + 12);
        }
        first_.clear();
        end_offset_ = 0;
    }
    out += frame_control();
    ++sequence_;
    for (const ChunkView &chunk : chunks_of(png)) {
        if (chunk.type != "IDAT") continue;
        out += make_chunk("fdAT", be32(sequence_++) + png.substr(chunk.start + 8, chunk.length));
    }
    out += make_chunk("IEND", "");
    if (!write_at(end_offset_, out, error)) return false;
    end_offset_ += int64_t(out.size()) - 12;
    ++frames_;
    // The frame count the file now holds.
    return write_at(actl_offset_, make_chunk("acTL", be32(uint32_t(frames_)) + be32(0)), error);
}

}  // namespace png_codec
