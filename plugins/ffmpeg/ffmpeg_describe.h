// What a movie file is, for udil_describe: its container, video and audio
// streams, colour description, rotation, timecode and tags, as the
// members of a JSON object.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

// The members describing `movie`, whose frames are those of `video`
// (`frames` of them, as the reader counts them).
std::string describe_movie(const AVFormatContext &movie, const AVStream &video, int32_t frames);

}  // namespace ffmpeg_plugin
