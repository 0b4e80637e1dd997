// The movie codec: every container and video codec FFmpeg's libraries
// read, and H.264, MPEG-4, Motion JPEG, FFV1 and ProRes movies written in
// the container the file name's suffix names (.mp4, .mov, .mkv, .avi,
// .ts ...); containers that cannot hold H.264 (.webm, .gif, .y4m) get
// their own codec unless the options name one.
//
// Frames cross as RGB (RGBA when the source has alpha), bottom row first.
// Reading is frame-accurate in any order; the frame count and rate come
// from the file's packets, not from its header. Of several video streams
// the one the ffmpeg command shows is read; the reader option `stream N`
// picks the N-th instead. Raw video files (.yuv), which hold no header,
// are read with the picture size, pixel format and rate the reader options
// `size`, `pixfmt` and `rate` give.
#include <string>

#include "ffmpeg_options.h"
#include "ffmpeg_reader.h"
#include "ffmpeg_suffixes.h"
#include "ffmpeg_writer.h"
#include "udil_sdk.h"
#include "udil_sdk_orientation.h"

namespace {

using namespace ffmpeg_plugin;

struct FfmpegCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "ffmpeg";
    static constexpr const char *kDescription = "Movies through FFmpeg";
    static constexpr const char *kSuffixes[] = {".mp4", ".mov",  ".mkv", ".avi", ".webm", ".m4v",
                                                ".mpg", ".mpeg", ".gif", ".wmv", ".flv",  ".ts",
                                                ".mxf", ".ogv",  ".3gp", ".y4m"};
    static constexpr int32_t kMultiImage = 1;
    static constexpr int32_t kImageFormats = UDIL_FMT_RGB;
    // Handles share no state but the last FFmpeg log line, kept under a lock.
    static constexpr int32_t kConcurrentUse = 1;
    // Sources deeper than 8 bits read as 16-bit deep frames; 16-bit frames
    // are written at 10 bits (16 in FFV1) by the codecs that have such
    // formats. Float frames are refused by the host: the codecs hold
    // integers, and clamping would lose a float frame's range unasked.
    static constexpr int32_t kDeepSamples = UDIL_SAMPLE_U8 | UDIL_SAMPLE_U16;

    static udil_sdk::OptionList options() { return writer_options(); }

    // Every other container the libraries read or write.
    static const char *const *more_suffixes(int32_t &count) {
        return more_container_suffixes(kSuffixes, int32_t(sizeof kSuffixes / sizeof kSuffixes[0]), count);
    }

    // Only for names without one of kSuffixes: the codec's natural container.
    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &options) {
        return settings_from(options).codec->suffix;
    }

    // Called outside the SDK's exception guard: nothing may escape.
    static int32_t can_read_file(const char *path) {
        try {
            std::string error;
            return path != nullptr && MovieSource::open(path, error) != nullptr;
        } catch (...) {
            return 0;
        }
    }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        if (info.width < 1 || info.height < 1 || info.pixel_format != UDIL_FMT_RGB) return nullptr;
        const WriterSettings settings = settings_from(options);
        if (settings.problem != nullptr) return udil_sdk::refuse("%s", settings.problem);
        return new MovieWriter(info, settings);
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info,
                                           const udil_sdk::Options &options) {
        const bool keep_stored = udil_sdk::keeps_stored_orientation(options);
        std::string error;
        // The decoder uses the threads the host allows (one for a host
        // that works on one thread), or as many as the machine has.
        std::unique_ptr<MovieSource> source =
            MovieSource::open(path, error, int(options.integer("stream", 0)), udil_sdk::reader_threads(),
                              raw_video_from(options));
        if (!source) return udil_sdk::refuse("%s", error.c_str());
        int32_t width = 0, height = 0;
        MovieReader::shown_size(*source, keep_stored, width, height);
        info = UdilMovieInfo{
            width, height, source->index().frame_count(), 0,
            0,     0,      float(source->frame_rate()),   source->alpha() ? UDIL_FMT_RGBA : UDIL_FMT_RGB};
        return new MovieReader(std::move(source), keep_stored, raw_video_from(options));
    }
};

}  // namespace

UDIL_SDK_PLUGIN(FfmpegCodec)
UDIL_SDK_COMPRESSED_ENTRIES(FfmpegCodec)
UDIL_SDK_DEEP_ENTRIES(FfmpegCodec)
UDIL_SDK_DESCRIBE_ENTRY(FfmpegCodec)
UDIL_SDK_MORE_SUFFIXES_ENTRY(FfmpegCodec)
