// The writer handle: RGB frames encoded into a movie file with the codec
// and settings of the writer's options.
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

private:
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
    int64_t next_pts_ = 0;
    bool header_written_ = false;
    bool flush_muxer_ = false;  // the container holds frames back (Matroska clusters)
    pid_t owner_ = getpid();    // the process that made the file
};

// The frames-per-second value as an exact ratio (29.97 is 30000/1001).
AVRational rate_from(float frames_per_second);

}  // namespace ffmpeg_plugin
