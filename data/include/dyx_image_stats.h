/* Measuring images: the byte-wise difference of two images and summary
 * statistics over all pixel bytes of one image. */
#ifndef DYX_IMAGE_STATS_H
#define DYX_IMAGE_STATS_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"

DYX_BEGIN_DECLS

/* A new image of a's size, format and depth presence holding, for every
 * pixel byte, |a - b| when `absolute` is non-zero, else (a - b) modulo
 * 256. A depth plane of the result is zero. Returns null when a and b
 * differ in size, format or depth presence, or when memory runs out. */
DYX_API dyx_image_t *dyx_image_diff(const dyx_image_t *a, const dyx_image_t *b, int32_t absolute);

/* Statistics over all width * height * components pixel bytes, alpha
 * included: count n, mean = sum / n', sum, sum of squares, sample variance
 * (sumsq - n' * mean^2) / (n - 1)' where n' and (n - 1)' are rounded to
 * single precision, minimum (255 for an empty image) and maximum (0 for
 * an empty image). Mean is 0 when n is 0, variance 0 when n < 2. Every
 * result address may be null. Returns DYX_OK. */
DYX_API int dyx_image_stats(const dyx_image_t *image, double *count, double *mean, double *sum,
                            double *sum_of_squares, double *variance, double *minimum, double *maximum);

DYX_END_DECLS

#endif
