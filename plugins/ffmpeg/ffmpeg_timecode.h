// Start timecodes (SMPTE "HH:MM:SS:FF", ';' before the frames for drop
// frame) as movie containers hold them.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

// The timecode of the movie's first frame: the container's own, else the
// first stream that states one (a QuickTime timecode track, the video
// stream). Empty when the movie has none.
std::string start_timecode(const AVFormatContext &movie);

// `timecode` moved on by `frames` frames at `rate`. False (with `error`
// set) when it is not a timecode or the rate cannot carry one.
bool advance_timecode(const std::string &timecode, AVRational rate, int64_t frames, std::string &advanced,
                      std::string &error);

// True for the containers that write a start timecode (QuickTime, MP4,
// MXF).
bool container_takes_timecode(const AVOutputFormat &container);

}  // namespace ffmpeg_plugin
