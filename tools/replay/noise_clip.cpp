#include "noise_clip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "test_pattern.h"

namespace talvek::testing {

namespace {

uint8_t clamp_byte(double v) {
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

// xorshift32: cheap, and the same noise for the same seed on every machine.
uint32_t next_random(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

std::vector<uint8_t> clip_picture_yuv(const ClipOptions& o, int index) {
    const std::vector<uint8_t> bgra = tools::make_test_pattern(
        o.width, o.height, o.first_number + static_cast<uint32_t>(index));
    const size_t w = static_cast<size_t>(o.width);
    const size_t h = static_cast<size_t>(o.height);
    std::vector<uint8_t> yuv(w * h + w * h / 2);
    uint8_t* y_plane = yuv.data();
    uint8_t* u_plane = y_plane + w * h;
    uint8_t* v_plane = u_plane + (w / 2) * (h / 2);

    // BT.601 limited range, the conversion the receiver's scaler undoes.
    auto rgb = [&](size_t x, size_t y, double& r, double& g, double& b) {
        const uint8_t* p = bgra.data() + (y * w + x) * 4;
        b = p[0];
        g = p[1];
        r = p[2];
    };
    uint32_t state = o.seed * 2654435761u + static_cast<uint32_t>(index) * 40503u + 1u;
    for (size_t y = 0; y < h; ++y) {
        const bool noisy = static_cast<int>(y) >= o.noise_top &&
                           static_cast<int>(y) < o.noise_bottom && o.noise_amplitude > 0;
        for (size_t x = 0; x < w; ++x) {
            double r, g, b;
            rgb(x, y, r, g, b);
            double luma = 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0;
            if (noisy) {
                const int span = 2 * o.noise_amplitude + 1;
                luma += static_cast<int>(next_random(state) % static_cast<uint32_t>(span)) -
                        o.noise_amplitude;
            }
            y_plane[y * w + x] = clamp_byte(luma);
        }
    }
    for (size_t cy = 0; cy < h / 2; ++cy) {
        for (size_t cx = 0; cx < w / 2; ++cx) {
            double rs = 0, gs = 0, bs = 0;
            for (size_t dy = 0; dy < 2; ++dy) {
                for (size_t dx = 0; dx < 2; ++dx) {
                    double r, g, b;
                    rgb(cx * 2 + dx, cy * 2 + dy, r, g, b);
                    rs += r;
                    gs += g;
                    bs += b;
                }
            }
            rs /= 4;
            gs /= 4;
            bs /= 4;
            u_plane[cy * (w / 2) + cx] =
                clamp_byte(128.0 + (-37.797 * rs - 74.203 * gs + 112.0 * bs) / 255.0);
            v_plane[cy * (w / 2) + cx] =
                clamp_byte(128.0 + (112.0 * rs - 93.786 * gs - 18.214 * bs) / 255.0);
        }
    }
    return yuv;
}

bool write_noise_clip(const std::string& path, const ClipOptions& o) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    // 420jpeg: plain 4:2:0 with centred chroma, read back as yuv420p.
    if (std::fprintf(file.get(), "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n", o.width, o.height,
                     o.fps) < 0) {
        return false;
    }
    for (int i = 0; i < o.pictures; ++i) {
        const std::vector<uint8_t> yuv = clip_picture_yuv(o, i);
        if (std::fputs("FRAME\n", file.get()) < 0) return false;
        if (std::fwrite(yuv.data(), 1, yuv.size(), file.get()) != yuv.size()) return false;
    }
    return std::fclose(file.release()) == 0;
}

}  // namespace talvek::testing
