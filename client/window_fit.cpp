#include "window_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace talvek::client {

namespace {

// Products of a size and the scale are truncated toward zero as int. A value
// that no int can hold (only reachable with nonsense stream sizes) would be
// undefined behaviour to convert, so it is clamped first.
int truncate_to_int(float value) {
    if (std::isnan(value)) return 0;
    constexpr float lo = static_cast<float>(std::numeric_limits<int>::min());
    constexpr float hi = 2147483520.0f;  // largest float below 2^31
    return static_cast<int>(std::clamp(value, lo, hi));
}

}  // namespace

WindowSize fit_stream_window(int stream_width, int stream_height,
                             std::optional<WindowSize> display) {
    WindowSize size{stream_width, stream_height};
    if (display) {
        const int half_w = display->width / 2;
        const int half_h = display->height / 2;
        if (half_w < size.width || half_h < size.height) {
            // One scale for both sides keeps the stream's shape.
            const float scale =
                std::min(static_cast<float>(half_w) / static_cast<float>(size.width),
                         static_cast<float>(half_h) / static_cast<float>(size.height));
            size.width = truncate_to_int(static_cast<float>(size.width) * scale);
            size.height = truncate_to_int(static_cast<float>(size.height) * scale);
        }
    }
    size.width = std::max(size.width, MIN_WINDOW_WIDTH);
    size.height = std::max(size.height, MIN_WINDOW_HEIGHT);
    return size;
}

}  // namespace talvek::client
