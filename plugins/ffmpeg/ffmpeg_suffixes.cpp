#include "ffmpeg_suffixes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
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
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (!name.empty() &&
            name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_+-") == std::string::npos)
            names.insert(name);
        start = end + 1;
    }
}

bool contains(const char *text, const char *word) {
    return text != nullptr && std::strstr(text, word) != nullptr;
}

// Demuxers of sound only whose names say nothing of it: game and console
// sound banks, speech codecs and tone scripts.
constexpr const char *kSoundOnly[] = {
    "aa",    "aax",     "acm",        "adp",   "ads",   "adx",      "afc",  "aix",  "bfstm",
    "brstm", "bit",     "codec2",     "derf",  "dfpwm", "fsb",      "genh", "g729", "g723_1",
    "hca",   "mpc",     "msf",        "mtaf",  "musx",  "redspark", "rsd",  "rso",  "sbg",
    "sdx",   "sds",     "svag",       "vag",   "vpk",   "vqf",      "wsd",  "xvag", "ea_cdata",
    "aptx",  "aptx_hd", "nistsphere", "dcstr", "3dostr"};
// The names containers that hold video give to their sound-only files.
constexpr const char *kSoundSuffixes[] = {"wma", "m4a", "m4b", "isma", "ra", "mka", "oga"};
// Words of a demuxer's long name that mark sound, text and subtitles.
constexpr const char *kNoMovieWords[] = {
    "audio", "Audio", "sound",    "Sound",    "speech",  "Speech",  "music",     "Music",
    "voice", "Voice", "subtitle", "Subtitle", "caption", "Caption", "Draw File", "Data Format"};

// Demuxers of single pictures, sound, text and subtitles, and of music
// modules: nothing of theirs is a movie.
bool reads_no_movie(const AVInputFormat &format) {
    const std::string name(format.name);
    if (name == "image2" || name == "image2pipe" || name == "tty" || name == "libopenmpt" ||
        (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0))
        return true;
    if (format.raw_codec_id != AV_CODEC_ID_NONE &&
        avcodec_get_type(AVCodecID(format.raw_codec_id)) != AVMEDIA_TYPE_VIDEO)
        return true;
    for (const char *sound : kSoundOnly)
        if (name == sound) return true;
    for (const char *word : kNoMovieWords)
        if (contains(format.long_name, word)) return true;
    return false;
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
    for (const char *sound : kSoundSuffixes) claimed.erase(sound);
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

const AVInputFormat *headerless_raw_video(const char *path) {
    if (path == nullptr) return nullptr;
    for (const char *name : {"rawvideo", "v210", "v210x", "bitpacked"}) {
        const AVInputFormat *format = av_find_input_format(name);
        if (format != nullptr && format->extensions != nullptr && av_match_ext(path, format->extensions) != 0)
            return format;
    }
    return nullptr;
}

}  // namespace ffmpeg_plugin
