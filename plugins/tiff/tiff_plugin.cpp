// The TIFF codec: every page of a file is a frame, read from 8- or 16-bit
// grey, RGB or Lab samples (and whatever libtiff's RGBA reader
// understands); frames are written as pages of 8-bit L, LA, RGB or RGBA
// (A as L) in strips.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tiff_deep.h"
#include "tiff_read.h"
#include "tiff_write.h"
#include "udil_sdk.h"
#include "udil_sdk_orientation.h"
#include "udil_sdk_output.h"

namespace {

using udil_sdk::format_name;

// Every format is written; A as a grey picture, which every reader takes.
int32_t channels_of_format(int32_t format) { return udil_sdk::format_channels(format); }

int32_t format_of(const tiff_codec::Picture &picture) {
    return picture.alpha_only ? UDIL_FMT_A : udil_sdk::format_of_channels(picture.channels);
}

// Compression choices, in the order of the option's range.
constexpr uint16_t kCompressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                                      COMPRESSION_PACKBITS, COMPRESSION_JPEG};

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"compression", UDIL_OPT_CHOICE, "none|lzw|deflate|packbits|jpeg", "1",
     "Compression of the strips (jpeg is lossy, quality 90)"},
    {"predictor", UDIL_OPT_BOOLEAN, "", "1", "Horizontal differencing before lzw or deflate (smaller files)"},
    {udil_sdk::kOrientationOption, UDIL_OPT_CHOICE, udil_sdk::kOrientationRange, "0",
     "Reading: turn pictures the right way up by their Orientation tag (display) or give the rows as "
     "stored"},
};

tiff_codec::EncodeSettings settings_from(const udil_sdk::Options &options) {
    tiff_codec::EncodeSettings settings;
    const long choice = options.integer("compression", 1);
    settings.compression = kCompressions[choice < 0 || choice > 4 ? 1 : choice];
    settings.predictor = options.integer("predictor", 1) != 0;
    return settings;
}

class Reader : public udil_sdk::Handle {
public:
    Reader(const UdilMovieInfo &info, bool keep_stored_orientation) : expected_(info) {
        decoder_.keep_stored_orientation(keep_stored_orientation);
    }

    int32_t file_open(const char *path) override {
        file_close();
        std::string error;
        if (!decoder_.open(path, error)) return fail(7, "tiff: can't read %s: %s", path, error.c_str());
        const tiff_codec::Picture &picture = decoder_.picture();
        if (picture.width != expected_.width || picture.height != expected_.height ||
            format_of(picture) != expected_.pixel_format) {
            decoder_.close();
            return fail(12, "tiff: %s is %dx%d %s, the movie's frames are %dx%d %s", path, picture.width,
                        picture.height, format_name(format_of(picture)), expected_.width, expected_.height,
                        format_name(expected_.pixel_format));
        }
        path_ = path;
        return 0;
    }

    int32_t file_close() override {
        decoder_.close();
        path_.clear();
        return 0;
    }

    // Frame n is page n. A file of one page gives it for every frame number,
    // as callers that number one-picture files by the sequence ask for it.
    // Eye 2 without a left buffer delivers into the right one.
    int32_t get_image(int32_t frame, int32_t, void *left, void *right) override {
        if (!decoder_.is_open()) return fail(6, "tiff: no file is open");
        auto *pixels = static_cast<uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "tiff: no pixel buffer given");
        const int32_t page = decoder_.page_count() == 1 ? 0 : frame;
        std::string error;
        if (!decoder_.select_page(page, error))
            return fail(7, "tiff: can't read page %d of %s: %s", page, path_.c_str(), error.c_str());
        // Every page must be the picture the first one announced: a page of
        // another size or format is refused, the others stay readable.
        const tiff_codec::Picture picture = decoder_.picture();
        if (picture.width != expected_.width || picture.height != expected_.height ||
            format_of(picture) != expected_.pixel_format)
            return fail(12, "tiff: page %d of %s is %dx%d %s, the movie's frames are %dx%d %s", page,
                        path_.c_str(), picture.width, picture.height, format_name(format_of(picture)),
                        expected_.width, expected_.height, format_name(expected_.pixel_format));
        if (!decoder_.read(pixels, error))
            return fail(7, "tiff: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

    // Pages of 16-bit, half or float samples come whole; others, and pages
    // turned by their Orientation tag, through their 8-bit pictures.
    int32_t get_deep_image(int32_t frame, int32_t eye, UdilDeepFrame &out) override {
        if (!decoder_.is_open()) return fail(6, "tiff: no file is open");
        const int32_t page = decoder_.page_count() == 1 ? 0 : frame;
        std::string error;
        if (!decoder_.select_page(page, error))
            return fail(7, "tiff: can't read page %d of %s: %s", page, path_.c_str(), error.c_str());
        // Every page must be the picture the first one announced.
        const tiff_codec::Picture picture = decoder_.picture();
        if (picture.width != expected_.width || picture.height != expected_.height)
            return fail(12, "tiff: page %d of %s is %dx%d, the movie's frames are %dx%d", page, path_.c_str(),
                        picture.width, picture.height, expected_.width, expected_.height);
        UdilDeepFrame own{expected_.width,
                          expected_.height,
                          udil_sdk::format_channels(expected_.pixel_format),
                          UDIL_SAMPLE_U8,
                          0,
                          nullptr};
        // Turned pages come through their 8-bit pictures, which are turned.
        if (!decoder_.turns_page())
            own.sample = tiff_codec::deep_sample_of(decoder_.file().get(), own.channels);
        if (out.pixels == nullptr) {
            out = own;
            return 0;
        }
        if (!udil_sdk::same_deep_layout(out, own)) return udil_sdk::refuse_deep_layout(*this, "tiff", own);
        if (own.sample == UDIL_SAMPLE_U8) return udil_sdk::get_image_as_deep(*this, frame, eye, out);
        if (!tiff_codec::read_deep(decoder_.file(), out, error))
            return fail(7, "tiff: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

private:
    UdilMovieInfo expected_;
    tiff_codec::Decoder decoder_;
    std::string path_;
};

// libtiff's messages do not say why a write failed; errno, cleared before
// the call, does.
std::string with_system_cause(const std::string &message, int cause) {
    return cause != 0 ? message + ": " + std::strerror(cause) : message;
}

class Writer : public udil_sdk::Handle {
public:
    Writer(const UdilMovieInfo &info, const tiff_codec::EncodeSettings &settings)
        : width_(info.width),
          height_(info.height),
          channels_(channels_of_format(info.pixel_format)),
          settings_(settings) {}

    int32_t file_new(const char *path) override {
        file_close();
        // A file this call makes but cannot give its header (a full disk)
        // is removed; one that was there before (say, read-only, so it
        // could not be opened) is never taken away.
        struct stat before;
        const bool existed = lstat(path, &before) == 0;
        errno = 0;
        if (!file_.open(path, "w")) {
            const std::string cause = with_system_cause(file_.message(), errno);
            if (!existed) udil_sdk::remove_partial_file(path);
            return fail(7, "tiff: can't create %s: %s", path, cause.c_str());
        }
        path_ = path;
        pages_ = 0;
        return 0;
    }

    // Each page is written out whole by save_image, where a failure reaches
    // the host. A file that never got a page is removed rather than left
    // behind as a broken TIFF.
    int32_t file_close() override {
        if (file_.get() == nullptr) return 0;
        const bool closed = file_.close();
        if (pages_ == 0) {
            udil_sdk::remove_partial_file(path_.c_str());
            return 0;
        }
        return closed ? 0 : fail(7, "tiff: error writing %s: %s", path_.c_str(), file_.message());
    }

    // Frames become pages in the order they come: after the first page of a
    // file, each frame must be the next one.
    int32_t save_image(int32_t frame, int32_t, const void *left, const void *right) override {
        if (file_.get() == nullptr) return fail(6, "tiff: no file is open");
        const auto *pixels = static_cast<const uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "tiff: no pixel buffer given");
        if (pages_ > 0 && int64_t(frame) != int64_t(last_frame_) + 1)
            return fail(1, "tiff: the pages of %s are written in order: frame %d cannot follow frame %d",
                        path_.c_str(), frame, last_frame_);
        std::string error;
        errno = 0;
        if (tiff_codec::encode(file_, pixels, width_, height_, channels_, settings_, error)) {
            ++pages_;
            last_frame_ = frame;
            return 0;
        }
        error = with_system_cause(error, errno);
        // The pages before this one are whole and linked; a file with none
        // is removed.
        file_.close();
        if (pages_ == 0) udil_sdk::remove_partial_file(path_.c_str());
        return fail(7, "tiff: error writing %s: %s", path_.c_str(), error.c_str());
    }

    int32_t save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) override {
        if (file_.get() == nullptr) return fail(6, "tiff: no file is open");
        if (!udil_sdk::deep_frame_usable(in) || in.width != width_ || in.height != height_)
            return fail(6, "tiff: the deep frame does not match the movie");
        if (in.sample == UDIL_SAMPLE_U8) {
            if (in.channels != channels_) return fail(6, "tiff: the deep frame does not match the movie");
            return udil_sdk::save_image_from_deep(*this, frame, eye, in);
        }
        if (pages_ > 0 && int64_t(frame) != int64_t(last_frame_) + 1)
            return fail(1, "tiff: the pages of %s are written in order: frame %d cannot follow frame %d",
                        path_.c_str(), frame, last_frame_);
        std::string error;
        errno = 0;
        if (tiff_codec::encode_deep(file_, in, settings_, error)) {
            ++pages_;
            last_frame_ = frame;
            return 0;
        }
        error = with_system_cause(error, errno);
        file_.close();
        if (pages_ == 0) udil_sdk::remove_partial_file(path_.c_str());
        return fail(7, "tiff: error writing %s: %s", path_.c_str(), error.c_str());
    }

private:
    int32_t width_, height_, channels_;
    tiff_codec::EncodeSettings settings_;
    tiff_codec::TiffFile file_;
    std::string path_;
    int32_t pages_ = 0;  // written into the open file
    int32_t last_frame_ = 0;
};

struct TiffCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "tiff";
    static constexpr const char *kDescription = "TIFF images (libtiff)";
    static constexpr const char *kSuffixes[] = {".tif", ".tiff"};
    static constexpr int32_t kImageFormats =
        UDIL_FMT_A | UDIL_FMT_L | UDIL_FMT_LA | UDIL_FMT_RGB | UDIL_FMT_RGBA;
    // A file holds many pages, written in order.
    static constexpr int32_t kMultiImage = 1;
    static constexpr int32_t kRandWrites = 0;
    static constexpr int32_t kThreadSafe = 1;  // handles share no state
    static constexpr int32_t kConcurrentUse = 1;
    static constexpr int32_t kDeepSamples =
        UDIL_SAMPLE_U8 | UDIL_SAMPLE_U16 | UDIL_SAMPLE_F16 | UDIL_SAMPLE_F32;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &) { return ".tif"; }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        if (channels_of_format(info.pixel_format) == 0 || info.width < 1 || info.height < 1) return nullptr;
        return new Writer(info, settings_from(options));
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info,
                                           const udil_sdk::Options &options) {
        const bool keep_stored = udil_sdk::keeps_stored_orientation(options);
        tiff_codec::Decoder decoder;
        decoder.keep_stored_orientation(keep_stored);
        std::string error;
        if (!decoder.open(path, error)) return udil_sdk::refuse("%s", error.c_str());
        const tiff_codec::Picture &picture = decoder.picture();
        info = UdilMovieInfo{picture.width, picture.height,    decoder.page_count(), 0, 0, 0,
                             -1.0f,         format_of(picture)};
        return new Reader(info, keep_stored);
    }
};

}  // namespace

UDIL_SDK_PLUGIN(TiffCodec)
UDIL_SDK_DEEP_ENTRIES(TiffCodec)
