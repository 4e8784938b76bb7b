#pragma once
// Floats into the ranges the programs use, for every float including NaN
// and the infinities: a plain cast of an out-of-range float to int is
// undefined, and std::clamp passes NaN through unchanged.

#include <algorithm>
#include <cstdint>
#include <limits>

namespace talvek {

// Truncation toward zero that saturates at the int32 range; NaN gives 0.
inline int32_t truncate_to_int(float value) {
    // 2^31 is exact as a float; every float below it and above -2^31 fits.
    constexpr float LIMIT = 2147483648.0f;
    if (!(value == value)) return 0;
    if (value >= LIMIT) return std::numeric_limits<int32_t>::max();
    if (value <= -LIMIT) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// The value within 0 to 1; NaN gives 0.
inline float clamp_to_unit(float value) { return value >= 0.0f ? std::min(value, 1.0f) : 0.0f; }

}  // namespace talvek
