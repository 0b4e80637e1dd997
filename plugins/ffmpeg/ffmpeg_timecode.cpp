#include "ffmpeg_timecode.h"

#include <cstring>

extern "C" {
#include <libavutil/timecode.h>
}

namespace ffmpeg_plugin {

std::string start_timecode(const AVFormatContext &movie) {
    if (const AVDictionaryEntry *entry = av_dict_get(movie.metadata, "timecode", nullptr, 0))
        return entry->value;
    for (unsigned i = 0; i < movie.nb_streams; ++i)
        if (const AVDictionaryEntry *entry = av_dict_get(movie.streams[i]->metadata, "timecode", nullptr, 0))
            return entry->value;
    return std::string();
}

bool advance_timecode(const std::string &timecode, AVRational rate, int64_t frames, std::string &advanced,
                      std::string &error) {
    AVTimecode parsed;
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    if (av_timecode_init_from_string(&parsed, rate, timecode.c_str(), nullptr) < 0) {
        error = "'" + timecode + "' is not a timecode (HH:MM:SS:FF) at " + std::to_string(rate.num) +
                (rate.den != 1 ? "/" + std::to_string(rate.den) : std::string()) + " frames per second";
        return false;
    }
    char text[AV_TIMECODE_STR_SIZE];
    // The frame numbers of a day wrap, as the timecode itself does.
    const int64_t day = int64_t(parsed.fps) * 86400;
    const int64_t moved = day > 0 ? frames % day : frames;
    advanced = av_timecode_make_string(&parsed, text, int(moved));
    return true;
}

bool container_takes_timecode(const AVOutputFormat &container) {
    for (const char *name : {"mov", "mp4", "mxf", "mxf_d10", "mxf_opatom"})
        if (std::strcmp(container.name, name) == 0) return true;
    return false;
}

}  // namespace ffmpeg_plugin
