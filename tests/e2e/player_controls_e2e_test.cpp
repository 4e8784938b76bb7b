// The real player process under a private X server, worked with real keys
// and clicks (xdotool): fullscreen and back, and the audio-state datagrams
// its keys and the audio bar send to the host application. No video is
// needed; the window shows the stream size's blank picture with the bar.
//
// Fullscreen is a request to the window manager, so this program runs a
// minimal one of its own: it maps and focuses windows, grants their
// geometry requests, and obeys _NET_WM_STATE_FULLSCREEN by covering the
// screen. Leaving fullscreen only drops the state; putting the window back
// is the player's job, which is what is under test.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

#include "child_process.h"
#include "host_datagrams.h"
#include "program_under_test.h"
#include "udp_socket.h"
#include "wait_until.h"
#include "x11_window.h"
#include "xvfb_server.h"

// Last: Xlib's macros (None, Bool, Status...) must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace std::chrono_literals;
using talvek::testing::auds;
using talvek::testing::ChildProcess;
using talvek::testing::received_datagrams;
using talvek::testing::X11Display;

namespace {

const talvek::testing::ProgramUnderTest PLAYER("TALVEK_E2E_PLAYER", PLAYER_PATH);
constexpr int SCREEN_W = 1920;  // the harness's Xvfb screen
constexpr int SCREEN_H = 1080;

struct Geometry {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool operator==(const Geometry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Geometry& g) {
    return os << g.w << "x" << g.h << " at (" << g.x << ", " << g.y << ")";
}

// A window lost between two requests is not an error for a test WM.
int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

class FullscreenWindowManager {
public:
    FullscreenWindowManager() : display(XOpenDisplay(nullptr)) {
        if (!display) return;
        XSetErrorHandler(ignore_x_errors);
        root = DefaultRootWindow(display);
        net_wm_state = XInternAtom(display, "_NET_WM_STATE", False);
        net_wm_state_fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
        XSelectInput(display, root, SubstructureRedirectMask | SubstructureNotifyMask);
        announce_ewmh();
        XSync(display, False);
        thread = std::thread([this] { run(); });
    }

    ~FullscreenWindowManager() {
        stop = true;
        if (thread.joinable()) thread.join();
        if (display) XCloseDisplay(display);
    }

    bool ok() const { return display != nullptr; }

private:
    // SDL asks for fullscreen through _NET_WM_STATE only when a window
    // manager says it supports it.
    void announce_ewmh() {
        const Atom check_atom = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
        const Window check = XCreateSimpleWindow(display, root, -10, -10, 1, 1, 0, 0, 0);
        auto* check_bytes = reinterpret_cast<const unsigned char*>(&check);
        XChangeProperty(display, root, check_atom, XA_WINDOW, 32, PropModeReplace, check_bytes, 1);
        XChangeProperty(display, check, check_atom, XA_WINDOW, 32, PropModeReplace, check_bytes,
                        1);
        const char name[] = "test-wm";
        XChangeProperty(display, check, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(name), sizeof name - 1);
        const Atom supported[] = {net_wm_state, net_wm_state_fullscreen};
        XChangeProperty(display, root, XInternAtom(display, "_NET_SUPPORTED", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(supported), 2);
    }

    void run() {
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        while (!stop) {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                handle(event);
            }
            XFlush(display);
            poll(&fd, 1, 20);
        }
    }

    void handle(const XEvent& event) {
        switch (event.type) {
        case MapRequest:
            XMapWindow(display, event.xmaprequest.window);
            XSetInputFocus(display, event.xmaprequest.window, RevertToPointerRoot, CurrentTime);
            break;
        case ConfigureRequest: {
            const XConfigureRequestEvent& r = event.xconfigurerequest;
            XWindowChanges changes{};
            changes.x = r.x;
            changes.y = r.y;
            changes.width = r.width;
            changes.height = r.height;
            changes.border_width = r.border_width;
            changes.sibling = r.above;
            changes.stack_mode = r.detail;
            XConfigureWindow(display, r.window, static_cast<unsigned>(r.value_mask), &changes);
            break;
        }
        case ClientMessage:
            if (event.xclient.message_type == net_wm_state) set_state(event.xclient);
            break;
        default:
            break;
        }
    }

    // data.l: [0] 0 remove, 1 add, 2 toggle; [1] and [2] the state atoms.
    void set_state(const XClientMessageEvent& message) {
        const auto fs = static_cast<long>(net_wm_state_fullscreen);
        if (message.data.l[1] != fs && message.data.l[2] != fs) return;
        const Window w = message.window;
        const long action = message.data.l[0];
        const bool on = action == 1 || (action == 2 && !is_fullscreen(w));
        if (on) {
            const Atom state[] = {net_wm_state_fullscreen};
            XChangeProperty(display, w, net_wm_state, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(state), 1);
            XMoveResizeWindow(display, w, 0, 0, SCREEN_W, SCREEN_H);
        } else {
            XDeleteProperty(display, w, net_wm_state);
        }
    }

    bool is_fullscreen(Window w) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(display, w, net_wm_state, 0, 16, False, XA_ATOM, &type, &format,
                               &count, &after, &data) == Success &&
            data) {
            const Atom* atoms = reinterpret_cast<const Atom*>(data);
            for (unsigned long i = 0; i < count; ++i) found |= atoms[i] == net_wm_state_fullscreen;
            XFree(data);
        }
        return found;
    }

    Display* display;
    Window root = 0;
    Atom net_wm_state = 0;
    Atom net_wm_state_fullscreen = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// One server and one window manager for the whole program; the manager goes
// first at exit.
std::unique_ptr<talvek::testing::XvfbServer> xvfb;
std::unique_ptr<FullscreenWindowManager> window_manager;

enum class Audio { Yes, No };

class PlayerControlsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!xvfb) xvfb = std::make_unique<talvek::testing::XvfbServer>();
        if (xvfb->ok() && !window_manager) {
            window_manager = std::make_unique<FullscreenWindowManager>();
        }
    }

    void SetUp() override {
        ASSERT_TRUE(xvfb->ok()) << "Xvfb did not start";
        ASSERT_TRUE(window_manager && window_manager->ok()) << "no window manager";
        geometry_display = XOpenDisplay(nullptr);
        ASSERT_NE(geometry_display, nullptr);
        ASSERT_TRUE(host.bind(0));
    }

    void TearDown() override {
        if (geometry_display) XCloseDisplay(geometry_display);
    }

    // A 640 x 360 stream: its window is 640 x 360, centred on the screen.
    void start_player(Audio audio) {
        std::vector<std::string> argv = PLAYER.command(
            {"--port", std::to_string(talvek::testing::free_udp_port()), "--parent-port",
             std::to_string(host.get_bound_port()), "--width", "640", "--height", "360",
             "--username", "Tester", "--audio-volume", "0.5"});
        if (audio == Audio::Yes) argv.push_back("--has-audio");
        player = std::make_unique<ChildProcess>(
            argv, PLAYER.env({"SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy"}));
        ASSERT_TRUE(player->wait_for_output("[VideoPlayer] Listening on UDP port", 10s))
            << player->err();
        window = display.wait_for_window("Stream: Tester", 10s);
        ASSERT_NE(window, 0u) << player->err();
        ASSERT_TRUE(wait_for_geometry(Geometry{640, 360, 640, 360}, 5s))
            << "window is " << geometry();
    }

    void close_and_expect_clean_exit() {
        ASSERT_TRUE(display.request_close(window));
        EXPECT_EQ(player->wait(10s), 0) << player->err();
        // The receiver's teardown lines follow; they are its own business.
        EXPECT_NE(player->out().find("[VideoPlayer] Shutting down\n"), std::string::npos)
            << player->out();
    }

    // Runs xdotool with the given arguments, to its end.
    static void xdotool(std::vector<std::string> words) {
        words.insert(words.begin(), "/usr/bin/xdotool");
        ChildProcess tool(words);
        ASSERT_EQ(tool.wait(10s), 0) << tool.err();
    }
    static void press_key(const std::string& key) { xdotool({"key", key}); }
    // Moves the pointer to (x, y) of the window (which shows the bar) and clicks.
    void click(int x, int y) {
        xdotool({"mousemove", "--window", std::to_string(window), std::to_string(x),
                 std::to_string(y), "click", "1"});
    }

    Geometry geometry() {
        XWindowAttributes a;
        if (!XGetWindowAttributes(geometry_display, window, &a)) return {};
        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates(geometry_display, window, DefaultRootWindow(geometry_display), 0, 0,
                              &x, &y, &child);
        return {x, y, a.width, a.height};
    }

    bool wait_for_geometry(const Geometry& want, std::chrono::milliseconds timeout) {
        return talvek::testing::wait_until([&] { return geometry() == want; }, timeout, 20ms);
    }

    X11Display display;
    ::Display* geometry_display = nullptr;
    talvek::UDPSocket host;
    std::unique_ptr<ChildProcess> player;
    unsigned long window = 0;
};

TEST_F(PlayerControlsEndToEnd, FEntersFullscreenAndFAgainRestoresPositionAndSize) {
    ASSERT_NO_FATAL_FAILURE(start_player(Audio::Yes));
    const Geometry windowed = geometry();

    press_key("f");
    EXPECT_TRUE(wait_for_geometry(Geometry{0, 0, SCREEN_W, SCREEN_H}, 5s))
        << "window is " << geometry();
    press_key("f");
    EXPECT_TRUE(wait_for_geometry(windowed, 5s)) << "window is " << geometry();

    // The same with F11 into fullscreen and Escape out of it.
    press_key("F11");
    EXPECT_TRUE(wait_for_geometry(Geometry{0, 0, SCREEN_W, SCREEN_H}, 5s))
        << "window is " << geometry();
    press_key("Escape");
    EXPECT_TRUE(wait_for_geometry(windowed, 5s)) << "window is " << geometry();

    EXPECT_TRUE(received_datagrams(host, 300ms, 1).empty())
        << "view keys send nothing to the host";
    close_and_expect_clean_exit();
}

TEST_F(PlayerControlsEndToEnd, BarsFullscreenButtonTogglesBothWays) {
    ASSERT_NO_FATAL_FAILURE(start_player(Audio::No));
    const Geometry windowed = geometry();
    click(640 - 20, 360 - 18);
    EXPECT_TRUE(wait_for_geometry(Geometry{0, 0, SCREEN_W, SCREEN_H}, 5s))
        << "window is " << geometry();
    click(SCREEN_W - 20, SCREEN_H - 18);
    EXPECT_TRUE(wait_for_geometry(windowed, 5s)) << "window is " << geometry();
    close_and_expect_clean_exit();
}

TEST_F(PlayerControlsEndToEnd, KeysAndBarClicksReportTheAudioStateToTheHost) {
    ASSERT_NO_FATAL_FAILURE(start_player(Audio::Yes));
    press_key("m");
    press_key("Up");
    press_key("Down");
    click(20, 360 - 18);        // the speaker: unmute
    click(48 + 75, 360 - 18);   // a quarter along the 300-pixel slider
    const float up = 0.5f + 0.05f;
    const float down = up - 0.05f;
    EXPECT_EQ(received_datagrams(host, 5s, 5),
              (std::vector<std::vector<uint8_t>>{auds(true, 0.5f), auds(true, up), auds(true, down),
                                                 auds(false, down), auds(false, 0.25f)}));

    // A drag from the slider past its end holds the volume at 1.
    xdotool({"mousemove", "--window", std::to_string(window), "198", std::to_string(360 - 18),
             "mousedown", "1"});
    xdotool({"mousemove", "--window", std::to_string(window), "600", "100", "mouseup", "1"});
    const auto drag = received_datagrams(host, 5s, 2);
    ASSERT_EQ(drag.size(), 2u);
    EXPECT_EQ(drag[0], auds(false, 0.5f));
    EXPECT_EQ(drag[1], auds(false, 1.0f));
    close_and_expect_clean_exit();
}

TEST_F(PlayerControlsEndToEnd, SilentStreamIgnoresTheAudioKeys) {
    ASSERT_NO_FATAL_FAILURE(start_player(Audio::No));
    const Geometry windowed = geometry();
    press_key("m");
    press_key("Up");
    press_key("Down");
    click(20, 360 - 18);
    // Keys are handled in order: once F has taken effect, the others have too.
    press_key("f");
    EXPECT_TRUE(wait_for_geometry(Geometry{0, 0, SCREEN_W, SCREEN_H}, 5s))
        << "window is " << geometry();
    EXPECT_TRUE(received_datagrams(host, 300ms, 1).empty());
    press_key("f");
    EXPECT_TRUE(wait_for_geometry(windowed, 5s));
    close_and_expect_clean_exit();
}

}  // namespace
