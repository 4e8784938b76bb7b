#pragma once
// The sender's moving test picture, B, G, R, A bytes, rows without padding:
//
//   +---------------------------------------------+
//   | colour bars (8, left to right)              |  top 3/4
//   |        [marker] moves 8 px a frame          |
//   +---------------------------------------------+
//   | frame number: 16 blocks, MSB first,         |  bottom 1/4
//   | white = 1, black = 0                        |
//   +---------------------------------------------+
//
// The blocks are wide enough to be read back from a scaled screenshot.

#include <cstdint>
#include <vector>

namespace talvek::tools {

inline constexpr int FRAME_NUMBER_BITS = 16;

struct Bgra {
    uint8_t b, g, r, a;
};

// The eight bars: white, yellow, cyan, green, magenta, red, blue, black.
Bgra bar_colour(int index);

void draw_test_pattern(uint8_t* bgra, int width, int height, uint32_t frame_number);
std::vector<uint8_t> make_test_pattern(int width, int height, uint32_t frame_number);

// Reads the frame number back from a picture of any size showing the
// pattern (stride in bytes, 4 bytes a pixel, B, G, R order in each pixel).
uint32_t read_frame_number(const uint8_t* bgra, int width, int height, int stride);

// Left edge of the marker in a picture of this width for this frame.
int marker_x(int width, int height, uint32_t frame_number);

}  // namespace talvek::tools
