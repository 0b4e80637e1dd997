#include "ffstill_formats.h"

#include <strings.h>

#include <cstring>

namespace ffstill {

namespace {

// OpenEXR holds half and float samples; the other deep formats 16-bit
// integers (FFmpeg's encoders take rgb48, rgba64 and gray16 pictures).
constexpr int32_t kFloats = UDIL_SAMPLE_F16 | UDIL_SAMPLE_F32;
constexpr int32_t kU16 = UDIL_SAMPLE_U16;

constexpr StillFormat kFormats[] = {
    {".exr", Kind::exr, "exr", "exr", "exr", kFloats},
    {".dpx", Kind::dpx, "dpx", "dpx", "dpx", kU16},
    {".webp", Kind::webp, "webp", "libwebp", "webp", 0},
    {".bmp", Kind::bmp, "bmp", "bmp", "bmp", 0},
    {".dib", Kind::bmp, "bmp", "bmp", "bmp", 0},
    {".tga", Kind::targa, "targa", "targa", "targa", 0},
    {".jp2", Kind::jpeg2000, "jpeg2000", "jpeg2000", "jpeg2000", kU16},
    {".j2k", Kind::jpeg2000, "jpeg2000", "jpeg2000", "jpeg2000", kU16},
    {".j2c", Kind::jpeg2000, "jpeg2000", "jpeg2000", "jpeg2000", kU16},
    {".sgi", Kind::sgi, "sgi", "sgi", "sgi", kU16},
    {".rgb", Kind::sgi, "sgi", "sgi", "sgi", kU16},
    {".bw", Kind::sgi, "sgi", "sgi", "sgi", kU16},
    {".rgba", Kind::sgi, "sgi", "sgi", "sgi", kU16},
    {".qoi", Kind::qoi, "qoi", "qoi", "qoi", 0},
    {".jxl", Kind::jpegxl, "libjxl", "libjxl", "jpegxl", kU16},
};

}  // namespace

const StillFormat *format_of(const char *path) {
    if (path == nullptr) return nullptr;
    const size_t length = std::strlen(path);
    for (const StillFormat &format : kFormats) {
        const size_t suffix_length = std::strlen(format.suffix);
        if (suffix_length <= length && strcasecmp(path + length - suffix_length, format.suffix) == 0)
            return &format;
    }
    return nullptr;
}

}  // namespace ffstill
