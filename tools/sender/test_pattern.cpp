#include "test_pattern.h"

#include <algorithm>

namespace talvek::tools {

namespace {

constexpr Bgra BARS[8] = {
    {255, 255, 255, 255}, {0, 255, 255, 255}, {255, 255, 0, 255}, {0, 255, 0, 255},
    {255, 0, 255, 255},   {0, 0, 255, 255},   {255, 0, 0, 255},   {0, 0, 0, 255},
};
constexpr Bgra MARKER = {32, 128, 255, 255};  // orange: unlike every bar

void fill(uint8_t* bgra, int width, int x0, int y0, int x1, int y1, Bgra c) {
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = bgra + static_cast<size_t>(y) * static_cast<size_t>(width) * 4;
        for (int x = x0; x < x1; ++x) {
            uint8_t* p = row + static_cast<size_t>(x) * 4;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = c.a;
        }
    }
}

int number_top(int height) { return height * 3 / 4; }
int marker_size(int width, int height) { return std::max(1, std::min(width, height) / 8); }

}  // namespace

Bgra bar_colour(int index) { return BARS[index & 7]; }

int marker_x(int width, int height, uint32_t frame_number) {
    const int size = marker_size(width, height);
    const int travel = std::max(1, width - size);
    return static_cast<int>((frame_number * 8u) % static_cast<uint32_t>(travel));
}

void draw_test_pattern(uint8_t* bgra, int width, int height, uint32_t frame_number) {
    if (width <= 0 || height <= 0) return;
    const int split = number_top(height);
    for (int i = 0; i < 8; ++i) {
        fill(bgra, width, width * i / 8, 0, width * (i + 1) / 8, split, BARS[i]);
    }

    const int size = std::min(marker_size(width, height), split);
    const int mx = std::max(0, std::min(marker_x(width, height, frame_number), width - size));
    const int my = std::max(0, split / 2 - size / 2);
    fill(bgra, width, mx, my, mx + size, std::min(split, my + size), MARKER);

    for (int bit = 0; bit < FRAME_NUMBER_BITS; ++bit) {
        const bool set = (frame_number >> (FRAME_NUMBER_BITS - 1 - bit)) & 1u;
        const Bgra c = set ? Bgra{255, 255, 255, 255} : Bgra{0, 0, 0, 255};
        fill(bgra, width, width * bit / FRAME_NUMBER_BITS, split,
             width * (bit + 1) / FRAME_NUMBER_BITS, height, c);
    }
}

std::vector<uint8_t> make_test_pattern(int width, int height, uint32_t frame_number) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    draw_test_pattern(frame.data(), width, height, frame_number);
    return frame;
}

uint32_t read_frame_number(const uint8_t* bgra, int width, int height, int stride) {
    // Sample the centre of each block, in the middle of the number strip.
    const int split = number_top(height);
    const int y = split + (height - split) / 2;
    uint32_t value = 0;
    for (int bit = 0; bit < FRAME_NUMBER_BITS; ++bit) {
        const int x = (width * bit / FRAME_NUMBER_BITS + width * (bit + 1) / FRAME_NUMBER_BITS) / 2;
        const uint8_t* p = bgra + static_cast<size_t>(y) * static_cast<size_t>(stride) +
                           static_cast<size_t>(x) * 4;
        const int luma = (p[0] + p[1] + p[2]) / 3;
        value = (value << 1) | (luma > 127 ? 1u : 0u);
    }
    return value;
}

}  // namespace talvek::tools
