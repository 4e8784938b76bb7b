#include "window_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "float_conversion.h"

namespace talvek::client {

// Products of a size and the scale are truncated toward zero as int; one
// that no int can hold (only reachable with nonsense stream sizes) saturates.
using talvek::truncate_to_int;

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
