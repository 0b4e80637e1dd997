#include "png_chunks.h"

#include <unistd.h>
#include <zlib.h>

#include <cstring>

namespace png_codec {
namespace {

constexpr int64_t kSignatureBytes = 8;
constexpr uint32_t kLargestChunk = 0x7fffffffu;  // the format's own limit

uint32_t crc_of(const std::string &type_and_data) {
    return uint32_t(
        crc32(0, reinterpret_cast<const Bytef *>(type_and_data.data()), uInt(type_and_data.size())));
}

// Walks the chunks once, keeping what the decoders need.
class Scanner {
public:
    Scanner(std::FILE *file, int64_t file_size, Layout &layout)
        : file_(file), size_(file_size), layout_(layout) {}

    bool run(std::string &error);

private:
    // `size` bytes at `offset`. Reads go around stdio's buffer, which would
    // fetch a whole block for each 8-byte chunk header.
    bool read_at(int64_t offset, void *data, size_t size) {
        return pread(fileno(file_), data, size, off_t(offset)) == ssize_t(size);
    }

    // The whole chunk at `offset` (length + 12 bytes), its CRC checked.
    bool read_chunk(int64_t offset, uint32_t length, std::string &chunk) {
        chunk.resize(size_t(length) + 12);
        if (!read_at(offset, &chunk[0], chunk.size())) return fail("the file could not be read");
        const uint32_t stored = read_be32(chunk.data() + 8 + length);
        if (crc_of(chunk.substr(4, size_t(length) + 4)) != stored)
            return fail(chunk.substr(4, 4) + " chunk has a bad CRC");
        return true;
    }

    // Sequence numbers of fcTL and fdAT chunks count up from 0.
    bool next_sequence(uint32_t number) {
        if (number != sequence_) return fail("animation chunks are out of order");
        ++sequence_;
        return true;
    }

    bool fail(const std::string &reason) {
        reason_ = reason;
        return false;
    }

    bool animation_control(const uint8_t *data, uint32_t length);
    bool frame_control(const uint8_t *data, uint32_t length);
    bool check_animation();

    std::FILE *file_;
    int64_t size_;
    Layout &layout_;
    std::string reason_;
    uint32_t frame_count_ = 0;  // from acTL; 0 for a still picture
    uint32_t sequence_ = 0;
    bool seen_image_data_ = false;
    bool default_is_frame_ = false;
};

bool Scanner::animation_control(const uint8_t *data, uint32_t length) {
    // An acTL after the image data, or a second one, does not make an
    // animation; neither does one that counts no frames.
    if (seen_image_data_ || frame_count_ != 0 || length != 8) return true;
    frame_count_ = read_be32(data);
    if (frame_count_ > kLargestChunk) frame_count_ = 0;
    return true;
}

bool Scanner::frame_control(const uint8_t *data, uint32_t length) {
    if (frame_count_ == 0) return true;
    if (length != 26) return fail("an fcTL chunk is not 26 bytes long");
    if (!next_sequence(read_be32(data))) return false;
    FrameControl frame;
    frame.width = read_be32(data + 4);
    frame.height = read_be32(data + 8);
    frame.x = read_be32(data + 12);
    frame.y = read_be32(data + 16);
    frame.dispose = data[24];
    frame.blend = data[25];
    const bool previous_is_default = default_is_frame_ && layout_.frames.size() == 1;
    if (!layout_.frames.empty() && layout_.frames.back().data.empty() && !previous_is_default)
        return fail("a frame has no image data");
    if (layout_.frames.empty() && !seen_image_data_) default_is_frame_ = true;
    layout_.frames.push_back(frame);
    return true;
}

bool Scanner::check_animation() {
    if (frame_count_ == 0) {
        layout_.frames.clear();
        return true;
    }
    if (layout_.header.size() != 25) return fail("the IHDR chunk is damaged");
    const auto *header = reinterpret_cast<const uint8_t *>(layout_.header.data()) + 8;
    const uint64_t width = read_be32(header), height = read_be32(header + 4);
    if (layout_.frames.size() > frame_count_) layout_.frames.resize(frame_count_);
    if (default_is_frame_ && !layout_.frames.empty()) {
        const FrameControl &first = layout_.frames[0];
        if (first.width != width || first.height != height || first.x != 0 || first.y != 0)
            return fail("the first frame is not the whole picture");
        layout_.frames[0].data = layout_.image_data;
    }
    // A file cut short keeps the frames it holds data for.
    while (!layout_.frames.empty() && layout_.frames.back().data.empty()) layout_.frames.pop_back();
    // No frame to show: the file is its default picture.
    if (layout_.frames.empty()) return true;
    for (const FrameControl &frame : layout_.frames) {
        if (frame.width == 0 || frame.height == 0 || uint64_t(frame.x) + frame.width > width ||
            uint64_t(frame.y) + frame.height > height)
            return fail("a frame lies outside the picture");
        if (frame.dispose > kDisposePrevious || frame.blend > kBlendOver)
            return fail("a frame has an unknown dispose or blend operation");
    }
    return true;
}

bool Scanner::run(std::string &error) {
    int64_t offset = kSignatureBytes;
    std::string chunk;
    uint8_t head[8];
    while (offset + 8 <= size_) {
        if (!read_at(offset, head, 8)) {
            error = "the file could not be read";
            return false;
        }
        const uint32_t length = read_be32(head);
        const std::string type(reinterpret_cast<const char *>(head) + 4, 4);
        const bool image_data = type == "IDAT" || type == "fdAT";
        if (length > kLargestChunk) {
            error = "a " + type + " chunk has a bad length";
            return false;
        }
        if (int64_t(length) + 12 > size_ - offset) {
            if (image_data) break;  // cut inside the pixels: the decoder reports it
            error = "the file is cut short: its " + type + " chunk claims " + std::to_string(length) +
                    " bytes, " + std::to_string(size_ - offset - 12) + " are left";
            return false;
        }
        bool ok = true;
        if (type == "IHDR" || type == "PLTE" || type == "tRNS") {
            // Small by definition; libpng refuses the oversized ones itself.
            // Kept as stored: libpng checks their CRCs in each frame.
            std::string &kept = type == "IHDR"   ? layout_.header
                                : type == "PLTE" ? layout_.palette
                                                 : layout_.transparency;
            if (length <= 1024) {
                kept.assign(size_t(length) + 12, '\0');
                if (!read_at(offset, &kept[0], kept.size())) ok = fail("the file could not be read");
            }
        } else if (type == "acTL" || type == "fcTL") {
            ok = read_chunk(offset, length, chunk);
            const auto *data = reinterpret_cast<const uint8_t *>(chunk.data()) + 8;
            if (ok) ok = type == "acTL" ? animation_control(data, length) : frame_control(data, length);
        } else if (type == "IDAT") {
            seen_image_data_ = true;
            layout_.image_data.push_back(DataChunk{offset, length, 0});
        } else if (type == "fdAT" && frame_count_ != 0) {
            uint8_t number[4];
            if (length < 4 || !read_at(offset + 8, number, 4))
                ok = fail("an fdAT chunk is too short");
            else if (layout_.frames.empty() || (default_is_frame_ && layout_.frames.size() == 1))
                ok = fail("an fdAT chunk belongs to no frame");
            else if (next_sequence(read_be32(number)))
                layout_.frames.back().data.push_back(DataChunk{offset, length, 4});
            else
                ok = false;
        } else if (type == "IEND") {
            break;
        }
        if (!ok) {
            error = "damaged animation: " + reason_;
            return false;
        }
        offset += int64_t(length) + 12;
    }
    if (!check_animation()) {
        error = "damaged animation: " + reason_;
        return false;
    }
    if (std::fseek(file_, long(kSignatureBytes), SEEK_SET) != 0) {
        error = "the file could not be read";
        return false;
    }
    return true;
}

}  // namespace

bool scan_layout(std::FILE *file, int64_t file_size, Layout &layout, std::string &error) {
    layout = Layout();
    return Scanner(file, file_size, layout).run(error);
}

std::string make_chunk(const char *type, const std::string &data) {
    const std::string body = std::string(type, 4) + data;
    return be32(uint32_t(data.size())) + body + be32(crc_of(body));
}

uint32_t read_be32(const void *bytes) {
    const auto *b = static_cast<const uint8_t *>(bytes);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

std::string be32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[size_t(i)] = char((value >> (24 - 8 * i)) & 0xff);
    return out;
}

}  // namespace png_codec
