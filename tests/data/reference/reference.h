// Plain, pixel-by-pixel versions of the image operations that have fast
// paths: the exactness tests' reference.
#pragma once

#include <cstdint>

#include "dyx_image.h"

namespace orvo_reference {

int scale(dyx_image_t **image_var, const dyx_image_t *templ, uint32_t flags);
int convert(dyx_image_t **image_var, const dyx_image_t *templ);
int togrey(const dyx_image_t *src, dyx_image_t *dest);
int bitblt(const dyx_image_t *src, dyx_image_t *dest, const int32_t src_origin[2], const int32_t src_size[2],
           const int32_t dest_origin[2], const int32_t dest_size[2], int32_t mode, const uint8_t border[4]);

}  // namespace orvo_reference
