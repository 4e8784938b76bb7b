#pragma once
// What an SDL renderer last drew, read back pixel by pixel.

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rgb.h"

namespace talvek::testing {

struct RendererOutput {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> bytes;  // B, G, R, A per pixel, rows packed
    bool read = false;           // false, and bytes zero, when SDL could not read it

    Rgb at(int x, int y) const {
        const uint8_t* px =
            &bytes[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 4];
        return {px[2], px[1], px[0]};
    }
};

inline RendererOutput read_output(SDL_Renderer* renderer) {
    RendererOutput out;
    SDL_GetRendererOutputSize(renderer, &out.w, &out.h);
    out.bytes.resize(static_cast<size_t>(out.w) * static_cast<size_t>(out.h) * 4);
    // ARGB8888 is B, G, R, A in memory on the little-endian hosts the tests run on.
    out.read = SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, out.bytes.data(),
                                    out.w * 4) == 0;
    EXPECT_TRUE(out.read) << SDL_GetError();
    return out;
}

}  // namespace talvek::testing
