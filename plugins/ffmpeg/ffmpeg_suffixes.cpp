#include "ffmpeg_suffixes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ffmpeg_plugin {

namespace {

using NameSet = std::set<std::string>;

// Adds the comma-separated extensions of a format, lower case.
void add_extensions(NameSet &names, const char *extensions) {
    if (extensions == nullptr) return;
    std::string text(extensions);
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        std::string name = text.substr(start, end - start);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (!name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_+-") == std::string::npos)
            names.insert(name);
        start = end + 1;
    }
}

bool contains(const char *text, const char *word) { return text != nullptr && std::strstr(text, word) != nullptr; }

// Demuxers of single pictures, text and subtitles, and of music modules:
// nothing of theirs is a movie.
bool reads_no_movie(const AVInputFormat &format) {
    const std::string name(format.name);
    return name == "image2" || name == "image2pipe" || name == "tty" || name == "libopenmpt" ||
           (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0) ||
           contains(format.long_name, "subtitle") || contains(format.long_name, "Subtitle") ||
           contains(format.long_name, "Caption") || contains(format.long_name, "caption");
}

// Muxers that write no video: sound (cover art aside) or subtitles.
bool writes_no_video(const AVOutputFormat &format) {
    return format.video_codec == AV_CODEC_ID_NONE ||
           (format.video_codec == AV_CODEC_ID_PNG && format.audio_codec != AV_CODEC_ID_NONE);
}

// Muxers of still pictures (their suffixes belong to the still plug-ins).
bool writes_stills(const AVOutputFormat &format) {
    const std::string name(format.name);
    return name == "image2" || name == "image2pipe" || name == "webp" || name == "ico" || name == "avif" ||
           name == "fits";
}

struct SuffixList {
    std::vector<std::string> texts;
    std::vector<const char *> pointers;
};

SuffixList build(const char *const *known, int32_t known_count) {
    NameSet claimed, refused;
    void *state = nullptr;
    while (const AVInputFormat *format = av_demuxer_iterate(&state))
        add_extensions(reads_no_movie(*format) ? refused : claimed, format->extensions);
    NameSet written;
    state = nullptr;
    while (const AVOutputFormat *format = av_muxer_iterate(&state)) {
        if (writes_stills(*format) || writes_no_video(*format))
            add_extensions(refused, format->extensions);
        else
            add_extensions(written, format->extensions);
    }
    // QuickTime's own name for its movies, read by the mov demuxer.
    claimed.insert("qt");
    // What some muxer writes with video is a movie, whatever else shares
    // the name; names only sound, text or picture formats use are not.
    for (const std::string &name : refused)
        if (written.count(name) == 0) claimed.erase(name);
    claimed.insert(written.begin(), written.end());
    for (int32_t i = 0; i < known_count; ++i)
        if (known[i] != nullptr && known[i][0] == '.') claimed.erase(known[i] + 1);
    SuffixList list;
    for (const std::string &name : claimed) list.texts.push_back("." + name);
    for (const std::string &text : list.texts) list.pointers.push_back(text.c_str());
    return list;
}

}  // namespace

const char *const *more_container_suffixes(const char *const *known, int32_t known_count, int32_t &count) {
    static const SuffixList list = build(known, known_count);
    count = int32_t(list.pointers.size());
    return list.pointers.data();
}

bool is_headerless_raw_video(const char *path) {
    const AVInputFormat *raw = av_find_input_format("rawvideo");
    return raw != nullptr && path != nullptr && av_match_ext(path, raw->extensions) != 0;
}

}  // namespace ffmpeg_plugin
