#include "jpeg_encode.h"

#include <algorithm>
#include <cstring>

#include "jpeg_errors.h"

namespace jpeg_codec {
namespace {

struct Session {
    jpeg_compress_struct info;
    ErrorJump errors;

    Session() {
        std::memset(&info, 0, sizeof info);
        errors.install(*reinterpret_cast<j_common_ptr>(&info), false);
    }
    ~Session() { jpeg_destroy_compress(&info); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

// Luma sampling factors for each subsampling; chroma stays at 1 x 1.
void set_sampling(jpeg_compress_struct &info, Subsampling subsampling) {
    info.comp_info[0].h_samp_factor = subsampling == k444 ? 1 : 2;
    info.comp_info[0].v_samp_factor = subsampling == k420 ? 2 : 1;
    for (int c = 1; c < 3; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
}

}  // namespace

bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error) {
    if (width < 1 || height < 1 || (channels != 1 && channels != 3)) {
        error = "invalid picture size or format";
        return false;
    }
    Session session;
    jpeg_compress_struct &info = session.info;
    if (setjmp(session.errors.jump)) {
        error = session.errors.message;
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = channels;
    info.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::clamp(settings.quality, 1, 100), TRUE);
    if (channels == 3) set_sampling(info, settings.subsampling);
    info.optimize_coding = settings.optimize ? TRUE : FALSE;
    if (settings.progressive) jpeg_simple_progression(&info);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&info, TRUE);

    // Rows go out top first, that is from the buffer's last row down.
    const size_t row_bytes = size_t(width) * size_t(channels);
    constexpr JDIMENSION kBatch = 16;
    JSAMPROW rows[kBatch];
    while (info.next_scanline < info.image_height) {
        const JDIMENSION count = std::min(kBatch, info.image_height - info.next_scanline);
        for (JDIMENSION k = 0; k < count; ++k)
            rows[k] =
                const_cast<JSAMPROW>(pixels + (size_t(height) - 1 - (info.next_scanline + k)) * row_bytes);
        if (jpeg_write_scanlines(&info, rows, count) == 0) {
            error = "the encoder stopped early";
            return false;
        }
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace jpeg_codec
