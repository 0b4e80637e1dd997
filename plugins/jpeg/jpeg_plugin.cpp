// The JPEG codec: one picture per file, read as L or RGB, written from L or
// RGB.
//
// It also hands out frames in their compressed form: the compressed frame
// of a file is the file's bytes, so a script can fetch the frames of a
// JPEG sequence now and decode them later without touching the files again.
// In a compressed request, entry k of both the 64-bit and the 32-bit
// entries receives the byte count of frame k, whose bytes start at
// data + k * stride.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "jpeg_decode.h"
#include "jpeg_encode.h"
#include "udil_sdk.h"
#include "udil_sdk_orientation.h"
#include "udil_sdk_output.h"

namespace {

int32_t channels_of_format(int32_t format) {
    switch (format) {
        case UDIL_FMT_L:
            return 1;
        case UDIL_FMT_RGB:
            return 3;
        default:
            return 0;
    }
}

int32_t format_of_channels(int32_t channels) { return channels == 1 ? UDIL_FMT_L : UDIL_FMT_RGB; }

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"quality", UDIL_OPT_INT, "1 100", "90", "JPEG quality: 1 smallest, 100 best"},
    {"subsampling", UDIL_OPT_CHOICE, "4:4:4|4:2:2|4:2:0", "2", "Chroma subsampling of colour pictures"},
    {"progressive", UDIL_OPT_BOOLEAN, "", "0", "Progressive JPEG"},
    {"optimize", UDIL_OPT_BOOLEAN, "", "0", "Optimised Huffman tables (smaller, slower to write)"},
    {udil_sdk::kOrientationOption, UDIL_OPT_CHOICE, udil_sdk::kOrientationRange, "0",
     "Reading: turn pictures the right way up by their Exif orientation (display) or give the rows as "
     "stored"},
};

jpeg_codec::EncodeSettings settings_from(const udil_sdk::Options &options) {
    jpeg_codec::EncodeSettings settings;
    const long quality = options.integer("quality", 90);
    settings.quality = int(quality < 1 ? 1 : quality > 100 ? 100 : quality);
    const long subsampling = options.integer("subsampling", jpeg_codec::k420);
    settings.subsampling = subsampling == 0   ? jpeg_codec::k444
                           : subsampling == 1 ? jpeg_codec::k422
                                              : jpeg_codec::k420;
    settings.progressive = options.integer("progressive", 0) != 0;
    settings.optimize = options.integer("optimize", 0) != 0;
    return settings;
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The compressed-frame interface passes sizes in 32 bits.
constexpr int64_t kLargestFile = INT32_MAX;

// Reads the whole file at `path` into `bytes`; false with a reason.
bool read_file(const char *path, std::vector<uint8_t> &bytes, std::string &error) {
    File file(std::fopen(path, "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (status.st_size > kLargestFile) {
        error = "the file is larger than 2 GiB";
        return false;
    }
    bytes.resize(size_t(status.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        error = "the file could not be read";
        return false;
    }
    return true;
}

class Reader : public udil_sdk::Handle {
public:
    // `picture` is the first file's picture as delivered.
    Reader(const jpeg_codec::Picture &picture, bool keep_stored)
        : expected_(picture), keep_stored_(keep_stored) {}

    int32_t file_open(const char *path) override {
        file_close();
        std::string error;
        jpeg_codec::Picture stored;
        if (!read_file(path, bytes_, error) ||
            !jpeg_codec::read_header(bytes_.data(), bytes_.size(), stored, error)) {
            bytes_.clear();
            return fail(7, "jpeg: can't read %s: %s", path, error.c_str());
        }
        const jpeg_codec::Picture picture = jpeg_codec::shown_picture(stored, keep_stored_);
        if (picture.width != expected_.width || picture.height != expected_.height ||
            picture.channels != expected_.channels) {
            bytes_.clear();
            return fail(12, "jpeg: %s is %dx%d %s, the movie's frames are %dx%d %s", path, picture.width,
                        picture.height, picture.channels == 1 ? "L" : "RGB", expected_.width,
                        expected_.height, expected_.channels == 1 ? "L" : "RGB");
        }
        path_ = path;
        open_ = true;
        return 0;
    }

    int32_t file_close() override {
        bytes_.clear();
        bytes_.shrink_to_fit();
        path_.clear();
        open_ = false;
        return 0;
    }

    // One picture per file: every frame number reads it. Eye 2 without a
    // left buffer delivers into the right one.
    int32_t get_image(int32_t, int32_t, void *left, void *right) override {
        if (!open_) return fail(6, "jpeg: no file is open");
        auto *pixels = static_cast<uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "jpeg: no pixel buffer given");
        std::string error;
        const int status =
            jpeg_codec::decode(bytes_.data(), bytes_.size(), expected_, keep_stored_, pixels, error);
        return status == 0 ? 0 : fail(status, "jpeg: can't decode %s: %s", path_.c_str(), error.c_str());
    }

    int64_t compressed_size() override { return open_ ? int64_t(bytes_.size()) : -1; }

    // A file holds one frame, so a request names one frame of the open file.
    int32_t get_images_compressed(UdilCompressedRequest &request) override {
        if (!open_) return fail(6, "jpeg: no file is open");
        if (request.frame_count < 1) return 0;
        if (request.frame_count > 1)
            return fail(
                6, "jpeg: %s holds one frame; compressed frames of a JPEG sequence are fetched one at a time",
                path_.c_str());
        if (request.data == nullptr) return fail(6, "jpeg: no data area given");
        const int64_t size = int64_t(bytes_.size());
        if (request.stride < size)
            return fail(2, "jpeg: %s needs %lld bytes, the request leaves %d per frame", path_.c_str(),
                        static_cast<long long>(size), request.stride);
        std::memcpy(request.data, bytes_.data(), bytes_.size());
        if (request.entries64 != nullptr) request.entries64[0] = size;
        if (request.entries32 != nullptr) request.entries32[0] = int32_t(size);
        return 0;
    }

    int32_t uncompress_image(const void *data, int32_t size, void *pixels) override {
        if (data == nullptr || size < 1 || pixels == nullptr)
            return fail(6, "jpeg: no compressed frame given");
        std::string error;
        const int status = jpeg_codec::decode(static_cast<const uint8_t *>(data), size_t(size), expected_,
                                              keep_stored_, static_cast<uint8_t *>(pixels), error);
        return status == 0 ? 0 : fail(status, "jpeg: can't decode a compressed frame: %s", error.c_str());
    }

private:
    jpeg_codec::Picture expected_;
    bool keep_stored_;
    std::vector<uint8_t> bytes_;
    std::string path_;
    bool open_ = false;
};

struct JpegEncoder {
    static constexpr const char *kName = "jpeg";
    using Settings = jpeg_codec::EncodeSettings;
    static bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                       int32_t channels, const Settings &settings, std::string &error) {
        return jpeg_codec::encode(file, pixels, width, height, channels, settings, error);
    }
};
using Writer = udil_sdk::OnePictureWriter<JpegEncoder>;

struct JpegCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "jpeg";
    static constexpr const char *kDescription = "JPEG images (libjpeg-turbo)";
    static constexpr const char *kSuffixes[] = {".jpg", ".jpeg"};
    static constexpr int32_t kImageFormats = UDIL_FMT_L | UDIL_FMT_RGB;
    static constexpr int32_t kRandWrites = 1;
    static constexpr int32_t kThreadSafe = 1;  // handles share no state
    static constexpr int32_t kConcurrentUse = 1;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &) { return ".jpg"; }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        if (channels_of_format(info.pixel_format) == 0 || info.width < 1 || info.height < 1) return nullptr;
        return new Writer(info, channels_of_format(info.pixel_format), settings_from(options));
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info,
                                           const udil_sdk::Options &options) {
        File file(std::fopen(path, "rb"));
        if (!file) return udil_sdk::refuse("%s: %s", path, std::strerror(errno));
        jpeg_codec::Picture stored;
        std::string error;
        if (!jpeg_codec::read_header(file.get(), stored, error)) return udil_sdk::refuse("%s", error.c_str());
        const bool keep_stored = udil_sdk::keeps_stored_orientation(options);
        const jpeg_codec::Picture picture = jpeg_codec::shown_picture(stored, keep_stored);
        info = UdilMovieInfo{
            picture.width, picture.height, 1, 0, 0, 0, -1.0f, format_of_channels(picture.channels)};
        return new Reader(picture, keep_stored);
    }
};

}  // namespace

UDIL_SDK_PLUGIN(JpegCodec)
UDIL_SDK_COMPRESSED_ENTRIES(JpegCodec)
