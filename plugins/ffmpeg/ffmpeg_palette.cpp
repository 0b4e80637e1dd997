#include "ffmpeg_palette.h"

#include <algorithm>
#include <cstring>

namespace ffmpeg_plugin {

namespace {

// Palettes kept at most (a megabyte of them): a damaged or hostile file
// with a new palette on every packet must not fill the memory. Later
// changes are still read with their own packets.
constexpr size_t kMostChanges = 1024;

}  // namespace

void PaletteKeeper::note(const AVPacket &packet, int32_t decode_index) {
    size_t size = 0;
    const uint8_t *data = av_packet_get_side_data(&packet, AV_PKT_DATA_PALETTE, &size);
    if (data == nullptr || size == 0) return;
    Change change{decode_index, {}};
    std::memcpy(change.palette.data(), data, std::min(size, change.palette.size()));
    // The index is built once, in decode order; a second note of the same
    // packet (read again after a seek) changes nothing.
    if (!changes_.empty() && changes_.back().decode_index >= decode_index) return;
    // Muxers often repeat the palette with every key frame.
    if (!changes_.empty() && changes_.back().palette == change.palette) return;
    if (changes_.size() >= kMostChanges) return;
    changes_.push_back(change);
}

bool PaletteKeeper::attach(AVPacket &packet, int32_t decode_index) const {
    if (changes_.empty() || av_packet_get_side_data(&packet, AV_PKT_DATA_PALETTE, nullptr) != nullptr)
        return true;
    // The last change at or before the packet; a packet before the first
    // change takes the first palette, which is all a decoder can have.
    auto after =
        std::upper_bound(changes_.begin(), changes_.end(), decode_index,
                         [](int32_t index, const Change &change) { return index < change.decode_index; });
    const Change &in_force = after == changes_.begin() ? changes_.front() : *(after - 1);
    uint8_t *data = av_packet_new_side_data(&packet, AV_PKT_DATA_PALETTE, in_force.palette.size());
    if (data == nullptr) return false;
    std::memcpy(data, in_force.palette.data(), in_force.palette.size());
    return true;
}

}  // namespace ffmpeg_plugin
