// The orientation a camera records in a JPEG's Exif block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jpeg_codec {

// The Orientation (1 to 8) of IFD0 in the payload of an APP1 marker
// (`data`, `size` bytes, starting "Exif\0\0"); 1 when the payload is no
// Exif block, holds no orientation or a value out of range. Reads nothing
// outside the payload.
int exif_orientation(const uint8_t *data, size_t size);

// Whether the payload of an APP1 marker is an Exif block ("Exif\0\0").
bool is_exif_block(const uint8_t *data, size_t size);

}  // namespace jpeg_codec
