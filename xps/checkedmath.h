// CheckedMath: the one way a number taken from a document becomes a size, a
// count or a pixel. Products and sums of numbers a document chooses saturate
// instead of wrapping, so a cap compared against them still holds; a double
// becomes an integer only through Clamped, which is defined for NaN and
// infinities (C++ leaves the plain conversion undefined outside the range).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace xps {

// a * b, or the type's largest value when the product would not fit.
template <typename Unsigned>
constexpr Unsigned SaturatingMultiply(Unsigned a, Unsigned b) {
    static_assert(std::is_unsigned<Unsigned>::value, "counts and sizes are unsigned");
    return b != 0 && a > std::numeric_limits<Unsigned>::max() / b ? std::numeric_limits<Unsigned>::max()
                                                                   : a * b;
}

// a + b, or the type's largest value when the sum would not fit.
template <typename Unsigned>
constexpr Unsigned SaturatingAdd(Unsigned a, Unsigned b) {
    static_assert(std::is_unsigned<Unsigned>::value, "counts and sizes are unsigned");
    return a > std::numeric_limits<Unsigned>::max() - b ? std::numeric_limits<Unsigned>::max() : a + b;
}

// v truncated toward zero into [low, high]; NaN gives low, so that what a
// NaN places is off every surface and what it counts is nothing.
template <typename Int>
constexpr Int Clamped(double v, Int low, Int high) {
    if (!(v > static_cast<double>(low))) {
        return low;
    }
    if (!(v < static_cast<double>(high))) {
        return high;
    }
    return static_cast<Int>(v);
}

// Whole pixels and tile indices live within +-2^30: far beyond any surface
// (200 inches at 1200 dpi is 240,000 pixels), and the sum or difference of
// two of them still fits an int.
constexpr int kFarPixel = 1 << 30;

inline int PixelOf(double v) { return Clamped<int>(v, -kFarPixel, kFarPixel); }

}  // namespace xps
