#include "png_decode.h"

#include <sys/stat.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace png_codec {
namespace {

// libpng reports a fatal error here; the message is kept and control jumps
// back to the setjmp of the operation that was running.
[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    char *message = static_cast<char *>(png_get_error_ptr(png));
    if (message != nullptr) std::snprintf(message, 256, "%s", text ? text : "unknown libpng error");
    png_longjmp(png, 1);
}

// Ancillary-chunk complaints (bad gamma, odd profiles) do not stop a read.
void on_warning(png_structp, png_const_charp) {}

// libpng's own reader says only "Read Error"; this one says what happened.
void read_from_file(png_structp png, png_bytep data, size_t length) {
    auto *file = static_cast<std::FILE *>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) != length)
        png_error(png, std::ferror(file) ? "the file could not be read" : "the file is cut short");
}

// A PNG stream held in memory, read by libpng.
struct MemorySource {
    const std::string *bytes;
    size_t position;
};

void read_from_memory(png_structp png, png_bytep data, size_t length) {
    auto *source = static_cast<MemorySource *>(png_get_io_ptr(png));
    if (source->bytes->size() - source->position < length) png_error(png, "the file is cut short");
    std::memcpy(data, source->bytes->data() + source->position, length);
    source->position += length;
}

// Ancillary chunks are not used here: they may not make libpng allocate
// more than this for one chunk (decompressed text and profiles included),
// nor keep more than so many of them.
constexpr png_alloc_size_t kLargestAncillaryChunk = 8u << 20;
constexpr png_uint_32 kAncillaryChunksKept = 256;

void limit_ancillary_chunks(png_structp png) {
    png_set_chunk_malloc_max(png, kLargestAncillaryChunk);
    png_set_chunk_cache_max(png, kAncillaryChunksKept);
}

// Asks libpng for 8-bit samples of the file's own channels: palettes as
// RGB, grey below 8 bits widened, 16 bits scaled with rounding, tRNS as
// an alpha channel, interlaced rows put together.
void request_8bit_samples(png_structp png, png_infop info, bool keep_16 = false) {
    const int color_type = png_get_color_type(png, info);
    const int bit_depth = png_get_bit_depth(png, info);
    if (bit_depth == 16 && !keep_16) png_set_scale_16(png);
    // PNG keeps 16-bit samples big-endian; callers get the machine's order.
    if (bit_depth == 16 && keep_16 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) png_set_swap(png);
    if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_interlace_handling(png);
}

}  // namespace

bool decode_rgba(const std::string &stream, uint32_t width, uint32_t height, uint8_t *rgba,
                 std::string &error) {
    std::vector<png_bytep> rows(height);
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = rgba + y * size_t(width) * 4;
    char message[256] = "";
    MemorySource source{&stream, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, message, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        if (png != nullptr) png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = message[0] ? message : "unknown libpng error";
        return false;
    }
    limit_ancillary_chunks(png);
    png_set_read_fn(png, &source, read_from_memory);
    png_read_info(png, info);
    request_8bit_samples(png, info);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (png_get_image_width(png, info) != width || png_get_image_height(png, info) != height ||
        png_get_rowbytes(png, info) != size_t(width) * 4)
        png_error(png, "unsupported PNG layout");
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void Decoder::close() {
    if (png_ != nullptr) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    png_ = nullptr;
    info_ = nullptr;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    width_ = height_ = channels_ = 0;
    consumed_ = false;
    layout_ = Layout();
}

bool Decoder::fail(std::string &error) {
    error = message_[0] ? message_ : "unknown libpng error";
    close();
    return false;
}

bool Decoder::open(const char *path, std::string &error, bool deep) {
    close();
    message_[0] = '\0';
    file_ = std::fopen(path, "rb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file_) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0) {
        close();
        error = "not a PNG file";
        return false;
    }
    // Every chunk is checked against the file's size before libpng, which
    // would allocate what a chunk claims before finding the file too short.
    struct stat status;
    error.clear();
    if (fstat(fileno(file_), &status) != 0 || !scan_layout(file_, int64_t(status.st_size), layout_, error)) {
        if (error.empty()) error = std::strerror(errno);
        close();
        return false;
    }
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, message_, on_error, on_warning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
    if (png_ == nullptr || info_ == nullptr) {
        close();
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png_))) return fail(error);

    limit_ancillary_chunks(png_);
    png_set_read_fn(png_, file_, read_from_file);
    png_set_sig_bytes(png_, sizeof signature);
    png_read_info(png_, info_);
    file_bits_ = png_get_bit_depth(png_, info_) == 16 ? 16 : 8;
    request_8bit_samples(png_, info_, deep);
    png_read_update_info(png_, info_);
    sample_bits_ = png_get_bit_depth(png_, info_);

    const uint32_t width = png_get_image_width(png_, info_);
    const uint32_t height = png_get_image_height(png_, info_);
    const int channels = png_get_channels(png_, info_);
    // libpng's own limits keep the size within 1000000 x 1000000; the
    // checks below guard the arithmetic of read() anyway.
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX || channels < 1 ||
        channels > 4 || (sample_bits_ != 8 && sample_bits_ != 16) ||
        png_get_rowbytes(png_, info_) != size_t(width) * size_t(channels) * size_t(sample_bits_ / 8)) {
        std::snprintf(message_, sizeof message_, "unsupported PNG layout");
        return fail(error);
    }
    width_ = int32_t(width);
    height_ = int32_t(height);
    channels_ = channels;
    return true;
}

bool Decoder::read(uint8_t *pixels, std::string &error) {
    // The file's top row lands in the buffer's last row.
    const int64_t row_bytes = int64_t(width_) * channels_ * (sample_bits_ / 8);
    return read_rows(pixels + (int64_t(height_) - 1) * row_bytes, -row_bytes, error);
}

bool Decoder::read_rows(uint8_t *top, int64_t stride, std::string &error) {
    if (png_ == nullptr || consumed_) {
        error = "no PNG file is open";
        return false;
    }
    consumed_ = true;
    std::vector<png_bytep> rows(static_cast<size_t>(height_));
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = top + int64_t(y) * stride;
    if (setjmp(png_jmpbuf(png_))) return fail(error);
    png_read_image(png_, rows.data());
    // Reading to IEND checks the last chunks' CRCs, so a cut file is refused.
    png_read_end(png_, nullptr);
    return true;
}

}  // namespace png_codec
