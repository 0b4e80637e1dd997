#include "ffstill_formats.h"

#include <strings.h>

#include <cstring>

namespace ffstill {

namespace {

constexpr StillFormat kFormats[] = {
    {".exr", Kind::exr, "exr", "exr"},
    {".dpx", Kind::dpx, "dpx", "dpx"},
    {".webp", Kind::webp, "webp", "libwebp"},
    {".bmp", Kind::bmp, "bmp", "bmp"},
    {".dib", Kind::bmp, "bmp", "bmp"},
    {".tga", Kind::targa, "targa", "targa"},
    {".jp2", Kind::jpeg2000, "jpeg2000", "jpeg2000"},
    {".j2k", Kind::jpeg2000, "jpeg2000", "jpeg2000"},
    {".j2c", Kind::jpeg2000, "jpeg2000", "jpeg2000"},
    {".sgi", Kind::sgi, "sgi", "sgi"},
    {".rgb", Kind::sgi, "sgi", "sgi"},
    {".bw", Kind::sgi, "sgi", "sgi"},
    {".rgba", Kind::sgi, "sgi", "sgi"},
    {".qoi", Kind::qoi, "qoi", "qoi"},
    {".jxl", Kind::jpegxl, "libjxl", "libjxl"},
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
