// Deep frames of the reader: sources of more than 8 bits a sample read as
// 16-bit RGB or RGBA, converted as the ffmpeg command converts them to
// rgb48le or rgba64le. Turned frames and 8-bit sources come through the
// 8-bit frames.
#include "ffmpeg_reader.h"

#include <string>

namespace ffmpeg_plugin {

int32_t MovieReader::get_deep_image(int32_t frame, int32_t eye, UdilDeepFrame &out) {
    if (const int32_t status = check_frame(frame)) return status;
    const bool deep =
        orientation_ == 1 && is_deep_format(AVPixelFormat(source_->video_stream().codecpar->format));
    int32_t width = source_->width(), height = source_->height();
    shown_size(*source_, keep_stored_, width, height);
    const UdilDeepFrame own{width, height, source_->alpha() ? 4 : 3, deep ? UDIL_SAMPLE_U16 : UDIL_SAMPLE_U8,
                            0,     nullptr};
    if (out.pixels == nullptr) {
        out = own;
        return 0;
    }
    if (!udil_sdk::same_deep_layout(out, own)) return udil_sdk::refuse_deep_layout(*this, "ffmpeg", own);
    if (!deep) return udil_sdk::get_image_as_deep(*this, frame, eye, out);
    std::string error;
    if (!source_->read_frame_deep(frame, udil_sdk::deep_row(out, 0), out.stride, error))
        return fail(7, "ffmpeg: %s: %s", source_->path().c_str(), error.c_str());
    return 0;
}

}  // namespace ffmpeg_plugin
