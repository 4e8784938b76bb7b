#pragma once
// A BGRA picture whose red grows with x and green with y (blue stays 64),
// so every pixel drawn from it tells where in the picture it came from.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rgb.h"

namespace talvek::testing {

inline std::vector<uint8_t> gradient_picture(int w, int h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    uint8_t* px = p.data();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x, px += 4) {
            px[0] = 64;
            px[1] = static_cast<uint8_t>(y * 255 / (h - 1));
            px[2] = static_cast<uint8_t>(x * 255 / (w - 1));
            px[3] = 255;
        }
    }
    return p;
}

// The colour under (x, y): fractions are dropped, as nearest-pixel scaling
// drops them.
inline Rgb gradient_at(double x, double y, int w, int h) {
    return {static_cast<int>(x) * 255 / (w - 1), static_cast<int>(y) * 255 / (h - 1), 64};
}

}  // namespace talvek::testing
