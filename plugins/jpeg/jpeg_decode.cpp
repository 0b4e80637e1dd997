#include "jpeg_decode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "jpeg_errors.h"
#include "jpeg_exif.h"
#include "udil_sdk_orientation.h"

namespace jpeg_codec {
namespace {

// A decompressor that is always destroyed, also after an error jump.
struct Session {
    jpeg_decompress_struct info;
    ErrorJump errors;

    Session() {
        std::memset(&info, 0, sizeof info);
        errors.install(*reinterpret_cast<j_common_ptr>(&info), true);
    }
    ~Session() { jpeg_destroy_decompress(&info); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

// An APP1 marker holds at most 64 KiB; libjpeg keeps the ones it meets, so
// what is kept never exceeds the file itself.
constexpr unsigned kLargestApp1 = 0xFFFF;

void keep_app1_markers(jpeg_decompress_struct &info) {
    jpeg_save_markers(&info, JPEG_APP0 + 1, kLargestApp1);
}

// The orientation of the first Exif block among the kept markers.
int recorded_orientation(const jpeg_decompress_struct &info) {
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && is_exif_block(marker->data, marker->data_length))
            return exif_orientation(marker->data, marker->data_length);
    }
    return 1;
}

// Chooses the output colour space for the header just read.
Picture configure_output(jpeg_decompress_struct &info) {
    Picture picture;
    picture.width = int32_t(info.image_width);
    picture.height = int32_t(info.image_height);
    picture.orientation = recorded_orientation(info);
    switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE:
            info.out_color_space = JCS_GRAYSCALE;
            picture.channels = 1;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            // libjpeg gives CMYK; the conversion to RGB is ours (cmyk_to_rgb).
            info.out_color_space = JCS_CMYK;
            picture.channels = 3;
            break;
        default:
            info.out_color_space = JCS_RGB;
            picture.channels = 3;
            break;
    }
    info.dct_method = JDCT_ISLOW;
    return picture;
}

// Adobe applications store CMYK inverted (0 is full ink); others store it
// plainly. Either way R = (1 - C)(1 - K) on the ink amounts.
void cmyk_to_rgb(const JSAMPLE *in, uint8_t *out, int32_t width, bool inverted) {
    for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned v = inverted ? in[c] : 255u - in[c];
            out[c] = uint8_t((v * k + 127) / 255);
        }
    }
}

bool same_picture(const Picture &a, const Picture &b) {
    return a.width == b.width && a.height == b.height && a.channels == b.channels;
}

// Decodes the started decompression into `pixels` (the stored rows).
int read_rows(jpeg_decompress_struct &info, const Picture &picture, uint8_t *pixels, std::string &error) {
    const size_t row_bytes = size_t(picture.width) * size_t(picture.channels);
    const size_t height = size_t(picture.height);
    if (info.out_color_space != JCS_CMYK) {
        // Straight into the buffer, several rows per call, the top row last.
        constexpr JDIMENSION kBatch = 16;
        JSAMPROW rows[kBatch];
        while (info.output_scanline < info.output_height) {
            const JDIMENSION count = std::min(kBatch, info.output_height - info.output_scanline);
            for (JDIMENSION k = 0; k < count; ++k)
                rows[k] = pixels + (height - 1 - (info.output_scanline + k)) * row_bytes;
            if (jpeg_read_scanlines(&info, rows, count) == 0) {
                error = "the decoder stopped early";
                return kCorrupt;
            }
        }
    } else {
        // The row buffer comes from libjpeg's pool, released with the session.
        JSAMPARRAY cmyk = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                    info.output_width * 4, 1);
        const bool inverted = info.saw_Adobe_marker != 0;
        while (info.output_scanline < info.output_height) {
            uint8_t *out = pixels + (height - 1 - info.output_scanline) * row_bytes;
            if (jpeg_read_scanlines(&info, cmyk, 1) != 1) {
                error = "the decoder stopped early";
                return kCorrupt;
            }
            cmyk_to_rgb(cmyk[0], out, picture.width, inverted);
        }
    }
    return kDecoded;
}

}  // namespace

Picture shown_picture(const Picture &stored, bool keep_stored) {
    Picture shown = stored;
    shown.orientation = keep_stored ? 1 : stored.orientation;
    udil_sdk::shown_size(shown.orientation, stored.width, stored.height, shown.width, shown.height);
    return shown;
}

bool read_header(std::FILE *file, Picture &picture, std::string &error) {
    Session session;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return false;
    }
    jpeg_create_decompress(&session.info);
    jpeg_stdio_src(&session.info, file);
    keep_app1_markers(session.info);
    jpeg_read_header(&session.info, TRUE);
    picture = configure_output(session.info);
    return true;
}

bool read_header(const uint8_t *data, size_t size, Picture &picture, std::string &error) {
    Session session;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return false;
    }
    jpeg_create_decompress(&session.info);
    jpeg_mem_src(&session.info, data, static_cast<unsigned long>(size));
    keep_app1_markers(session.info);
    jpeg_read_header(&session.info, TRUE);
    picture = configure_output(session.info);
    return true;
}

int decode(const uint8_t *data, size_t size, const Picture &expected, bool keep_stored, uint8_t *pixels,
           std::string &error) {
    Session session;
    // Made before the error jump's target so the jump skips no destructor.
    std::vector<uint8_t> stored_rows;
    jpeg_decompress_struct &info = session.info;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return kCorrupt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    keep_app1_markers(info);
    jpeg_read_header(&info, TRUE);
    const Picture picture = configure_output(info);
    const Picture shown = shown_picture(picture, keep_stored);
    if (!same_picture(shown, expected)) {
        error = "the picture is " + std::to_string(shown.width) + "x" + std::to_string(shown.height) +
                (shown.channels == 1 ? " grey" : " colour") + ", not " + std::to_string(expected.width) +
                "x" + std::to_string(expected.height) + (expected.channels == 1 ? " grey" : " colour");
        return kMismatch;
    }
    jpeg_start_decompress(&info);
    if (shown.orientation == 1) {
        const int status = read_rows(info, picture, pixels, error);
        if (status != kDecoded) return status;
    } else {
        // Decoded as stored, then turned in one copy.
        stored_rows.resize(size_t(picture.width) * size_t(picture.height) * size_t(picture.channels));
        const int status = read_rows(info, picture, stored_rows.data(), error);
        if (status != kDecoded) return status;
        udil_sdk::orient_picture(stored_rows.data(), picture.width, picture.height, size_t(picture.channels),
                                 shown.orientation, pixels);
    }
    jpeg_finish_decompress(&info);
    return kDecoded;
}

}  // namespace jpeg_codec
