// The PNG codec: one picture per file, read in every PNG flavour, written
// as 8-bit L, LA, RGB or RGBA. An animated PNG reads as one frame per
// animation frame, each composed as the animation shows it.
//
// The default settings favour speed (zlib level 1, the Sub filter and
// run-length matching), which on photographic frames costs a few percent of
// size against level 6 and saves an order of magnitude of time; higher
// levels and the adaptive filter stay available as options.
#include <zlib.h>

#include <string>

#include "png_animation.h"
#include "png_animation_write.h"
#include "png_decode.h"
#include "png_encode.h"
#include "udil_sdk.h"
#include "udil_sdk_output.h"

namespace {

using png_codec::Layout;
using udil_sdk::format_name;
using udil_sdk::format_of_channels;

// Frames of a file: one for a still picture.
int32_t frames_of(const Layout &layout) { return layout.animated() ? int32_t(layout.frames.size()) : 1; }

// Channels written for a format; the A format is not written (0).
int32_t channels_of_format(int32_t format) {
    return format == UDIL_FMT_A ? 0 : udil_sdk::format_channels(format);
}

// PNG_FILTER_* masks of the filter choices after "auto", in the order of
// the option's range.
constexpr int kFilterMasks[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                                PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"compression", UDIL_OPT_INT, "0 9", "1", "zlib compression level: 0 stores, 1 fastest, 9 smallest"},
    {"filter", UDIL_OPT_CHOICE, "auto|none|sub|up|average|paeth|all", "0",
     "Row filter; auto takes sub up to level 3 and tries all filters above"},
    {"interlace", UDIL_OPT_BOOLEAN, "", "0", "Adam7 interlacing"},
};

png_codec::EncodeSettings settings_from(const udil_sdk::Options &options) {
    png_codec::EncodeSettings settings;
    const long level = options.integer("compression", 1);
    settings.level = int(level < 0 ? 0 : level > 9 ? 9 : level);
    const bool fast = settings.level <= 3;
    const long filter = options.integer("filter", 0);
    if (filter >= 1 && filter <= 6)
        settings.filters = kFilterMasks[filter - 1];
    else
        settings.filters = settings.level == 0 ? PNG_FILTER_NONE : fast ? PNG_FILTER_SUB : PNG_ALL_FILTERS;
    // Run-length matching is what makes the fast levels fast on filtered
    // rows; the slower levels search for real matches.
    settings.strategy = fast ? Z_RLE : Z_FILTERED;
    settings.interlace = options.integer("interlace", 0) != 0;
    return settings;
}

class Reader : public udil_sdk::Handle {
public:
    explicit Reader(const UdilMovieInfo &info) : expected_(info) {}

    int32_t file_open(const char *path) override {
        file_close();
        const int32_t status = open_checked(path);
        if (status == 0) path_ = path;
        return status;
    }

    int32_t file_close() override {
        decoder_.close();
        animation_.close();
        path_.clear();
        return 0;
    }

    // A still picture answers every frame number. Eye 2 without a left
    // buffer delivers into the right one.
    int32_t get_image(int32_t frame, int32_t, void *left, void *right) override {
        if (path_.empty()) return fail(6, "png: no file is open");
        auto *pixels = static_cast<uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "png: no pixel buffer given");
        std::string error;
        if (animation_.frames() > 0) {
            // A file of a numbered sequence is asked with the sequence's
            // frame number: such a file shows its first frame.
            if (frame < 0 || frame >= animation_.frames()) frame = 0;
            if (!animation_.render(frame, pixels, error))
                return fail(7, "png: can't decode %s: %s", path_.c_str(), error.c_str());
            return 0;
        }
        if (decoder_.is_consumed() || !decoder_.is_open()) {
            const int32_t status = open_checked(path_.c_str());
            if (status != 0) return status;
        }
        if (!decoder_.read(pixels, error))
            return fail(7, "png: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

    // 16-bit files come whole; others (8 bits and fewer, animations) as
    // their 8-bit frames.
    int32_t get_deep_image(int32_t frame, int32_t, UdilDeepFrame &out) override {
        if (path_.empty()) return fail(6, "png: no file is open");
        const bool sixteen = animation_.frames() == 0 && decoder_.file_bits() == 16;
        const UdilDeepFrame own{expected_.width,
                                expected_.height,
                                udil_sdk::format_channels(expected_.pixel_format),
                                sixteen ? UDIL_SAMPLE_U16 : UDIL_SAMPLE_U8,
                                0,
                                nullptr};
        if (out.pixels == nullptr) {
            out = own;
            return 0;
        }
        if (!udil_sdk::same_deep_layout(out, own)) return udil_sdk::refuse_deep_layout(*this, "png", own);
        std::string error;
        if (!sixteen) return udil_sdk::get_image_as_deep(*this, frame, 0, out);
        if (!decoder_.open(path_.c_str(), error, true) ||
            !decoder_.read_rows(udil_sdk::deep_row(out, 0), out.stride, error))
            return fail(7, "png: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

private:
    // Opens `path` and makes sure its picture fits the buffers of the
    // movie this handle was made for.
    int32_t open_checked(const char *path) {
        std::string error;
        if (!decoder_.open(path, error)) return fail(7, "png: can't read %s: %s", path, error.c_str());
        const int32_t format = format_of_channels(decoder_.channels());
        if (decoder_.width() != expected_.width || decoder_.height() != expected_.height ||
            format != expected_.pixel_format) {
            fail(12, "png: %s is %dx%d %s, the movie's frames are %dx%d %s", path, decoder_.width(),
                 decoder_.height(), format_name(format), expected_.width, expected_.height,
                 format_name(expected_.pixel_format));
            decoder_.close();
            return 12;
        }
        const Layout &layout = decoder_.layout();
        if (layout.animated()) {
            if (!animation_.open(path, layout, decoder_.width(), decoder_.height(), decoder_.channels(),
                                 error))
                return fail(7, "png: can't read %s: %s", path, error.c_str());
            decoder_.close();
        }
        return 0;
    }

    UdilMovieInfo expected_;
    png_codec::Decoder decoder_;
    png_codec::Animation animation_;
    std::string path_;
};

// Frames go into the open file in order: one makes a plain PNG, more an
// animated one. A file that got no frame is removed.
class Writer : public udil_sdk::Handle {
public:
    Writer(const UdilMovieInfo &info, int32_t channels, const png_codec::EncodeSettings &settings)
        : output_(info.width, info.height, channels, info.frame_rate, settings) {}

    int32_t file_new(const char *path) override {
        file_close();
        std::string error;
        if (!output_.open(path, error)) return fail(7, "png: can't create %s: %s", path, error.c_str());
        return 0;
    }

    int32_t file_close() override {
        if (output_.path().empty()) return 0;
        const std::string path = output_.path();
        const bool empty = output_.frames() == 0;
        const bool closed = output_.close();
        if (empty) udil_sdk::remove_partial_file(path.c_str());
        return closed || empty ? 0 : fail(7, "png: error writing %s: %s", path.c_str(), "write error");
    }

    int32_t save_image(int32_t frame, int32_t, const void *left, const void *right) override {
        if (output_.path().empty()) return fail(6, "png: no file is open");
        const auto *pixels = static_cast<const uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "png: no pixel buffer given");
        if (output_.frames() > 0 && int64_t(frame) != int64_t(last_frame_) + 1)
            return fail(1, "png: the frames of %s are written in order: frame %d cannot follow frame %d",
                        output_.path().c_str(), frame, last_frame_);
        std::string error;
        if (!output_.add(pixels, error)) {
            const std::string path = output_.path();
            if (output_.frames() == 0) file_close();
            return fail(7, "png: error writing %s: %s", path.c_str(), error.c_str());
        }
        last_frame_ = frame;
        return 0;
    }

    // A deep frame is a file's one picture, of 8- or 16-bit samples.
    int32_t save_deep_image(int32_t, int32_t, const UdilDeepFrame &frame) override {
        if (output_.path().empty()) return fail(6, "png: no file is open");
        if (!udil_sdk::deep_frame_usable(frame)) return fail(6, "png: unusable deep frame");
        if (frame.sample != UDIL_SAMPLE_U8 && frame.sample != UDIL_SAMPLE_U16)
            return fail(1, "The png format cannot hold %s samples", udil_sdk::sample_name(frame.sample));
        std::string error;
        const int bits = frame.sample == UDIL_SAMPLE_U16 ? 16 : 8;
        if (!output_.add_rows(udil_sdk::deep_row(frame, 0), frame.stride, frame.channels, bits, error))
            return fail(7, "png: error writing %s: %s", output_.path().c_str(), error.c_str());
        return 0;
    }

private:
    png_codec::AnimationWriter output_;
    int32_t last_frame_ = 0;
};

struct PngCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "png";
    static constexpr const char *kDescription = "PNG images (libpng)";
    static constexpr const char *kSuffixes[] = {".png"};
    static constexpr int32_t kImageFormats = UDIL_FMT_L | UDIL_FMT_LA | UDIL_FMT_RGB | UDIL_FMT_RGBA;
    // An animation holds many frames, written in order; files of a
    // numbered sequence take theirs in any order.
    static constexpr int32_t kMultiImage = 1;
    static constexpr int32_t kRandWrites = 1;
    static constexpr int32_t kThreadSafe = 1;  // handles share no state
    static constexpr int32_t kConcurrentUse = 1;
    static constexpr int32_t kDeepSamples = UDIL_SAMPLE_U8 | UDIL_SAMPLE_U16;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &) { return ".png"; }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        if (channels_of_format(info.pixel_format) == 0 || info.width < 1 || info.height < 1) return nullptr;
        return new Writer(info, channels_of_format(info.pixel_format), settings_from(options));
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info) {
        png_codec::Decoder decoder;
        std::string error;
        if (!decoder.open(path, error)) return udil_sdk::refuse("%s", error.c_str());
        info = UdilMovieInfo{decoder.width(),
                             decoder.height(),
                             frames_of(decoder.layout()),
                             0,
                             0,
                             0,
                             -1.0f,
                             format_of_channels(decoder.channels())};
        return new Reader(info);
    }
};

}  // namespace

UDIL_SDK_PLUGIN(PngCodec)
UDIL_SDK_DEEP_ENTRIES(PngCodec)
