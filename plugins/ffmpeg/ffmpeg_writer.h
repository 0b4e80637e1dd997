// The writer handle: RGB frames encoded into a movie file with the codec
// and settings of the writer's options.
//
// 16-bit deep frames are written as 10-bit (FFV1: 16-bit) pictures. The
// first frame settles the depth: the file is started for 8-bit frames and
// started again for deep ones when a deep frame comes first (nothing has
// been encoded yet); a frame of the other depth later is refused.
//
// A process forked while a file is being written has the writer's memory
// but not the encoder's threads, and shares the file's offset with its
// parent: there the writer refuses frames, and closing leaves the file
// to the parent, untouched (see abandon_in_child).
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>

#include "ffmpeg_colour.h"
#include "ffmpeg_options.h"
#include "ffmpeg_util.h"
#include "udil_sdk.h"

namespace ffmpeg_plugin {

class MovieWriter : public udil_sdk::Handle {
public:
    MovieWriter(const UdilMovieInfo &info, const WriterSettings &settings);
    ~MovieWriter() override;

    int32_t file_new(const char *path) override;
    // Flushes the encoder (the frames it still holds are written) and
    // finishes the container.
    int32_t file_close() override;
    // Encodes one frame and puts what the encoder gives back in the file
    // before returning, so that a full disk is reported by the frame that
    // meets it and the frames before it stay readable (see flush_to_file).
    int32_t save_image(int32_t frame, int32_t eye, const void *left, const void *right) override;
    // 16-bit frames of 1 to 4 channels (alpha kept where the codec has a
    // format with it); 8-bit RGB frames as save_image. ffmpeg_writer_deep.cpp.
    int32_t save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) override;

private:
    // The file, encoder and header of a new movie at the depth of
    // deep_channels_.
    int32_t start(const char *path);
    // Starts the file again for deep frames of `channels`; refused, with
    // the 8-bit file kept, when the codec has no deep format.
    int32_t restart_deep(int channels);
    // The encoder's format for deep frames of `channels`; none when the
    // codec holds no more than 8 bits.
    AVPixelFormat deep_format(int channels) const;
    // Gives the filled picture_ to the encoder and its packets to the file.
    int32_t send_picture();
    int32_t open_output(const char *path);
    int32_t open_encoder();
    // The timecode option into the container's tags (refused where the
    // container holds none).
    int32_t place_timecode();
    AVPixelFormat encoded_format() const;
    // For a container's own codec: what its encoder takes, closest to RGB.
    AVPixelFormat container_codec_format() const;
    int32_t write_packets();
    // Empties the muxer's and the I/O layer's buffers into the file; a
    // write error there (a full disk) fails the frame.
    int32_t flush_to_file();
    void release();
    bool in_forked_child() const { return output_ != nullptr && getpid() != owner_; }
    int32_t abandon_in_child();

    int width_, height_;
    AVRational rate_;
    WriterSettings settings_;
    CodecChoice codec_;  // what is written: the option's codec or the container's own

    std::string path_;
    AVFormatContext *output_ = nullptr;  // owns the opened file once header_written_
    CodecPtr encoder_;
    AVStream *stream_ = nullptr;
    FramePtr picture_;
    PacketPtr packet_;
    RgbToPicture from_rgb_;
    DeepToPicture from_deep_;
    int deep_channels_ = 0;  // channels of the 16-bit frames written; 0 for 8-bit RGB
    int64_t next_pts_ = 0;
    bool header_written_ = false;
    bool flush_muxer_ = false;  // the container holds frames back (Matroska clusters)
    pid_t owner_ = getpid();    // the process that made the file
};

// The frames-per-second value as an exact ratio (29.97 is 30000/1001).
AVRational rate_from(float frames_per_second);

}  // namespace ffmpeg_plugin
