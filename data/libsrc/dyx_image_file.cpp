// Hands image records to and from a host's image-file reader and writer.
#include <cstdint>

#include "dyx_image.h"
#include "dyx_malloc.h"

extern "C" {

int dyx_image_to_file(const dyx_image_t *image, const dyx_image_file_ops *ops, void *file, int32_t index) {
    int32_t status =
        ops->write_image(file, index, static_cast<int32_t>(image->width), static_cast<int32_t>(image->height),
                         image->format, image->depth, image->data, image->depth_data);
    if (status != 0) return status;
    status = ops->set_attribute_count(file, index, 1);
    if (status != 0) return status;
    const int32_t rect[4] = {image->valid_x_min, image->valid_y_min, image->valid_x_max, image->valid_y_max};
    return ops->write_attribute(file, index, DYX_IMAGE_ATTR_VALID_RECT, 0, rect);
}

dyx_image_t *dyx_image_from_file(const dyx_image_file_ops *ops, void *file, int32_t index) {
    int32_t width = 0, height = 0, format = 0, depth = 0;
    if (ops->read_header(file, index, &width, &height, &format, &depth) != 0) return nullptr;
    // A negative size from the host would turn into a huge unsigned one.
    if (width < 0 || height < 0) {
        dyx_error("dyx_image_from_file: bad image size %d x %d\n", width, height);
        return nullptr;
    }

    const int32_t attributes = ops->attribute_count(file, index);
    if (attributes > 1) {
        dyx_error("dyx_image_from_file: more than 1 attribute!\n");
        return nullptr;
    }
    int32_t rect[4] = {0, 0, 100, 100};
    if (attributes == 1 && ops->read_attribute(file, index, 0, rect) != 0) return nullptr;

    dyx_image_t *image =
        dyx_image_alloc(static_cast<uint32_t>(width), static_cast<uint32_t>(height), depth, format);
    if (image == nullptr) return nullptr;
    if (attributes == 1) {
        image->valid_x_min = rect[0];
        image->valid_y_min = rect[1];
        image->valid_x_max = rect[2];
        image->valid_y_max = rect[3];
    }
    // An empty image has no buffers for the host to fill.
    if (image->data != nullptr && ops->read_pixels(file, index, image->data) != 0) {
        dyx_image_free(&image);
        return nullptr;
    }
    if (image->depth_data != nullptr && ops->read_depth(file, index, image->depth_data) != 0) {
        dyx_image_free(&image);
        return nullptr;
    }
    return image;
}

}  // extern "C"
