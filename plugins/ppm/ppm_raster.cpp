#include "ppm_raster.h"

#include <vector>

#include "ppm_scanner.h"

namespace ppm {
namespace {

// 8-bit values of every sample value the header allows.
std::vector<uint8_t> scale_table(const Header &header) {
    const uint32_t maxval = header.maxval;
    std::vector<uint8_t> table(size_t(maxval) + 1);
    for (uint32_t v = 0; v <= maxval; ++v) table[v] = uint8_t((v * 255u + maxval / 2) / maxval);
    return table;
}

bool cut_short(std::string &error) {
    error = "the file is cut short";
    return false;
}

// Raw PBM: eight pixels a byte, the first in the high bit, 1 black.
bool read_bits(std::FILE *file, const Header &header, uint8_t *pixels, std::string &error) {
    std::vector<uint8_t> row(size_t(header.row_bytes()));
    for (int64_t y = header.height - 1; y >= 0; --y) {
        if (std::fread(row.data(), 1, row.size(), file) != row.size()) return cut_short(error);
        uint8_t *out = pixels + size_t(y) * size_t(header.width);
        for (int32_t x = 0; x < header.width; ++x)
            out[x] = (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
    }
    return true;
}

// Raw PGM, PPM and PAM: one or two bytes (high byte first) a sample.
bool read_binary(std::FILE *file, const Header &header, uint8_t *pixels, std::string &error) {
    const size_t samples = size_t(header.width) * size_t(header.channels);
    if (header.maxval == 255) {
        // Full-range bytes go straight to their place.
        for (int64_t y = header.height - 1; y >= 0; --y)
            if (std::fread(pixels + size_t(y) * samples, 1, samples, file) != samples)
                return cut_short(error);
        return true;
    }
    const std::vector<uint8_t> table = scale_table(header);
    std::vector<uint8_t> row(size_t(header.row_bytes()));
    for (int64_t y = header.height - 1; y >= 0; --y) {
        if (std::fread(row.data(), 1, row.size(), file) != row.size()) return cut_short(error);
        uint8_t *out = pixels + size_t(y) * samples;
        for (size_t i = 0; i < samples; ++i) {
            const uint32_t v =
                header.bytes_per_sample() == 1 ? row[i] : uint32_t(row[2 * i]) << 8 | row[2 * i + 1];
            // Samples above maxval break the format; they read as white.
            out[i] = v <= header.maxval ? table[v] : 255;
        }
    }
    return true;
}

// Plain PBM, PGM and PPM: decimal samples between white space and
// comments; a plain bitmap's 0s and 1s need no space between them.
bool read_text(std::FILE *file, const Header &header, uint8_t *pixels, std::string &error) {
    const std::vector<uint8_t> table = scale_table(header);
    const size_t samples = size_t(header.width) * size_t(header.channels);
    Scanner scanner(file);
    for (int64_t y = header.height - 1; y >= 0; --y) {
        uint8_t *out = pixels + size_t(y) * samples;
        for (size_t i = 0; i < samples; ++i) {
            int64_t value;
            if (header.bitmap) {
                const int c = scanner.skip_space();
                if (c == EOF) return cut_short(error);
                if (c != '0' && c != '1') {
                    error = "a bitmap holds something other than 0 and 1";
                    return false;
                }
                out[i] = c == '1' ? 0 : 255;
                continue;
            }
            if (!scanner.number(value)) {
                if (scanner.skip_space() == EOF) return cut_short(error);
                error = "a sample is not a number";
                return false;
            }
            if (value > int64_t(header.maxval)) {
                error = "a sample is above the maximum value " + std::to_string(header.maxval);
                return false;
            }
            out[i] = table[size_t(value)];
        }
    }
    return true;
}

uint16_t widen(uint32_t v, uint32_t maxval) {
    if (v >= maxval) return 65535;  // samples above maxval break the format; they read as white
    return uint16_t((uint64_t(v) * 65535u + maxval / 2) / maxval);
}

}  // namespace

bool read_raster16(std::FILE *file, const Header &header, uint8_t *top, int64_t stride, std::string &error) {
    const size_t samples = size_t(header.width) * size_t(header.channels);
    if (header.bitmap || header.maxval <= 255) {
        error = "the file holds 8-bit samples";
        return false;
    }
    std::vector<uint8_t> row(header.plain ? 0 : size_t(header.row_bytes()));
    Scanner scanner(file);
    for (int64_t y = 0; y < header.height; ++y) {
        auto *out = reinterpret_cast<uint16_t *>(top + y * stride);
        if (!header.plain) {
            if (std::fread(row.data(), 1, row.size(), file) != row.size()) return cut_short(error);
            for (size_t i = 0; i < samples; ++i)
                out[i] = widen(uint32_t(row[2 * i]) << 8 | row[2 * i + 1], header.maxval);
            continue;
        }
        for (size_t i = 0; i < samples; ++i) {
            int64_t value;
            if (!scanner.number(value)) {
                if (scanner.skip_space() == EOF) return cut_short(error);
                error = "a sample is not a number";
                return false;
            }
            if (value > int64_t(header.maxval)) {
                error = "a sample is above the maximum value " + std::to_string(header.maxval);
                return false;
            }
            out[i] = widen(uint32_t(value), header.maxval);
        }
    }
    return true;
}

bool read_raster(std::FILE *file, const Header &header, uint8_t *pixels, std::string &error) {
    if (header.plain) return read_text(file, header, pixels, error);
    if (header.bitmap) return read_bits(file, header, pixels, error);
    return read_binary(file, header, pixels, error);
}

}  // namespace ppm
