// screen_watch: tells, from outside, when each picture reaches the screen.
// Reads one row of the window through the X server every millisecond or so,
// in the middle of the test picture's frame-number strip, and prints a line
// whenever the number changes:
//
//   <steady clock ns> <number>
//
// One 1-pixel row costs the X server far less than a screenshot, so the
// watcher disturbs the player little. Run it under the same X server.
//
//   screen_watch --title "Stream: bench" [--seconds S] [--interval-us U]

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "test_pattern.h"
#include "x11_window.h"

namespace {

using Clock = std::chrono::steady_clock;

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The number shown, read from one row of the strip (test_pattern.h): the
// same block centres read_frame_number samples.
uint32_t number_in_row(XImage* row, int width) {
    uint32_t value = 0;
    for (int bit = 0; bit < talvek::tools::FRAME_NUMBER_BITS; ++bit) {
        const int x = (width * bit / talvek::tools::FRAME_NUMBER_BITS +
                       width * (bit + 1) / talvek::tools::FRAME_NUMBER_BITS) / 2;
        const unsigned long p = XGetPixel(row, x, 0);
        const int luma = static_cast<int>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
        value = (value << 1) | (luma > 127 ? 1u : 0u);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    std::string title;
    double seconds = 10.0;
    int interval_us = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--title") title = argv[i + 1];
        else if (arg == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (arg == "--interval-us") interval_us = std::atoi(argv[i + 1]);
    }
    if (title.empty()) {
        std::fprintf(stderr, "Usage: %s --title <window title> [--seconds S] [--interval-us U]\n",
                     argv[0]);
        return 2;
    }
    talvek::testing::X11Display finder;
    const unsigned long window = finder.wait_for_window(title, std::chrono::seconds(10));
    if (!window) {
        std::fprintf(stderr, "no window titled \"%s\"\n", title.c_str());
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;

    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    uint32_t last = 0;
    bool first = true;
    long reads = 0;
    while (Clock::now() < end) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window, &attributes)) break;
        const int split = attributes.height * 3 / 4;
        const int y = split + (attributes.height - split) / 2;
        XImage* row = XGetImage(display, window, 0, y, static_cast<unsigned>(attributes.width), 1,
                                AllPlanes, ZPixmap);
        if (!row) break;
        const long long t = now_ns();
        const uint32_t number = number_in_row(row, attributes.width);
        XDestroyImage(row);
        ++reads;
        if (first || number != last) {
            std::printf("%lld %u\n", t, number);
            std::fflush(stdout);  // the script may end us with a signal
            last = number;
            first = false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(interval_us));
    }
    std::fprintf(stderr, "screen_watch: %ld reads in %.1f s\n", reads, seconds);
    XCloseDisplay(display);
    return 0;
}
