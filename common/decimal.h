#pragma once
// atoi as both programs' command lines use it, without atoi's undefined
// behaviour for numbers beyond int: those saturate at INT_MIN or INT_MAX.
// Leading blanks and a sign are accepted; conversion stops at the first
// non-digit; text without a leading number gives 0.

#include <climits>
#include <cstdlib>

namespace talvek {

inline int to_int(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace talvek
