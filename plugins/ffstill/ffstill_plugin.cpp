// The still-picture codec over FFmpeg's image decoders and encoders:
// OpenEXR, DPX, WebP, BMP, Targa, JPEG 2000, SGI, QOI and JPEG XL, one
// picture per file. The file name's suffix names the format.
//
// Pictures read as L, LA, RGB or RGBA with 8 bits a sample (see
// ffstill_reduce.h for how deeper samples map to 8 bits); the reader
// option `layer` picks an OpenEXR layer other than the RGBA channels.
// 8-bit pictures are written with 8 bits a sample, except OpenEXR, which
// holds linear light as half (or, with `exrpixel float`, 32-bit float)
// samples. Deep frames keep their samples: half and float ones in OpenEXR,
// 16-bit ones in DPX (or 10 and 12 bits, with `dpxbits`), SGI, JPEG 2000
// and JPEG XL; a kind a format cannot hold is refused by name.
#include <memory>
#include <string>

#include "ffstill_decode.h"
#include "ffstill_deep.h"
#include "ffstill_deep_write.h"
#include "ffstill_encode.h"
#include "ffstill_formats.h"
#include "ffstill_probe.h"
#include "ffstill_reduce.h"
#include "udil_sdk.h"
#include "udil_sdk_output.h"

namespace {

using namespace ffstill;
using udil_sdk::format_name;

constexpr const char *kExrCompressions[] = {"zip16", "none", "rle", "zip1"};

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"quality", UDIL_OPT_INT, "1 100", "90", "WebP and JPEG XL quality (higher is better)"},
    {"lossless", UDIL_OPT_BOOLEAN, "", "0", "WebP and JPEG XL: store the picture exactly"},
    {"exrcompression", UDIL_OPT_CHOICE, "zip16|none|rle|zip1", "0", "OpenEXR compression"},
    {"exrpixel", UDIL_OPT_CHOICE, "half|float", "0", "OpenEXR sample type written"},
    {"dpxbits", UDIL_OPT_CHOICE, "16|10|12", "0", "DPX bits a sample written from 16-bit frames"},
    {"layer", UDIL_OPT_TEXT, "", "", "Reading OpenEXR: the layer read (empty: the RGBA channels)"},
};

bool alpha_if_used(const char *path) {
    const StillFormat *format = format_of(path);
    return format != nullptr && format->kind == Kind::webp;
}

EncodeSettings encode_settings_from(const udil_sdk::Options &options) {
    EncodeSettings settings;
    const long quality = options.integer("quality", 90);
    settings.quality = int(quality < 1 ? 1 : quality > 100 ? 100 : quality);
    settings.lossless = options.integer("lossless", 0) != 0;
    const long compression = options.integer("exrcompression", 0);
    settings.exr_compression = kExrCompressions[compression >= 0 && compression < 4 ? compression : 0];
    settings.exr_float = options.integer("exrpixel", 0) == 1;
    static constexpr int kDpxBits[] = {16, 10, 12};
    const long dpx_bits = options.integer("dpxbits", 0);
    settings.dpx_bits = kDpxBits[dpx_bits >= 0 && dpx_bits < 3 ? dpx_bits : 0];
    return settings;
}

// The layout of a decoded picture of the file `path`.
Layout layout_of(const AVFrame &picture, const char *path) {
    Layout layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.host_format = host_format_of(picture, alpha_if_used(path));
    layout.sample = deep_sample_of(picture);
    return layout;
}

// One file open for reading, handed out as 8 bits or at its own depth.
// A file whose header tells its layout (see ffstill_probe.h) is decoded
// when its picture is first asked for; any other when it is opened.
class Reader : public udil_sdk::Handle {
public:
    Reader(const UdilMovieInfo &info, DecodeSettings settings, std::string probed_path, FramePtr probed,
           const Layout &probed_layout)
        : expected_(info),
          settings_(std::move(settings)),
          probed_path_(std::move(probed_path)),
          probed_(std::move(probed)),
          probed_layout_(probed_layout) {}

    int32_t file_open(const char *path) override {
        file_close();
        format_ = format_of(path);
        if (format_ == nullptr) return fail(1, "ffstill: %s does not name a still-picture format", path);
        path_ = path;
        if (!probed_path_.empty() && probed_path_ == path) {
            // The file the handle was made for: its layout is known already,
            // and so is its picture when it had to be decoded to learn it.
            picture_ = std::move(probed_);
            layout_ = probed_layout_;
            probed_path_.clear();
            return check_layout();
        }
        probed_.reset();
        if (probe_layout(path, *format_, settings_, layout_)) return check_layout();
        const int32_t status = decode();
        if (status != 0) return status;
        layout_ = layout_of(*picture_, path);
        return check_layout();
    }

    int32_t file_close() override {
        picture_.reset();
        path_.clear();
        return 0;
    }

    // One picture per file: every frame number reads it. Eye 2 without a
    // left buffer delivers into the right one.
    int32_t get_image(int32_t, int32_t, void *left, void *right) override {
        if (path_.empty()) return fail(6, "ffstill: no file is open");
        auto *pixels = static_cast<uint8_t *>(left ? left : right);
        if (pixels == nullptr) return fail(6, "ffstill: no pixel buffer given");
        const int32_t status = decoded();
        if (status != 0) return status;
        std::string error;
        if (!reduce_to_8_bits(*picture_, expected_.pixel_format, pixels, error))
            return fail(7, "ffstill: can't convert %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

    // Integer pictures deeper than 8 bits come as 16-bit samples, float
    // ones (OpenEXR) as 32-bit floats; others through their 8-bit frames.
    int32_t get_deep_image(int32_t frame, int32_t eye, UdilDeepFrame &out) override {
        if (path_.empty()) return fail(6, "ffstill: no file is open");
        const UdilDeepFrame own{expected_.width,
                                expected_.height,
                                udil_sdk::format_channels(expected_.pixel_format),
                                layout_.sample,
                                0,
                                nullptr};
        if (out.pixels == nullptr) {
            out = own;
            return 0;
        }
        if (!udil_sdk::same_deep_layout(out, own)) return udil_sdk::refuse_deep_layout(*this, "ffstill", own);
        if (own.sample == UDIL_SAMPLE_U8) return udil_sdk::get_image_as_deep(*this, frame, eye, out);
        const int32_t status = decoded();
        if (status != 0) return status;
        std::string error;
        if (!read_deep(*picture_, out, error))
            return fail(7, "ffstill: can't convert %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

private:
    int32_t decode() {
        std::string error;
        picture_ = decode_still(path_.c_str(), *format_, settings_, error);
        if (!picture_) return fail(7, "ffstill: can't read %s: %s", path_.c_str(), error.c_str());
        return 0;
    }

    // The open file's picture, decoded now if it was not yet; it must have
    // the layout its header promised.
    int32_t decoded() {
        if (picture_) return 0;
        const int32_t status = decode();
        if (status != 0) return status;
        const Layout found = layout_of(*picture_, path_.c_str());
        if (found.width == layout_.width && found.height == layout_.height &&
            found.host_format == layout_.host_format && found.sample == layout_.sample)
            return 0;
        picture_.reset();
        return fail(7, "ffstill: %s decodes to another layout than its header gives", path_.c_str());
    }

    int32_t check_layout() {
        if (layout_.width == expected_.width && layout_.height == expected_.height &&
            layout_.host_format == expected_.pixel_format)
            return 0;
        fail(12, "ffstill: %s is %dx%d %s, the movie's frames are %dx%d %s", path_.c_str(), layout_.width,
             layout_.height, format_name(layout_.host_format), expected_.width, expected_.height,
             format_name(expected_.pixel_format));
        file_close();
        return 12;
    }

    UdilMovieInfo expected_;
    DecodeSettings settings_;
    std::string probed_path_;  // the file the handle was made for, until it is opened
    FramePtr probed_;          // its picture, when it was decoded to learn its layout
    Layout probed_layout_;
    const StillFormat *format_ = nullptr;
    std::string path_;  // the open file
    Layout layout_;     // its layout
    FramePtr picture_;  // its picture at its full depth, once decoded
};

// The file name's suffix chooses the format of each file written.
class Writer : public udil_sdk::OnePictureWriter<StillEncoder> {
public:
    using OnePictureWriter::OnePictureWriter;

    int32_t file_new(const char *path) override {
        settings().format = format_of(path);
        if (settings().format == nullptr)
            return fail(1, "ffstill: %s does not name a still-picture format (.exr, .dpx, .webp ...)", path);
        return OnePictureWriter::file_new(path);
    }

    int32_t save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) override {
        if (!udil_sdk::deep_frame_usable(in) || in.channels != channels())
            return fail(6, "ffstill: the deep frame does not match the movie");
        if (in.sample == UDIL_SAMPLE_U8) return udil_sdk::save_image_from_deep(*this, frame, eye, in);
        const EncodeSettings &used = settings();
        if (used.format == nullptr) return fail(6, "ffstill: no file is open");
        if ((used.format->deep_samples & in.sample) == 0)
            return fail(1, "The %s format cannot hold %s samples", used.format->name,
                        udil_sdk::sample_name(in.sample));
        return save_picture(
            [&](std::FILE *file, std::string &error) { return encode_deep(file, in, used, error); });
    }
};

struct FfstillCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kName = "ffstill";
    static constexpr const char *kDescription = "Still pictures through FFmpeg";
    static constexpr const char *kSuffixes[] = {".exr", ".dpx", ".webp", ".bmp", ".dib",  ".tga", ".jp2",
                                                ".j2k", ".j2c", ".sgi",  ".bw",  ".rgba", ".qoi", ".jxl"};
    static constexpr int32_t kImageFormats = UDIL_FMT_L | UDIL_FMT_LA | UDIL_FMT_RGB | UDIL_FMT_RGBA;
    static constexpr int32_t kConcurrentUse = 1;  // handles share no state
    static constexpr int32_t kRandWrites = 1;
    // Every kind some format holds; each format refuses the others.
    static constexpr int32_t kDeepSamples =
        UDIL_SAMPLE_U8 | UDIL_SAMPLE_U16 | UDIL_SAMPLE_F16 | UDIL_SAMPLE_F32;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &) { return ".exr"; }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        const int32_t channels = udil_sdk::format_channels(info.pixel_format);
        if (channels < 1 || info.width < 1 || info.height < 1) return nullptr;
        return new Writer(info, channels, encode_settings_from(options));
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info,
                                           const udil_sdk::Options &options) {
        const StillFormat *format = format_of(path);
        if (format == nullptr) return udil_sdk::refuse("%s does not name a still-picture format", path);
        DecodeSettings settings;
        settings.layer = options.text("layer", "");
        // The host's worker count (one for a host that works on one
        // thread); slice-threaded decoders (OpenEXR, JPEG 2000) use them.
        settings.threads = int(udil_sdk::reader_threads());
        Layout layout;
        FramePtr picture;
        if (!probe_layout(path, *format, settings, layout)) {
            std::string error;
            picture = decode_still(path, *format, settings, error);
            if (!picture) return udil_sdk::refuse("%s", error.c_str());
            layout = layout_of(*picture, path);
        }
        if (layout.host_format == 0)
            return udil_sdk::refuse("%s: the picture's pixel format is unknown", path);
        info = UdilMovieInfo{layout.width, layout.height, 1, 0, 0, 0, -1.0f, layout.host_format};
        return new Reader(info, settings, path, std::move(picture), layout);
    }
};

}  // namespace

UDIL_SDK_PLUGIN(FfstillCodec)
UDIL_SDK_DEEP_ENTRIES(FfstillCodec)
