// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// Area averaging in exact integers.
//
// Common ratios (2:1, 3:2, 1:2 ...) give extents that are small multiples
// of a power of two (1, 0.5, 0.25 ...). Then every single-precision product
// and partial sum of the definition is exactly representable, so the float
// arithmetic computes the exact rational result, and the same result can
// be had in integers, in any order: a vertical pass over whole source rows
// (contiguous, vectorised) followed by a horizontal pass over the pieces.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reference_area.h"

namespace orvo_reference {

// The pixel loops are written to be vectorised; GCC's -O2 cost model would
// leave most of them scalar. These loops are integer-only, so only the
// speed changes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace dyx_image_area {
namespace {

// Extents of one axis in units of 2^-shift.
struct ExactAxis {
    int shift = 0;
    std::vector<uint32_t> units;  // piece-major, like AxisPieces::extent
    uint64_t max_total = 0;       // the largest sum of a target's units
};

constexpr int kMaxShift = 12;

bool exact_axis(const AxisPieces &axis, ExactAxis *exact) {
    for (int shift = 0; shift <= kMaxShift; ++shift) {
        bool whole = true;
        for (size_t n = 0; n < axis.extent.size() && whole; ++n) {
            const double scaled = std::ldexp(static_cast<double>(axis.extent[n]), shift);
            whole = scaled == std::floor(scaled) && scaled <= 65535.0;
        }
        if (!whole) continue;
        exact->shift = shift;
        exact->units.resize(axis.extent.size());
        for (size_t n = 0; n < axis.extent.size(); ++n)
            exact->units[n] = static_cast<uint32_t>(std::ldexp(static_cast<double>(axis.extent[n]), shift));
        for (uint32_t i = 0; i < axis.size; ++i) {
            uint64_t total = 0;
            for (uint32_t m = 0; m < axis.pieces; ++m)
                total += exact->units[static_cast<size_t>(m) * axis.size + i];
            if (total == 0) return false;
            exact->max_total = std::max(exact->max_total, total);
        }
        return true;
    }
    return false;
}

// Every sum of the definition stays below 2^22 units: exact in a float,
// with room for the fractions added before the division below.
bool exact_arithmetic_holds(const ExactAxis &cols, const ExactAxis &rows) {
    return cols.max_total * rows.max_total * 255 < (uint64_t{1} << 22);
}

// floor(n / d) for every n below 2^kNumeratorBits as (n * multiplier) >>
// shift: the round-up reciprocal, exact because multiplier * d exceeds
// 2^shift by at most d <= 2^(shift - kNumeratorBits).
constexpr int kNumeratorBits = 26;

struct ExactDivision {
    uint64_t multiplier = 0;
    int shift = 0;
    uint32_t apply(uint64_t n) const { return static_cast<uint32_t>((n * multiplier) >> shift); }
};

ExactDivision division_by(uint64_t divisor) {
    int log2_ceiling = 0;
    while ((uint64_t{1} << log2_ceiling) < divisor) ++log2_ceiling;
    ExactDivision division;
    division.shift = kNumeratorBits + log2_ceiling;
    division.multiplier = (uint64_t{1} << division.shift) / divisor + 1;
    return division;
}

// The distinct column totals, so that each target row needs only a few
// divisors (one per distinct total) rather than one per pixel.
struct ColumnClasses {
    std::vector<uint32_t> totals;  // distinct totals in units
    std::vector<uint16_t> of_column;
};

constexpr size_t kMaxColumnClasses = 1024;

bool column_classes(const ExactAxis &axis, uint32_t size, uint32_t pieces, ColumnClasses *classes) {
    classes->of_column.resize(size);
    for (uint32_t i = 0; i < size; ++i) {
        uint32_t total = 0;
        for (uint32_t m = 0; m < pieces; ++m) total += axis.units[static_cast<size_t>(m) * size + i];
        auto found = std::find(classes->totals.begin(), classes->totals.end(), total);
        if (found == classes->totals.end()) {
            if (classes->totals.size() == kMaxColumnClasses) return false;
            classes->totals.push_back(total);
            found = classes->totals.end() - 1;
        }
        classes->of_column[i] = static_cast<uint16_t>(found - classes->totals.begin());
    }
    return true;
}

// Everything the integer path needs about both axes.
struct ExactPlan {
    const AxisPieces &cols;
    const AxisPieces &rows;
    const ExactAxis &col_units;
    const ExactAxis &row_units;
    const ColumnClasses &classes;
};

// Columns whose pieces repeat with a period: target i = q * period + r
// takes `pieces` consecutive source pixels from first[r] + q * step, with
// the weights of phase r (2:1 has period 1, step 2; 3:2 period 2, step 3).
struct RegularColumns {
    uint32_t period = 0;
    uint32_t step = 0;
    uint32_t pieces = 0;
    std::vector<uint32_t> first;    // per phase
    std::vector<uint32_t> weights;  // phase-major: weights[r * pieces + m]
    std::vector<uint32_t> totals;   // per phase
};

constexpr uint32_t kMaxPeriod = 8;

bool regular_columns(const AxisPieces &cols, const ExactAxis &units, RegularColumns *regular) {
    const uint32_t size = cols.size, pieces = cols.pieces;
    auto index = [&](uint32_t m, uint32_t i) { return cols.index[static_cast<size_t>(m) * size + i]; };
    auto weight = [&](uint32_t m, uint32_t i) { return units.units[static_cast<size_t>(m) * size + i]; };
    for (uint32_t i = 0; i < size; ++i) {
        if (cols.count[i] != pieces) return false;
        for (uint32_t m = 1; m < pieces; ++m)
            if (index(m, i) != index(0, i) + m) return false;  // consecutive, no wrap
    }
    for (uint32_t period = 1; period <= kMaxPeriod && period <= size; ++period) {
        const uint32_t step = period < size ? index(0, period) - index(0, 0) : 0;
        bool repeats = period < size ? index(0, period) > index(0, 0) : true;
        for (uint32_t i = period; i < size && repeats; ++i) {
            const uint32_t r = i % period, q = i / period;
            repeats = index(0, i) == index(0, r) + q * step;
            for (uint32_t m = 0; m < pieces && repeats; ++m) repeats = weight(m, i) == weight(m, r);
        }
        if (!repeats) continue;
        regular->period = period;
        regular->step = step;
        regular->pieces = pieces;
        regular->first.resize(period);
        regular->weights.resize(static_cast<size_t>(period) * pieces);
        regular->totals.assign(period, 0);
        for (uint32_t r = 0; r < period; ++r) {
            regular->first[r] = index(0, r);
            for (uint32_t m = 0; m < pieces; ++m) {
                regular->weights[static_cast<size_t>(r) * pieces + m] = weight(m, r);
                regular->totals[r] += weight(m, r);
            }
        }
        return true;
    }
    return false;
}

// Vertical pass: the weighted sum of the target row's source rows, for
// every source column. Returns the row's total weight in units.
template <typename Sum>
uint64_t vertical_sums(const uint8_t *src, size_t row_values, uint32_t j, uint32_t dh, const ExactPlan &plan,
                       Sum *__restrict sums) {
    const AxisPieces &rows = plan.rows;
    uint64_t row_total = 0;
    for (uint32_t k = 0; k < rows.count[j]; ++k) {
        const size_t strip = static_cast<size_t>(k) * dh + j;
        const Sum weight = static_cast<Sum>(plan.row_units.units[strip]);
        row_total += weight;
        const uint8_t *__restrict in = src + rows.index[strip] * row_values;
        if (k == 0)
            for (size_t n = 0; n < row_values; ++n) sums[n] = static_cast<Sum>(weight * in[n]);
        else
            for (size_t n = 0; n < row_values; ++n) sums[n] = static_cast<Sum>(sums[n] + weight * in[n]);
    }
    return row_total;
}

// trunc((S + 0.5) / W) with S and W in units of 2^-shift is
// floor((S + 2^(shift-1)) / W); adding a further 0.25 changes no floor for
// these multiples of 0.5, and times 4 everything is an integer:
// floor((4 S + 2^(shift+1) + 1) / (4 W)). That numerator is odd and the
// denominator even, so the quotient is never an integer and stays at least
// 1 / (4 W) from one: a double reciprocal then truncates exactly.
uint64_t division_bias(const ExactPlan &plan) {
    return (uint64_t{1} << (plan.col_units.shift + plan.row_units.shift + 1)) + 1;
}

// Whether floats may do the division above: the numerator (at most
// 4 * 255 * W + bias) must be exact in a float, and the float's relative
// error (within 2^-22 over the reciprocal and the product, on quotients
// below 512) must stay under the quotient's distance 1 / divisor from an
// integer.
bool single_precision_divides(uint64_t divisor, const ExactPlan &plan) {
    const uint64_t largest_numerator = 4 * 255 * (divisor / 4) + division_bias(plan);
    return largest_numerator < (uint64_t{1} << 24) && divisor < (uint64_t{1} << 12) &&
           largest_numerator / divisor < 512;
}

// Sum is the type of the vertical sums (16 bits when they fit, so that
// the vertical pass runs eight lanes at a time); Pieces is the column
// piece count when fixed at compile time, 0 when taken from the plan.
template <int C, typename Sum, uint32_t Pieces>
void area_exact(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                const ExactPlan &plan) {
    const AxisPieces &cols = plan.cols;
    const uint32_t pieces = Pieces != 0 ? Pieces : cols.pieces;
    const size_t row_values = static_cast<size_t>(sw) * C;
    std::vector<Sum> vertical(row_values);
    std::vector<uint32_t> offsets(cols.index.size());
    for (size_t n = 0; n < offsets.size(); ++n) offsets[n] = cols.index[n] * C;
    std::vector<ExactDivision> divisions(plan.classes.totals.size());
    const uint64_t bias = division_bias(plan);

    for (uint32_t j = 0; j < dh; ++j) {
        const Sum *sums = vertical.data();
        const uint64_t row_total = vertical_sums(src, row_values, j, dh, plan, vertical.data());
        for (size_t a = 0; a < plan.classes.totals.size(); ++a)
            divisions[a] = division_by(4 * row_total * plan.classes.totals[a]);

        uint8_t *out = dest + static_cast<size_t>(j) * dw * C;
        const uint32_t *weights = plan.col_units.units.data();
        for (uint32_t i = 0; i < dw; ++i, out += C) {
            // Scalars rather than an array keep the sums in registers.
            uint32_t t0 = 0, t1 = 0, t2 = 0, t3 = 0;
            for (uint32_t m = 0; m < pieces; ++m) {
                const size_t piece = static_cast<size_t>(m) * dw + i;
                const uint32_t weight = weights[piece];
                const Sum *at = sums + offsets[piece];
                t0 += weight * at[0];
                if constexpr (C > 1) t1 += weight * at[1];
                if constexpr (C > 2) t2 += weight * at[2];
                if constexpr (C > 3) t3 += weight * at[3];
            }
            const ExactDivision division = divisions[plan.classes.of_column[i]];
            out[0] = static_cast<uint8_t>(division.apply(4 * uint64_t{t0} + bias));
            if constexpr (C > 1) out[1] = static_cast<uint8_t>(division.apply(4 * uint64_t{t1} + bias));
            if constexpr (C > 2) out[2] = static_cast<uint8_t>(division.apply(4 * uint64_t{t2} + bias));
            if constexpr (C > 3) out[3] = static_cast<uint8_t>(division.apply(4 * uint64_t{t3} + bias));
        }
    }
}

// floor((4 * across[n] + bias) / divisor) for a whole span, as one byte
// each (the low 8 bits, as the definition keeps them). Power-of-two
// divisors (2:1, 4:1 ...) shift; small ones multiply by a float
// reciprocal, four lanes at a time; others by a double one.
template <typename Sum>
void span_quotients(const Sum *__restrict across, size_t span, uint64_t divisor, const ExactPlan &plan,
                    uint8_t *__restrict quotients) {
    const uint64_t bias = division_bias(plan);
    if ((divisor & (divisor - 1)) == 0) {
        int shift = 0;
        while ((uint64_t{1} << shift) < divisor) ++shift;
        if (4 * 255 * (divisor / 4) + bias <= 0xffff) {  // eight 16-bit lanes at a time
            const uint16_t bias16 = static_cast<uint16_t>(bias);
            for (size_t n = 0; n < span; ++n) {
                const uint16_t numerator =
                    static_cast<uint16_t>(static_cast<uint16_t>(across[n] << 2) + bias16);
                quotients[n] = static_cast<uint8_t>(numerator >> shift);
            }
        } else {
            const uint32_t bias32 = static_cast<uint32_t>(bias);
            for (size_t n = 0; n < span; ++n)
                quotients[n] = static_cast<uint8_t>((4 * uint32_t{across[n]} + bias32) >> shift);
        }
    } else if (single_precision_divides(divisor, plan)) {
        const float inverse = static_cast<float>(1.0 / static_cast<double>(divisor));
        const float bias_f = static_cast<float>(bias);
        for (size_t n = 0; n < span; ++n)
            quotients[n] = static_cast<uint8_t>(
                static_cast<int32_t>((4.0f * static_cast<float>(across[n]) + bias_f) * inverse));
    } else {
        const double inverse = 1.0 / static_cast<double>(divisor);
        const double bias_d = static_cast<double>(bias);
        for (size_t n = 0; n < span; ++n)
            quotients[n] =
                static_cast<uint8_t>(static_cast<uint32_t>((4.0 * across[n] + bias_d) * inverse) & 0xffu);
    }
}

// Regular columns: the horizontal sums and quotients of each phase are
// formed for every source position at once (contiguous, vectorised) and
// each target copies its own. Sum must hold whole sums here.
template <int C, typename Sum>
void area_exact_regular(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                        const ExactPlan &plan, const RegularColumns &regular) {
    const size_t row_values = static_cast<size_t>(sw) * C;
    const size_t span = static_cast<size_t>(sw - regular.pieces + 1) * C;
    std::vector<Sum> vertical(row_values);
    std::vector<Sum> across(span);
    std::vector<uint8_t> quotients(span);

    for (uint32_t j = 0; j < dh; ++j) {
        const Sum *__restrict sums = vertical.data();
        const uint64_t row_total = vertical_sums(src, row_values, j, dh, plan, vertical.data());
        uint8_t *out_row = dest + static_cast<size_t>(j) * dw * C;
        for (uint32_t r = 0; r < regular.period; ++r) {
            Sum *__restrict total = across.data();
            const uint32_t *weights = regular.weights.data() + static_cast<size_t>(r) * regular.pieces;
            const Sum first_weight = static_cast<Sum>(weights[0]);
            for (size_t n = 0; n < span; ++n) total[n] = static_cast<Sum>(first_weight * sums[n]);
            for (uint32_t m = 1; m < regular.pieces; ++m) {
                const Sum weight = static_cast<Sum>(weights[m]);
                const Sum *shifted = sums + static_cast<size_t>(m) * C;
                for (size_t n = 0; n < span; ++n) total[n] = static_cast<Sum>(total[n] + weight * shifted[n]);
            }
            span_quotients(total, span, 4 * row_total * regular.totals[r], plan, quotients.data());
            size_t at = static_cast<size_t>(regular.first[r]) * C;
            for (uint32_t i = r; i < dw; i += regular.period, at += static_cast<size_t>(regular.step) * C)
                std::memcpy(out_row + static_cast<size_t>(i) * C, quotients.data() + at, C);
        }
    }
}

template <int C, typename Sum>
void area_exact_pieces(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                       const ExactPlan &plan) {
    switch (plan.cols.pieces) {
        case 1:
            area_exact<C, Sum, 1>(src, sw, dest, dw, dh, plan);
            break;
        case 2:
            area_exact<C, Sum, 2>(src, sw, dest, dw, dh, plan);
            break;
        case 3:
            area_exact<C, Sum, 3>(src, sw, dest, dw, dh, plan);
            break;
        default:
            area_exact<C, Sum, 0>(src, sw, dest, dw, dh, plan);
            break;
    }
}

template <int C>
void area_exact_dispatch(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                         const ExactPlan &plan) {
    const bool narrow = plan.row_units.max_total * 255 <= 0xffff;
    // The regular path keeps whole sums in Sum as well.
    const bool narrow_sums = plan.row_units.max_total * plan.col_units.max_total * 255 <= 0xffff;
    RegularColumns regular;
    if (regular_columns(plan.cols, plan.col_units, &regular)) {
        if (narrow_sums)
            area_exact_regular<C, uint16_t>(src, sw, dest, dw, dh, plan, regular);
        else
            area_exact_regular<C, uint32_t>(src, sw, dest, dw, dh, plan, regular);
    } else if (narrow) {
        area_exact_pieces<C, uint16_t>(src, sw, dest, dw, dh, plan);
    } else {
        area_exact_pieces<C, uint32_t>(src, sw, dest, dw, dh, plan);
    }
}

}  // namespace

bool resample_exact(int components, const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                    const AxisPieces &cols, const AxisPieces &rows) {
    ExactAxis col_units, row_units;
    ColumnClasses classes;
    if (!exact_axis(cols, &col_units) || !exact_axis(rows, &row_units) ||
        !exact_arithmetic_holds(col_units, row_units) ||
        !column_classes(col_units, dw, cols.pieces, &classes))
        return false;
    const ExactPlan plan{cols, rows, col_units, row_units, classes};
    switch (components) {
        case 1:
            area_exact_dispatch<1>(src, sw, dest, dw, dh, plan);
            break;
        case 2:
            area_exact_dispatch<2>(src, sw, dest, dw, dh, plan);
            break;
        case 3:
            area_exact_dispatch<3>(src, sw, dest, dw, dh, plan);
            break;
        case 4:
            area_exact_dispatch<4>(src, sw, dest, dw, dh, plan);
            break;
        default:
            return false;
    }
    return true;
}

}  // namespace dyx_image_area

}  // namespace orvo_reference
