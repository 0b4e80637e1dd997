#include "ffmpeg_index.h"

#include <algorithm>
#include <numeric>

namespace ffmpeg_plugin {

void FrameIndex::add(const AVPacket &packet) {
    PacketEntry entry;
    entry.pts = packet.pts;
    entry.dts = packet.dts;
    entry.position = packet.pos;
    entry.size = packet.size;
    entry.key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    entry.discard = (packet.flags & AV_PKT_FLAG_DISCARD) != 0;
    if (entry.position < 0 || (!packets_.empty() && entry.position <= packets_.back().position))
        positions_increasing_ = false;
    if (entry.dts == AV_NOPTS_VALUE || (!packets_.empty() && entry.dts <= packets_.back().dts))
        dts_increasing_ = false;
    if (!entry.discard) {
        all_key_ = all_key_ && entry.key;
        largest_ = std::max(largest_, entry.size);
    }
    packets_.push_back(entry);
}

void FrameIndex::finish() {
    frame_packets_.clear();
    for (int32_t i = 0; i < packet_count(); ++i)
        if (!packets_[size_t(i)].discard) frame_packets_.push_back(i);

    by_timestamp_ = std::all_of(frame_packets_.begin(), frame_packets_.end(),
                                [&](int32_t i) { return packets_[size_t(i)].pts != AV_NOPTS_VALUE; });
    if (by_timestamp_) {
        // Presentation order is time stamp order.
        std::stable_sort(frame_packets_.begin(), frame_packets_.end(), [&](int32_t a, int32_t b) {
            return packets_[size_t(a)].pts < packets_[size_t(b)].pts;
        });
        frame_pts_.resize(frame_packets_.size());
        for (size_t n = 0; n < frame_packets_.size(); ++n)
            frame_pts_[n] = packets_[size_t(frame_packets_[n])].pts;
        by_timestamp_ = std::adjacent_find(frame_pts_.begin(), frame_pts_.end()) == frame_pts_.end();
    }
    if (!by_timestamp_) {
        // Without usable time stamps frames are counted in decode order.
        std::iota(frame_packets_.begin(), frame_packets_.end(), 0);
        frame_packets_.erase(std::remove_if(frame_packets_.begin(), frame_packets_.end(),
                                            [&](int32_t i) { return packets_[size_t(i)].discard; }),
                             frame_packets_.end());
        frame_pts_.clear();
        frame_starts_.clear();
        return;
    }

    // A frame decodes from the last key packet before it in decode order
    // that is not shown after it (leading pictures of an open group of
    // pictures belong to the key frame before).
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < packet_count(); ++i)
        if (packets_[size_t(i)].key && packets_[size_t(i)].pts != AV_NOPTS_VALUE) keys.push_back(i);
    frame_starts_.assign(frame_packets_.size(), 0);
    for (size_t n = 0; n < frame_packets_.size(); ++n) {
        const int32_t own = frame_packets_[n];
        auto key = std::upper_bound(keys.begin(), keys.end(), own);
        while (key != keys.begin()) {
            --key;
            if (packets_[size_t(*key)].pts <= frame_pts_[n]) {
                frame_starts_[n] = *key;
                break;
            }
        }
    }
}

int32_t FrameIndex::frame_at(int64_t pts) const {
    if (!by_timestamp_ || pts == AV_NOPTS_VALUE) return -1;
    const auto found = std::lower_bound(frame_pts_.begin(), frame_pts_.end(), pts);
    if (found == frame_pts_.end() || *found != pts) return -1;
    return int32_t(found - frame_pts_.begin());
}

int32_t FrameIndex::locate(const AVPacket &packet) const {
    // The byte position names a packet best: demuxers may guess decode
    // time stamps differently after a seek.
    if (positions_increasing_ && packet.pos >= 0) {
        const auto found = std::lower_bound(
            packets_.begin(), packets_.end(), packet.pos,
            [](const PacketEntry &entry, int64_t position) { return entry.position < position; });
        if (found != packets_.end() && found->position == packet.pos)
            return int32_t(found - packets_.begin());
        return -1;
    }
    if (dts_increasing_ && packet.dts != AV_NOPTS_VALUE) {
        const auto found =
            std::lower_bound(packets_.begin(), packets_.end(), packet.dts,
                             [](const PacketEntry &entry, int64_t dts) { return entry.dts < dts; });
        if (found != packets_.end() && found->dts == packet.dts) return int32_t(found - packets_.begin());
        return -1;
    }
    for (int32_t i = 0; i < packet_count(); ++i) {
        const PacketEntry &entry = packets_[size_t(i)];
        if (entry.dts == packet.dts && entry.pts == packet.pts && entry.position == packet.pos) return i;
    }
    return -1;
}

int32_t FrameIndex::start_of_last_group() const {
    if (!by_timestamp_) return 0;
    int32_t last_key = 0;
    for (int32_t i = 0; i < packet_count(); ++i)
        if (packets_[size_t(i)].key) last_key = i;
    int32_t start = last_key;
    for (size_t n = 0; n < frame_packets_.size(); ++n)
        if (frame_packets_[n] >= last_key) start = std::min(start, frame_starts_[n]);
    return start;
}

void FrameIndex::keep_decodable(int32_t start, std::vector<int64_t> shown) {
    if (!by_timestamp_) return;
    std::sort(shown.begin(), shown.end());
    size_t kept = 0;
    for (size_t n = 0; n < frame_packets_.size(); ++n) {
        const bool decodes_from_start = frame_starts_[n] >= start;
        if (decodes_from_start && !std::binary_search(shown.begin(), shown.end(), frame_pts_[n])) continue;
        frame_packets_[kept] = frame_packets_[n];
        frame_pts_[kept] = frame_pts_[n];
        frame_starts_[kept] = frame_starts_[n];
        ++kept;
    }
    frame_packets_.resize(kept);
    frame_pts_.resize(kept);
    frame_starts_.resize(kept);
}

double FrameIndex::measured_rate(AVRational time_base) const {
    if (!by_timestamp_ || frame_pts_.size() < 2) return 0.0;
    const double span = double(frame_pts_.back() - frame_pts_.front()) * av_q2d(time_base);
    return span > 0.0 ? double(frame_pts_.size() - 1) / span : 0.0;
}

}  // namespace ffmpeg_plugin
