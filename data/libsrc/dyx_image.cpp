// Image buffer records: the image pool, allocation and release, the free
// callback, header comparison.
#include "dyx_image.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "dyx_malloc.h"
#include "dyx_mpool.h"
#include "dyx_status.h"

namespace {

constexpr const char kSourceName[] = "data/libsrc/dyx_image";

// Records per chunk when the first allocation finds no pool.
constexpr uint32_t kDefaultPerChunk = 8;

// The process-wide image pool; all zero until dyx_image_pool_create. The
// handle is atomic because allocation may come from any thread and may
// have to create the pool itself.
struct ImagePool {
    uint32_t per_chunk = 0;
    uint32_t element_size = 0;
    std::atomic<dyx_mpool_t *> pool{nullptr};
};
ImagePool image_pool;
std::mutex pool_creation;

int create_pool_locked(uint32_t per_chunk) {
    if (image_pool.pool.load() != nullptr) return DYX_OK;
    dyx_mpool_t *pool = dyx_mpool_create(sizeof(dyx_image_t), static_cast<int32_t>(per_chunk));
    if (pool == nullptr) return DYX_NO_MEMORY;
    image_pool.per_chunk = per_chunk;
    image_pool.element_size = sizeof(dyx_image_t);
    image_pool.pool.store(pool);
    return DYX_OK;
}

// The pool, created on first use when start-up did not create it.
dyx_mpool_t *current_pool() {
    dyx_mpool_t *pool = image_pool.pool.load();
    if (pool != nullptr) return pool;
    std::lock_guard<std::mutex> lock(pool_creation);
    create_pool_locked(kDefaultPerChunk);
    return image_pool.pool.load();
}

// The free callback copied into every new record.
dyx_image_free_cb default_free_cb = nullptr;
void *default_free_cb_data = nullptr;

// Byte count of count * unit, or false when it cannot be addressed.
bool checked_bytes(uint64_t pixels, uint64_t unit, uint64_t *bytes) {
    if (unit != 0 && pixels > static_cast<uint64_t>(PTRDIFF_MAX) / unit) return false;
    *bytes = pixels * unit;
    return true;
}

}  // namespace

extern "C" {

int dyx_image_pool_create(uint32_t per_chunk) {
    std::lock_guard<std::mutex> lock(pool_creation);
    return create_pool_locked(per_chunk);
}

int dyx_image_pool_destroy(void) {
    std::lock_guard<std::mutex> lock(pool_creation);
    dyx_mpool_t *pool = image_pool.pool.exchange(nullptr);
    if (pool != nullptr) dyx_mpool_destroy(&pool);
    image_pool.per_chunk = 0;
    image_pool.element_size = 0;
    return DYX_OK;
}

int dyx_image_format_components(int32_t format) {
    switch (format) {
        case DYX_IMG_FMT_A:
        case DYX_IMG_FMT_L:
            return 1;
        case DYX_IMG_FMT_LA:
            return 2;
        case DYX_IMG_FMT_RGB:
            return 3;
        case DYX_IMG_FMT_RGBA:
            return 4;
        default:
            return 0;
    }
}

int dyx_image_color_components_per_pixel(const dyx_image_t *image) {
    return image == nullptr ? 0 : dyx_image_format_components(image->format);
}

uint64_t dyx_image_data_size(const dyx_image_t *image) {
    if (image == nullptr) return 0;
    return static_cast<uint64_t>(image->width) * image->height *
           static_cast<uint64_t>(dyx_image_color_components_per_pixel(image));
}

dyx_image_t *dyx_image_alloc(uint32_t width, uint32_t height, int32_t depth, int32_t format) {
    dyx_mpool_t *pool = current_pool();
    if (pool == nullptr) return nullptr;
    auto *image = static_cast<dyx_image_t *>(dyx_mpool_alloc(pool));
    if (image == nullptr) return nullptr;

    image->width = width;
    image->height = height;
    image->valid_x_min = 0;
    image->valid_y_min = 0;
    image->valid_x_max = static_cast<int32_t>(width) - 1;
    image->valid_y_max = static_cast<int32_t>(height) - 1;
    image->format = format;
    image->depth = depth;
    image->data = nullptr;
    image->depth_data = nullptr;
    image->aux_data = nullptr;
    // Taken now so that a half-built record released below runs it too.
    image->free_cb = default_free_cb;
    image->free_cb_data = default_free_cb_data;

    // The pixel count is formed in 64 bits: a 32-bit product would wrap and
    // allocate a short buffer that every later loop overruns.
    const uint64_t pixel_count = static_cast<uint64_t>(width) * height;
    if (pixel_count != 0) {
        const int components = dyx_image_format_components(format);
        if (components == 0) {
            dyx_error("dyx_image_alloc: bad pixelFormat\n");
            dyx_mpool_free(pool, image);
            return nullptr;
        }
        uint64_t pixel_bytes = 0;
        uint64_t depth_bytes = 0;
        if (!checked_bytes(pixel_count, static_cast<uint64_t>(components), &pixel_bytes) ||
            (depth != 0 && !checked_bytes(pixel_count, sizeof(float), &depth_bytes))) {
            dyx_error("dyx_image_alloc: %u x %u pixels do not fit in memory\n", width, height);
            dyx_mpool_free(pool, image);
            return nullptr;
        }
        dyx_malloc("dyx_image_alloc", &image->data, pixel_bytes, __LINE__, kSourceName);
        if (image->data != nullptr && depth != 0)
            dyx_malloc("dyx_image_alloc", &image->depth_data, depth_bytes, __LINE__, kSourceName);
        if (image->data == nullptr || (depth != 0 && image->depth_data == nullptr)) {
            dyx_image_free(&image);
            return nullptr;
        }
    }
    return image;
}

void dyx_image_free(dyx_image_t **image_var) {
    if (image_var == nullptr || *image_var == nullptr) return;
    dyx_image_t *image = *image_var;
    if (image->aux_data != nullptr) {
        dyx_free(image->aux_data, __LINE__, kSourceName);
        image->aux_data = nullptr;
    }
    if (image->depth_data != nullptr) {
        dyx_free(image->depth_data, __LINE__, kSourceName);
        image->depth_data = nullptr;
    }
    if (image->data != nullptr) {
        dyx_free(image->data, __LINE__, kSourceName);
        image->data = nullptr;
    }
    if (image->free_cb != nullptr) image->free_cb(image);
    dyx_mpool_t *pool = image_pool.pool.load();
    if (pool != nullptr) dyx_mpool_free(pool, image);
    *image_var = nullptr;
}

void dyx_image_set_freeCB(dyx_image_free_cb cb, void *data, dyx_image_free_cb *old_cb, void **old_data) {
    if (old_cb != nullptr) *old_cb = default_free_cb;
    if (old_data != nullptr) *old_data = default_free_cb_data;
    default_free_cb = cb;
    default_free_cb_data = data;
}

int dyx_image_hdr_diff(const dyx_image_t *a, const dyx_image_t *b, uint32_t flags) {
    if (flags & DYX_IMAGE_HDR_SIZE) {
        if (a->width != b->width) return 1;
        if (a->height != b->height) return 1;
    }
    if ((flags & DYX_IMAGE_HDR_FORMAT) && a->format != b->format) return 1;
    if ((flags & DYX_IMAGE_HDR_DEPTH) && ((a->depth != 0) != (b->depth != 0))) return 1;
    return 0;
}

}  // extern "C"
