#include "tiff_deep.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "udil_sdk.h"

namespace tiff_codec {
namespace {

constexpr size_t kStripBytes = 64 * 1024;

int32_t sample_bytes(int32_t sample) { return sample == UDIL_SAMPLE_F32 ? 4 : 2; }

uint8_t *row_of(const UdilDeepFrame &frame, int64_t y) {
    return static_cast<uint8_t *>(frame.pixels) + y * frame.stride;
}

bool fail(std::string &error, const char *text) {
    error = text;
    return false;
}

bool read_tiles(TiffFile &file, const UdilDeepFrame &frame, std::string &error) {
    TIFF *tif = file.get();
    uint32_t tile_width = 0, tile_height = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_height);
    const uint64_t tile_bytes = uint64_t(TIFFTileSize64(tif));
    if (tile_width == 0 || tile_height == 0 || tile_bytes == 0 || tile_bytes > kLargestChunk)
        return fail(error, "unsupported tile size");
    const size_t pixel = size_t(frame.channels) * size_t(sample_bytes(frame.sample));
    std::vector<uint8_t> tile(tile_bytes);
    for (uint32_t y0 = 0; y0 < uint32_t(frame.height); y0 += tile_height)
        for (uint32_t x0 = 0; x0 < uint32_t(frame.width); x0 += tile_width) {
            if (TIFFReadTile(tif, tile.data(), x0, y0, 0, 0) < 0) return fail(error, file.message());
            const uint32_t rows = std::min(tile_height, uint32_t(frame.height) - y0);
            const size_t bytes = std::min(tile_width, uint32_t(frame.width) - x0) * pixel;
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(row_of(frame, y0 + r) + x0 * pixel, tile.data() + size_t(r) * tile_width * pixel,
                            bytes);
        }
    return true;
}

uint8_t to_byte(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 255;
    return uint8_t(value * 255.0f + 0.5f);
}

}  // namespace

bool read_deep_as_8bit(TiffFile &file, const UdilDeepFrame &layout, uint8_t *pixels, std::string &error) {
    const int64_t values = int64_t(layout.width) * layout.channels;
    const int64_t stride = values * sample_bytes(layout.sample);
    std::vector<uint8_t> samples(size_t(stride * layout.height));
    UdilDeepFrame frame = layout;
    frame.stride = stride;
    frame.pixels = samples.data();
    if (!read_deep(file, frame, error)) return false;
    for (int64_t y = 0; y < layout.height; ++y) {
        uint8_t *out = pixels + (layout.height - 1 - y) * values;
        const uint8_t *row = samples.data() + y * stride;
        if (layout.sample == UDIL_SAMPLE_F32) {
            const auto *in = reinterpret_cast<const float *>(row);
            for (int64_t i = 0; i < values; ++i) out[i] = to_byte(in[i]);
        } else {
            const auto *in = reinterpret_cast<const uint16_t *>(row);
            for (int64_t i = 0; i < values; ++i) out[i] = to_byte(udil_sdk::half_to_float(in[i]));
        }
    }
    return true;
}

int32_t deep_sample_of(TIFF *tif, int32_t &channels) {
    uint16_t bits = 8, format = SAMPLEFORMAT_UINT, spp = 1, planar = PLANARCONFIG_CONTIG, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return UDIL_SAMPLE_U8;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (spp == 1 || spp == 2);
    const bool colour = photometric == PHOTOMETRIC_RGB && (spp == 3 || spp == 4);
    if (!(grey || colour) || planar != PLANARCONFIG_CONTIG) return UDIL_SAMPLE_U8;
    int32_t sample = UDIL_SAMPLE_U8;
    if (bits == 16 && format == SAMPLEFORMAT_UINT) sample = UDIL_SAMPLE_U16;
    if (bits == 16 && format == SAMPLEFORMAT_IEEEFP) sample = UDIL_SAMPLE_F16;
    if (bits == 32 && format == SAMPLEFORMAT_IEEEFP) sample = UDIL_SAMPLE_F32;
    if (sample != UDIL_SAMPLE_U8) channels = spp;
    return sample;
}

bool read_deep(TiffFile &file, const UdilDeepFrame &frame, std::string &error) {
    TIFF *tif = file.get();
    file.clear_error();
    if (TIFFIsTiled(tif)) return read_tiles(file, frame, error);
    const uint64_t row_bytes = uint64_t(frame.width) * frame.channels * sample_bytes(frame.sample);
    if (uint64_t(TIFFScanlineSize64(tif)) != row_bytes) return fail(error, "unexpected row size");
    for (uint32_t y = 0; y < uint32_t(frame.height); ++y)
        if (TIFFReadScanline(tif, row_of(frame, y), y, 0) < 0) return fail(error, file.message());
    return true;
}

bool encode_deep(TiffFile &file, const UdilDeepFrame &frame, const EncodeSettings &settings,
                 std::string &error) {
    TIFF *tif = file.get();
    if (tif == nullptr) return fail(error, "no file is open");
    if (settings.compression == COMPRESSION_JPEG)
        return fail(error, "jpeg compression holds 8-bit samples only");
    const bool is_float = frame.sample != UDIL_SAMPLE_U16;
    const int32_t bytes = sample_bytes(frame.sample);
    const uint16_t alpha_type = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(frame.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(frame.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bytes * 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, frame.channels);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, is_float ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, frame.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    if (frame.channels == 2 || frame.channels == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha_type);
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, settings.compression)) return fail(error, file.message());
    const bool lossless_coder =
        settings.compression == COMPRESSION_LZW || settings.compression == COMPRESSION_ADOBE_DEFLATE;
    // Half floats get no predictor: libtiff's floating-point one is for
    // 32- and 64-bit samples.
    if (settings.predictor && lossless_coder && frame.sample != UDIL_SAMPLE_F16)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, is_float ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    const size_t row_bytes = size_t(frame.width) * size_t(frame.channels) * size_t(bytes);
    const size_t rows_per_strip =
        std::min(std::max<size_t>(1, kStripBytes / row_bytes), size_t(frame.height));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rows_per_strip));
    // The predictor changes a strip in place: each is gathered into a copy.
    std::vector<uint8_t> strip(rows_per_strip * row_bytes);
    uint32_t index = 0;
    for (size_t y0 = 0; y0 < size_t(frame.height); y0 += rows_per_strip, ++index) {
        const size_t rows = std::min(rows_per_strip, size_t(frame.height) - y0);
        for (size_t r = 0; r < rows; ++r)
            std::memcpy(strip.data() + r * row_bytes, row_of(frame, int64_t(y0 + r)), row_bytes);
        if (TIFFWriteEncodedStrip(tif, index, strip.data(), tmsize_t(rows * row_bytes)) < 0)
            return fail(error, file.message());
    }
    if (!TIFFWriteDirectory(tif)) return fail(error, file.message());
    return true;
}

}  // namespace tiff_codec
