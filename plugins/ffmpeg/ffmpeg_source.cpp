#include "ffmpeg_source.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ffmpeg_plugin {

namespace {

// Frame rates that are ratios of 1001 are reported from the container's
// exact value when the time stamps agree with it this closely.
constexpr double kRateTolerance = 0.005;

double rate_of(AVRational rate) { return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0; }

}  // namespace

std::unique_ptr<MovieSource> MovieSource::open(const char *path, std::string &error) {
    quiet_ffmpeg_log();
    clear_logged_error();
    std::unique_ptr<MovieSource> source(new MovieSource());
    source->path_ = path;
    source->packet_ = make_packet();
    source->decoded_ = make_frame();
    source->cached_ = make_frame();
    if (!source->packet_ || !source->decoded_ || !source->cached_) {
        error = "out of memory";
        return nullptr;
    }
    if (!source->open_input(error) || !source->open_decoder(source->decoder_, 0, error) ||
        !source->build_index(error))
        return nullptr;
    source->choose_frame_rate();
    return source;
}

bool MovieSource::open_input(std::string &error) {
    input_.reset();
    AVFormatContext *context = nullptr;
    int status = avformat_open_input(&context, path_.c_str(), nullptr, nullptr);
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
    if (stream_ < 0) {
        stream_ = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream_ < 0 || (context->streams[stream_]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            stream_ = -1;
            error = "no video stream";
            return false;
        }
    }
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

bool MovieSource::open_decoder(CodecPtr &decoder, int threads, std::string &error) const {
    const AVStream *stream = input_->streams[stream_];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
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
        decoder->thread_count = threads;
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
    alpha_ = has_alpha(AVPixelFormat(parameters->format));
    // Every packet once, demuxing only: a read error ends the readable part
    // of a damaged file.
    while (av_read_frame(input_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index == stream_) index_.add(*packet_);
        av_packet_unref(packet_.get());
    }
    index_.finish();
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

bool MovieSource::reopen() {
    std::string ignored;
    return open_input(ignored);
}

void MovieSource::seek_to_packet(int32_t decode_index) {
    skip_until_ = decode_index;
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

int MovieSource::read_video_packet(int32_t &decode_index) {
    bool reopened = false;
    for (;;) {
        av_packet_unref(packet_.get());
        if (!input_) return AVERROR(EIO);
        const int status = av_read_frame(input_.get(), packet_.get());
        if (status < 0) return status;
        if (packet_->stream_index != stream_) continue;
        if (next_packet_ < 0) {
            // After a seek: which packet did the demuxer land on? Past the
            // wanted one (or lost), start over from the beginning.
            const int32_t landed = index_.locate(*packet_);
            if (landed < 0 || landed > skip_until_) {
                if (reopened || !reopen()) return AVERROR(EIO);
                reopened = true;
                continue;
            }
            next_packet_ = landed;
        }
        const int32_t current = next_packet_++;
        if (current >= skip_until_) {
            decode_index = current;
            return 0;
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
    if (frame == cached_frame_) return deliver(frame, pixels, error);
    const bool forward = active_ && frame > last_output_ &&
                         (!index_.by_timestamp() || index_.start_of_frame(frame) <= last_fed_);
    if (!forward) restart_at(frame);
    int decode_errors = 0;
    for (;;) {
        int status = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (status == 0) {
            const int32_t number = number_of(*decoded_);
            if (number < 0) continue;  // a picture the index does not show (dropped by the container)
            last_output_ = number;
            if (number < frame) continue;
            if (number > frame) {
                error = "frame " + std::to_string(frame) + " could not be decoded";
                return false;
            }
            av_frame_unref(cached_.get());
            av_frame_move_ref(cached_.get(), decoded_.get());
            cached_frame_ = frame;
            return deliver(frame, pixels, error);
        }
        if (status == AVERROR_EOF) {
            active_ = false;
            error = "frame " + std::to_string(frame) + " could not be decoded: the stream ends before it";
            if (decode_errors > 0) error += " (" + logged_error() + ")";
            return false;
        }
        if (status != AVERROR(EAGAIN)) {
            active_ = false;
            error = "decoding failed: " + error_text(status);
            return false;
        }
        int32_t decode_index = -1;
        status = draining_ ? AVERROR_EOF : read_video_packet(decode_index);
        if (status < 0) {
            // End of the file (or of its readable part): drain the decoder.
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        last_fed_ = decode_index;
        // A damaged packet is passed over as players do: the frames it
        // spoils are reported when asked for.
        if (avcodec_send_packet(decoder_.get(), packet_.get()) < 0) ++decode_errors;
    }
}

bool MovieSource::deliver(int32_t frame, uint8_t *pixels, std::string &error) {
    const int status = to_rgb_.convert(*cached_, pixels, width_, height_, alpha_);
    if (status < 0) {
        error = "can't convert frame " + std::to_string(frame) + " from " +
                (av_get_pix_fmt_name(AVPixelFormat(cached_->format)) ?: "an unknown pixel format") + ": " +
                error_text(status);
        return false;
    }
    return true;
}

bool MovieSource::read_packet_of_frame(int32_t frame, AVPacket &packet, std::string &error) {
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
    if (!still_decoder_ && !open_decoder(still_decoder_, 1, error)) return false;
    PacketPtr packet = make_packet();
    if (!packet || av_new_packet(packet.get(), size) < 0) {
        error = "out of memory";
        return false;
    }
    std::memcpy(packet->data, data, size_t(size));
    packet->flags |= AV_PKT_FLAG_KEY;
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
