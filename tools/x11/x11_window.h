#pragma once
// Just enough X11 to look at a program's window as a user would: find it by
// title, read its pixels, and ask it to close like a window manager does.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace talvek::testing {

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;  // 4 bytes a pixel, B, G, R, 255; rows packed

    const uint8_t* pixel(int x, int y) const {
        return bgra.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) +
                              static_cast<size_t>(x)) * 4;
    }
    bool save_ppm(const std::string& path) const;
};

class X11Display {
public:
    X11Display();  // opens $DISPLAY
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    bool ok() const { return display != nullptr; }

    // The first viewable window whose title is `title`; 0 when none shows up.
    unsigned long wait_for_window(const std::string& title, std::chrono::milliseconds timeout);

    // Both fail, rather than end the process, once the window is gone.
    bool window_size(unsigned long window, int& width, int& height);
    bool capture(unsigned long window, Screenshot& shot);
    // Sends WM_DELETE_WINDOW, the window manager's close request.
    bool request_close(unsigned long window);

private:
    unsigned long find(unsigned long root, const std::string& title);

    void* display = nullptr;  // Display*, kept out of this header
};

}  // namespace talvek::testing
