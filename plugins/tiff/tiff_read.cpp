#include "tiff_read.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tiff_codec {
namespace {

// Copies `count` samples per pixel for `pixels` pixels; source and target
// advance by their own steps. Whole rows of equal layout are one memcpy.
void place_8bit(const uint8_t *source, size_t source_step, uint8_t *target, size_t target_step, size_t count,
                size_t pixels) {
    if (source_step == count && target_step == count) {
        std::memcpy(target, source, pixels * count);
        return;
    }
    for (size_t i = 0; i < pixels; ++i, source += source_step, target += target_step)
        for (size_t c = 0; c < count; ++c) target[c] = source[c];
}

// The same for 16-bit samples, scaled to 8 bits with rounding.
void place_16bit(const uint16_t *source, size_t source_step, uint8_t *target, size_t target_step,
                 size_t count, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, source += source_step, target += target_step)
        for (size_t c = 0; c < count; ++c)
            target[c] = uint8_t((uint32_t(source[c]) * 255u + 32767u) / 65535u);
}

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
    file_.close();
    return false;
}

bool Decoder::open(const char *path, std::string &error) {
    picture_ = Picture();
    if (!file_.open(path, "r")) return refuse(error, file_.message());
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
    samples_per_pixel_ = samples;
    bits_ = bits;
    separate_planes_ = planar == PLANARCONFIG_SEPARATE;
    tiled_ = TIFFIsTiled(tif) != 0;
    min_is_white_ = photometric == PHOTOMETRIC_MINISWHITE;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || min_is_white_;
    // libtiff turns JPEG-compressed YCbCr into RGB on request.
    const bool jpeg_ycbcr = photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG &&
                            !separate_planes_ && samples == 3;
    const bool colour = photometric == PHOTOMETRIC_RGB || jpeg_ycbcr;
    const bool plain_samples = (bits == 8 || bits == 16) &&
                               (sample_format == SAMPLEFORMAT_UINT || sample_format == SAMPLEFORMAT_VOID);
    const int32_t colour_channels = colour ? 3 : (grey && !(samples == 1 && extra_count == 1)) ? 1 : 0;

    if (plain_samples && (grey || colour) && samples >= std::max(colour_channels, 1)) {
        through_rgba_ = false;
        const bool alpha = samples > colour_channels;
        picture_.channels = std::min(colour_channels + (alpha ? 1 : 0), 4);
        picture_.alpha_only = colour_channels == 0;
        premultiplied_ = alpha && extra_count > 0 && extra_types[0] == EXTRASAMPLE_ASSOCALPHA;
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

bool Decoder::read(uint8_t *pixels, std::string &error) {
    if (!is_open()) {
        error = "no TIFF file is open";
        return false;
    }
    if (!(through_rgba_ ? read_through_rgba(pixels, error) : read_chunks(pixels, error))) return false;
    finish(pixels);
    return true;
}

bool Decoder::read_chunks(uint8_t *pixels, std::string &error) {
    TIFF *tif = file_.get();
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
                    uint8_t *target = pixels + ((height - 1 - (y0 + r)) * width + x0) * channels + plane;
                    if (sample_bytes == 1)
                        place_8bit(source, chunk_samples, target, channels, copied, columns);
                    else
                        place_16bit(reinterpret_cast<const uint16_t *>(source), chunk_samples, target,
                                    channels, copied, columns);
                }
            }
        }
    }
    return true;
}

bool Decoder::read_through_rgba(uint8_t *pixels, std::string &error) {
    const size_t width = size_t(picture_.width), height = size_t(picture_.height);
    // The RGBA reader needs a 32-bit raster of the whole picture.
    if (uint64_t(width) * height * 4 > kLargestChunk)
        return refuse(error, "the picture is too large for this sample layout");
    std::vector<uint32_t> raster(width * height);
    // Bottom-left orientation is the buffer's own row order.
    if (!TIFFReadRGBAImageOriented(file_.get(), uint32_t(width), uint32_t(height), raster.data(),
                                   ORIENTATION_BOTLEFT, 1))
        return refuse(error, file_.message());
    const size_t channels = size_t(picture_.channels);
    const bool grey = channels == 1 || channels == 2;
    const bool alpha = channels == 2 || channels == 4;
    for (size_t i = 0; i < raster.size(); ++i, pixels += channels) {
        const uint32_t value = raster[i];
        if (grey) {
            pixels[0] = uint8_t(TIFFGetR(value));
        } else {
            pixels[0] = uint8_t(TIFFGetR(value));
            pixels[1] = uint8_t(TIFFGetG(value));
            pixels[2] = uint8_t(TIFFGetB(value));
        }
        if (alpha) pixels[channels - 1] = uint8_t(TIFFGetA(value));
    }
    return true;
}

// Corrections the chunk copy leaves to a second pass: white-is-zero grey
// (already applied by libtiff's RGBA reader) and premultiplied alpha.
void Decoder::finish(uint8_t *pixels) const {
    const size_t count = size_t(picture_.width) * size_t(picture_.height);
    const int32_t channels = picture_.channels;
    if (min_is_white_ && !through_rgba_ && !picture_.alpha_only)
        for (size_t i = 0; i < count; ++i) pixels[i * channels] = uint8_t(255 - pixels[i * channels]);
    if (premultiplied_ && !picture_.alpha_only && (channels == 2 || channels == 4))
        unpremultiply(pixels, count, channels);
}

}  // namespace tiff_codec
