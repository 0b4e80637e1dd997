// One movie file open for reading: the demuxer, the decoder of its video
// stream, and the frame index that makes every frame reachable exactly.
//
// Reading frame after frame decodes forward without seeking. A jump to a
// frame whose key frame lies ahead of what was decoded (or any jump
// backwards) seeks to that key frame and decodes forward from there, so
// the cost is bounded by one group of pictures. After a seek the place the
// demuxer landed on is found again in the index, and decoded pictures are
// numbered by the index's time stamps, so that reading a frame directly
// gives what reading every frame up to it gives.
//
// A process forked from the one that opened the source has the source's
// memory but not the decoder's threads: there the source opens the file and
// a decoder of its own before it reads (see adopt_in_child).
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ffmpeg_colour.h"
#include "ffmpeg_index.h"
#include "ffmpeg_options.h"
#include "ffmpeg_palette.h"
#include "ffmpeg_util.h"

namespace ffmpeg_plugin {

class MovieSource {
public:
    // Opens and indexes `path`; null with `error` set when it has no
    // readable video stream. `video_stream` N picks the N-th video stream
    // of the file (1 the first); 0 the one a player would show. `threads`
    // is the worker threads the host allows: the decoder runs one frame
    // thread more up to HD sizes, at most 16 (0: FFmpeg's own count for
    // the machine). `raw` says how to read a raw video file (.yuv).
    static std::unique_ptr<MovieSource> open(const char *path, std::string &error, int video_stream = 0,
                                             int threads = 0, const RawVideoSettings &raw = {});
    ~MovieSource();
    MovieSource(const MovieSource &) = delete;
    MovieSource &operator=(const MovieSource &) = delete;

    const std::string &path() const { return path_; }
    int video_stream_asked() const { return requested_stream_; }
    int decoder_threads() const { return threads_; }
    const RawVideoSettings &raw_video() const { return raw_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool alpha() const { return alpha_; }
    double frame_rate() const { return frame_rate_; }
    const FrameIndex &index() const { return index_; }
    const AVStream &video_stream() const { return *input_->streams[stream_]; }
    const AVFormatContext &container() const { return *input_; }

    // Decodes frame `frame` (0 .. frame_count - 1) into RGB or RGBA rows,
    // bottom row first. False with `error` set when it cannot be had.
    bool read_frame(int32_t frame, uint8_t *pixels, std::string &error);

    // The same as 16-bit RGB or RGBA rows from `top` (the top row),
    // `stride` bytes apart.
    bool read_frame_deep(int32_t frame, uint8_t *top, int64_t stride, std::string &error);
    // The compressed packet of frame `frame`, referenced into `packet`.
    bool read_packet_of_frame(int32_t frame, AVPacket &packet, std::string &error);

    // Decodes one compressed frame given by the caller.
    bool decode_packet_data(const void *data, int32_t size, uint8_t *pixels, std::string &error);

private:
    MovieSource() = default;
    bool adopt_in_child(std::string &error);
    void drop_parent_state();
    bool open_input(std::string &error);
    bool choose_stream(int requested, std::string &error);
    bool open_decoder(CodecPtr &decoder, int threads, std::string &error) const;
    bool build_index(std::string &error);
    void choose_frame_rate();
    void drop_undecodable_end();

    void restart_at(int32_t frame);
    void seek_to_packet(int32_t decode_index);
    bool seek_earlier();
    bool reopen();
    int read_video_packet(int32_t &decode_index);
    int next_picture(std::string &reason);
    int32_t number_of(const AVFrame &picture);
    bool deliver(int32_t frame, uint8_t *pixels, std::string &error);

    std::string path_;
    InputPtr input_;
    int requested_stream_ = 0;  // see open()
    int threads_ = 0;           // see open()
    RawVideoSettings raw_;      // see open()
    pid_t owner_ = getpid();    // the process whose decoder this is
    pid_t dropped_for_ = 0;     // the process that last dropped its parent's state
    int stream_ = -1;
    CodecPtr decoder_;
    CodecPtr still_decoder_;  // for compressed frames handed back by the caller
    FrameIndex index_;
    PaletteKeeper palettes_;  // of palette movies, by the packet they come with
    PictureToRgb to_rgb_;
    uint8_t *deep_top_ = nullptr;  // where read_frame_deep wants its rows, while it runs
    int64_t deep_stride_ = 0;
    PacketPtr packet_;
    FramePtr decoded_;
    FramePtr cached_;  // the last frame delivered, for repeated reads

    int width_ = 0, height_ = 0;
    bool alpha_ = false;
    double frame_rate_ = -1.0;
    bool damaged_end_ = false;  // the last packets may not decode: see drop_undecodable_end

    // Decoding state. Decode indices count the video packets of the file.
    bool active_ = false;        // the decoder runs forward from a key frame
    bool draining_ = false;      // the end of the file was sent to the decoder
    int32_t next_packet_ = 0;    // decode index of the next packet read; -1 unknown after a seek
    int32_t skip_until_ = 0;     // packets before this one are read past, not decoded
    int32_t last_fed_ = -1;      // decode index of the last packet sent to the decoder
    int32_t last_output_ = -1;   // frame number of the last picture decoded
    int32_t pictures_out_ = 0;   // pictures decoded since the start (count mode)
    int32_t cached_frame_ = -1;  // frame number held in cached_

    // Finding the place again after a seek (see read_video_packet).
    int32_t sought_ = 0;           // decode index the demuxer was asked for
    bool sought_earlier_ = false;  // the packet before it was tried
    bool restarted_ = false;       // the file was read again from the start
    int32_t unplaced_ = 0;         // packets read since the seek that name no place
};

}  // namespace ffmpeg_plugin
