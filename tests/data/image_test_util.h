// Helpers shared by the image tests: owning pointers and filled images.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dyx_image.h"

namespace image_testing {

using Bytes = std::vector<uint8_t>;

struct ImageDeleter {
    void operator()(dyx_image_t *image) const { dyx_image_free(&image); }
};
using ImagePtr = std::unique_ptr<dyx_image_t, ImageDeleter>;

// The start-up creates the pool; tests do the same before allocating.
inline ImagePtr make_image(uint32_t width, uint32_t height, int32_t format, int32_t depth = 0) {
    dyx_image_pool_create(8);
    return ImagePtr(dyx_image_alloc(width, height, depth, format));
}

inline ImagePtr make_image(uint32_t width, uint32_t height, int32_t format, const Bytes &bytes) {
    ImagePtr image = make_image(width, height, format);
    if (image && !bytes.empty()) std::memcpy(image->data, bytes.data(), bytes.size());
    return image;
}

inline Bytes bytes_of(const dyx_image_t *image) {
    const uint8_t *data = image->data;
    return Bytes(data, data + dyx_image_data_size(image));
}

inline void fill_random(dyx_image_t *image, std::mt19937 &random) {
    const uint64_t size = dyx_image_data_size(image);
    for (uint64_t n = 0; n < size; ++n) image->data[n] = static_cast<uint8_t>(random());
}

// Replaces the image in a holder by what an in-place operation produced.
template <typename Operation>
int apply(ImagePtr &image, Operation operation) {
    dyx_image_t *raw = image.release();
    const int status = operation(&raw);
    image.reset(raw);
    return status;
}

}  // namespace image_testing
