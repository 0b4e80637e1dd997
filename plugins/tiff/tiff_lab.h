// CIE L*a*b* samples to sRGB, for TIFFs stored in the Lab colour space.
#pragma once

namespace tiff_codec {

// Lab relative to the file's white point (D50 unless the file names
// another) becomes XYZ, is adapted to sRGB's D65 white (Bradford, as colour
// management systems do) and encoded with the sRGB curve. Lab white is
// sRGB white whatever the file's white point.
class LabToRgb {
public:
    // `white_x`, `white_y`: chromaticity of the white point.
    LabToRgb(double white_x = 0.3457, double white_y = 0.3585);
    // L in 0..100, a and b in about -128..127; rgb in 0..1, clamped.
    void convert(double lightness, double a, double b, double rgb[3]) const;

private:
    double white_[3];      // XYZ of the white point, Y = 1
    double to_linear_[9];  // adapted XYZ to linear sRGB, row by row
};

}  // namespace tiff_codec
