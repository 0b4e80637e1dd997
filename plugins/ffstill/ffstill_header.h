// Reading the fields of file headers: little-endian words and OpenEXR's
// header attributes, for the checks and probes made before decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

namespace ffstill {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

inline uint32_t little_endian_32(const uint8_t *data) {
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
}

// Calls visit(name, value, value_size) for each attribute of an OpenEXR
// file's first header, in order, until visit returns false. Attributes
// follow the 8 bytes of magic number and version: name, type (both ended
// by a NUL), a 32-bit size and the value; an empty name ends the header.
// False when the header is cut short or damaged before its end.
bool walk_exr_header(const uint8_t *data, size_t size,
                     const std::function<bool(const char *, const uint8_t *, uint32_t)> &visit);

}  // namespace ffstill
