#pragma once
// Which test-pattern frame a program's window shows, read from the number
// drawn into the picture.

#include <chrono>
#include <cstdint>
#include <thread>

#include "test_pattern.h"
#include "x11_window.h"

namespace talvek::testing {

inline uint32_t shown_frame(const Screenshot& shot) {
    return tools::read_frame_number(shot.bgra.data(), shot.width, shot.height, shot.width * 4);
}

// Polls the window until it shows frame `expected` (a slow build may take a
// moment to draw the last frame); returns the last capture.
inline Screenshot wait_for_frame(X11Display& display, unsigned long window, uint32_t expected,
                                 std::chrono::milliseconds timeout) {
    Screenshot shot;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        if (display.capture(window, shot) && shown_frame(shot) == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return shot;
}

}  // namespace talvek::testing
