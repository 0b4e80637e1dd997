// Reading the pages of a TIFF into 8-bit A, L, LA, RGB or RGBA.
#pragma once

#include <cstdint>
#include <string>

#include "tiff_file.h"
#include "tiff_lab.h"

namespace tiff_codec {

// What the picture becomes in memory.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;     // 1..4: L (or A), LA, RGB, RGBA
    bool alpha_only = false;  // one sample marked as alpha: format A
};

// 8- and 16-bit unsigned grey, RGB or Lab pictures, in strips or tiles,
// with contiguous or separate planes, are read chunk by chunk into the
// buffer; extra samples after the colours become alpha (the first one) or
// are dropped. Lab becomes sRGB; 16-bit premultiplied colours are divided
// by their alpha before they are cut to 8 bits. Everything else libtiff can show (palettes, bilevel,
// CMYK, uncompressed YCbCr ...) goes through libtiff's RGBA reader.
class Decoder {
public:
    // Opens `path`, counts its pages (directories) and works out how to
    // read the first one.
    bool open(const char *path, std::string &error);
    // Makes page `page` (0 is the first) the one picture() describes and
    // read() decodes. false: no such page, or one that cannot be read.
    bool select_page(int32_t page, std::string &error);
    int32_t page_count() const { return page_count_; }
    // Decodes into `pixels`: packed rows, the bottom row first, turned the
    // right way up by the Orientation tag unless the stored rows are asked for.
    bool read(uint8_t *pixels, std::string &error);
    void close() { file_.close(); }
    // Asked before open(): give the rows as stored, not as shown.
    void keep_stored_orientation(bool stored) { keep_stored_ = stored; }

    bool is_open() const { return file_.get() != nullptr; }
    // Whether read() turns the current page by its Orientation tag.
    bool turns_page() const { return orientation_ != 1; }
    // The open file, its current page the one select_page chose.
    TiffFile &file() { return file_; }
    // The picture as read() delivers it (its shown size).
    Picture picture() const;

private:
    bool read_stored(uint8_t *pixels, std::string &error);
    bool analyse(std::string &error);
    bool make_room(int32_t page, std::string &error);
    bool read_chunks(uint8_t *pixels, std::string &error);
    template <typename Sample>
    bool decode_chunks(Sample *pixels, std::string &error);
    void convert_wide(const uint16_t *samples, uint8_t *pixels) const;
    bool read_through_rgba(uint8_t *pixels, std::string &error);
    void finish(uint8_t *pixels) const;
    bool refuse(std::string &error, const std::string &reason);

    TiffFile file_;
    std::string path_;
    Picture picture_;
    uint16_t samples_per_pixel_ = 1;
    uint16_t bits_ = 8;
    bool separate_planes_ = false;
    bool tiled_ = false;
    bool through_rgba_ = false;
    bool min_is_white_ = false;
    bool premultiplied_ = false;
    bool wide_ = false;
    int32_t float_sample_ = 0;  // UDIL_SAMPLE_F16 or _F32 for a page of floats, else 0  // decoded at the
                                // stored precision, then converted
    uint16_t lab_ = 0;          // PHOTOMETRIC_CIELAB or _ICCLAB for Lab pictures, else 0
    LabToRgb lab_to_rgb_;
    int32_t page_count_ = 0;
    int32_t page_ = -1;  // the analysed page; -1 after a failure
    bool keep_stored_ = false;
    int orientation_ = 1;  // applied by read(): 1 when the stored rows are given
};

}  // namespace tiff_codec
