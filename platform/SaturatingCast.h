#pragma once
// The one float-to-integer conversion for values that may be NaN, infinite or out of range.

#include <concepts>
#include <limits>

namespace vantor {

// Truncates toward zero; NaN gives 0, values beyond the range give its minimum or maximum.
template <std::integral I, std::floating_point F>
constexpr I saturatingCast(F v) noexcept
{
    if (v != v)
        return I(0);
    // Both bounds are exact in F or round up to the next power of two, so the tests are safe.
    constexpr F lo = F(std::numeric_limits<I>::min());
    constexpr F hi = F(std::numeric_limits<I>::max());
    if (v <= lo)
        return std::numeric_limits<I>::min();
    if (v >= hi)
        return std::numeric_limits<I>::max();
    return I(v);
}

}  // namespace vantor
