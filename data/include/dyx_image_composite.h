/* Compositing: blending with a factor table, bit-block transfer with an
 * alpha mask, chroma keying and the colour matrix. Every operation works in
 * place on the destination (or the one image it is given) and changes
 * nothing when it refuses its arguments.
 *
 * All functions only touch the buffers they are given; different buffers
 * may be worked on from different threads at once. */
#ifndef DYX_IMAGE_COMPOSITE_H
#define DYX_IMAGE_COMPOSITE_H

#include <stdint.h>

#include "dyx_api.h"
#include "dyx_image.h"

DYX_BEGIN_DECLS

/* Blend factor codes. The low four bits pick an entry of the factor table
 * (0, 255, source component, source alpha, destination component,
 * destination alpha, constant colour component, constant alpha); bit value
 * 16 turns the entry e into 255 - e. */
#define DYX_BLEND_ZERO 0
#define DYX_BLEND_ONE 1
#define DYX_BLEND_SCOLOR 2
#define DYX_BLEND_SALPHA 3
#define DYX_BLEND_DCOLOR 4
#define DYX_BLEND_DALPHA 5
#define DYX_BLEND_CCOLOR 6
#define DYX_BLEND_CALPHA 7
#define DYX_BLEND_INVERT 16
#define DYX_BLEND_MSCOLOR 18
#define DYX_BLEND_MSALPHA 19
#define DYX_BLEND_MDCOLOR 20
#define DYX_BLEND_MDALPHA 21
#define DYX_BLEND_MCCOLOR 22
#define DYX_BLEND_MCALPHA 23

/* Bit-block transfer modes; any value other than ALPHAMASK copies. */
#define DYX_BITBLT_COPY 0
#define DYX_BITBLT_ALPHAMASK 1

/* Mixes src into dest (same size and format), per component:
 *   dest = min(255, trunc(s * Fs / 255) + trunc(d * Fd / 255))
 * where Fs comes from the source code (src_color for colour and luminance
 * components, src_alpha for alpha components) and Fd likewise from the
 * destination codes. `constant` supplies the constant colour byte of each
 * component (byte c for component c of the pixel layout), `constant_alpha`
 * the constant alpha. Formats without alpha (L, RGB) use alpha 255 for
 * both images; the destination alpha in the table is always the value
 * before the pixel is updated.
 * Returns DYX_OK (also for an unknown format, which is left alone);
 * DYX_REFUSED when size or format differ; DYX_BAD_ARGUMENT when a code's low four bits are 8 to 15, which
 * select no table entry. dest is unchanged unless the result is DYX_OK. */
DYX_API int dyx_image_blend(const dyx_image_t *src, dyx_image_t *dest, int32_t src_color, int32_t src_alpha,
                            int32_t dst_color, int32_t dst_alpha, const uint8_t constant[4],
                            uint8_t constant_alpha);

/* Copies the src_size rectangle at src_origin of src, resampled by nearest
 * sample, into the dest_size rectangle at dest_origin of dest (same format
 * and depth presence; sizes may differ). Source positions step by
 * (src_size - 1) / (dest_size - 1) in single precision; samples outside
 * src take the border pixel built from `border` (red, green, blue, alpha)
 * for dest's format. The rectangle is clipped against dest. With
 * DYX_BITBLT_ALPHAMASK and a format with alpha, samples whose alpha is 0
 * leave the destination pixel alone. Depth planes are not touched.
 * Null src_origin means (0, 0); null src_size the whole source; null
 * dest_origin means (0, 0) and the whole destination (dest_size is then
 * not read). Returns DYX_OK; DYX_REFUSED when format or depth presence
 * differ; DYX_NO_MEMORY when memory for the column table runs out (nothing written). */
DYX_API int dyx_image_bitblt(const dyx_image_t *src, dyx_image_t *dest, const int32_t src_origin[2],
                             const int32_t src_size[2], const int32_t dest_origin[2],
                             const int32_t dest_size[2], int32_t mode, const uint8_t border[4]);

/* Sets the alpha of every pixel within the tolerances of the key colour to
 * `alpha`: for LA when |l - key[0]| <= tolerance[0], for RGBA when all three
 * of red, green and blue are within theirs. Returns DYX_OK; DYX_REFUSED (nothing changed)
 * when the format is neither LA nor RGBA. */
DYX_API int dyx_image_chromakey(dyx_image_t *image, const uint8_t key[3], const int32_t tolerance[3],
                                uint8_t alpha);

/* Replaces every pixel by the 4 x 5 `matrix` (row by row: red, green, blue,
 * alpha; columns weigh red, green, blue, alpha and 1) applied to its old
 * components. Each output is summed left to right in single precision,
 * clamped to 0..255 and truncated (a NaN sum gives 0). L uses row 0 on
 * (l, l, l, 255, 1); LA rows 0 and 3 on (l, l, l, a, 1); A row 3 on
 * (0, 0, 0, a, 1); RGB rows 0 to 2 on (r, g, b, 255, 1). A depth plane
 * becomes depth[0] * z + depth[1]. Returns DYX_OK. */
DYX_API int dyx_image_axb(dyx_image_t *image, const float matrix[20], const float depth[2]);

DYX_END_DECLS

#endif
