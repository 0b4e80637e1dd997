// The PPM codec: Netpbm files, one picture per file.
//
// Reads every Netpbm form: PBM, PGM and PPM in their plain (P1-P3) and raw
// (P4-P6) forms and PAM (P7), as L, LA, RGB or RGBA with 8 or 16 bits per
// sample (any maxval, scaled to 0..255). Writes 8-bit (or, with the bits
// option, 16-bit) samples: L as PGM, RGB as PPM or PAM, LA and RGBA as PAM,
// and black-and-white L pictures as raw PBM under a .pbm name. Files store
// the top row first, so the buffer's row 0 (the bottom) is the file's last
// row.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ppm_header.h"
#include "ppm_raster.h"
#include "udil_sdk.h"
#include "udil_sdk_output.h"

namespace {

using udil_sdk::format_of_channels;

// Channels written for a format; the A format is not written (0).
int32_t channels_of_format(int32_t format) {
    return format == UDIL_FMT_A ? 0 : udil_sdk::format_channels(format);
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` and reads its header; the stream is left at the raster.
File open_picture(const char *path, ppm::Header &header, std::string &error) {
    File file(std::fopen(path, "rb"));
    if (!file) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat status;
    const int64_t size = fstat(fileno(file.get()), &status) == 0 ? int64_t(status.st_size) : -1;
    if (!ppm::read_header(file.get(), size, header, error)) return nullptr;
    return file;
}

// Options: how RGB pictures are stored, and the sample size written.
constexpr int32_t kLayoutPpm = 0, kLayoutPam = 1;
constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"format", UDIL_OPT_CHOICE, "ppm|pam", "0", "File layout for RGB pictures"},
    {"bits", UDIL_OPT_CHOICE, "8|16", "0", "Bits per sample written"},
};

class Reader : public udil_sdk::Handle {
public:
    int32_t file_open(const char *path) override {
        file_close();
        std::string error;
        file_ = open_picture(path, header_, error);
        if (!file_) return fail(7, "ppm: can't read %s: %s", path, error.c_str());
        path_ = path;
        return 0;
    }

    int32_t file_close() override {
        file_.reset();
        return 0;
    }

    // One picture per file: every frame number reads it. Eye 2 without a
    // left buffer delivers into the right one.
    int32_t get_image(int32_t, int32_t, void *left, void *right) override {
        if (!file_) return fail(6, "ppm: no file is open");
        auto *pixels = static_cast<uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "ppm: no pixel buffer given");
        if (std::fseek(file_.get(), long(header_.raster_offset), SEEK_SET) != 0)
            return fail(7, "ppm: can't seek in %s", path_.c_str());
        std::string error;
        if (!ppm::read_raster(file_.get(), header_, pixels, error))
            return fail(7, "ppm: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

    // Files of maxval above 255 come as 16-bit samples, others as 8-bit.
    int32_t get_deep_image(int32_t frame, int32_t eye, UdilDeepFrame &out) override {
        if (!file_) return fail(6, "ppm: no file is open");
        const bool sixteen = !header_.bitmap && header_.maxval > 255;
        const UdilDeepFrame own{
            header_.width, header_.height, header_.channels, sixteen ? UDIL_SAMPLE_U16 : UDIL_SAMPLE_U8, 0,
            nullptr};
        if (out.pixels == nullptr) {
            out = own;
            return 0;
        }
        if (!udil_sdk::same_deep_layout(out, own)) return udil_sdk::refuse_deep_layout(*this, "ppm", own);
        if (!sixteen) return udil_sdk::get_image_as_deep(*this, frame, eye, out);
        if (std::fseek(file_.get(), long(header_.raster_offset), SEEK_SET) != 0)
            return fail(7, "ppm: can't seek in %s", path_.c_str());
        std::string error;
        if (!ppm::read_raster16(file_.get(), header_, udil_sdk::deep_row(out, 0), out.stride, error))
            return fail(7, "ppm: can't decode %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

private:
    File file_;
    ppm::Header header_;
    std::string path_;
};

struct PpmEncoder {
    static constexpr const char *kName = "ppm";
    struct Settings {
        bool pam;             // a PAM header rather than P5/P6
        bool sixteen;         // two bytes a sample
        bool layout_given;    // the format option was set by the user
        bool bitmap = false;  // raw PBM (P4), for .pbm names
    };
    static bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                       int32_t channels, const Settings &settings, std::string &error) {
        if (settings.bitmap) return encode_bitmap(file, pixels, width, height, error);
        if (!ppm::write_header(file, width, height, channels, settings.sixteen ? 65535 : 255, settings.pam))
            return false;
        const size_t row = size_t(width) * size_t(channels);
        std::vector<uint8_t> wide(settings.sixteen ? row * 2 : 0);
        for (int64_t y = height - 1; y >= 0; --y) {
            const uint8_t *in = pixels + size_t(y) * row;
            if (settings.sixteen) {
                // v * 257 keeps 0 and 255 at the ends of the 16-bit range.
                for (size_t i = 0; i < row; ++i) wide[2 * i] = wide[2 * i + 1] = in[i];
                if (std::fwrite(wide.data(), 1, wide.size(), file) != wide.size()) return false;
            } else if (std::fwrite(in, 1, row, file) != row) {
                return false;
            }
        }
        return true;
    }

    // Black (0) and white (255) as eight pixels a byte, 1 for black. Grey
    // levels are refused rather than thresholded: nothing is lost silently.
    static bool encode_bitmap(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                              std::string &error) {
        const size_t count = size_t(width) * size_t(height);
        for (size_t i = 0; i < count; ++i)
            if (pixels[i] != 0 && pixels[i] != 255) {
                error =
                    "a .pbm file holds black (0) and white (255) only, the picture has grey levels: "
                    "name the file .pgm";
                return false;
            }
        if (!ppm::write_header(file, width, height, 1, 1, false)) return false;
        std::vector<uint8_t> row((size_t(width) + 7) / 8);
        for (int64_t y = height - 1; y >= 0; --y) {
            const uint8_t *in = pixels + size_t(y) * size_t(width);
            std::fill(row.begin(), row.end(), 0);
            for (int32_t x = 0; x < width; ++x)
                if (in[x] == 0) row[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
            if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return false;
        }
        return true;
    }
};
// The file name's suffix names the layout: .pam is always PAM; .ppm,
// .pnm and .pgm are P6 or P5 rasters, which have no alpha channel, .pgm
// holds grey pictures only and .pbm black-and-white ones (raw PBM). Other
// names follow the format option.
class Writer : public udil_sdk::OnePictureWriter<PpmEncoder> {
public:
    using OnePictureWriter::OnePictureWriter;

    int32_t file_new(const char *path) override {
        const char *problem = layout_problem(path);
        if (problem != nullptr) return fail(1, "ppm: %s: %s", path, problem);
        return OnePictureWriter::file_new(path);
    }

    // 16-bit frames are written with maxval 65535, high byte first.
    int32_t save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) override {
        if (!udil_sdk::deep_frame_usable(in) || in.channels != channels())
            return fail(6, "ppm: the deep frame does not match the movie");
        if (in.sample == UDIL_SAMPLE_U8) return udil_sdk::save_image_from_deep(*this, frame, eye, in);
        if (in.sample != UDIL_SAMPLE_U16)
            return fail(1, "The ppm format cannot hold %s samples", udil_sdk::sample_name(in.sample));
        if (settings().bitmap)
            return fail(1, "ppm: a .pbm file holds black and white only, not uint16 samples");
        const PpmEncoder::Settings layout = settings();
        return save_picture([&](std::FILE *file, std::string &) {
            if (!ppm::write_header(file, in.width, in.height, in.channels, 65535, layout.pam)) return false;
            const size_t values = size_t(in.width) * size_t(in.channels);
            std::vector<uint8_t> row(values * 2);
            for (int64_t y = 0; y < in.height; ++y) {
                const uint8_t *samples = udil_sdk::deep_row(in, y);
                for (size_t i = 0; i < values; ++i) {
                    const uint16_t sample = udil_sdk::row_sample<uint16_t>(samples, int64_t(i));
                    row[2 * i] = uint8_t(sample >> 8);
                    row[2 * i + 1] = uint8_t(sample);
                }
                if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return false;
            }
            return true;
        });
    }

private:
    const char *layout_problem(const char *path) {
        const char *suffix = suffix_of(path);
        if (suffix == nullptr) return nullptr;
        PpmEncoder::Settings &layout = settings();
        const bool pam = strcasecmp(suffix, ".pam") == 0;
        if (layout.layout_given && layout.pam != pam)
            return layout.pam ? "the format option asks for PAM, which is written as .pam"
                              : "the format option asks for PPM, which is written as .ppm";
        layout.pam = pam;
        layout.bitmap = strcasecmp(suffix, ".pbm") == 0;
        if (pam) return nullptr;
        if (layout.bitmap && channels() != 1)
            return "a .pbm file holds black-and-white grey pictures: name the file .ppm or .pam";
        if (channels() == 2 || channels() == 4)
            return "pictures with alpha are written as PAM: name the file .pam";
        if (strcasecmp(suffix, ".pgm") == 0 && channels() != 1)
            return "a .pgm file holds grey pictures: name the file .ppm or .pam";
        return nullptr;
    }

    // The name's suffix when it is one of this codec's, else null.
    static const char *suffix_of(const char *path) {
        const size_t length = std::strlen(path);
        for (const char *suffix : {".ppm", ".pgm", ".pnm", ".pam", ".pbm"})
            if (length >= 4 && strcasecmp(path + length - 4, suffix) == 0) return path + length - 4;
        return nullptr;
    }
};

struct PpmCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "ppm";
    static constexpr const char *kDescription = "Netpbm PPM/PGM/PAM images";
    static constexpr const char *kSuffixes[] = {".ppm", ".pgm", ".pnm", ".pam", ".pbm"};
    static constexpr int32_t kImageFormats = UDIL_FMT_L | UDIL_FMT_LA | UDIL_FMT_RGB | UDIL_FMT_RGBA;
    static constexpr int32_t kConcurrentUse = 1;  // handles share no state
    static constexpr int32_t kRandWrites = 1;
    static constexpr int32_t kDeepSamples = UDIL_SAMPLE_U8 | UDIL_SAMPLE_U16;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static bool wants_pam(const udil_sdk::Options &options) {
        return options.integer("format", kLayoutPpm) == kLayoutPam;
    }

    static const char *choose_suffix(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        switch (info.pixel_format) {
            case UDIL_FMT_L:
                return wants_pam(options) ? ".pam" : ".pgm";
            case UDIL_FMT_LA:
            case UDIL_FMT_RGBA:
                return ".pam";
            default:
                return wants_pam(options) ? ".pam" : ".ppm";
        }
    }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        if (channels_of_format(info.pixel_format) == 0 || info.width < 1 || info.height < 1) return nullptr;
        const UdilOption *format = options.find("format");
        return new Writer(info, channels_of_format(info.pixel_format),
                          PpmEncoder::Settings{wants_pam(options), options.integer("bits", 0) == 1,
                                               format != nullptr && format->set != 0});
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info) {
        ppm::Header header;
        std::string error;
        if (!open_picture(path, header, error)) return udil_sdk::refuse("%s", error.c_str());
        info = UdilMovieInfo{
            header.width, header.height, 1, 0, 0, 0, -1.0f, format_of_channels(header.channels)};
        return new Reader();
    }
};

}  // namespace

UDIL_SDK_PLUGIN(PpmCodec)
UDIL_SDK_DEEP_ENTRIES(PpmCodec)
