#pragma once
// Initial size of the receiver's window: the stream's own size, shrunk to fit
// half the display while keeping its shape, never smaller than 320 x 240.
// Pure arithmetic so the numbers can be checked without a display.

#include <optional>

namespace talvek::client {

struct WindowSize {
    int width = 0;
    int height = 0;
};

inline constexpr int MIN_WINDOW_WIDTH = 320;
inline constexpr int MIN_WINDOW_HEIGHT = 240;

// display: the current display mode's size, or nullopt when it is unknown.
WindowSize fit_stream_window(int stream_width, int stream_height,
                             std::optional<WindowSize> display);

}  // namespace talvek::client
