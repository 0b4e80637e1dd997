// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// The grey value of a colour pixel, shared by conversion and togrey.
//
// The defined value is trunc(0.3 r + 0.59 g + 0.11 b) in double precision.
// Its exact integer part is (30 r + 59 g + 11 b) / 100, except that when
// that sum is a multiple of 100 the double arithmetic sometimes lands just
// below the integer. Those cases are found once, by evaluating the double
// expression, and kept as three bits per (r, g): for a given (r, g) only
// b, b + 100 and b + 200 can make the sum a multiple of 100.
#pragma once

#include <cstdint>

namespace orvo_reference {

namespace dyx_image_detail {

// The defining expression, evaluated the slow way.
inline int grey_reference(int r, int g, int b) { return static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b); }

// Bit (b / 100) of entry (r << 8 | g) is set where the double expression
// gives one less than the integer division.
const uint8_t *grey_rounding_fixes();

class GreyMap {
public:
    GreyMap() : fixes_(grey_rounding_fixes()) {}
    uint8_t operator()(unsigned r, unsigned g, unsigned b) const {
        const unsigned sum = 30 * r + 59 * g + 11 * b;  // at most 25500
        unsigned quotient = (sum * 5243u) >> 19;        // sum / 100 for sum < 43699
        // Rare for most pictures: the table is only read on a multiple of 100.
        if (__builtin_expect(sum == quotient * 100u, 0))
            quotient -= (fixes_[(r << 8) | g] >> ((b * 41u) >> 12)) & 1u;  // bit b / 100
        return static_cast<uint8_t>(quotient);
    }

private:
    const uint8_t *fixes_;
};

}  // namespace dyx_image_detail

}  // namespace orvo_reference
