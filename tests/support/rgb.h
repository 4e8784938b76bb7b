#pragma once
// A pixel as the drawing tests read it back, and the closeness that
// blending and scaling leave room for.

#include <cstdint>
#include <cstdlib>
#include <ostream>

namespace talvek::testing {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

inline bool near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// An ARGB8888 pixel, as SDL_RenderReadPixels gives it.
inline Rgb from_argb(uint32_t p) {
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
            static_cast<int>(p & 0xFF)};
}

}  // namespace talvek::testing
