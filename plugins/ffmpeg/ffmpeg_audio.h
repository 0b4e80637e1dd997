// Sound for a movie written anew: which audio codec a container takes, and
// the re-encoding of a source's audio stream, cut to a time window, into
// that codec.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ffmpeg_util.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace ffmpeg_plugin {

// True when `container` can carry audio of codec `id`.
bool container_takes_audio(const AVOutputFormat &container, AVCodecID id);

// True when a header of `container` with one stream of these parameters
// can be written (tried in memory).
bool muxer_accepts(const AVOutputFormat &container, const AVCodecParameters &parameters,
                   AVRational time_base);

// True when `container` takes a stream of these parameters as they are:
// it lists the codec and a header written with it succeeds.
bool container_takes_stream(const AVOutputFormat &container, const AVCodecParameters &parameters);

// The encoder for audio that `container` cannot take as it is: AAC for
// the MP4 family (.mp4, .mov, .m4v, .3gp), Opus for WebM, else PCM when
// the container takes it, else the container's own audio codec. Null
// when there is none.
const AVCodec *usual_audio_encoder(const AVOutputFormat &container);

struct ResamplerFreer {
    void operator()(SwrContext *context) const { swr_free(&context); }
};
struct FifoFreer {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};

// Decodes the packets of one source audio stream, keeps the samples that
// fall in the window [start, start + length) of the stream's time, and
// encodes them into an output stream of its own, whose time starts at the
// window's start. Packets come out through the `write` callback given to
// each call.
class AudioTranscoder {
public:
    using Writer = int (*)(void *context, AVPacket &packet, AVStream &stream);

    // Sets up decoding of `source` and an encoder, then adds its stream to
    // `output`. `start` and `length` are in the source stream's time base;
    // a negative length keeps everything from `start` on. 0, or a negative
    // FFmpeg error code with `error` saying what went wrong.
    int open(const AVStream &source, const AVCodec &encoder, AVFormatContext &output, int64_t start,
             int64_t length, std::string &error);
    // One packet of the source stream.
    int send(const AVPacket &packet, Writer write, void *context);
    // Drains the decoder, the resampler and the encoder at the end.
    int finish(Writer write, void *context);
    AVStream *stream() const { return stream_; }

private:
    int decoded(Writer write, void *context);
    int keep_samples(const AVFrame &frame, Writer write, void *context);
    int encode_from_fifo(bool last, Writer write, void *context);
    int encoded(Writer write, void *context);

    CodecPtr decoder_, encoder_;
    std::unique_ptr<SwrContext, ResamplerFreer> resampler_;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo_;
    FramePtr decoded_, chunk_;
    PacketPtr packet_;
    AVStream *stream_ = nullptr;
    AVRational source_base_{1, 1};
    int64_t start_ = 0, length_ = -1;  // in source_base_
    int64_t kept_ = 0;                 // source samples kept so far
    int64_t limit_ = -1;               // source samples the window holds; -1 no end
    int64_t next_pts_ = 0;             // of the next encoded chunk, in output samples
    int chunk_size_ = 1024;
};

}  // namespace ffmpeg_plugin
