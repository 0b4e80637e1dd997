#include "tiff_write.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tiff_codec {
namespace {

// Strips of about this many bytes: few enough to keep the per-strip cost
// low, small enough to compress in cache.
constexpr size_t kStripBytes = 64 * 1024;

}  // namespace

bool encode(TiffFile &file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error) {
    TIFF *tif = file.get();
    if (tif == nullptr || width < 1 || height < 1 || channels < 1 || channels > 4) {
        error = "invalid picture size or format";
        return false;
    }
    const bool colour = channels >= 3;
    const bool jpeg = settings.compression == COMPRESSION_JPEG;
    // One channel is grey even for an A picture: a lone sample marked as
    // alpha leaves no colour, and other readers refuse it.
    const bool has_alpha = channels == 2 || channels == 4;
    const uint16_t alpha_type = EXTRASAMPLE_UNASSALPHA;
    // JPEG compresses colour best as YCbCr; libtiff converts the RGB rows.
    const bool ycbcr = jpeg && channels == 3;

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 ycbcr    ? PHOTOMETRIC_YCBCR
                 : colour ? PHOTOMETRIC_RGB
                          : PHOTOMETRIC_MINISBLACK);
    if (has_alpha) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha_type);
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, settings.compression)) {
        error = file.message();
        return false;
    }
    const bool lossless_coder =
        settings.compression == COMPRESSION_LZW || settings.compression == COMPRESSION_ADOBE_DEFLATE;
    if (settings.predictor && lossless_coder) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (jpeg) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, kJpegQuality);
        if (ycbcr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }

    const size_t row_bytes = size_t(width) * size_t(channels);
    size_t rows_per_strip = std::max<size_t>(1, kStripBytes / row_bytes);
    // JPEG strips hold whole MCU rows (16 rows with 2 x 2 chroma subsampling).
    if (jpeg) rows_per_strip = (rows_per_strip + 15) / 16 * 16;
    rows_per_strip = std::min(rows_per_strip, size_t(height));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rows_per_strip));

    // Each strip is gathered in file order (the buffer's last row first)
    // into a scratch copy, which the predictor may change in place.
    std::vector<uint8_t> strip(rows_per_strip * row_bytes);
    uint32_t index = 0;
    for (size_t y0 = 0; y0 < size_t(height); y0 += rows_per_strip, ++index) {
        const size_t rows = std::min(rows_per_strip, size_t(height) - y0);
        for (size_t r = 0; r < rows; ++r)
            std::memcpy(strip.data() + r * row_bytes, pixels + (size_t(height) - 1 - (y0 + r)) * row_bytes,
                        row_bytes);
        if (TIFFWriteEncodedStrip(tif, index, strip.data(), tmsize_t(rows * row_bytes)) < 0) {
            error = file.message();
            return false;
        }
    }
    if (!TIFFWriteDirectory(tif)) {
        error = file.message();
        return false;
    }
    return true;
}

}  // namespace tiff_codec
