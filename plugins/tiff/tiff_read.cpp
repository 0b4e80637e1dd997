#include "tiff_read.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tiff_deep.h"
#include "udil_sdk_orientation.h"

namespace tiff_codec {
namespace {

// A stored sample as the target keeps it: 8-bit targets get 16-bit samples
// scaled with rounding, 16-bit targets (kept for a later conversion) get
// every sample as stored.
uint8_t target_sample(uint8_t value, uint8_t *) { return value; }
uint8_t target_sample(uint16_t value, uint8_t *) {
    return uint8_t((uint32_t(value) * 255u + 32767u) / 65535u);
}
uint16_t target_sample(uint16_t value, uint16_t *) { return value; }
uint16_t target_sample(uint8_t value, uint16_t *) { return value; }

// Copies `count` samples per pixel for `pixels` pixels; source and target
// advance by their own steps. Whole rows of equal 8-bit layout are one memcpy.
template <typename Source, typename Target>
void place(const Source *source, size_t source_step, Target *target, size_t target_step, size_t count,
           size_t pixels) {
    if (sizeof(Source) == 1 && sizeof(Target) == 1 && source_step == count && target_step == count) {
        std::memcpy(target, source, pixels * count);
        return;
    }
    for (size_t i = 0; i < pixels; ++i, source += source_step, target += target_step)
        for (size_t c = 0; c < count; ++c) target[c] = target_sample(source[c], target);
}

// Lab samples as numbers: L in 0..100, a and b signed (CIELab) or offset by
// 128 (ICC Lab), in 8 or 16 bits.
void lab_values(const uint16_t *samples, uint16_t photometric, uint16_t bits, double lab[3]) {
    const bool sixteen = bits == 16;
    lab[0] = samples[0] * 100.0 / (sixteen ? 65535.0 : 255.0);
    for (int i = 1; i < 3; ++i) {
        if (photometric == PHOTOMETRIC_ICCLAB)
            lab[i] = (sixteen ? samples[i] / 256.0 : double(samples[i])) - 128.0;
        else
            lab[i] = sixteen ? int16_t(samples[i]) / 256.0 : double(int8_t(samples[i]));
    }
}

uint8_t to_8bit(double value) { return uint8_t(std::min(255.0, std::max(0.0, value * 255.0 + 0.5))); }

// Undoes premultiplied alpha (the last channel) on every pixel.
void unpremultiply(uint8_t *pixels, size_t count, int32_t channels) {
    const int32_t colours = channels - 1;
    for (size_t i = 0; i < count; ++i, pixels += channels) {
        const unsigned alpha = pixels[colours];
        for (int32_t c = 0; c < colours; ++c)
            pixels[c] = alpha == 0 ? 0 : uint8_t(std::min(255u, (pixels[c] * 255u + alpha / 2) / alpha));
    }
}

}  // namespace

bool Decoder::refuse(std::string &error, const std::string &reason) {
    error = reason;
    return false;
}

bool Decoder::open(const char *path, std::string &error) {
    picture_ = Picture();
    page_ = -1;
    path_ = path;
    if (!file_.open(path, "r")) return refuse(error, file_.message());
    // Counting walks the chain of directory offsets, without reading them.
    page_count_ = int32_t(std::min<tdir_t>(TIFFNumberOfDirectories(file_.get()), INT32_MAX));
    page_ = 0;
    if (page_count_ > 0 && analyse(error) && make_room(0, error)) return true;
    if (page_count_ < 1) error = file_.message();
    file_.close();
    return false;
}

bool Decoder::select_page(int32_t page, std::string &error) {
    if (!is_open()) return refuse(error, "no TIFF file is open");
    if (page == page_) return true;
    file_.clear_error();
    page_ = -1;
    if (page < 0 || page >= page_count_)
        return refuse(error, "the file has no page " + std::to_string(page) + " (" +
                                 std::to_string(page_count_) + " pages)");
    if (!TIFFSetDirectory(file_.get(), tdir_t(page))) return refuse(error, file_.message());
    if (!analyse(error) || !make_room(page, error)) return false;
    page_ = page;
    return true;
}

// libtiff's RGBA reader decodes a whole strip or tile (all planes of it)
// into a buffer of its own. A page that needs more than the file was
// opened with opens the file again with room for that buffer, never more
// than the largest chunk.
bool Decoder::make_room(int32_t page, std::string &error) {
    if (!through_rgba_) return true;
    TIFF *tif = file_.get();
    const uint64_t chunk = (TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif)) *
                           (separate_planes_ ? samples_per_pixel_ : 1);
    if (chunk <= file_.memory_limit()) return true;
    if (chunk > kLargestChunk) return refuse(error, "unsupported strip or tile size");
    file_.close();
    if (!file_.open(path_.c_str(), "r", chunk) || !TIFFSetDirectory(file_.get(), tdir_t(page)))
        return refuse(error, file_.message());
    return analyse(error);
}

bool Decoder::analyse(std::string &error) {
    picture_ = Picture();
    wide_ = false;
    float_sample_ = 0;
    TIFF *tif = file_.get();

    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
        width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return refuse(error, "the picture has no valid size");
    uint16_t samples = 1, bits = 1, sample_format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, compression = COMPRESSION_NONE;
    uint16_t extra_count = 0;
    uint16_t *extra_types = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sample_format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);

    picture_.width = int32_t(width);
    picture_.height = int32_t(height);
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    orientation_ = keep_stored_ || !udil_sdk::is_orientation(orientation) ? 1 : orientation;
    samples_per_pixel_ = samples;
    bits_ = bits;
    separate_planes_ = planar == PLANARCONFIG_SEPARATE;
    tiled_ = TIFFIsTiled(tif) != 0;
    min_is_white_ = photometric == PHOTOMETRIC_MINISWHITE;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || min_is_white_;
    // libtiff turns JPEG-compressed YCbCr into RGB on request.
    const bool jpeg_ycbcr = photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG &&
                            !separate_planes_ && samples == 3;
    lab_ = photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ? photometric : 0;
    const bool colour = photometric == PHOTOMETRIC_RGB || jpeg_ycbcr || lab_ != 0;
    const bool plain_samples = (bits == 8 || bits == 16) &&
                               (sample_format == SAMPLEFORMAT_UINT || sample_format == SAMPLEFORMAT_VOID);
    const int32_t colour_channels = colour ? 3 : (grey && !(samples == 1 && extra_count == 1)) ? 1 : 0;

    if (plain_samples && (grey || colour) && samples >= std::max(colour_channels, 1)) {
        through_rgba_ = false;
        const bool alpha = samples > colour_channels;
        picture_.channels = std::min(colour_channels + (alpha ? 1 : 0), 4);
        picture_.alpha_only = colour_channels == 0;
        premultiplied_ = alpha && extra_count > 0 && extra_types[0] == EXTRASAMPLE_ASSOCALPHA;
        // Lab colours and 16-bit premultiplied ones are converted from the
        // stored samples and rounded to 8 bits once.
        wide_ = lab_ != 0 || (bits == 16 && premultiplied_ && !picture_.alpha_only);
        if (lab_ != 0) {
            float *white = nullptr;
            lab_to_rgb_ = TIFFGetFieldDefaulted(tif, TIFFTAG_WHITEPOINT, &white) && white != nullptr
                              ? LabToRgb(white[0], white[1])
                              : LabToRgb();
        }
        if (jpeg_ycbcr && !TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            return refuse(error, file_.message());
        // The chunk arithmetic of read_chunks() relies on libtiff agreeing
        // with these sizes.
        const uint64_t pixel_bytes = uint64_t(separate_planes_ ? 1 : samples) * (bits / 8);
        uint32_t chunk_width = width;
        if (tiled_ && !TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunk_width))
            return refuse(error, "the tiles have no width");
        const uint64_t row_bytes = tiled_ ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif);
        if (chunk_width == 0 || row_bytes != uint64_t(chunk_width) * pixel_bytes)
            return refuse(error, "unsupported sample layout");
        return true;
    }

    // Half and float pages, which libtiff's RGBA reader refuses, are read
    // whole and cut to 8 bits here.
    int32_t deep_channels = 0;
    float_sample_ = deep_sample_of(tif, deep_channels);
    if (float_sample_ == UDIL_SAMPLE_F16 || float_sample_ == UDIL_SAMPLE_F32) {
        through_rgba_ = false;
        picture_.channels = deep_channels;
        return true;
    }
    float_sample_ = 0;
    char reason[1024] = "";
    if (!TIFFRGBAImageOK(tif, reason))
        return refuse(error, std::string("unsupported TIFF: ") + (reason[0] ? reason : file_.message()));
    through_rgba_ = true;
    // libtiff's RGBA reader hands out premultiplied alpha.
    const bool alpha = extra_count > 0;
    picture_.channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
    premultiplied_ = alpha;
    return true;
}

Picture Decoder::picture() const {
    Picture shown = picture_;
    udil_sdk::shown_size(orientation_, picture_.width, picture_.height, shown.width, shown.height);
    return shown;
}

bool Decoder::read(uint8_t *pixels, std::string &error) {
    if (!is_open()) {
        error = "no TIFF file is open";
        return false;
    }
    if (orientation_ == 1) return read_stored(pixels, error);
    // Every decode path gives the stored rows; one copy then turns them.
    std::vector<uint8_t> stored(size_t(picture_.width) * size_t(picture_.height) * size_t(picture_.channels));
    if (!read_stored(stored.data(), error)) return false;
    udil_sdk::orient_picture(stored.data(), picture_.width, picture_.height, size_t(picture_.channels),
                             orientation_, pixels);
    return true;
}

bool Decoder::read_stored(uint8_t *pixels, std::string &error) {
    if (float_sample_ != 0) {
        const UdilDeepFrame frame{picture_.width, picture_.height, picture_.channels, float_sample_, 0,
                                  nullptr};
        return read_deep_as_8bit(file_, frame, pixels, error);
    }
    if (!(through_rgba_ ? read_through_rgba(pixels, error) : read_chunks(pixels, error))) return false;
    finish(pixels);
    return true;
}

bool Decoder::read_chunks(uint8_t *pixels, std::string &error) {
    if (!wide_) return decode_chunks(pixels, error);
    std::vector<uint16_t> samples(size_t(picture_.width) * size_t(picture_.height) *
                                  size_t(picture_.channels));
    if (!decode_chunks(samples.data(), error)) return false;
    convert_wide(samples.data(), pixels);
    return true;
}

template <typename Sample>
bool Decoder::decode_chunks(Sample *pixels, std::string &error) {
    TIFF *tif = file_.get();
    file_.clear_error();
    const size_t width = size_t(picture_.width), height = size_t(picture_.height);
    const size_t channels = size_t(picture_.channels);
    const size_t sample_bytes = bits_ / 8;
    // Per chunk pixel: every sample (contiguous) or one plane's sample.
    const size_t chunk_samples = separate_planes_ ? 1 : samples_per_pixel_;
    const size_t copied = separate_planes_ ? 1 : channels;
    const size_t planes = separate_planes_ ? channels : 1;

    uint32_t chunk_width = uint32_t(width), chunk_height = 0;
    uint64_t chunk_bytes = 0;
    if (tiled_) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunk_width);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunk_height);
        chunk_bytes = TIFFTileSize64(tif);
    } else {
        uint32_t rows_per_strip = UINT32_MAX;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
        chunk_height = std::min<uint32_t>(rows_per_strip, uint32_t(height));
        chunk_bytes = TIFFStripSize64(tif);
    }
    if (chunk_width == 0 || chunk_height == 0 || chunk_bytes == 0 || chunk_bytes > kLargestChunk)
        return refuse(error, "unsupported strip or tile size");
    const size_t chunk_row_bytes = size_t(chunk_width) * chunk_samples * sample_bytes;
    // 16-bit storage keeps 16-bit samples aligned; 8-bit ones read it as bytes.
    std::vector<uint16_t> buffer(size_t(chunk_bytes + 1) / 2);
    auto *bytes = reinterpret_cast<uint8_t *>(buffer.data());
    const tmsize_t capacity = tmsize_t(buffer.size() * 2);

    for (size_t plane = 0; plane < planes; ++plane) {
        for (size_t y0 = 0; y0 < height; y0 += chunk_height) {
            for (size_t x0 = 0; x0 < width; x0 += chunk_width) {
                tmsize_t got;
                if (tiled_) {
                    const uint32_t tile =
                        TIFFComputeTile(tif, uint32_t(x0), uint32_t(y0), 0, uint16_t(plane));
                    got = TIFFReadEncodedTile(tif, tile, bytes, capacity);
                } else {
                    const uint32_t strip = TIFFComputeStrip(tif, uint32_t(y0), uint16_t(plane));
                    got = TIFFReadEncodedStrip(tif, strip, bytes, capacity);
                }
                const size_t rows = std::min<size_t>(chunk_height, height - y0);
                const size_t columns = std::min<size_t>(chunk_width, width - x0);
                const size_t needed = (rows - 1) * chunk_row_bytes + columns * chunk_samples * sample_bytes;
                if (got < 0 || size_t(got) < needed)
                    return refuse(error,
                                  std::string("damaged or cut-short picture data (") + file_.message() + ")");
                for (size_t r = 0; r < rows; ++r) {
                    const uint8_t *source = bytes + r * chunk_row_bytes;
                    Sample *target = pixels + ((height - 1 - (y0 + r)) * width + x0) * channels + plane;
                    if (sample_bytes == 1)
                        place(source, chunk_samples, target, channels, copied, columns);
                    else
                        place(reinterpret_cast<const uint16_t *>(source), chunk_samples, target, channels,
                              copied, columns);
                }
            }
        }
    }
    // Some decoders report bad code words and still fill the whole strip.
    if (file_.has_error()) return refuse(error, std::string("damaged picture data: ") + file_.message());
    return true;
}

// Stored samples (8 or 16 bits each, as decoded) to 8-bit pixels: grey or
// RGB colours with premultiplied alpha divided out, or Lab colours made
// sRGB, each rounded once.
void Decoder::convert_wide(const uint16_t *samples, uint8_t *pixels) const {
    const size_t count = size_t(picture_.width) * size_t(picture_.height);
    const int32_t channels = picture_.channels;
    const bool alpha = channels == 2 || channels == 4;
    const int32_t colours = alpha ? channels - 1 : channels;
    const double full = bits_ == 16 ? 65535.0 : 255.0;
    for (size_t i = 0; i < count; ++i, samples += channels, pixels += channels) {
        const double opacity = alpha ? samples[colours] / full : 1.0;
        const bool divide = premultiplied_ && alpha;
        double value[3];
        if (lab_ != 0) {
            double lab[3];
            lab_values(samples, lab_, bits_, lab);
            if (divide)
                for (double &v : lab) v = opacity > 0 ? v / opacity : 0;
            lab_to_rgb_.convert(lab[0], lab[1], lab[2], value);
        } else {
            for (int32_t c = 0; c < colours; ++c) {
                value[c] = samples[c] / full;
                if (min_is_white_) value[c] = 1.0 - value[c];
                if (divide) value[c] = opacity > 0 ? std::min(1.0, value[c] / opacity) : 0;
            }
        }
        for (int32_t c = 0; c < colours; ++c) pixels[c] = to_8bit(value[c]);
        if (alpha) pixels[colours] = to_8bit(opacity);
    }
}

bool Decoder::read_through_rgba(uint8_t *pixels, std::string &error) {
    const size_t width = size_t(picture_.width), height = size_t(picture_.height);
    // The RGBA reader needs a 32-bit raster of the whole picture.
    if (uint64_t(width) * height * 4 > kLargestChunk)
        return refuse(error, "the picture is too large for this sample layout");
    std::vector<uint32_t> raster(width * height);
    file_.clear_error();
    // Asking for the file's own orientation gives the stored rows, top row
    // first; libtiff would otherwise mirror some orientations and not turn
    // others. read() turns them all the same way.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(file_.get(), TIFFTAG_ORIENTATION, &orientation);
    if (!udil_sdk::is_orientation(orientation)) orientation = ORIENTATION_TOPLEFT;
    if (!TIFFReadRGBAImageOriented(file_.get(), uint32_t(width), uint32_t(height), raster.data(), orientation,
                                   1) ||
        file_.has_error())
        return refuse(error, std::string("damaged picture data: ") + file_.message());
    const size_t channels = size_t(picture_.channels);
    const bool grey = channels == 1 || channels == 2;
    const bool alpha = channels == 2 || channels == 4;
    for (size_t i = 0; i < raster.size(); ++i) {
        const uint32_t value = raster[i];
        // Raster row r is the buffer's row height - 1 - r.
        uint8_t *pixel = pixels + ((height - 1 - i / width) * width + i % width) * channels;
        if (grey) {
            pixel[0] = uint8_t(TIFFGetR(value));
        } else {
            pixel[0] = uint8_t(TIFFGetR(value));
            pixel[1] = uint8_t(TIFFGetG(value));
            pixel[2] = uint8_t(TIFFGetB(value));
        }
        if (alpha) pixel[channels - 1] = uint8_t(TIFFGetA(value));
    }
    return true;
}

// Corrections the chunk copy leaves to a second pass: white-is-zero grey
// (already applied by libtiff's RGBA reader) and premultiplied alpha.
void Decoder::finish(uint8_t *pixels) const {
    if (wide_) return;  // convert_wide() did both
    const size_t count = size_t(picture_.width) * size_t(picture_.height);
    const int32_t channels = picture_.channels;
    if (min_is_white_ && !through_rgba_ && !picture_.alpha_only)
        for (size_t i = 0; i < count; ++i) pixels[i * channels] = uint8_t(255 - pixels[i * channels]);
    if (premultiplied_ && !picture_.alpha_only && (channels == 2 || channels == 4))
        unpremultiply(pixels, count, channels);
}

}  // namespace tiff_codec
