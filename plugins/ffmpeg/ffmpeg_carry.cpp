// Carrying over to a converted movie what its pictures leave behind: the
// source's sound, start timecode and container tags. The conversion writes
// the video as usual; this then copies that video stream without decoding
// it into the final file, beside the source's audio streams (copied when
// the container takes their codec, else re-encoded to its usual one) cut
// to the frames converted, and moves the index to the front when asked.
// Called once per output through ctypes (it is not part of the codec
// contract), as the join of scale-out segments is.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ffmpeg_audio.h"
#include "ffmpeg_timecode.h"
#include "ffmpeg_util.h"

namespace {

using namespace ffmpeg_plugin;

// What to carry (the flags argument of orvo_ffmpeg_carry).
constexpr int32_t kCarryAudio = 1;
constexpr int32_t kCarryTags = 2;
constexpr int32_t kCarryTimecode = 4;
constexpr int32_t kIndexFirst = 8;

// Container tags that describe the file written rather than its content.
constexpr const char *kOwnTags[] = {"major_brand", "minor_version", "compatible_brands", "encoder",
                                    "timecode"};

struct DictionaryFreer {
    AVDictionary *entries = nullptr;
    ~DictionaryFreer() { av_dict_free(&entries); }
};

// One audio stream of the source and how it reaches the output.
struct AudioRoute {
    int source_index = -1;
    AVStream *copy = nullptr;                     // copied packets go here
    std::unique_ptr<AudioTranscoder> transcoder;  // or are re-encoded
};

bool is_own_tag(const char *key) {
    for (const char *own : kOwnTags)
        if (std::strcmp(key, own) == 0) return true;
    return false;
}

bool is_mp4_family(const AVOutputFormat &container) {
    for (const char *name : {"mp4", "mov", "ipod", "3gp", "3g2", "ismv", "f4v"})
        if (std::strcmp(container.name, name) == 0) return true;
    return false;
}

std::string extension_of(const char *path) {
    const char *slash = std::strrchr(path, '/');
    const char *dot = std::strrchr(slash != nullptr ? slash : path, '.');
    return dot != nullptr ? dot : "";
}

AVRational stream_rate(const AVStream &stream) {
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0) return stream.avg_frame_rate;
    if (stream.r_frame_rate.num > 0 && stream.r_frame_rate.den > 0) return stream.r_frame_rate;
    return AVRational{25, 1};
}

class Carrier {
public:
    Carrier(char *message, int32_t message_size) : message_(message), message_size_(message_size) {}

    int32_t carry(const char *video, const char *source, const char *output, int64_t first_frame,
                  int64_t frame_count, int32_t flags, const char *timecode) {
        if (video == nullptr || source == nullptr || output == nullptr || first_frame < 0)
            return fail(6, "nothing to carry over");
        int32_t status = open_input(video, video_input_);
        if (status == 0) status = open_input(source, source_input_);
        if (status != 0) return status;
        video_index_ = av_find_best_stream(video_input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video_index_ < 0) return fail(1, "%s holds no video stream", video);
        status = open_output(output);
        if (status != 0) return status;
        set_window(first_frame, frame_count);
        if (flags & kCarryTags) copy_tags();
        status = place_timecode(flags, timecode, first_frame);
        if (status == 0 && (flags & kCarryAudio)) status = add_audio(output);
        if (status == 0) status = start_output(output, (flags & kIndexFirst) != 0);
        if (status == 0) status = copy_packets(output);
        return status;
    }

private:
    int32_t open_input(const char *path, InputPtr &input) {
        AVFormatContext *raw = nullptr;
        int result = avformat_open_input(&raw, path, nullptr, nullptr);
        if (result < 0) return fail(7, "can't open %s: %s", path, error_text(result).c_str());
        input.reset(raw);
        result = avformat_find_stream_info(raw, nullptr);
        if (result < 0) return fail(7, "can't read %s: %s", path, error_text(result).c_str());
        return 0;
    }

    int32_t open_output(const char *output) {
        AVFormatContext *raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, nullptr, output) < 0 || raw == nullptr)
            return fail(7, "no container is known for %s", output);
        output_.reset(raw);
        const AVStream &video = *video_input_->streams[video_index_];
        // Pictures only some muxers take as they are given them (YUV4MPEG's
        // wrapped frames) cannot be copied into a new file.
        if (!muxer_accepts(*raw->oformat, *video.codecpar, video.time_base))
            return fail(3, "the pictures of a %s file cannot be copied into a new one",
                        extension_of(output).c_str());
        AVStream *copy = avformat_new_stream(raw, nullptr);
        if (copy == nullptr) return fail(2, "out of memory");
        if (avcodec_parameters_copy(copy->codecpar, video.codecpar) < 0) return fail(2, "out of memory");
        keep_codec_tag(*copy->codecpar, *raw->oformat);
        copy->time_base = video.time_base;
        copy->avg_frame_rate = video.avg_frame_rate;
        copy->r_frame_rate = video.r_frame_rate;
        copy->sample_aspect_ratio = video.sample_aspect_ratio;
        return 0;
    }

    // The source's time span of the frames converted, measured on its own
    // video stream: from the start of frame `first` for `count` frames (to
    // the end for a negative count).
    void set_window(int64_t first, int64_t count) {
        const int index = av_find_best_stream(source_input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVStream *video = index >= 0 ? source_input_->streams[index] : nullptr;
        const AVRational rate = video != nullptr ? stream_rate(*video) : AVRational{25, 1};
        source_rate_ = rate;
        int64_t begin = 0;  // in AV_TIME_BASE units
        if (video != nullptr && video->start_time != AV_NOPTS_VALUE)
            begin = av_rescale_q(video->start_time, video->time_base, AV_TIME_BASE_Q);
        else if (source_input_->start_time != AV_NOPTS_VALUE)
            begin = source_input_->start_time;
        whole_ = first == 0 && count < 0;
        window_start_ = begin + av_rescale_q(first, av_inv_q(rate), AV_TIME_BASE_Q);
        window_length_ = count < 0 ? -1 : av_rescale_q(count, av_inv_q(rate), AV_TIME_BASE_Q);
        trimmed_start_ = first > 0;
    }

    void copy_tags() {
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = av_dict_get(source_input_->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
            if (!is_own_tag(entry->key)) av_dict_set(&output_->metadata, entry->key, entry->value, 0);
    }

    int32_t place_timecode(int32_t flags, const char *given, int64_t first_frame) {
        const bool explicit_one = given != nullptr && given[0] != '\0';
        std::string timecode;
        const AVStream &video = *video_input_->streams[video_index_];
        std::string error;
        if (explicit_one) {
            // Checked even where it cannot be written, so that a mistake is
            // never passed over in silence.
            if (!advance_timecode(given, stream_rate(video), 0, timecode, error))
                return fail(6, "%s", error.c_str());
        } else if (flags & kCarryTimecode) {
            const std::string source = start_timecode(*source_input_);
            if (source.empty()) return 0;
            // The first frame converted carries the time it had in the source.
            if (!advance_timecode(source, source_rate_, first_frame, timecode, error)) {
                note("the source's timecode %s was not carried over: %s", source.c_str(), error.c_str());
                return 0;
            }
        } else {
            return 0;
        }
        if (!container_takes_timecode(*output_->oformat)) {
            note("a %s file holds no timecode: %s was not written", extension_of(output_->url).c_str(),
                 timecode.c_str());
            return 0;
        }
        av_dict_set(&output_->metadata, "timecode", timecode.c_str(), 0);
        return 0;
    }

    int32_t add_audio(const char *output) {
        const AVOutputFormat &container = *output_->oformat;
        const std::string where = extension_of(output) + " file";
        for (unsigned i = 0; i < source_input_->nb_streams; ++i) {
            const AVStream &stream = *source_input_->streams[i];
            if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            const AVCodecID id = stream.codecpar->codec_id;
            AudioRoute route;
            route.source_index = int(i);
            if (container_takes_stream(container, *stream.codecpar)) {
                route.copy = avformat_new_stream(output_.get(), nullptr);
                if (route.copy == nullptr) return fail(2, "out of memory");
                if (avcodec_parameters_copy(route.copy->codecpar, stream.codecpar) < 0)
                    return fail(2, "out of memory");
                keep_codec_tag(*route.copy->codecpar, *output_->oformat);
                route.copy->time_base = stream.time_base;
                av_dict_copy(&route.copy->metadata, stream.metadata, 0);
            } else {
                const AVCodec *encoder = usual_audio_encoder(container);
                if (encoder == nullptr) {
                    note("audio stream %u (%s) was dropped: a %s takes no audio this FFmpeg can write", i,
                         avcodec_get_name(id), where.c_str());
                    continue;
                }
                route.transcoder.reset(new AudioTranscoder);
                std::string error;
                const int result = route.transcoder->open(
                    stream, *encoder, *output_, av_rescale_q(window_start_, AV_TIME_BASE_Q, stream.time_base),
                    window_length_ < 0 ? -1 : av_rescale_q(window_length_, AV_TIME_BASE_Q, stream.time_base),
                    error);
                if (result < 0) {
                    if (route.transcoder->stream() != nullptr)
                        return fail(7, "re-encoding audio stream %u for %s failed: %s", i, output,
                                    error.c_str());
                    note("audio stream %u (%s) was dropped: %s", i, avcodec_get_name(id),
                         error.empty() ? error_text(result).c_str() : error.c_str());
                    continue;
                }
                note("audio stream %u (%s, %d Hz) was re-encoded as %s (%d Hz): a %s cannot hold it as it is",
                     i, avcodec_get_name(id), stream.codecpar->sample_rate, avcodec_get_name(encoder->id),
                     route.transcoder->stream()->codecpar->sample_rate, where.c_str());
            }
            routes_.push_back(std::move(route));
        }
        // The source's other streams (its video above all) are passed over
        // by the demuxer rather than read and dropped here.
        for (unsigned i = 0; i < source_input_->nb_streams; ++i)
            if (route_of(int(i)) == nullptr) source_input_->streams[i]->discard = AVDISCARD_ALL;
        return 0;
    }

    int32_t start_output(const char *output, bool index_first) {
        if (!(output_->oformat->flags & AVFMT_NOFILE)) {
            const int result = avio_open(&output_->pb, output, AVIO_FLAG_WRITE);
            if (result < 0) return fail(7, "can't create %s: %s", output, error_text(result).c_str());
        }
        DictionaryFreer settings;
        if (index_first && is_mp4_family(*output_->oformat))
            av_dict_set(&settings.entries, "movflags", "+faststart", 0);
        const int result = avformat_write_header(output_.get(), &settings.entries);
        if (result < 0) return fail(7, "can't start %s: %s", output, error_text(result).c_str());
        return 0;
    }

    static int write_packet(void *context, AVPacket &packet, AVStream &) {
        return av_interleaved_write_frame(static_cast<Carrier *>(context)->output_.get(), &packet);
    }

    // The next packet of each input is held and the earlier of the two
    // written, so that the muxer never has to hold a whole stream back.
    int32_t copy_packets(const char *output) {
        PacketPtr held_video = make_packet(), held_audio = make_packet();
        if (!held_video || !held_audio) return fail(2, "out of memory");
        bool video_left = true, audio_left = !routes_.empty();
        bool have_video = false, have_audio = false;
        if (audio_left && trimmed_start_) seek_source();
        while (video_left || audio_left || have_video || have_audio) {
            if (video_left && !have_video) {
                int32_t status = next_video(*held_video, have_video, video_left);
                if (status != 0) return status;
            }
            if (audio_left && !have_audio) {
                int32_t status = next_audio(*held_audio, have_audio, audio_left);
                if (status != 0) return status;
            }
            if (!have_video && !have_audio) continue;
            const bool video_first =
                have_video && (!have_audio || time_of(*held_video, video_stream()) <= audio_time_);
            int32_t status =
                video_first ? write_video(*held_video, output) : write_audio(*held_audio, output);
            if (status != 0) return status;
            (video_first ? have_video : have_audio) = false;
        }
        for (AudioRoute &route : routes_)
            if (route.transcoder) {
                const int result = route.transcoder->finish(&Carrier::write_packet, this);
                if (result < 0) return fail(7, "error writing %s: %s", output, error_text(result).c_str());
            }
        int result = av_write_trailer(output_.get());
        if (result < 0) return fail(7, "can't finish %s: %s", output, error_text(result).c_str());
        if (output_->pb != nullptr && !(output_->oformat->flags & AVFMT_NOFILE)) {
            result = avio_closep(&output_->pb);
            if (result < 0) return fail(7, "error writing %s: %s", output, error_text(result).c_str());
        }
        return 0;
    }

    const AVStream &video_stream() const { return *video_input_->streams[video_index_]; }

    static int64_t time_of(const AVPacket &packet, const AVStream &stream) {
        const int64_t stamp = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
        return stamp == AV_NOPTS_VALUE ? 0 : av_rescale_q(stamp, stream.time_base, AV_TIME_BASE_Q);
    }

    // A second before the window, so that the first packets kept are read.
    void seek_source() {
        const int64_t target = window_start_ - AV_TIME_BASE;
        if (target > 0) avformat_seek_file(source_input_.get(), -1, INT64_MIN, target, target, 0);
    }

    int32_t next_video(AVPacket &packet, bool &have, bool &left) {
        for (;;) {
            const int result = av_read_frame(video_input_.get(), &packet);
            if (result == AVERROR_EOF) {
                left = false;
                return 0;
            }
            if (result < 0) return fail(7, "can't read the written video: %s", error_text(result).c_str());
            if (packet.stream_index == video_index_) {
                have = true;
                return 0;
            }
            av_packet_unref(&packet);
        }
    }

    AudioRoute *route_of(int index) {
        for (AudioRoute &route : routes_)
            if (route.source_index == index) return &route;
        return nullptr;
    }

    int32_t next_audio(AVPacket &packet, bool &have, bool &left) {
        // Streams of a file interleave loosely: reading stops this far past
        // the window's end.
        const int64_t stop =
            window_length_ < 0 ? INT64_MAX : window_start_ + window_length_ + 2 * AV_TIME_BASE;
        for (;;) {
            const int result = av_read_frame(source_input_.get(), &packet);
            if (result == AVERROR_EOF) {
                left = false;
                return 0;
            }
            if (result < 0) return fail(7, "can't read the source's audio: %s", error_text(result).c_str());
            const AudioRoute *route = route_of(packet.stream_index);
            const AVStream &stream = *source_input_->streams[packet.stream_index];
            const int64_t time = time_of(packet, stream);
            if (time > stop) {
                av_packet_unref(&packet);
                left = false;
                return 0;
            }
            if (route == nullptr) {
                av_packet_unref(&packet);
                continue;
            }
            audio_time_ = time - window_start_;
            have = true;
            return 0;
        }
    }

    int32_t write_video(AVPacket &packet, const char *output) {
        const AVStream &stream = video_stream();
        AVStream &target = *output_->streams[0];
        // MPEG program streams time only the first packet of each of
        // their blocks: the others follow one frame period on.
        // Their demuxer may also give two packets of one block the same
        // time: a muxer takes only rising decoding times, so such a packet
        // is moved on by one tick (as the ffmpeg command does).
        if (packet.dts == AV_NOPTS_VALUE && last_video_dts_ != AV_NOPTS_VALUE)
            packet.dts = last_video_dts_ + (packet.duration > 0 ? packet.duration : 1);
        if (packet.dts != AV_NOPTS_VALUE && last_video_dts_ != AV_NOPTS_VALUE &&
            packet.dts <= last_video_dts_) {
            const int64_t next = last_video_dts_ + 1;
            if (packet.pts != AV_NOPTS_VALUE && packet.pts >= packet.dts)
                packet.pts = std::max(packet.pts, next);
            packet.dts = next;
        }
        if (packet.dts != AV_NOPTS_VALUE) last_video_dts_ = packet.dts;
        packet.stream_index = 0;
        packet.pos = -1;
        av_packet_rescale_ts(&packet, stream.time_base, target.time_base);
        const int result = av_interleaved_write_frame(output_.get(), &packet);
        av_packet_unref(&packet);
        if (result < 0) return fail(7, "error writing %s: %s", output, error_text(result).c_str());
        return 0;
    }

    // Copied packets are kept when they start within half a packet of the
    // window (sound is cut on packet bounds, well inside a frame);
    // re-encoded ones are cut to the sample.
    int32_t write_audio(AVPacket &packet, const char *output) {
        AudioRoute &route = *route_of(packet.stream_index);
        const AVStream &stream = *source_input_->streams[packet.stream_index];
        int result = 0;
        if (route.transcoder) {
            result = route.transcoder->send(packet, &Carrier::write_packet, this);
        } else if (keeps(packet, stream)) {
            const int64_t shift = av_rescale_q(window_start_, AV_TIME_BASE_Q, stream.time_base);
            if (packet.pts != AV_NOPTS_VALUE) packet.pts -= shift;
            if (packet.dts != AV_NOPTS_VALUE) packet.dts -= shift;
            packet.stream_index = route.copy->index;
            packet.pos = -1;
            av_packet_rescale_ts(&packet, stream.time_base, route.copy->time_base);
            result = av_interleaved_write_frame(output_.get(), &packet);
        }
        av_packet_unref(&packet);
        if (result < 0) return fail(7, "error writing %s: %s", output, error_text(result).c_str());
        return 0;
    }

    bool keeps(const AVPacket &packet, const AVStream &stream) const {
        if (whole_) return true;
        const int64_t stamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (stamp == AV_NOPTS_VALUE) return false;
        const int64_t start = av_rescale_q(stamp, stream.time_base, AV_TIME_BASE_Q) - window_start_;
        const int64_t half = av_rescale_q(packet.duration, stream.time_base, AV_TIME_BASE_Q) / 2;
        if (start + half < 0 && trimmed_start_) return false;
        return window_length_ < 0 || start + half < window_length_;
    }

    void note(const char *format, ...) {
        if (message_ == nullptr || message_size_ <= 0) return;
        char line[512];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(line, sizeof line, format, arguments);
        va_end(arguments);
        const size_t used = std::strlen(message_);
        std::snprintf(message_ + used, size_t(message_size_) - used, "%s%s", used > 0 ? "\n" : "", line);
    }

    int32_t fail(int32_t status, const char *format, ...) {
        if (message_ != nullptr && message_size_ > 0) {
            va_list arguments;
            va_start(arguments, format);
            std::vsnprintf(message_, size_t(message_size_), format, arguments);
            va_end(arguments);
        }
        return status;
    }

    char *message_;
    int32_t message_size_;
    InputPtr video_input_, source_input_;
    OutputPtr output_;
    int video_index_ = -1;
    std::vector<AudioRoute> routes_;
    AVRational source_rate_{25, 1};
    int64_t window_start_ = 0, window_length_ = -1;  // AV_TIME_BASE units
    int64_t last_video_dts_ = AV_NOPTS_VALUE;        // in the written video's time base
    int64_t audio_time_ = 0;                         // of the held audio packet, from the window's start
    bool whole_ = true, trimmed_start_ = false;
};

}  // namespace

// Writes `output` (its container chosen by its suffix) from the video
// stream of `video`, copied without decoding, and what `flags` asks to
// carry over from the movie `source`: 1 its audio streams, cut to the
// `frame_count` frames from `first_frame` of its video (a negative count:
// to the end); 2 its container tags; 4 its start timecode, moved on to
// `first_frame`; 8 the index at the front of an .mp4/.mov file. A non-empty
// `timecode` is written instead of the source's. Returns 0 with notes on
// what was not carried over or was re-encoded (lines in `message`), or
// non-zero with the reason there: 6 bad arguments or timecode, 2 memory,
// 1 a video file without video, 3 a container whose pictures cannot be
// copied (nothing is carried over), 7 a file that cannot be read or written.
// A failed carry may leave a partial `output` that the caller removes.
extern "C" __attribute__((visibility("default"))) int32_t orvo_ffmpeg_carry(
    const char *video, const char *source, const char *output, int64_t first_frame, int64_t frame_count,
    int32_t flags, const char *timecode, char *message, int32_t message_size) {
    if (message != nullptr && message_size > 0) message[0] = '\0';
    try {
        quiet_ffmpeg_log();
        Carrier carrier(message, message_size);
        return carrier.carry(video, source, output, first_frame, frame_count, flags, timecode);
    } catch (const std::bad_alloc &) {
        if (message != nullptr && message_size > 0)
            std::snprintf(message, size_t(message_size), "out of memory");
        return 2;
    }
}
