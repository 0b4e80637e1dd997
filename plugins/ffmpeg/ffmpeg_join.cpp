// Joining movie segments without re-encoding: the packets of each segment
// are copied into one container, their time stamps moved on by the length
// of the segments before it. A scale-out conversion encodes each segment on
// its own worker, starting on a key frame, and calls this once at the end
// (through ctypes: it is not part of the codec contract).
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>

#include "ffmpeg_util.h"

namespace {

class Joiner {
public:
    Joiner(char *error, int32_t error_size) : error_(error), error_size_(error_size) {}

    int32_t join(const char *output, const char *const *segments, int32_t count) {
        if (output == nullptr || segments == nullptr || count < 1) return fail(6, "no segments to join");
        packet_ = ffmpeg_plugin::make_packet();
        if (!packet_) return fail(2, "out of memory");
        for (int32_t k = 0; k < count; ++k) {
            const int32_t status = copy_segment(output, segments[k], k == 0);
            if (status != 0) return status;
        }
        if (!output_) return fail(1, "no segment holds a video stream");
        int result = av_write_trailer(output_.get());
        if (result < 0) return fail(7, "can't finish %s: %s", output, text(result));
        result = avio_closep(&output_->pb);
        if (result < 0) return fail(7, "error writing %s: %s", output, text(result));
        return 0;
    }

private:
    int32_t copy_segment(const char *output, const char *segment, bool first) {
        AVFormatContext *raw = nullptr;
        int result = avformat_open_input(&raw, segment, nullptr, nullptr);
        if (result < 0) return fail(7, "can't open segment %s: %s", segment, text(result));
        ffmpeg_plugin::InputPtr input(raw);
        result = avformat_find_stream_info(input.get(), nullptr);
        if (result < 0) return fail(7, "can't read segment %s: %s", segment, text(result));
        const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0) return fail(1, "segment %s holds no video stream", segment);
        const AVStream &stream = *input->streams[index];
        if (first) {
            const int32_t status = open_output(output, stream);
            if (status != 0) return status;
        } else if (!same_stream(stream)) {
            return fail(1, "segment %s was encoded differently from the first segment", segment);
        }
        return copy_packets(*input, stream, segment);
    }

    int32_t open_output(const char *output, const AVStream &stream) {
        AVFormatContext *raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, nullptr, output) < 0 || raw == nullptr)
            return fail(7, "no container is known for %s", output);
        output_.reset(raw);
        AVStream *copy = avformat_new_stream(raw, nullptr);
        if (copy == nullptr) return fail(2, "out of memory");
        int result = avcodec_parameters_copy(copy->codecpar, stream.codecpar);
        if (result < 0) return fail(2, "out of memory");
        ffmpeg_plugin::keep_codec_tag(*copy->codecpar, *raw->oformat);
        copy->time_base = stream.time_base;
        copy->avg_frame_rate = stream.avg_frame_rate;
        copy->r_frame_rate = stream.r_frame_rate;
        copy->sample_aspect_ratio = stream.sample_aspect_ratio;
        time_base_ = stream.time_base;
        frame_duration_ = frame_length(stream);
        if (!(raw->oformat->flags & AVFMT_NOFILE)) {
            result = avio_open(&raw->pb, output, AVIO_FLAG_WRITE);
            if (result < 0) return fail(7, "can't create %s: %s", output, text(result));
        }
        result = avformat_write_header(raw, nullptr);
        if (result < 0) return fail(7, "can't start %s: %s", output, text(result));
        return 0;
    }

    // One frame period in the segment's time base (for containers that
    // store no packet durations).
    static int64_t frame_length(const AVStream &stream) {
        const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) return 1;
        const int64_t length = av_rescale_q(1, av_inv_q(rate), stream.time_base);
        return length > 0 ? length : 1;
    }

    bool same_stream(const AVStream &stream) const {
        const AVCodecParameters &first = *output_->streams[0]->codecpar, &other = *stream.codecpar;
        return first.codec_id == other.codec_id && first.width == other.width &&
               first.height == other.height && first.format == other.format;
    }

    // Copies every packet of the segment's video stream, its time stamps
    // counted from the segment's first presentation time and moved on by
    // `offset_`; the next segment starts where this one's last frame ends.
    int32_t copy_packets(AVFormatContext &input, const AVStream &stream, const char *segment) {
        int64_t start = AV_NOPTS_VALUE, end = 0;
        AVStream &target = *output_->streams[0];
        for (;;) {
            int result = av_read_frame(&input, packet_.get());
            if (result == AVERROR_EOF) break;
            if (result < 0) return fail(7, "can't read segment %s: %s", segment, text(result));
            if (packet_->stream_index != stream.index) {
                av_packet_unref(packet_.get());
                continue;
            }
            av_packet_rescale_ts(packet_.get(), stream.time_base, time_base_);
            if (packet_->pts == AV_NOPTS_VALUE) packet_->pts = packet_->dts;
            if (start == AV_NOPTS_VALUE) start = first_pts(packet_->pts);
            const int64_t duration = packet_->duration > 0 ? packet_->duration : frame_duration_;
            if (packet_->pts != AV_NOPTS_VALUE && packet_->pts + duration - start > end)
                end = packet_->pts + duration - start;
            shift(packet_->pts, start);
            shift(packet_->dts, start);
            keep_rising(*packet_, duration);
            packet_->stream_index = 0;
            packet_->pos = -1;
            av_packet_rescale_ts(packet_.get(), time_base_, target.time_base);
            result = av_interleaved_write_frame(output_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (result < 0) return fail(7, "error writing the joined movie: %s", text(result));
        }
        offset_ += end;
        return 0;
    }

    // MPEG program streams time only the first packet of each of their
    // blocks and may give two packets the same time: an untimed packet
    // follows one frame on, and a decoding time that does not rise is
    // moved on by one tick (as the ffmpeg command does), since a muxer
    // takes only rising ones.
    void keep_rising(AVPacket &packet, int64_t duration) {
        if (packet.dts == AV_NOPTS_VALUE && last_dts_ != AV_NOPTS_VALUE) packet.dts = last_dts_ + duration;
        if (packet.dts != AV_NOPTS_VALUE && last_dts_ != AV_NOPTS_VALUE && packet.dts <= last_dts_) {
            const int64_t next = last_dts_ + 1;
            if (packet.pts != AV_NOPTS_VALUE && packet.pts >= packet.dts)
                packet.pts = std::max(packet.pts, next);
            packet.dts = next;
        }
        if (packet.dts != AV_NOPTS_VALUE) last_dts_ = packet.dts;
    }

    // A segment's frames are presented from 0 (its first packet may be a
    // later frame when the codec reorders them, so 0 is taken as the start
    // whenever the first packet's time is not earlier).
    static int64_t first_pts(int64_t pts) { return pts == AV_NOPTS_VALUE || pts > 0 ? 0 : pts; }

    void shift(int64_t &stamp, int64_t start) const {
        if (stamp != AV_NOPTS_VALUE) stamp = stamp - start + offset_;
    }

    int32_t fail(int32_t status, const char *format, ...) {
        if (error_ != nullptr && error_size_ > 0) {
            va_list arguments;
            va_start(arguments, format);
            std::vsnprintf(error_, size_t(error_size_), format, arguments);
            va_end(arguments);
        }
        return status;
    }

    const char *text(int code) {
        av_strerror(code, message_, sizeof message_);
        return message_;
    }

    char *error_;
    int32_t error_size_;
    char message_[128] = {};
    ffmpeg_plugin::OutputPtr output_;
    ffmpeg_plugin::PacketPtr packet_;
    AVRational time_base_{1, 1};
    int64_t frame_duration_ = 1;
    int64_t offset_ = 0;
    int64_t last_dts_ = AV_NOPTS_VALUE;  // of the last packet written, in time_base_
};

}  // namespace

// Joins `count` movie segments, in order, into `output` (its container
// chosen by its suffix) by stream copy. Every segment must hold the same
// video stream layout (codec, size, pixel format), each starting on a key
// frame. Returns 0, or non-zero with a message of at most error_size - 1
// characters in `error`: 6 bad arguments, 2 memory, 1 segments that do not
// fit together, 7 a file that cannot be read or written. A failed join may
// leave a partial `output` that the caller removes.
extern "C" __attribute__((visibility("default"))) int32_t orvo_ffmpeg_join(const char *output,
                                                                           const char *const *segments,
                                                                           int32_t count, char *error,
                                                                           int32_t error_size) {
    if (error != nullptr && error_size > 0) error[0] = '\0';
    try {
        Joiner joiner(error, error_size);
        return joiner.join(output, segments, count);
    } catch (const std::bad_alloc &) {
        if (error != nullptr && error_size > 0) std::snprintf(error, size_t(error_size), "out of memory");
        return 2;
    }
}
