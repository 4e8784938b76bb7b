#pragma once
// A pixel's colour as read back from a renderer. Blending and scaling round
// a little differently from what the tests compute, hence near().

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

}  // namespace talvek::testing
