#include "png_encode.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace png_codec {
namespace {

[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    char *message = static_cast<char *>(png_get_error_ptr(png));
    if (message != nullptr) std::snprintf(message, 256, "%s", text ? text : "unknown libpng error");
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

int color_type_of(int32_t channels) {
    switch (channels) {
        case 1:
            return PNG_COLOR_TYPE_GRAY;
        case 2:
            return PNG_COLOR_TYPE_GRAY_ALPHA;
        case 3:
            return PNG_COLOR_TYPE_RGB;
        default:
            return PNG_COLOR_TYPE_RGB_ALPHA;
    }
}

// Releases the write structures however encode() ends.
struct WriteStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteStruct() {
        if (png != nullptr) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

// Big IDAT chunks: fewer chunk headers and CRC passes than libpng's 8 KiB.
constexpr size_t kIdatBytes = 256 * 1024;

}  // namespace

bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height, int32_t channels,
            const EncodeSettings &settings, std::string &error) {
    // Rows in file order: the top row is the buffer's last one.
    const int64_t row_bytes = int64_t(width) * channels;
    const uint8_t *top = height > 0 ? pixels + (int64_t(height) - 1) * row_bytes : pixels;
    return encode_rows(file, top, -row_bytes, width, height, channels, 8, settings, error);
}

bool encode_rows(std::FILE *file, const uint8_t *top, int64_t stride, int32_t width, int32_t height,
                 int32_t channels, int bit_depth, const EncodeSettings &settings, std::string &error) {
    if (width < 1 || height < 1 || channels < 1 || channels > 4 || (bit_depth != 8 && bit_depth != 16)) {
        error = "invalid picture size or format";
        return false;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<png_bytep>(top + int64_t(y) * stride);

    char message[256] = "";
    WriteStruct write;
    write.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, on_error, on_warning);
    if (write.png != nullptr) write.info = png_create_info_struct(write.png);
    if (write.png == nullptr || write.info == nullptr) {
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(write.png))) {
        error = message[0] ? message : "unknown libpng error";
        return false;
    }
    png_init_io(write.png, file);
    png_set_IHDR(write.png, write.info, png_uint_32(width), png_uint_32(height), bit_depth,
                 color_type_of(channels), settings.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(write.png, settings.level);
    png_set_compression_strategy(write.png, settings.strategy);
    png_set_filter(write.png, PNG_FILTER_TYPE_BASE, settings.filters);
    png_set_compression_buffer_size(write.png, kIdatBytes);
    png_write_info(write.png, write.info);
    // PNG keeps 16-bit samples big-endian.
    if (bit_depth == 16 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) png_set_swap(write.png);
    png_write_image(write.png, rows.data());
    png_write_end(write.png, write.info);
    return true;
}

}  // namespace png_codec
