// Which video codec a new movie is written with, given the container its
// file name asks for.
#pragma once

#include <string>

#include "ffmpeg_options.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

// The codec for a movie in `container`, whose file is `path`. A codec the
// options name is taken when the container can hold it and refused
// otherwise. Without one: the container's own codec when the codec option
// lists it (MPEG-4 in .avi), else H.264 where it fits, else the
// container's own codec (VP9 in .webm, GIF in .gif, ...). False with a
// message naming the codec and the container when no codec can be written.
bool codec_for_container(const AVOutputFormat &container, const char *path, const WriterSettings &settings,
                         CodecChoice &chosen, std::string &error);

}  // namespace ffmpeg_plugin
