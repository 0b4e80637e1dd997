#include "tiff_lab.h"

#include <algorithm>
#include <cmath>

namespace tiff_codec {
namespace {

using Matrix = double[9];

// The Bradford cone response and its inverse.
constexpr Matrix kBradford = {0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296};
constexpr Matrix kBradfordInverse = {0.9869929, -0.1470543, 0.1599627, 0.4323053, 0.5183603,
                                     0.0492912, -0.0085287, 0.0400428, 0.9684867};
// XYZ (D65) to linear sRGB.
constexpr Matrix kXyzToSrgb = {3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108,
                               0.0415560, 0.0556434,  -0.2040259, 1.0572252};
constexpr double kD65[3] = {0.95047, 1.0, 1.08883};

void multiply(const double *m, const double *v, double *out) {
    for (int r = 0; r < 3; ++r) out[r] = m[3 * r] * v[0] + m[3 * r + 1] * v[1] + m[3 * r + 2] * v[2];
}

void multiply_matrices(const double *a, const double *b, double *out) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[3 * r + c] = a[3 * r] * b[c] + a[3 * r + 1] * b[3 + c] + a[3 * r + 2] * b[6 + c];
}

// The inverse of the CIE f() of the Lab formulas.
double from_lab_f(double t) {
    constexpr double delta = 6.0 / 29.0;
    return t > delta ? t * t * t : 3 * delta * delta * (t - 4.0 / 29.0);
}

double srgb_encode(double linear) {
    linear = std::min(1.0, std::max(0.0, linear));
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

}  // namespace

LabToRgb::LabToRgb(double white_x, double white_y) {
    // A white point of no sensible chromaticity falls back to D50.
    if (!(white_x > 0 && white_y > 0 && white_x + white_y < 1)) {
        white_x = 0.3457;
        white_y = 0.3585;
    }
    white_[0] = white_x / white_y;
    white_[1] = 1.0;
    white_[2] = (1 - white_x - white_y) / white_y;
    // Bradford: scale the cone responses of the source white to D65's.
    double source[3], target[3];
    multiply(kBradford, white_, source);
    multiply(kBradford, kD65, target);
    Matrix scaled;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) scaled[3 * r + c] = kBradford[3 * r + c] * target[r] / source[r];
    Matrix adapt;
    multiply_matrices(kBradfordInverse, scaled, adapt);
    multiply_matrices(kXyzToSrgb, adapt, to_linear_);
}

void LabToRgb::convert(double lightness, double a, double b, double rgb[3]) const {
    const double fy = (lightness + 16) / 116;
    const double f[3] = {fy + a / 500, fy, fy - b / 200};
    double xyz[3], linear[3];
    for (int i = 0; i < 3; ++i) xyz[i] = white_[i] * from_lab_f(f[i]);
    multiply(to_linear_, xyz, linear);
    for (int i = 0; i < 3; ++i) rgb[i] = srgb_encode(linear[i]);
}

}  // namespace tiff_codec
