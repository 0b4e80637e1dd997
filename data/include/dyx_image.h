/* Image buffers: the one in-memory picture of the library.
 *
 * Pixel formats are single bits so that a set of formats is a bit mask.
 * Every component is one unsigned byte:
 *
 *   DYX_IMG_FMT_A     1   alpha
 *   DYX_IMG_FMT_L     2   luminance
 *   DYX_IMG_FMT_LA    4   luminance, alpha
 *   DYX_IMG_FMT_RGB   8   red, green, blue
 *   DYX_IMG_FMT_RGBA 16   red, green, blue, alpha
 *
 * Pixels are packed with no padding, row after row; the pixel at column x,
 * row y starts at byte (y * width + x) * components. Row 0 is the bottom
 * row of the picture as displayed. The optional depth plane holds one
 * native float per pixel, in the same order.
 *
 * Records come from the image pool (created once at start-up with
 * dyx_image_pool_create) and are released with dyx_image_free. Operations
 * that replace a picture (convert, scale) take the address of the caller's
 * variable, free the old record and store the new one there. */
#ifndef DYX_IMAGE_H
#define DYX_IMAGE_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

#define DYX_IMG_FMT_A 1
#define DYX_IMG_FMT_L 2
#define DYX_IMG_FMT_LA 4
#define DYX_IMG_FMT_RGB 8
#define DYX_IMG_FMT_RGBA 16

/* Flags of dyx_image_hdr_diff; they combine. */
#define DYX_IMAGE_HDR_SIZE 1   /* width and height */
#define DYX_IMAGE_HDR_FORMAT 2 /* pixel format */
#define DYX_IMAGE_HDR_DEPTH 4  /* presence of a depth plane */

/* Flags of dyx_image_scale: the lowest bit selects area averaging. */
#define DYX_SCALE_SMOOTH 1

/* The status of dyx_image_convert and dyx_image_scale when the new record
 * cannot be allocated (the other statuses are those of dyx_status.h). */
#define DYX_IMAGE_NO_BUFFER 1

/* Flags of dyx_image_flip; both together turn the picture by 180 degrees. */
#define DYX_FLIP_XAXIS 1 /* row i <-> row height-1-i */
#define DYX_FLIP_YAXIS 2 /* in every row, pixel j <-> pixel width-1-j */

/* The attribute id under which the valid rectangle travels to files. */
#define DYX_IMAGE_ATTR_VALID_RECT 1000

typedef struct dyx_image dyx_image_t;

/* Called by dyx_image_free after the record's buffers are released; it
 * finds its own data in the record's free_cb_data. */
typedef void (*dyx_image_free_cb)(dyx_image_t *image);

struct dyx_image {
    uint32_t width;
    uint32_t height;
    /* Inclusive valid rectangle; (0, 0, width-1, height-1) at allocation.
     * Only carried to and from files; no operation reads it. */
    int32_t valid_x_min;
    int32_t valid_y_min;
    int32_t valid_x_max;
    int32_t valid_y_max;
    int32_t format;    /* one of DYX_IMG_FMT_* */
    int32_t depth;     /* non-zero when depth_data is present */
    uint8_t *data;     /* width*height*components bytes; null for an empty image */
    float *depth_data; /* width*height floats; null without depth or area */
    void *aux_data;    /* owned, released by dyx_image_free; null at allocation */
    dyx_image_free_cb free_cb;
    void *free_cb_data;
};

/* Operations of a host's image-file reader and writer, used by
 * dyx_image_to_file and dyx_image_from_file. Each receives the host's file
 * handle and item index first and returns 0 on success, except
 * attribute_count, which returns the number of attributes. */
typedef struct dyx_image_file_ops {
    int32_t (*read_header)(void *file, int32_t index, int32_t *width, int32_t *height, int32_t *format,
                           int32_t *depth);
    int32_t (*read_pixels)(void *file, int32_t index, uint8_t *data);
    int32_t (*read_depth)(void *file, int32_t index, float *depth_data);
    int32_t (*attribute_count)(void *file, int32_t index);
    int32_t (*read_attribute)(void *file, int32_t index, int32_t number, int32_t values[4]);
    int32_t (*write_image)(void *file, int32_t index, int32_t width, int32_t height, int32_t format,
                           int32_t depth, const uint8_t *data, const float *depth_data);
    int32_t (*set_attribute_count)(void *file, int32_t index, int32_t count);
    int32_t (*write_attribute)(void *file, int32_t index, int32_t id, int32_t type, const int32_t values[4]);
} dyx_image_file_ops;

/* ---- pool and records ------------------------------------------------ */

/* Creates the process-wide image pool, growing by `per_chunk` records.
 * Returns DYX_OK when created or already present (the first pool is kept),
 * DYX_NO_MEMORY when the memory pool cannot be created. Not thread safe: start-up only. */
DYX_API int dyx_image_pool_create(uint32_t per_chunk);
/* Destroys the pool; every record still in use becomes invalid. Returns DYX_OK. */
DYX_API int dyx_image_pool_destroy(void);

/* A new record of width x height pixels in `format`, with a depth plane
 * when `depth` is non-zero (note: depth before format). Pixel and depth
 * values are uninitialised. An empty area allocates nothing and accepts
 * any format. Returns null when the pool is absent or exhausted, the
 * format is unknown ("dyx_image_alloc: bad pixelFormat"), the byte count
 * does not fit the address space, or memory runs out (all reported). */
DYX_API dyx_image_t *dyx_image_alloc(uint32_t width, uint32_t height, int32_t depth, int32_t format);
/* Releases aux, depth and pixel data, calls the record's free callback and
 * returns the record to the pool; *image becomes null. Null does nothing. */
DYX_API void dyx_image_free(dyx_image_t **image);
/* Installs the process-wide free callback copied into each new record; the
 * previous pair is stored through old_cb / old_data when they are not null.
 * Records that already exist keep theirs. */
DYX_API void dyx_image_set_freeCB(dyx_image_free_cb cb, void *data, dyx_image_free_cb *old_cb,
                                  void **old_data);

/* 1 for A and L, 2 for LA, 3 for RGB, 4 for RGBA, 0 otherwise. */
DYX_API int dyx_image_color_components_per_pixel(const dyx_image_t *image);
/* Components per pixel of a format code (0 for an unknown code). */
DYX_API int dyx_image_format_components(int32_t format);
/* Pixel bytes of the record as a 64-bit count (width*height*components). */
DYX_API uint64_t dyx_image_data_size(const dyx_image_t *image);
/* 0 when a and b agree in every property `flags` selects (DYX_IMAGE_HDR_*),
 * 1 otherwise. */
DYX_API int dyx_image_hdr_diff(const dyx_image_t *a, const dyx_image_t *b, uint32_t flags);

/* Writes the record through the host's table: write_image, then one
 * attribute (id 1000, type 0, the valid rectangle). Returns DYX_OK or the
 * first non-zero status of the table. */
DYX_API int dyx_image_to_file(const dyx_image_t *image, const dyx_image_file_ops *ops, void *file,
                              int32_t index);
/* Reads a record through the host's table; null on any failure or when the
 * item carries more than one attribute. */
DYX_API dyx_image_t *dyx_image_from_file(const dyx_image_file_ops *ops, void *file, int32_t index);

/* ---- conversion and scaling ---------------------------------------- */

/* Rebuilds *image in the template's format and depth presence (the
 * template's size is ignored). A new depth plane is zero unless both carry
 * one. Grey = trunc(0.3 r + 0.59 g + 0.11 b) in double precision. Returns
 * DYX_OK (also when nothing changes), DYX_IMAGE_NO_BUFFER when the new record
 * cannot be allocated (the old one stays). */
DYX_API int dyx_image_convert(dyx_image_t **image, const dyx_image_t *templ);
/* Resamples *image to the template's width and height: nearest sample, or
 * area averaging with wrap-around edges when flags has DYX_SCALE_SMOOTH.
 * Returns DYX_OK (also when the size is unchanged; then nothing is
 * replaced), DYX_IMAGE_NO_BUFFER when the new record cannot be allocated
 * (the old one stays). */
DYX_API int dyx_image_scale(dyx_image_t **image, const dyx_image_t *templ, uint32_t flags);
/* Writes the grey version of an RGB or RGBA source into a destination of
 * the same size in L, LA, RGB or RGBA (alpha from an RGBA source, else
 * 255). Returns DYX_OK; DYX_REFUSED when the sizes differ; DYX_BAD_ARGUMENT
 * when the destination format is not one of those four or the source is not RGB or RGBA. */
DYX_API int dyx_image_togrey(const dyx_image_t *src, dyx_image_t *dest);

/* ---- flip, swizzle, sub-rectangles ---------------------------------- */

/* Flips the pixels in place over the axes of `flags` (DYX_FLIP_*); the
 * depth plane is not flipped. Returns DYX_OK. */
DYX_API int dyx_image_flip(dyx_image_t *image, uint32_t flags);
/* Output channel c (red 0, green 1, blue 2, alpha 3) of dest takes source
 * channel map[c] when mask[c] is non-zero. src and dest may be the same
 * record. A and L images are left alone (DYX_OK). Returns DYX_OK;
 * DYX_REFUSED when size or format differ or a map entry is outside 0..3. */
DYX_API int dyx_image_swizzle(const dyx_image_t *src, dyx_image_t *dest, const int32_t map[4],
                              const int32_t mask[4]);
/* Copies the dest-sized rectangle at (x, y) of src into dest, depth plane
 * included. Returns DYX_OK; DYX_REFUSED when it does not fit or format or
 * depth presence differ. */
DYX_API int dyx_image_subrect(const dyx_image_t *src, dyx_image_t *dest, int32_t x, int32_t y);

DYX_END_DECLS

#endif
