// Showing a picture the right way up: the eight orientations of TIFF's
// Orientation tag and of EXIF (the same codes), and the copy that turns a
// stored picture into the one a viewer shows.
//
//   1 as stored             5 transposed (rows become columns)
//   2 mirrored left-right   6 stored a quarter turn anticlockwise: shown turned clockwise
//   3 turned half round     7 transverse (transposed, then turned half round)
//   4 upside down           8 stored a quarter turn clockwise: shown turned anticlockwise
//
// Pictures here are packed rows, the bottom row first, as the host wants
// them; positions below count from the top-left corner.
#ifndef UDIL_SDK_ORIENTATION_H
#define UDIL_SDK_ORIENTATION_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "udil_sdk.h"

namespace udil_sdk {

// The reader option every plug-in with orientation data declares: choice
// 0 shows pictures the right way up, 1 gives the rows as stored.
constexpr const char *kOrientationOption = "orientation";
constexpr const char *kOrientationRange = "display|stored";

// True when the reader options ask for the rows as stored.
inline bool keeps_stored_orientation(const Options &options) {
    return options.integer(kOrientationOption, 0) == 1;
}

inline bool is_orientation(int orientation) { return orientation >= 1 && orientation <= 8; }

// Orientations 5 to 8 show the stored rows as columns.
inline bool swaps_sides(int orientation) { return orientation >= 5 && orientation <= 8; }

// The shown size of a stored `width` x `height` picture.
inline void shown_size(int orientation, int32_t width, int32_t height, int32_t &shown_width,
                       int32_t &shown_height) {
    shown_width = swaps_sides(orientation) ? height : width;
    shown_height = swaps_sides(orientation) ? width : height;
}

// The stored position (x, y) of the shown pixel (column, row); `width` and
// `height` are the stored size.
inline void stored_position(int orientation, int64_t width, int64_t height, int64_t column, int64_t row,
                            int64_t &x, int64_t &y) {
    switch (orientation) {
        case 2:
            x = width - 1 - column, y = row;
            break;
        case 3:
            x = width - 1 - column, y = height - 1 - row;
            break;
        case 4:
            x = column, y = height - 1 - row;
            break;
        case 5:
            x = row, y = column;
            break;
        case 6:
            x = row, y = height - 1 - column;
            break;
        case 7:
            x = width - 1 - row, y = height - 1 - column;
            break;
        case 8:
            x = width - 1 - row, y = column;
            break;
        default:
            x = column, y = row;
            break;
    }
}

// Copies the stored picture (`width` x `height` pixels of `pixel_bytes`)
// into `shown` as a viewer shows it; `shown` holds as many bytes and must
// not overlap `stored`.
inline void orient_picture(const uint8_t *stored, int32_t width, int32_t height, size_t pixel_bytes,
                           int orientation, uint8_t *shown) {
    int32_t shown_width = 0, shown_height = 0;
    shown_size(orientation, width, height, shown_width, shown_height);
    // Byte offset of a stored position in the bottom-up buffer.
    auto offset = [&](int64_t x, int64_t y) {
        return ((height - 1 - y) * int64_t(width) + x) * int64_t(pixel_bytes);
    };
    for (int64_t row = 0; row < shown_height; ++row) {
        // Along a shown row the stored position moves by a fixed step.
        int64_t x0, y0, x1, y1;
        stored_position(orientation, width, height, 0, row, x0, y0);
        stored_position(orientation, width, height, 1, row, x1, y1);
        const int64_t step = offset(x1, y1) - offset(x0, y0);
        int64_t source = offset(x0, y0);
        uint8_t *target = shown + (shown_height - 1 - row) * int64_t(shown_width) * int64_t(pixel_bytes);
        for (int64_t column = 0; column < shown_width; ++column, source += step, target += pixel_bytes)
            std::memcpy(target, stored + source, pixel_bytes);
    }
}

}  // namespace udil_sdk

#endif
