#include "ffstill_header.h"

#include <cstring>

namespace ffstill {

bool walk_exr_header(const uint8_t *data, size_t size,
                     const std::function<bool(const char *, const uint8_t *, uint32_t)> &visit) {
    size_t at = 8;
    while (at < size && data[at] != 0) {
        const auto *name = reinterpret_cast<const char *>(data + at);
        const void *name_end = std::memchr(data + at, 0, size - at);
        if (name_end == nullptr) return false;
        const size_t type_at = size_t(static_cast<const uint8_t *>(name_end) - data) + 1;
        const void *type_end = type_at < size ? std::memchr(data + type_at, 0, size - type_at) : nullptr;
        if (type_end == nullptr) return false;
        const size_t size_at = size_t(static_cast<const uint8_t *>(type_end) - data) + 1;
        if (size_at + 4 > size) return false;
        const uint32_t value_size = little_endian_32(data + size_at);
        const size_t value_at = size_at + 4;
        if (value_size > size - value_at) return false;
        if (!visit(name, data + value_at, value_size)) return true;
        at = value_at + value_size;
    }
    return at < size;
}

}  // namespace ffstill
