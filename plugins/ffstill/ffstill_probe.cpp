#include "ffstill_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ffstill_header.h"
#include "udil_plugin.h"

namespace ffstill {
namespace {

// The file's first bytes, at most `limit` of them.
std::vector<uint8_t> head_of(const char *path, size_t limit) {
    FilePtr file(std::fopen(path, "rb"));
    std::vector<uint8_t> bytes;
    if (!file) return bytes;
    bytes.resize(limit);
    bytes.resize(std::fread(bytes.data(), 1, limit, file.get()));
    return bytes;
}

// OpenEXR's channel list: names with their pixel types (1 half, 2 float)
// and sampling; true when it is R, G, B (and A) or Y alone, all of one
// kind, each sampled on every pixel.
bool plain_channels(const uint8_t *data, size_t size, bool &alpha, bool &grey) {
    std::string names;
    int32_t kind = -1;
    for (size_t at = 0; at < size && data[at] != 0;) {
        const void *end = std::memchr(data + at, 0, size - at);
        if (end == nullptr) return false;
        const std::string name(reinterpret_cast<const char *>(data + at));
        at = size_t(static_cast<const uint8_t *>(end) - data) + 1;
        if (at + 16 > size || name.size() != 1) return false;
        const int32_t type = int32_t(little_endian_32(data + at));
        if ((kind != -1 && type != kind) || (type != 1 && type != 2)) return false;
        if (little_endian_32(data + at + 8) != 1 || little_endian_32(data + at + 12) != 1) return false;
        kind = type;
        names += name;
        at += 16;
    }
    std::sort(names.begin(), names.end());
    alpha = names == "ABGR";
    grey = names == "Y";
    return names == "BGR" || alpha || grey;
}

bool probe_exr(const std::vector<uint8_t> &file, Layout &layout) {
    const uint8_t *data = file.data();
    const size_t size = file.size();
    // Magic number, then version 2 with no tiles, long names, deep data or parts.
    if (size < 8 || little_endian_32(data) != 20000630u || data[4] != 2 || (data[5] & 0x1e) != 0)
        return false;
    bool channels = false, alpha = false, grey = false, usable = true;
    int32_t window[2][4] = {};
    int windows = 0;
    const bool whole =
        walk_exr_header(data, size, [&](const char *name, const uint8_t *value, uint32_t value_size) {
            if (std::strcmp(name, "channels") == 0) {
                channels = usable = plain_channels(value, value_size, alpha, grey);
            } else if (std::strcmp(name, "compression") == 0) {
                // Those FFmpeg decodes as OpenEXR does (none to B44A): the others
                // are refused by the decoder with their reason.
                usable = value_size == 1 && value[0] <= 7;
            } else if ((std::strcmp(name, "dataWindow") == 0 || std::strcmp(name, "displayWindow") == 0) &&
                       value_size == 16) {
                const int k = name[1] == 'a' ? 0 : 1;
                for (int i = 0; i < 4; ++i) window[k][i] = int32_t(little_endian_32(value + 4 * i));
                ++windows;
            }
            return usable;
        });
    if (!whole || !usable || !channels || windows != 2 ||
        std::memcmp(window[0], window[1], sizeof window[0]) != 0)
        return false;
    const int64_t width = int64_t(window[0][2]) - window[0][0] + 1,
                  height = int64_t(window[0][3]) - window[0][1] + 1;
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return false;
    layout.width = int32_t(width);
    layout.height = int32_t(height);
    layout.host_format = grey ? UDIL_FMT_L : alpha ? UDIL_FMT_RGBA : UDIL_FMT_RGB;
    layout.sample = UDIL_SAMPLE_F32;
    return true;
}

bool probe_dpx(const std::vector<uint8_t> &file, Layout &layout) {
    if (file.size() < 808) return false;
    const uint8_t *data = file.data();
    const bool big = std::memcmp(data, "SDPX", 4) == 0;
    if (!big && std::memcmp(data, "XPDS", 4) != 0) return false;
    auto u32 = [&](size_t at) {
        return big ? uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 |
                         data[at + 3]
                   : little_endian_32(data + at);
    };
    auto u16 = [&](size_t at) {
        return big ? uint32_t(data[at]) << 8 | data[at + 1]
                   : uint32_t(data[at]) | uint32_t(data[at + 1]) << 8;
    };
    // Image information: elements, pixels a line, lines; then the first
    // element's descriptor, bits a sample, packing and encoding.
    const uint32_t elements = u16(770), width = u32(772), height = u32(776);
    const uint8_t descriptor = data[800], bits = data[803];
    if (elements != 1 || u16(806) != 0 || width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX)
        return false;
    if (bits != 8 && bits != 10 && bits != 12 && bits != 16) return false;
    switch (descriptor) {
        case 6:
            layout.host_format = UDIL_FMT_L;
            break;
        case 50:
            layout.host_format = UDIL_FMT_RGB;
            break;
        case 51:
            layout.host_format = UDIL_FMT_RGBA;
            break;
        default:
            return false;
    }
    layout.width = int32_t(width);
    layout.height = int32_t(height);
    layout.sample = bits > 8 ? UDIL_SAMPLE_U16 : UDIL_SAMPLE_U8;
    return true;
}

}  // namespace

bool probe_layout(const char *path, const StillFormat &format, const DecodeSettings &settings,
                  Layout &layout) {
    if (format.kind == Kind::dpx) return probe_dpx(head_of(path, 2048), layout);
    if (format.kind != Kind::exr || !settings.layer.empty()) return false;
    return probe_exr(head_of(path, 64 * 1024), layout);
}

}  // namespace ffstill
