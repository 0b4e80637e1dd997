// How a player shows a video stream: the turn and mirroring its display
// matrix asks for, as one of the eight orientation codes of
// udil_sdk_orientation.h (phones record upright video sideways and say so
// in the matrix).
#pragma once

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

// The orientation of a display matrix (nine 16.16 and 2.30 fixed-point
// values); 1 for a turn that is not a whole number of quarter turns,
// which is shown as stored.
int orientation_of_matrix(const int32_t matrix[9]);

// The orientation of the stream's display matrix side data; 1 without one.
int display_orientation(const AVStream &stream);

}  // namespace ffmpeg_plugin
