#include "ffmpeg_audio.h"

#include <algorithm>
#include <cstring>
#include <iterator>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace ffmpeg_plugin {

namespace {

bool is_one_of(const char *name, std::initializer_list<const char *> names) {
    for (const char *candidate : names)
        if (std::strcmp(name, candidate) == 0) return true;
    return false;
}

// Muxers that cannot answer avformat_query_codec, with the audio codecs
// they carry readably (the MPEG program stream muxer would take any codec
// and write it as MPEG audio).
struct QuietMuxer {
    const char *name;
    AVCodecID carries[5];
};
constexpr QuietMuxer kQuietMuxers[] = {
    {"mpegts", {AV_CODEC_ID_AAC, AV_CODEC_ID_MP2, AV_CODEC_ID_MP3, AV_CODEC_ID_AC3, AV_CODEC_ID_OPUS}},
    {"mpeg", {AV_CODEC_ID_MP2, AV_CODEC_ID_MP3, AV_CODEC_ID_AC3, AV_CODEC_ID_DTS, AV_CODEC_ID_MP1}},
};

// The rate an encoder takes closest to what the source has: its own when
// listed, else 48 kHz, else the first the encoder lists.
int encoder_rate(const AVCodec &encoder, int wanted) {
    const int *rates = encoder.supported_samplerates;
    if (rates == nullptr) return wanted;
    for (const int *rate = rates; *rate != 0; ++rate)
        if (*rate == wanted) return wanted;
    for (const int *rate = rates; *rate != 0; ++rate)
        if (*rate == 48000) return 48000;
    return rates[0];
}

// The pointers to sample `first` of every plane of `frame`.
void offset_planes(const AVFrame &frame, int first, const uint8_t *planes[AV_NUM_DATA_POINTERS]) {
    const auto format = AVSampleFormat(frame.format);
    const int bytes = av_get_bytes_per_sample(format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame.ch_layout.nb_channels;
    const int plane_count = planar ? std::min(channels, int(AV_NUM_DATA_POINTERS)) : 1;
    const size_t step = size_t(first) * size_t(bytes) * size_t(planar ? 1 : channels);
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i)
        planes[i] =
            i < plane_count && frame.extended_data[i] != nullptr ? frame.extended_data[i] + step : nullptr;
}

}  // namespace

bool container_takes_audio(const AVOutputFormat &container, AVCodecID id) {
    if (id == AV_CODEC_ID_NONE) return false;
    if (id == container.audio_codec) return true;
    const int answer = avformat_query_codec(&container, id, FF_COMPLIANCE_NORMAL);
    if (answer >= 0) return answer == 1;
    for (const QuietMuxer &muxer : kQuietMuxers)
        if (std::strcmp(muxer.name, container.name) == 0)
            return std::find(std::begin(muxer.carries), std::end(muxer.carries), id) !=
                   std::end(muxer.carries);
    return false;
}

bool muxer_accepts(const AVOutputFormat &container, const AVCodecParameters &parameters,
                   AVRational time_base) {
    AVFormatContext *trial = nullptr;
    if (avformat_alloc_output_context2(&trial, &container, nullptr, nullptr) < 0 || trial == nullptr)
        return false;
    bool taken = false;
    AVStream *stream = avformat_new_stream(trial, nullptr);
    if (stream != nullptr && avcodec_parameters_copy(stream->codecpar, &parameters) >= 0) {
        stream->codecpar->codec_tag = 0;
        stream->time_base = time_base;
        // The whole header: some muxers (MXF) check their streams only there.
        if (container.flags & AVFMT_NOFILE) {
            taken = avformat_write_header(trial, nullptr) >= 0;
        } else if (avio_open_dyn_buf(&trial->pb) >= 0) {
            taken = avformat_write_header(trial, nullptr) >= 0;
            uint8_t *bytes = nullptr;
            avio_close_dyn_buf(trial->pb, &bytes);
            av_free(bytes);
            trial->pb = nullptr;
        }
    }
    avformat_free_context(trial);
    return taken;
}

bool container_takes_stream(const AVOutputFormat &container, const AVCodecParameters &parameters) {
    // Some muxers list a codec they then refuse in one of their modes
    // (Opus and FLAC in QuickTime, FLAC in MP4 without experimental
    // features): a header written to memory settles it.
    return container_takes_audio(container, parameters.codec_id) &&
           muxer_accepts(container, parameters,
                         AVRational{1, parameters.sample_rate > 0 ? parameters.sample_rate : 48000});
}

const AVCodec *usual_audio_encoder(const AVOutputFormat &container) {
    const char *name = container.name;
    if (is_one_of(name, {"mp4", "mov", "ipod", "3gp", "3g2", "ismv", "f4v"}))
        return avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (std::strcmp(name, "webm") == 0) {
        const AVCodec *opus = avcodec_find_encoder_by_name("libopus");
        return opus != nullptr ? opus : avcodec_find_encoder(AV_CODEC_ID_VORBIS);
    }
    if (container_takes_audio(container, AV_CODEC_ID_PCM_S16LE))
        return avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (container.audio_codec != AV_CODEC_ID_NONE) return avcodec_find_encoder(container.audio_codec);
    return nullptr;
}

int AudioTranscoder::open(const AVStream &source, const AVCodec &encoder, AVFormatContext &output,
                          int64_t start, int64_t length, std::string &error) {
    const AVCodecParameters &parameters = *source.codecpar;
    const AVCodec *decoder = avcodec_find_decoder(parameters.codec_id);
    if (decoder == nullptr) {
        error = std::string("no decoder for ") + avcodec_get_name(parameters.codec_id);
        return AVERROR_DECODER_NOT_FOUND;
    }
    decoder_.reset(avcodec_alloc_context3(decoder));
    encoder_.reset(avcodec_alloc_context3(&encoder));
    decoded_ = make_frame();
    chunk_ = make_frame();
    packet_ = make_packet();
    if (!decoder_ || !encoder_ || !decoded_ || !chunk_ || !packet_) return AVERROR(ENOMEM);
    int result = avcodec_parameters_to_context(decoder_.get(), &parameters);
    if (result < 0) return result;
    decoder_->pkt_timebase = source.time_base;
    result = avcodec_open2(decoder_.get(), decoder, nullptr);
    if (result < 0) {
        error = std::string("cannot decode ") + avcodec_get_name(parameters.codec_id);
        return result;
    }

    AVCodecContext &context = *encoder_;
    context.sample_rate = encoder_rate(encoder, decoder_->sample_rate > 0 ? decoder_->sample_rate : 48000);
    // MXF (broadcast) sound is 48 kHz only.
    if (std::strncmp(output.oformat->name, "mxf", 3) == 0) context.sample_rate = 48000;
    context.sample_fmt = encoder.sample_fmts != nullptr ? encoder.sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (decoder_->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && decoder_->ch_layout.nb_channels > 0)
        result = av_channel_layout_copy(&context.ch_layout, &decoder_->ch_layout);
    else
        av_channel_layout_default(&context.ch_layout, std::max(1, decoder_->ch_layout.nb_channels));
    if (result < 0) return result;
    context.time_base = AVRational{1, context.sample_rate};
    if (output.oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    result = avcodec_open2(encoder_.get(), &encoder, nullptr);
    if (result < 0) {
        error = std::string("cannot encode ") + encoder.name + ": " + error_text(result);
        return result;
    }
    stream_ = avformat_new_stream(&output, nullptr);
    if (stream_ == nullptr) return AVERROR(ENOMEM);
    result = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (result < 0) return result;
    stream_->time_base = context.time_base;
    av_dict_copy(&stream_->metadata, source.metadata, 0);

    fifo_.reset(av_audio_fifo_alloc(context.sample_fmt, context.ch_layout.nb_channels, 1));
    if (!fifo_) return AVERROR(ENOMEM);
    const bool any_size =
        (encoder.capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || context.frame_size <= 0;
    chunk_size_ = any_size ? 1024 : context.frame_size;
    source_base_ = source.time_base;
    start_ = start;
    length_ = length;
    const int source_rate = decoder_->sample_rate > 0 ? decoder_->sample_rate : context.sample_rate;
    limit_ = length < 0 ? -1 : av_rescale_q(length, source_base_, AVRational{1, source_rate});
    return 0;
}

int AudioTranscoder::send(const AVPacket &packet, Writer write, void *context) {
    int result = avcodec_send_packet(decoder_.get(), &packet);
    // A damaged packet loses its own samples only.
    if (result < 0 && result != AVERROR(EAGAIN)) return result == AVERROR_INVALIDDATA ? 0 : result;
    return decoded(write, context);
}

int AudioTranscoder::decoded(Writer write, void *context) {
    for (;;) {
        int result = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
        if (result < 0) return result == AVERROR_INVALIDDATA ? 0 : result;
        result = keep_samples(*decoded_, write, context);
        av_frame_unref(decoded_.get());
        if (result < 0) return result;
    }
}

int AudioTranscoder::keep_samples(const AVFrame &frame, Writer write, void *context) {
    const int rate = frame.sample_rate > 0 ? frame.sample_rate : decoder_->sample_rate;
    if (rate <= 0 || frame.nb_samples <= 0) return 0;
    // The index in the window of the frame's first sample; frames without
    // a time follow on from the ones before.
    const int64_t stamp = frame.best_effort_timestamp;
    const int64_t offset =
        stamp != AV_NOPTS_VALUE ? av_rescale_q(stamp - start_, source_base_, AVRational{1, rate}) : kept_;
    int64_t first = std::max<int64_t>(0, -offset);
    int64_t end = frame.nb_samples;
    if (limit_ >= 0) end = std::min<int64_t>(end, limit_ - offset);
    if (end <= first) return 0;
    if (!resampler_) {
        SwrContext *made = nullptr;
        // FFmpeg 5 takes the layouts through non-const pointers; it only reads them.
        int result = swr_alloc_set_opts2(
            &made, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
            const_cast<AVChannelLayout *>(&frame.ch_layout), AVSampleFormat(frame.format), rate, 0, nullptr);
        resampler_.reset(made);
        if (result < 0) return result;
        result = swr_init(resampler_.get());
        if (result < 0) return result;
    }
    const uint8_t *planes[AV_NUM_DATA_POINTERS];
    offset_planes(frame, int(first), planes);
    const int count = int(end - first);
    const int room = swr_get_out_samples(resampler_.get(), count);
    if (room < 0) return room;
    uint8_t **converted = nullptr;
    int result = av_samples_alloc_array_and_samples(&converted, nullptr, encoder_->ch_layout.nb_channels,
                                                    std::max(room, 1), encoder_->sample_fmt, 0);
    if (result < 0) return result;
    const int made = swr_convert(resampler_.get(), converted, room, planes, count);
    if (made > 0) result = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void **>(converted), made);
    av_freep(&converted[0]);
    av_freep(&converted);
    if (made < 0) return made;
    if (result < 0) return result;
    kept_ = offset + end;
    return encode_from_fifo(false, write, context);
}

int AudioTranscoder::encode_from_fifo(bool last, Writer write, void *context) {
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        if (available == 0 || (available < chunk_size_ && !last)) return 0;
        const int count = std::min(available, chunk_size_);
        av_frame_unref(chunk_.get());
        chunk_->nb_samples = count;
        chunk_->format = encoder_->sample_fmt;
        chunk_->sample_rate = encoder_->sample_rate;
        int result = av_channel_layout_copy(&chunk_->ch_layout, &encoder_->ch_layout);
        if (result >= 0) result = av_frame_get_buffer(chunk_.get(), 0);
        if (result < 0) return result;
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void **>(chunk_->extended_data), count) < count)
            return AVERROR(EIO);
        chunk_->pts = next_pts_;
        next_pts_ += count;
        result = avcodec_send_frame(encoder_.get(), chunk_.get());
        if (result < 0) return result;
        result = encoded(write, context);
        if (result < 0) return result;
    }
}

int AudioTranscoder::encoded(Writer write, void *context) {
    for (;;) {
        int result = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
        if (result < 0) return result;
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        result = write(context, *packet_, *stream_);
        av_packet_unref(packet_.get());
        if (result < 0) return result;
    }
}

int AudioTranscoder::finish(Writer write, void *context) {
    int result = avcodec_send_packet(decoder_.get(), nullptr);
    if (result < 0 && result != AVERROR_EOF) return result;
    result = decoded(write, context);
    if (result < 0) return result;
    if (resampler_) {
        // What the resampler still holds back for its filter.
        const int room = swr_get_out_samples(resampler_.get(), 0);
        if (room > 0) {
            uint8_t **converted = nullptr;
            result = av_samples_alloc_array_and_samples(&converted, nullptr, encoder_->ch_layout.nb_channels,
                                                        room, encoder_->sample_fmt, 0);
            if (result < 0) return result;
            const int made = swr_convert(resampler_.get(), converted, room, nullptr, 0);
            if (made > 0)
                result = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void **>(converted), made);
            av_freep(&converted[0]);
            av_freep(&converted);
            if (made < 0) return made;
            if (result < 0) return result;
        }
    }
    result = encode_from_fifo(true, write, context);
    if (result < 0) return result;
    result = avcodec_send_frame(encoder_.get(), nullptr);
    if (result < 0 && result != AVERROR_EOF) return result;
    return encoded(write, context);
}

}  // namespace ffmpeg_plugin
