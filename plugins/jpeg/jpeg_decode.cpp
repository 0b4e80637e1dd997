#include "jpeg_decode.h"

#include <algorithm>
#include <cstring>

#include "jpeg_errors.h"

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

// Chooses the output colour space for the header just read.
Picture configure_output(jpeg_decompress_struct &info) {
    Picture picture;
    picture.width = int32_t(info.image_width);
    picture.height = int32_t(info.image_height);
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

}  // namespace

bool read_header(std::FILE *file, Picture &picture, std::string &error) {
    Session session;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return false;
    }
    jpeg_create_decompress(&session.info);
    jpeg_stdio_src(&session.info, file);
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
    jpeg_read_header(&session.info, TRUE);
    picture = configure_output(session.info);
    return true;
}

int decode(const uint8_t *data, size_t size, const Picture &expected, uint8_t *pixels, std::string &error) {
    Session session;
    jpeg_decompress_struct &info = session.info;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return kCorrupt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    const Picture picture = configure_output(info);
    if (!same_picture(picture, expected)) {
        error = "the picture is " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                (picture.channels == 1 ? " grey" : " colour") + ", not " + std::to_string(expected.width) +
                "x" + std::to_string(expected.height) + (expected.channels == 1 ? " grey" : " colour");
        return kMismatch;
    }
    jpeg_start_decompress(&info);

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
    jpeg_finish_decompress(&info);
    return kDecoded;
}

}  // namespace jpeg_codec
