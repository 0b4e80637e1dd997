// Anaglyph composition: a stereo pair folded into one RGB frame whose
// colour channels carry the luminance of one eye each.
#include <cstddef>
#include <cstdint>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_status.h"

namespace {

// min(255, 0.3 r + 0.59 g + 0.11 b): summed in double, compared in float.
inline uint8_t luminance(const uint8_t *pixel) {
    const float sum = static_cast<float>(0.3 * pixel[0] + 0.59 * pixel[1] + 0.11 * pixel[2]);
    return static_cast<uint8_t>(static_cast<int>(sum < 255.0f ? sum : 255.0f));
}

// Which eye's luminance feeds a channel; kZero makes it 0. The mode is a
// template argument so that the pixel loop holds no decisions.
enum Eye { kZero, kLeft, kRight };

template <Eye eye>
inline uint8_t pick(uint8_t left, uint8_t right) {
    return eye == kZero ? 0 : eye == kLeft ? left : right;
}

template <Eye red, Eye green, Eye blue>
void compose(uint8_t *out, const uint8_t *in, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, out += 3, in += 3) {
        const uint8_t left = luminance(out), right = luminance(in);
        out[0] = pick<red>(left, right);
        out[1] = pick<green>(left, right);
        out[2] = pick<blue>(left, right);
    }
}

}  // namespace

extern "C" {

int dyx_image_anaglyph(dyx_image_t *left, const dyx_image_t *right, int32_t mode) {
    if (left == nullptr || right == nullptr || mode < DYX_ANAGLYPH_NONE || mode > DYX_ANAGLYPH_CYANRED)
        return DYX_BAD_ARGUMENT;
    if (left->format != DYX_IMG_FMT_RGB || right->format != DYX_IMG_FMT_RGB || left->width != right->width ||
        left->height != right->height)
        return DYX_BAD_ARGUMENT;
    if (mode == DYX_ANAGLYPH_NONE || left->data == nullptr) return DYX_OK;
    const size_t pixels = static_cast<size_t>(left->width) * left->height;
    switch (mode) {
        case DYX_ANAGLYPH_REDBLUE:
            compose<kRight, kZero, kLeft>(left->data, right->data, pixels);
            break;
        case DYX_ANAGLYPH_BLUERED:
            compose<kLeft, kZero, kRight>(left->data, right->data, pixels);
            break;
        case DYX_ANAGLYPH_REDCYAN:
            compose<kRight, kLeft, kLeft>(left->data, right->data, pixels);
            break;
        default:  // DYX_ANAGLYPH_CYANRED
            compose<kLeft, kRight, kRight>(left->data, right->data, pixels);
            break;
    }
    return DYX_OK;
}

}  // extern "C"
