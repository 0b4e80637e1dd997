// The file names the movie plug-in takes: every container its libavformat
// demuxes (reads) or muxes (writes) with video in it. Still pictures,
// sound-only files and subtitles are left to the plug-ins made for them.
#pragma once

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

// The suffixes (".nut", ".m2ts" ...) beyond `known`, the `known_count`
// the plug-in names first; built once, kept for the life of the process.
const char *const *more_container_suffixes(const char *const *known, int32_t known_count, int32_t &count);

// The demuxer of a raw video file (.yuv, .rgb, .v210 ...) named by `path`,
// whose picture size and pixel format are not in the file; else null.
const AVInputFormat *headerless_raw_video(const char *path);

}  // namespace ffmpeg_plugin
