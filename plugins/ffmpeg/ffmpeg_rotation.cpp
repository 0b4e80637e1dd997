#include "ffmpeg_rotation.h"

#include <cmath>

#include "ffmpeg_reader.h"
#include "udil_sdk_orientation.h"

namespace ffmpeg_plugin {
namespace {

// The matrix maps a stored position (p, q) to the shown one:
// p' = a p + c q, q' = b p + d q, with a, b, c, d = matrix[0, 1, 3, 4].
// Each orientation is one pattern of signs.
struct SignPattern {
    int a, b, c, d;
    int orientation;
};
constexpr SignPattern kPatterns[] = {
    {1, 0, 0, 1, 1}, {-1, 0, 0, 1, 2}, {-1, 0, 0, -1, 3}, {1, 0, 0, -1, 4},
    {0, 1, 1, 0, 5}, {0, 1, -1, 0, 6}, {0, -1, -1, 0, 7}, {0, -1, 1, 0, 8},
};

// -1, 0 or 1 for a component of a unit vector; 2 when it is neither,
// which matches no pattern.
int unit_sign(double value) {
    constexpr double kTolerance = 0.01;
    if (std::fabs(value) < kTolerance) return 0;
    if (std::fabs(std::fabs(value) - 1.0) < kTolerance) return value > 0 ? 1 : -1;
    return 2;
}

}  // namespace

int orientation_of_matrix(const int32_t matrix[9]) {
    const double a = matrix[0] / 65536.0, b = matrix[1] / 65536.0;
    const double c = matrix[3] / 65536.0, d = matrix[4] / 65536.0;
    // Scaling is the pixel aspect's business, not the turn's.
    const double row0 = std::hypot(a, c), row1 = std::hypot(b, d);
    if (row0 == 0.0 || row1 == 0.0) return 1;
    const int sa = unit_sign(a / row0), sc = unit_sign(c / row0);
    const int sb = unit_sign(b / row1), sd = unit_sign(d / row1);
    for (const SignPattern &pattern : kPatterns)
        if (pattern.a == sa && pattern.b == sb && pattern.c == sc && pattern.d == sd)
            return pattern.orientation;
    return 1;
}

int display_orientation(const AVStream &stream) {
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (data == nullptr || size < 9 * sizeof(int32_t)) return 1;
    return orientation_of_matrix(reinterpret_cast<const int32_t *>(data));
}

}  // namespace ffmpeg_plugin

// ---- the reader's side: frames decoded as stored, then turned --------------

namespace ffmpeg_plugin {

int MovieReader::orientation_of(const MovieSource &source, bool keep_stored) {
    return keep_stored ? 1 : display_orientation(source.video_stream());
}

void MovieReader::shown_size(const MovieSource &source, bool keep_stored, int32_t &width, int32_t &height) {
    udil_sdk::shown_size(orientation_of(source, keep_stored), source.width(), source.height(), width, height);
}

// Where the decoder should put a frame: straight into `pixels` when it
// needs no turn, else into the reader's own buffer.
uint8_t *MovieReader::stored_frame_buffer(uint8_t *pixels) {
    if (orientation_ == 1) return pixels;
    const size_t pixel_bytes = source_->alpha() ? 4 : 3;
    stored_.resize(size_t(source_->width()) * size_t(source_->height()) * pixel_bytes);
    return stored_.data();
}

void MovieReader::turn_stored_frame(uint8_t *pixels) {
    if (orientation_ == 1) return;
    const size_t pixel_bytes = source_->alpha() ? 4 : 3;
    udil_sdk::orient_picture(stored_.data(), source_->width(), source_->height(), pixel_bytes, orientation_,
                             pixels);
}

}  // namespace ffmpeg_plugin
