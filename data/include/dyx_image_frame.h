/* Whole-frame operations of movie frame transfer: the intensity ramp that
 * fades frames and the composition of a stereo pair into one anaglyph. */
#ifndef DYX_IMAGE_FRAME_H
#define DYX_IMAGE_FRAME_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"

DYX_BEGIN_DECLS

/* Anaglyph modes of dyx_image_anaglyph (the movie's MOVIE_ANAGLYPH_*). */
#define DYX_ANAGLYPH_NONE 0
#define DYX_ANAGLYPH_REDBLUE 1
#define DYX_ANAGLYPH_BLUERED 2
#define DYX_ANAGLYPH_REDCYAN 3
#define DYX_ANAGLYPH_CYANRED 4

/* Multiplies every pixel byte of the image (alpha included) by `factor`
 * in single precision and truncates toward zero: b = (int)((float)b *
 * factor). The depth plane is left alone. Returns DYX_OK; DYX_BAD_ARGUMENT when the image is
 * null or the factor is not within 0.0..1.0 (nothing is changed). */
DYX_API int dyx_image_intensity(dyx_image_t *image, float factor);

/* Composes the stereo pair (left, right) into `left`. For each pixel the
 * luminances lumL and lumR are min(255, 0.3 r + 0.59 g + 0.11 b), the sum
 * taken in double precision and narrowed to single precision before the
 * comparison, and each channel stored is a luminance truncated toward
 * zero:
 *   mode 1 red/blue: (lumR, 0, lumL)    mode 2 blue/red: (lumL, 0, lumR)
 *   mode 3 red/cyan: (lumR, lumL, lumL) mode 4 cyan/red: (lumL, lumR, lumR)
 * Returns DYX_OK (mode 0 changes nothing); DYX_BAD_ARGUMENT when an image is null, either is
 * not RGB, their sizes differ or the mode is unknown (nothing changed). */
DYX_API int dyx_image_anaglyph(dyx_image_t *left, const dyx_image_t *right, int32_t mode);

DYX_END_DECLS

#endif
