#include "jpeg_exif.h"

#include <cstring>

namespace jpeg_codec {
namespace {

constexpr uint8_t kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr uint16_t kLongType = 4;
constexpr size_t kEntrySize = 12;

// The TIFF structure inside the Exif block, read in its own byte order;
// every read is checked against the block's end.
class TiffBlock {
public:
    TiffBlock(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool read_byte_order() {
        if (size_ < 8) return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            little_ = true;
        else if (data_[0] == 'M' && data_[1] == 'M')
            little_ = false;
        else
            return false;
        uint16_t magic = 0;
        return read16(2, magic) && magic == 42;
    }
    bool read16(uint64_t at, uint16_t &value) const {
        if (at > size_ || size_ - at < 2) return false;
        const uint8_t *p = data_ + at;
        value = little_ ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
        return true;
    }
    bool read32(uint64_t at, uint32_t &value) const {
        if (at > size_ || size_ - at < 4) return false;
        const uint8_t *p = data_ + at;
        value = little_ ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                        : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
        return true;
    }

private:
    const uint8_t *data_;
    size_t size_;
    bool little_ = true;
};

}  // namespace

bool is_exif_block(const uint8_t *data, size_t size) {
    return data != nullptr && size >= sizeof kExifSignature &&
           std::memcmp(data, kExifSignature, sizeof kExifSignature) == 0;
}

int exif_orientation(const uint8_t *data, size_t size) {
    if (!is_exif_block(data, size)) return 1;
    TiffBlock block(data + sizeof kExifSignature, size - sizeof kExifSignature);
    uint32_t ifd = 0;
    uint16_t entries = 0;
    if (!block.read_byte_order() || !block.read32(4, ifd) || !block.read16(ifd, entries)) return 1;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t(ifd) + 2 + uint64_t(i) * kEntrySize;
        uint16_t tag = 0, type = 0;
        uint32_t count = 0;
        if (!block.read16(entry, tag) || !block.read16(entry + 2, type) || !block.read32(entry + 4, count))
            return 1;
        if (tag != kOrientationTag) continue;
        uint32_t value = 0;
        uint16_t short_value = 0;
        if (count < 1) return 1;
        if (type == kShortType && block.read16(entry + 8, short_value))
            value = short_value;
        else if (type != kLongType || !block.read32(entry + 8, value))
            return 1;
        return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

}  // namespace jpeg_codec
