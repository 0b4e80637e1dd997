// The frame index of a movie's video stream, built by reading every packet
// once (demuxing only, no decoding) when the movie is opened.
//
// Container headers may state a wrong frame count, and a decoder puts
// frames out in presentation order while packets come in decode order. The
// index knows every packet, so it gives the exact frame count, the
// presentation number of each decoded picture (by its time stamp), and for
// every frame the key frame from which decoding must start to reach it.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

namespace ffmpeg_plugin {

struct PacketEntry {
    int64_t pts;  // AV_NOPTS_VALUE when the container does not say
    int64_t dts;
    int64_t position;  // byte offset in the file, -1 unknown
    int32_t size;
    bool key;
    bool discard;  // decoded only as a reference, never shown (edit lists)
};

class FrameIndex {
public:
    // Adds the next packet of the video stream in decode order.
    void add(const AVPacket &packet);
    // Numbers the frames once every packet is in.
    void finish();

    int32_t frame_count() const { return int32_t(frame_packets_.size()); }
    int32_t packet_count() const { return int32_t(packets_.size()); }
    const PacketEntry &packet(int32_t decode_index) const { return packets_[size_t(decode_index)]; }

    // False when time stamps are missing or repeat: frames are then
    // numbered by counting decoded pictures from the start of the file.
    bool by_timestamp() const { return by_timestamp_; }
    // The frame shown at `pts`, or -1 when no frame of the index has it.
    int32_t frame_at(int64_t pts) const;
    // Decode index of the packet that holds frame `frame`.
    int32_t packet_of_frame(int32_t frame) const { return frame_packets_[size_t(frame)]; }
    // Decode index of the key packet from which decoding reaches `frame`.
    int32_t start_of_frame(int32_t frame) const { return by_timestamp_ ? frame_starts_[size_t(frame)] : 0; }
    // Decode index of a packet read back from the file, -1 when unknown.
    int32_t locate(const AVPacket &packet) const;

    // Decode index of the key packet from which every frame held in the
    // last group of pictures decodes; 0 without time stamps.
    int32_t start_of_last_group() const;
    // Drops the frames that decode from `start` on (see start_of_frame)
    // and are missing from `shown`, the time stamps the decoder put out
    // when it decoded from `start` to the end: the frames of a damaged or
    // cut-short end that cannot be had.
    void keep_decodable(int32_t start, std::vector<int64_t> shown);

    // True when every frame is a key frame (an intra-only stream).
    bool all_key() const { return all_key_; }
    int32_t largest_packet() const { return largest_; }
    // Frames per second measured from the time stamps; 0 when unknown.
    double measured_rate(AVRational time_base) const;

private:
    std::vector<PacketEntry> packets_;
    std::vector<int32_t> frame_packets_;  // presentation order -> decode index
    std::vector<int64_t> frame_pts_;      // presentation order -> pts
    std::vector<int32_t> frame_starts_;   // presentation order -> key decode index
    bool by_timestamp_ = false;
    bool all_key_ = true;
    bool dts_increasing_ = true;
    bool positions_increasing_ = true;
    int32_t largest_ = 0;
};

}  // namespace ffmpeg_plugin
