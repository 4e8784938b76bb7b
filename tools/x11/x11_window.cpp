#include "x11_window.h"

#include <cstdio>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace talvek::testing {

namespace {

Display* dpy(void* d) { return static_cast<Display*>(d); }

// A window can go between two requests (its program closing, SDL's short-
// lived probe windows). Xlib's default handler would end the whole process
// on the error; ignored, it comes back as the failed call it is.
int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

// The title as UTF-8: _NET_WM_NAME where the program set it (a name like
// "Jürgen" survives only there), else the older WM_NAME.
std::string title_of(Display* d, Window w) {
    const Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8_string = XInternAtom(d, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, net_wm_name, 0, 1024, False, utf8_string, &type, &format, &items,
                           &after, &data) == Success &&
        data) {
        std::string title;
        if (type == utf8_string && format == 8) title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
        if (type == utf8_string) return title;
    }
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        std::string title = name;
        XFree(name);
        return title;
    }
    return {};
}

}  // namespace

bool Screenshot::save_ppm(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    for (size_t i = 0; i + 3 < bgra.size(); i += 4) {
        const unsigned char rgb[3] = {bgra[i + 2], bgra[i + 1], bgra[i]};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

X11Display::X11Display() : display(XOpenDisplay(nullptr)) {
    if (display) XSetErrorHandler(ignore_x_errors);  // for every connection of the process
}

X11Display::~X11Display() {
    if (display) XCloseDisplay(dpy(display));
}

unsigned long X11Display::find(unsigned long root, const std::string& title) {
    Display* d = dpy(display);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, root, &attributes) && attributes.map_state == IsViewable &&
        title_of(d, root) == title) {
        return root;
    }
    Window root_return, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, root, &root_return, &parent, &children, &count)) return 0;
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = find(children[i], title);
    if (children) XFree(children);
    return found;
}

unsigned long X11Display::wait_for_window(const std::string& title,
                                          std::chrono::milliseconds timeout) {
    if (!display) return 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        if (unsigned long w = find(DefaultRootWindow(dpy(display)), title)) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

bool X11Display::window_size(unsigned long window, int& width, int& height) {
    XWindowAttributes attributes;
    if (!display || !XGetWindowAttributes(dpy(display), window, &attributes)) return false;
    width = attributes.width;
    height = attributes.height;
    return true;
}

bool X11Display::capture(unsigned long window, Screenshot& shot) {
    int width = 0;
    int height = 0;
    if (!window_size(window, width, height)) return false;
    XImage* image = XGetImage(dpy(display), window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return false;
    shot.width = width;
    shot.height = height;
    shot.bgra.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            uint8_t* out = shot.bgra.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) +
                                               static_cast<size_t>(x)) * 4;
            out[0] = static_cast<uint8_t>(p & 0xFF);
            out[1] = static_cast<uint8_t>((p >> 8) & 0xFF);
            out[2] = static_cast<uint8_t>((p >> 16) & 0xFF);
            out[3] = 255;
        }
    }
    XDestroyImage(image);
    return true;
}

bool X11Display::request_close(unsigned long window) {
    if (!display) return false;
    Display* d = dpy(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, window, False, NoEventMask, &event) != 0;
    XFlush(d);
    return sent;
}

}  // namespace talvek::testing
