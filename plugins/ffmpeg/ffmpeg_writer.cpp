#include "ffmpeg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_container.h"
#include "ffmpeg_timecode.h"
#include "udil_sdk_output.h"

namespace ffmpeg_plugin {

namespace {

constexpr AVRational kDefaultRate = {25, 1};
// Below this many pixels on a side an FFV1 picture is coded as version 1.
constexpr int kSmallSide = 16;

struct DictionaryFreer {
    AVDictionary *entries = nullptr;
    ~DictionaryFreer() { av_dict_free(&entries); }
};

// The tags of a new movie with what the options state put in their
// place. Pictures stored as RGB have no matrix or range to choose, and
// Motion JPEG's YUV is BT.601 at full range whatever a tag says (JFIF).
ColourTags stated_tags(ColourTags tags, const WriterSettings &settings) {
    // 2 is "unspecified"; numbers FFmpeg has no name for are not tagged.
    const auto primaries = AVColorPrimaries(settings.primaries);
    if (primaries != AVCOL_PRI_UNSPECIFIED && av_color_primaries_name(primaries) != nullptr)
        tags.primaries = primaries;
    const auto transfer = AVColorTransferCharacteristic(settings.transfer);
    if (transfer != AVCOL_TRC_UNSPECIFIED && av_color_transfer_name(transfer) != nullptr)
        tags.transfer = transfer;
    const bool fixed_matrix = tags.space == AVCOL_SPC_RGB || tags.range == AVCOL_RANGE_JPEG;
    if (fixed_matrix) return tags;
    // swscale converts with the BT.601, BT.709, FCC, SMPTE 240M and
    // BT.2020 matrices only: others would be tagged but not used.
    switch (settings.matrix) {
        case AVCOL_SPC_BT709:
        case AVCOL_SPC_FCC:
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_SMPTE240M:
        case AVCOL_SPC_BT2020_NCL:
            tags.space = AVColorSpace(settings.matrix);
            break;
        default:
            break;
    }
    if (settings.range == 1) tags.range = AVCOL_RANGE_MPEG;
    if (settings.range == 2) tags.range = AVCOL_RANGE_JPEG;
    return tags;
}

}  // namespace

AVRational rate_from(float frames_per_second) {
    if (!(frames_per_second > 0.0f) || !std::isfinite(frames_per_second)) return kDefaultRate;
    // Television rates are ratios with 1001 that a float only approximates.
    for (const int base : {24, 30, 48, 60, 120}) {
        const AVRational ntsc = {base * 1000, 1001};
        if (std::fabs(frames_per_second - av_q2d(ntsc)) < 0.002) return ntsc;
    }
    // Otherwise the simplest fraction that gives back the float: 25/2,
    // 1000/3, 15000/1001 ... (a float holds no more than that).
    for (int denominator = 1; denominator <= 1001; ++denominator) {
        const double numerator = std::round(double(frames_per_second) * denominator);
        if (numerator >= 1.0 && numerator <= 1e9 && float(numerator / denominator) == frames_per_second)
            return AVRational{int(numerator), denominator};
    }
    return av_d2q(frames_per_second, 1000000);
}

MovieWriter::MovieWriter(const UdilMovieInfo &info, const WriterSettings &settings)
    : width_(info.width),
      height_(info.height),
      rate_(rate_from(info.frame_rate)),
      settings_(settings),
      codec_(*settings.codec) {}

MovieWriter::~MovieWriter() {
    if (in_forked_child())
        abandon_in_child();
    else
        release();
}

// Neither freed (the encoder would wait for its threads, which are not in
// this process) nor flushed (buffered data would land in the parent's file
// at the shared offset): the objects are let go of, a small loss of memory
// in the child. The file stays the parent's to finish.
int32_t MovieWriter::abandon_in_child() {
    output_ = nullptr;
    stream_ = nullptr;
    (void)encoder_.release();
    (void)picture_.release();
    (void)packet_.release();
    header_written_ = false;
    return fail(
        7, "ffmpeg: %s is left to the process that is writing it (%d): a forked process cannot finish it",
        path_.c_str(), int(owner_));
}

AVPixelFormat MovieWriter::encoded_format() const {
    if (deep_channels_ != 0) return deep_format(deep_channels_);
    switch (codec_.id) {
        // 4:2:0 needs even sizes in x264; odd ones keep full chroma.
        case AV_CODEC_ID_H264:
            return (width_ % 2 || height_ % 2) ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
        case AV_CODEC_ID_MJPEG:
            return AV_PIX_FMT_YUVJ420P;
        // Planar RGB keeps FFV1 lossless for RGB pictures.
        case AV_CODEC_ID_FFV1:
            return AV_PIX_FMT_0RGB32;
        // ProRes 4:2:2 garbles odd widths; 4:4:4 (the 4444 profile) codes them.
        case AV_CODEC_ID_PRORES:
            return width_ % 2 ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV422P10LE;
        case AV_CODEC_ID_MPEG4:
            return AV_PIX_FMT_YUV420P;
        case AV_CODEC_ID_DNXHD:
            return AV_PIX_FMT_YUV422P;
        default:
            return container_codec_format();
    }
}

AVPixelFormat MovieWriter::container_codec_format() const {
    const AVCodec *codec = avcodec_find_encoder_by_name(codec_.encoder);
    const AVPixelFormat *offered = codec != nullptr ? codec->pix_fmts : nullptr;
    // Wrapped raw pictures (YUV4MPEG) take any format: keep full chroma.
    if (offered == nullptr) return AV_PIX_FMT_YUV444P;
    std::vector<AVPixelFormat> usable;
    for (const AVPixelFormat *format = offered; *format != AV_PIX_FMT_NONE; ++format)
        if (sws_isSupportedOutput(*format)) usable.push_back(*format);
    const auto has = [&usable](AVPixelFormat wanted) {
        return std::find(usable.begin(), usable.end(), wanted) != usable.end();
    };
    if (width_ % 2 == 0 && height_ % 2 == 0 && has(AV_PIX_FMT_YUV420P)) return AV_PIX_FMT_YUV420P;
    if (has(AV_PIX_FMT_YUV444P)) return AV_PIX_FMT_YUV444P;
    usable.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(usable.data(), AV_PIX_FMT_RGB24, 0, nullptr);
}

int32_t MovieWriter::file_new(const char *path) {
    file_close();
    deep_channels_ = 0;
    return start(path);
}

int32_t MovieWriter::start(const char *path) {
    owner_ = getpid();
    clear_error();
    quiet_ffmpeg_log();
    clear_logged_error();
    path_ = path;
    next_pts_ = 0;
    int32_t status = open_output(path);
    if (status == 0) status = open_encoder();
    if (status == 0) status = place_timecode();
    if (status == 0) {
        // The muxer moves the index in front of the data when it finishes
        // the file (a second pass over it); only the MP4 family has one.
        DictionaryFreer muxer_settings;
        if (settings_.index_first && output_->priv_data != nullptr &&
            av_opt_find(output_->priv_data, "movflags", nullptr, 0, 0) != nullptr)
            av_dict_set(&muxer_settings.entries, "movflags", "+faststart", 0);
        const int result = avformat_write_header(output_, &muxer_settings.entries);
        if (result < 0) status = fail(7, "ffmpeg: can't start %s: %s", path, error_text(result).c_str());
        header_written_ = result >= 0;
    }
    if (status == 0) status = flush_to_file();
    if (status != 0) {
        // A file that was made but could not take its header (a full disk)
        // holds nothing worth keeping.
        const bool made = output_ != nullptr && output_->pb != nullptr;
        release();
        if (made) udil_sdk::remove_partial_file(path);
    }
    return status;
}

int32_t MovieWriter::place_timecode() {
    if (settings_.timecode.empty()) return 0;
    std::string checked, error;
    if (!advance_timecode(settings_.timecode, rate_, 0, checked, error))
        return fail(6, "ffmpeg: %s", error.c_str());
    if (!container_takes_timecode(*output_->oformat))
        return fail(1, "ffmpeg: a %s file holds no timecode; leave the timecode option out",
                    output_->oformat->name);
    av_dict_set(&output_->metadata, "timecode", checked.c_str(), 0);
    return 0;
}

int32_t MovieWriter::open_output(const char *path) {
    // The container follows the file's suffix; a name without a known one
    // gets the codec's natural container.
    const CodecChoice &asked = *settings_.codec;
    if (avformat_alloc_output_context2(&output_, nullptr, nullptr, path) < 0 || output_ == nullptr) {
        if (avformat_alloc_output_context2(&output_, nullptr, asked.container, path) < 0 ||
            output_ == nullptr)
            return fail(7, "ffmpeg: can't make a %s container for %s", asked.container, path);
    }
    // Refused before the file is touched: a name is never swapped for
    // another container.
    std::string refusal;
    if (!codec_for_container(*output_->oformat, path, settings_, codec_, refusal))
        return fail(1, "%s", refusal.c_str());
    const char *container = output_->oformat->name;
    flush_muxer_ = std::strcmp(container, "matroska") == 0 || std::strcmp(container, "webm") == 0;
    if (!(output_->oformat->flags & AVFMT_NOFILE)) {
        const int result = avio_open(&output_->pb, path, AVIO_FLAG_WRITE);
        if (result < 0) return fail(7, "ffmpeg: can't create %s: %s", path, error_text(result).c_str());
    }
    return 0;
}

int32_t MovieWriter::open_encoder() {
    const CodecChoice &choice = codec_;
    const AVCodec *codec = avcodec_find_encoder_by_name(choice.encoder);
    if (codec == nullptr)
        return fail(1, "ffmpeg: this FFmpeg build has no %s encoder for %s video", choice.encoder,
                    choice.label);
    encoder_.reset(avcodec_alloc_context3(codec));
    picture_ = make_frame();
    packet_ = make_packet();
    if (!encoder_ || !picture_ || !packet_) return fail(2, "ffmpeg: out of memory");

    AVCodecContext &context = *encoder_;
    const AVPixelFormat format = encoded_format();
    if (format == AV_PIX_FMT_NONE)
        return fail(1, "ffmpeg: the %s encoder takes no picture format %s can be converted to",
                    choice.encoder, deep_channels_ != 0 ? "16-bit RGB" : "RGB");
    const ColourTags tags = stated_tags(tags_for_new_movie(width_, height_, format), settings_);
    context.width = width_;
    context.height = height_;
    context.pix_fmt = format;
    context.time_base = av_inv_q(rate_);
    context.framerate = rate_;
    context.sample_aspect_ratio = AVRational{1, 1};
    context.colorspace = tags.space;
    context.color_range = tags.range;
    context.color_primaries = tags.primaries;
    context.color_trc = tags.transfer;
    context.thread_count = 0;  // as many as the machine has
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    DictionaryFreer settings;
    if (choice.intra_only) {
        context.gop_size = 1;
    } else if (settings_.keyint > 0) {
        context.gop_size = settings_.keyint;
    }
    if (settings_.bitrate_kbit > 0 && choice.id != AV_CODEC_ID_FFV1 && choice.id != AV_CODEC_ID_PRORES) {
        context.bit_rate = settings_.bitrate_kbit * 1000;
    } else if (choice.uses_crf) {
        av_dict_set_int(&settings.entries, "crf", settings_.crf, 0);
    } else if (choice.id != AV_CODEC_ID_FFV1) {
        // ProRes left at 0 keeps its profile's own rate.
        int quantiser = settings_.qscale;
        if (quantiser == 0 && choice.id != AV_CODEC_ID_PRORES) quantiser = kDefaultQscale;
        if (quantiser > 0) {
            context.flags |= AV_CODEC_FLAG_QSCALE;
            context.global_quality = quantiser * FF_QP2LAMBDA;
        }
    }
    if (choice.id == AV_CODEC_ID_H264) av_dict_set(&settings.entries, "preset", settings_.preset, 0);
    // x265 prints its settings on the host's standard error stream.
    if (std::strcmp(codec->name, "libx265") == 0)
        av_dict_set(&settings.entries, "x265-params", "log-level=error", 0);
    if (choice.id == AV_CODEC_ID_FFV1) {
        // Version 3 with slices lets the encoder use every core, and
        // checksums let a reader tell damaged frames. FFmpeg's version 3
        // returns pictures with a side of 1 or 2 pixels as zeros (and
        // refuses some); those small pictures are coded as version 1,
        // which keeps them exact and loses nothing by having no slices.
        const bool small = width_ < kSmallSide || height_ < kSmallSide;
        av_dict_set(&settings.entries, "level", small ? "1" : "3", 0);
        if (!small) av_dict_set(&settings.entries, "slicecrc", "1", 0);
    }
    if (choice.id == AV_CODEC_ID_PRORES) av_dict_set(&settings.entries, "vendor", "apl0", 0);
    // DNxHR takes any size from 256x120 at any rate, where DNxHD's
    // profiles each fix a size and bit rate; HQX is its 10-bit profile.
    if (choice.id == AV_CODEC_ID_DNXHD)
        av_dict_set(&settings.entries, "profile", deep_channels_ != 0 ? "dnxhr_hqx" : "dnxhr_hq", 0);
    if (choice.id == AV_CODEC_ID_VP9 && std::strcmp(codec->name, "libvpx-vp9") == 0) {
        // Constant quality rather than libvpx's low default bit rate.
        context.bit_rate = 0;
        av_dict_set_int(&settings.entries, "crf", settings_.crf, 0);
        av_dict_set(&settings.entries, "cpu-used", "5", 0);
        av_dict_set(&settings.entries, "row-mt", "1", 0);
    }

    int result = avcodec_open2(encoder_.get(), codec, &settings.entries);
    if (result < 0)
        return fail(7, "ffmpeg: can't open the %s encoder for %s: %s", choice.encoder, path_.c_str(),
                    error_text(result).c_str());
    stream_ = avformat_new_stream(output_, nullptr);
    if (stream_ == nullptr) return fail(2, "ffmpeg: out of memory");
    result = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (result < 0) return fail(7, "ffmpeg: %s", error_text(result).c_str());
    stream_->time_base = context.time_base;
    stream_->avg_frame_rate = rate_;

    picture_->format = format;
    picture_->width = width_;
    picture_->height = height_;
    result = av_frame_get_buffer(picture_.get(), 0);
    if (result < 0) return fail(2, "ffmpeg: out of memory");
    const bool alpha = deep_channels_ == 2 || deep_channels_ == 4;
    result = deep_channels_ != 0 ? from_deep_.prepare(width_, height_, alpha, format, tags)
                                 : from_rgb_.prepare(width_, height_, format, tags);
    if (result < 0)
        return fail(1, "ffmpeg: can't convert %dx%d %s pictures to %s for the %s encoder", width_, height_,
                    deep_channels_ != 0 ? "16-bit RGB" : "RGB", av_get_pix_fmt_name(format), choice.encoder);
    picture_->colorspace = tags.space;
    picture_->color_range = tags.range;
    picture_->color_primaries = tags.primaries;
    picture_->color_trc = tags.transfer;
    return 0;
}

int32_t MovieWriter::save_image(int32_t, int32_t, const void *left, const void *right) {
    if (!header_written_) return fail(6, "ffmpeg: no file is open");
    if (in_forked_child())
        return fail(7,
                    "ffmpeg: %s is being written by another process (%d): a forked process cannot add to it",
                    path_.c_str(), int(owner_));
    const auto *pixels = static_cast<const uint8_t *>(left ? left : right);
    if (pixels == nullptr) return fail(6, "ffmpeg: no pixel buffer given");
    if (deep_channels_ != 0)
        return fail(1, "ffmpeg: %s holds uint16 frames: an 8-bit frame cannot follow them", path_.c_str());
    clear_logged_error();
    // The encoder may still hold the previous picture's buffer.
    int result = av_frame_make_writable(picture_.get());
    if (result < 0) return fail(2, "ffmpeg: out of memory");
    result = from_rgb_.convert(pixels, *picture_);
    if (result < 0)
        return fail(7, "ffmpeg: converting a frame of %s to %s failed: %s", path_.c_str(),
                    av_get_pix_fmt_name(AVPixelFormat(picture_->format)), error_text(result).c_str());
    return send_picture();
}

int32_t MovieWriter::send_picture() {
    // Frames are stored in the order given, one frame period apart. A
    // fixed quantiser is read from each picture, not from the encoder.
    picture_->pts = next_pts_++;
    picture_->quality = encoder_->global_quality;
    const int result = avcodec_send_frame(encoder_.get(), picture_.get());
    if (result < 0)
        return fail(7, "ffmpeg: encoding a frame of %s failed: %s", path_.c_str(),
                    error_text(result).c_str());
    const int32_t status = write_packets();
    return status != 0 ? status : flush_to_file();
}

int32_t MovieWriter::flush_to_file() {
    // Matroska keeps the current cluster in memory until a later frame
    // starts the next one; ending it now puts this frame in the file. (An
    // intra-only codec's frames are one cluster each anyway, so the file is
    // laid out as before.)
    if (flush_muxer_) {
        const int result = av_write_frame(output_, nullptr);
        if (result < 0)
            return fail(7, "ffmpeg: error writing %s: %s", path_.c_str(), error_text(result).c_str());
    }
    AVIOContext *file = output_->pb;
    if (file == nullptr) return 0;
    avio_flush(file);
    if (file->error < 0)
        return fail(7, "ffmpeg: error writing %s: %s", path_.c_str(), error_text(file->error).c_str());
    return 0;
}

int32_t MovieWriter::write_packets() {
    for (;;) {
        int result = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
        if (result < 0)
            return fail(7, "ffmpeg: encoding %s failed: %s", path_.c_str(), error_text(result).c_str());
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        result = av_interleaved_write_frame(output_, packet_.get());
        if (result < 0)
            return fail(7, "ffmpeg: error writing %s: %s", path_.c_str(), error_text(result).c_str());
    }
}

int32_t MovieWriter::file_close() {
    if (output_ == nullptr) return 0;
    if (in_forked_child()) return abandon_in_child();
    int32_t status = 0;
    if (header_written_) {
        clear_logged_error();
        // Frames the encoder still holds (B-frame look-ahead, threads) come
        // out only when it is told that the input ended.
        const int result = avcodec_send_frame(encoder_.get(), nullptr);
        status = result < 0
                     ? fail(7, "ffmpeg: finishing %s failed: %s", path_.c_str(), error_text(result).c_str())
                     : write_packets();
        const int trailer = av_write_trailer(output_);
        if (trailer < 0 && status == 0)
            status = fail(7, "ffmpeg: can't finish %s: %s", path_.c_str(), error_text(trailer).c_str());
    }
    if (output_->pb != nullptr && !(output_->oformat->flags & AVFMT_NOFILE)) {
        const int closed = avio_closep(&output_->pb);
        if (closed < 0 && status == 0)
            status = fail(7, "ffmpeg: error writing %s: %s", path_.c_str(), error_text(closed).c_str());
    }
    release();
    return status;
}

void MovieWriter::release() {
    if (output_ != nullptr) {
        if (output_->pb != nullptr && !(output_->oformat->flags & AVFMT_NOFILE)) avio_closep(&output_->pb);
        avformat_free_context(output_);
        output_ = nullptr;
    }
    stream_ = nullptr;
    encoder_.reset();
    header_written_ = false;
}

}  // namespace ffmpeg_plugin
