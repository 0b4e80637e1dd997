#include "ffmpeg_source.h"
#include "ffmpeg_suffixes.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ffmpeg_plugin {

namespace {

// Frame rates that are ratios of 1001 are reported from the container's
// exact value when the time stamps agree with it this closely.
constexpr double kRateTolerance = 0.005;

double rate_of(AVRational rate) { return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0; }

// More decoder threads than this buy nothing (FFmpeg's own choice stops
// there too), however many the host allows.
constexpr int kMostDecoderThreads = 16;

// Frame threads for a host that allows `workers` threads. Up to HD sizes,
// one frame more than the workers is in flight, as in FFmpeg's own
// automatic count, because the thread that feeds the decoder and converts
// its pictures to RGB keeps a core busy part of the time. Each frame thread
// holds pictures of its own, so larger frames (4K: some 25 MB each) get
// none beyond the workers, and the memory of a read stays within what the
// host's read-ahead allows. One worker decodes on one thread.
constexpr int64_t kExtraThreadPixels = 2048 * 1152;
int decoder_threads_for(int workers, int64_t pixels) {
    if (workers <= 1) return 1;
    return std::min(pixels <= kExtraThreadPixels ? workers + 1 : workers, kMostDecoderThreads);
}

// Packets read after a seek that cannot be placed in the index before the
// demuxer is taken as lost.
constexpr int32_t kMaxUnplacedPackets = 8;

// The ffmpeg command's choice among video streams: the largest picture,
// one marked as the default stream before others of about its size, a
// stream that has packets before one that has none.
int64_t stream_score(const AVStream &stream) {
    return int64_t(stream.codecpar->width) * stream.codecpar->height +
           ((stream.event_flags & AVSTREAM_EVENT_FLAG_NEW_PACKETS) ? 100000000 : 0) +
           ((stream.disposition & AV_DISPOSITION_DEFAULT) ? 5000000 : 0);
}

// WebM keeps the alpha of VP8 and VP9 beside the picture (ALPHA_MODE 1 in
// the track, the alpha plane in each block's additions). FFmpeg's own
// decoders drop it; the libvpx ones decode it, as the ffmpeg command does.
bool carries_vpx_alpha(const AVStream &stream) {
    const AVCodecID id = stream.codecpar->codec_id;
    if (id != AV_CODEC_ID_VP8 && id != AV_CODEC_ID_VP9) return false;
    const AVDictionaryEntry *mode = av_dict_get(stream.metadata, "alpha_mode", nullptr, 0);
    return mode != nullptr && std::strcmp(mode->value, "1") == 0;
}

const AVCodec *decoder_for(const AVStream &stream) {
    if (carries_vpx_alpha(stream)) {
        const char *name = stream.codecpar->codec_id == AV_CODEC_ID_VP8 ? "libvpx" : "libvpx-vp9";
        if (const AVCodec *codec = avcodec_find_decoder_by_name(name)) return codec;
    }
    return avcodec_find_decoder(stream.codecpar->codec_id);
}

std::string with_reason(std::string text, const std::string &reason) {
    return reason.empty() ? text : text + ": " + reason;
}

}  // namespace

std::unique_ptr<MovieSource> MovieSource::open(const char *path, std::string &error, int video_stream,
                                               int threads, const RawVideoSettings &raw) {
    quiet_ffmpeg_log();
    clear_logged_error();
    std::unique_ptr<MovieSource> source(new MovieSource());
    source->path_ = path;
    source->requested_stream_ = video_stream;
    source->raw_ = raw;
    source->threads_ = threads > 0 ? std::min(threads, kMostDecoderThreads) : 0;
    source->packet_ = make_packet();
    source->decoded_ = make_frame();
    source->cached_ = make_frame();
    if (!source->packet_ || !source->decoded_ || !source->cached_) {
        error = "out of memory";
        return nullptr;
    }
    if (!source->open_input(error) || !source->open_decoder(source->decoder_, source->threads_, error) ||
        !source->build_index(error))
        return nullptr;
    if (source->damaged_end_ && source->index_.by_timestamp()) {
        source->drop_undecodable_end();
        if (source->index_.frame_count() == 0) {
            error = "no frame of the video stream can be decoded";
            return nullptr;
        }
    }
    source->choose_frame_rate();
    return source;
}

MovieSource::~MovieSource() {
    if (getpid() != owner_) drop_parent_state();
}

// In a forked child: the decoder's threads are gone, so that freeing the
// decoder would wait for them for ever, and the parent's objects may have
// been in use by a thread of the parent at the fork. They are left as they
// are (a small loss of memory in the child) and the pointers let go of.
void MovieSource::drop_parent_state() {
    const pid_t self = getpid();
    if (dropped_for_ == self) return;
    dropped_for_ = self;
    (void)input_.release();  // its file offset is shared with the parent's
    (void)decoder_.release();
    (void)still_decoder_.release();
    (void)packet_.release();
    (void)decoded_.release();
    (void)cached_.release();
}

// The first read in a forked child opens the file and the decoder again;
// the next frame is then decoded from its key frame, as after a seek, so
// that the child gets the same pixels as the parent. False with `error`
// set when that fails (the next read tries again).
bool MovieSource::adopt_in_child(std::string &error) {
    const pid_t self = getpid();
    if (self == owner_) return true;
    drop_parent_state();
    if (!packet_) packet_ = make_packet();
    if (!decoded_) decoded_ = make_frame();
    if (!cached_) cached_ = make_frame();
    if (!packet_ || !decoded_ || !cached_) {
        error = "out of memory";
        return false;
    }
    active_ = false;
    draining_ = false;
    cached_frame_ = -1;
    if (!open_input(error) || (!decoder_ && !open_decoder(decoder_, threads_, error))) {
        input_.reset();
        error = "can't open the file again in this forked process: " + error;
        return false;
    }
    owner_ = self;
    return true;
}

bool MovieSource::open_input(std::string &error) {
    input_.reset();
    AVFormatContext *context = nullptr;
    const AVInputFormat *format = headerless_raw_video(path_.c_str());
    AVDictionary *settings = nullptr;
    if (format != nullptr) {
        if (raw_.size.empty()) {
            error =
                "a raw video file holds no picture size or pixel format: give them as reader options, "
                "as 'size 640x480 pixfmt yuv420p rate 25'";
            return false;
        }
        av_dict_set(&settings, "video_size", raw_.size.c_str(), 0);
        av_dict_set(&settings, "pixel_format", raw_.pixel_format.c_str(), 0);
        av_dict_set(&settings, "framerate", std::to_string(raw_.rate).c_str(), 0);
    }
    int status = avformat_open_input(&context, path_.c_str(), format, &settings);
    av_dict_free(&settings);
    if (status < 0) {
        error = error_text(status);
        return false;
    }
    input_.reset(context);
    status = avformat_find_stream_info(context, nullptr);
    if (status < 0) {
        error = "can't read the stream information: " + error_text(status);
        return false;
    }
    if (stream_ < 0 && !choose_stream(requested_stream_, error)) return false;
    if (stream_ >= int(context->nb_streams)) {
        error = "the video stream went missing";
        return false;
    }
    // Only the video stream is of interest: the demuxer drops the rest.
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = int(i) == stream_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    next_packet_ = 0;
    return true;
}

bool MovieSource::choose_stream(int requested, std::string &error) {
    const AVFormatContext &context = *input_;
    if (requested > 0) {
        int video_streams = 0;
        for (unsigned i = 0; i < context.nb_streams; ++i)
            if (context.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                ++video_streams == requested) {
                stream_ = int(i);
                return true;
            }
        error = "there is no video stream " + std::to_string(requested) + " (the file has " +
                std::to_string(video_streams) + ")";
        return false;
    }
    // Attached pictures (cover art) are no movie: they are taken only
    // when asked for by number.
    int64_t best_score = -1;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream &stream = *context.streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int64_t score = stream_score(stream);
        if (score > best_score) {
            best_score = score;
            stream_ = int(i);
        }
    }
    if (stream_ < 0) error = "no video stream";
    return stream_ >= 0;
}

bool MovieSource::open_decoder(CodecPtr &decoder, int threads, std::string &error) const {
    const AVStream *stream = input_->streams[stream_];
    const AVCodec *codec = decoder_for(*stream);
    if (codec == nullptr) {
        error = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id) + " video";
        return false;
    }
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) {
        error = "out of memory";
        return false;
    }
    int status = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (status >= 0) {
        decoder->pkt_timebase = stream->time_base;
        const int64_t pixels = int64_t(stream->codecpar->width) * stream->codecpar->height;
        decoder->thread_count = threads > 0 ? decoder_threads_for(threads, pixels) : 0;
        status = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (status < 0) {
        error = std::string("can't open the ") + codec->name + " decoder: " + error_text(status);
        return false;
    }
    return true;
}

bool MovieSource::build_index(std::string &error) {
    const AVCodecParameters *parameters = input_->streams[stream_]->codecpar;
    width_ = parameters->width;
    height_ = parameters->height;
    if (width_ <= 0 || height_ <= 0) {
        error = "the video stream has no picture size";
        return false;
    }
    alpha_ = has_alpha(AVPixelFormat(parameters->format)) ||
             (carries_vpx_alpha(*input_->streams[stream_]) &&
              std::strncmp(decoder_->codec->name, "libvpx", 6) == 0);
    // Every packet once, demuxing only: a read error ends the readable part
    // of a damaged file.
    clear_logged_error();
    int status = 0;
    while ((status = av_read_frame(input_.get(), packet_.get())) >= 0) {
        if (packet_->stream_index == stream_) {
            palettes_.note(*packet_, index_.packet_count());
            index_.add(*packet_);
        }
        av_packet_unref(packet_.get());
    }
    index_.finish();
    // A read error, a complaint of the demuxer (a file cut short inside a
    // packet) or fewer packets than the header counts: the end is damaged.
    const int64_t stated_frames = input_->streams[stream_]->nb_frames;
    damaged_end_ = status != AVERROR_EOF || !logged_error().empty() ||
                   (stated_frames > 0 && stated_frames > index_.packet_count());
    next_packet_ = index_.packet_count();
    if (index_.frame_count() == 0) {
        error = "the video stream holds no frames";
        return false;
    }
    return true;
}

void MovieSource::choose_frame_rate() {
    const AVStream *stream = input_->streams[stream_];
    const double measured = index_.measured_rate(stream->time_base);
    for (const AVRational stated : {stream->avg_frame_rate, stream->r_frame_rate}) {
        const double rate = rate_of(stated);
        if (rate > 0.0 && (measured <= 0.0 || std::fabs(rate - measured) <= kRateTolerance * measured)) {
            frame_rate_ = rate;
            return;
        }
    }
    // The header is missing or disagrees with the time stamps: trust them.
    frame_rate_ = measured > 0.0 ? measured : -1.0;
}

// A file cut short or damaged near its end may hold packets the decoder
// makes no picture of (a half-copied file ends inside a frame). The last
// group of pictures is decoded once and the frames it does not give are
// dropped, so that the frame count holds only frames that can be read.
void MovieSource::drop_undecodable_end() {
    const int32_t start = index_.start_of_last_group();
    avcodec_flush_buffers(decoder_.get());
    seek_to_packet(start);
    active_ = true;
    draining_ = false;
    std::vector<int64_t> shown;
    std::string reason;
    int status = 0;
    while ((status = next_picture(reason)) == 0) {
        shown.push_back(decoded_->pts != AV_NOPTS_VALUE ? decoded_->pts : decoded_->best_effort_timestamp);
        av_frame_unref(decoded_.get());
    }
    // Decoding that stopped for another reason than the end proves nothing.
    if (status == AVERROR_EOF) index_.keep_decodable(start, shown);
    active_ = false;
}

bool MovieSource::reopen() {
    std::string ignored;
    return open_input(ignored);
}

void MovieSource::seek_to_packet(int32_t decode_index) {
    skip_until_ = decode_index;
    sought_ = decode_index;
    sought_earlier_ = false;
    restarted_ = false;
    unplaced_ = 0;
    if (input_ && next_packet_ == decode_index) return;  // the demuxer is already there
    if (!input_) {
        reopen();  // an earlier reopen failed: try again
        return;
    }
    const PacketEntry &entry = index_.packet(decode_index);
    const int64_t stamp = entry.dts != AV_NOPTS_VALUE ? entry.dts : entry.pts;
    if (stamp != AV_NOPTS_VALUE && av_seek_frame(input_.get(), stream_, stamp, AVSEEK_FLAG_BACKWARD) >= 0) {
        next_packet_ = -1;  // found again by read_video_packet
        return;
    }
    reopen();
}

// Where the demuxer lands after a seek, it may first hand out the rest of
// a packet the seek cut, or a packet split in two with the time stamps of
// another (MPEG program streams do). The first packet found whole (at a
// known place, with the size the index knows) fixes the place; one landed
// past the packet sought makes the seek start earlier.
bool MovieSource::seek_earlier() {
    unplaced_ = 0;
    if (!sought_earlier_ && sought_ > 0) {
        sought_earlier_ = true;
        const PacketEntry &entry = index_.packet(sought_ - 1);
        const int64_t stamp = entry.dts != AV_NOPTS_VALUE ? entry.dts : entry.pts;
        if (input_ && stamp != AV_NOPTS_VALUE &&
            av_seek_frame(input_.get(), stream_, stamp, AVSEEK_FLAG_BACKWARD) >= 0) {
            next_packet_ = -1;
            return true;
        }
    }
    if (restarted_) return false;
    restarted_ = true;
    return reopen();
}

int MovieSource::read_video_packet(int32_t &decode_index) {
    for (;;) {
        av_packet_unref(packet_.get());
        if (!input_) return AVERROR(EIO);
        const int status = av_read_frame(input_.get(), packet_.get());
        if (status < 0) {
            if (next_packet_ >= 0) return status;
            // The end came before the place was found.
            if (!seek_earlier()) return AVERROR(EIO);
            continue;
        }
        if (packet_->stream_index != stream_) continue;
        if (next_packet_ < 0) {
            const int32_t landed = index_.locate(*packet_);
            if (landed > skip_until_ || (landed < 0 && ++unplaced_ > kMaxUnplacedPackets)) {
                if (!seek_earlier()) return AVERROR(EIO);
                continue;
            }
            if (landed < 0 || index_.packet(landed).size != packet_->size) continue;
            next_packet_ = landed;
        }
        const int32_t current = next_packet_++;
        if (current >= skip_until_) {
            // Pictures are numbered by the index's time stamps, whatever
            // the demuxer guessed after a seek.
            const PacketEntry &entry = index_.packet(current);
            packet_->pts = entry.pts;
            packet_->dts = entry.dts;
            if (!palettes_.attach(*packet_, current)) return AVERROR(ENOMEM);
            decode_index = current;
            return 0;
        }
    }
}

int MovieSource::next_picture(std::string &reason) {
    // A decoder that refuses without end is given up on.
    const int max_refusals = 2 * index_.packet_count() + 16;
    int refusals = 0;
    for (;;) {
        int status = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (status == 0 || status == AVERROR_EOF) return status;
        if (status != AVERROR(EAGAIN)) {
            // A picture the decoder could not make: the ones it still
            // holds come next.
            reason = error_text(status);
            if (++refusals > max_refusals) return status;
            continue;
        }
        if (draining_) return AVERROR_EOF;
        int32_t decode_index = -1;
        if (read_video_packet(decode_index) < 0) {
            // End of the file (or of its readable part): drain the decoder.
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        last_fed_ = decode_index;
        // A damaged packet is passed over as players do: the frames it
        // spoils are reported when asked for.
        status = avcodec_send_packet(decoder_.get(), packet_.get());
        if (status < 0) {
            reason = error_text(status);
            if (++refusals > max_refusals) return status;
        }
    }
}

void MovieSource::restart_at(int32_t frame) {
    avcodec_flush_buffers(decoder_.get());
    seek_to_packet(index_.start_of_frame(frame));
    active_ = true;
    draining_ = false;
    last_fed_ = -1;
    last_output_ = -1;
    pictures_out_ = 0;
}

int32_t MovieSource::number_of(const AVFrame &picture) {
    if (!index_.by_timestamp()) return pictures_out_++;
    const int64_t stamp = picture.pts != AV_NOPTS_VALUE ? picture.pts : picture.best_effort_timestamp;
    return index_.frame_at(stamp);
}

bool MovieSource::read_frame(int32_t frame, uint8_t *pixels, std::string &error) {
    clear_logged_error();
    if (!adopt_in_child(error)) return false;
    if (frame == cached_frame_) return deliver(frame, pixels, error);
    const bool forward = active_ && frame > last_output_ &&
                         (!index_.by_timestamp() || index_.start_of_frame(frame) <= last_fed_);
    if (!forward) restart_at(frame);
    std::string reason;  // why the decoder last refused a packet or picture
    for (;;) {
        const int status = next_picture(reason);
        if (status == AVERROR_EOF) {
            active_ = false;
            error = with_reason(
                "frame " + std::to_string(frame) + " could not be decoded: the stream ends before it",
                reason);
            return false;
        }
        if (status < 0) {
            active_ = false;
            error = "decoding failed: " + error_text(status);
            return false;
        }
        const int32_t number = number_of(*decoded_);
        if (number < 0) continue;  // a picture the index does not show (dropped by the container)
        last_output_ = number;
        if (number < frame) continue;
        if (number > frame) {
            // Kept for the read of the next frame, which usually follows.
            av_frame_unref(cached_.get());
            av_frame_move_ref(cached_.get(), decoded_.get());
            cached_frame_ = number;
            error = with_reason("frame " + std::to_string(frame) + " could not be decoded", reason);
            return false;
        }
        av_frame_unref(cached_.get());
        av_frame_move_ref(cached_.get(), decoded_.get());
        cached_frame_ = frame;
        return deliver(frame, pixels, error);
    }
}

bool MovieSource::read_frame_deep(int32_t frame, uint8_t *top, int64_t stride, std::string &error) {
    deep_top_ = top;
    deep_stride_ = stride;
    const bool read = read_frame(frame, nullptr, error);
    deep_top_ = nullptr;
    return read;
}

bool MovieSource::deliver(int32_t frame, uint8_t *pixels, std::string &error) {
    const int status = deep_top_ != nullptr
                           ? to_rgb_.convert_deep(*cached_, deep_top_, deep_stride_, width_, height_, alpha_)
                           : to_rgb_.convert(*cached_, pixels, width_, height_, alpha_);
    if (status < 0) {
        error = "can't convert frame " + std::to_string(frame) + " from " +
                (av_get_pix_fmt_name(AVPixelFormat(cached_->format)) ?: "an unknown pixel format") + ": " +
                error_text(status);
        return false;
    }
    return true;
}

bool MovieSource::read_packet_of_frame(int32_t frame, AVPacket &packet, std::string &error) {
    if (!adopt_in_child(error)) return false;
    const int32_t wanted = index_.packet_of_frame(frame);
    // The demuxer moves away from where the decoder stopped.
    active_ = false;
    if (next_packet_ != wanted) seek_to_packet(wanted);
    skip_until_ = wanted;
    int32_t decode_index = -1;
    const int status = read_video_packet(decode_index);
    if (status < 0 || decode_index != wanted) {
        error = "can't read the data of frame " + std::to_string(frame) +
                (status < 0 ? ": " + error_text(status) : std::string());
        return false;
    }
    av_packet_unref(&packet);
    av_packet_move_ref(&packet, packet_.get());
    return true;
}

bool MovieSource::decode_packet_data(const void *data, int32_t size, uint8_t *pixels, std::string &error) {
    clear_logged_error();
    if (!adopt_in_child(error)) return false;
    if (!still_decoder_ && !open_decoder(still_decoder_, 1, error)) return false;
    PacketPtr packet = make_packet();
    if (!packet || av_new_packet(packet.get(), size) < 0) {
        error = "out of memory";
        return false;
    }
    std::memcpy(packet->data, data, size_t(size));
    packet->flags |= AV_PKT_FLAG_KEY;
    if (!palettes_.attach(*packet, 0)) {
        error = "out of memory";
        return false;
    }
    avcodec_flush_buffers(still_decoder_.get());
    int status = avcodec_send_packet(still_decoder_.get(), packet.get());
    if (status >= 0) status = avcodec_send_packet(still_decoder_.get(), nullptr);
    FramePtr picture = make_frame();
    if (status >= 0)
        status = picture ? avcodec_receive_frame(still_decoder_.get(), picture.get()) : AVERROR(ENOMEM);
    avcodec_flush_buffers(still_decoder_.get());
    if (status < 0) {
        error = "can't decode the compressed frame: " + error_text(status);
        return false;
    }
    status = to_rgb_.convert(*picture, pixels, width_, height_, alpha_);
    if (status < 0) {
        error = "can't convert the compressed frame: " + error_text(status);
        return false;
    }
    return true;
}

}  // namespace ffmpeg_plugin
