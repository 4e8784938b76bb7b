// The main loop's view and audio controls driven with synthetic SDL events
// on a real receiver window (SDL's dummy driver, software renderer): the
// audio-state datagrams the host application receives, fullscreen, zoom and
// pan as the window and the picture show them, and the audio bar's timing
// under a hand-moved clock.

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "gradient_picture.h"
#include "host_datagrams.h"
#include "player_loop.h"
#include "receiver_peer.h"
#include "renderer_output.h"
#include "udp_socket.h"
#include "video_receiver.h"

using talvek::UDPSocket;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::testing::auds;
using talvek::testing::gradient_picture;
using talvek::testing::received_datagrams;
using talvek::testing::Rgb;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

enum class Audio { Yes, No };

constexpr int W = 1280;
constexpr int H = 720;
constexpr int BAR_Y = 702;  // the bar's centre line in a 1280 x 720 window
constexpr uint32_t START_TICKS = 10000;

class PlayerControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        receiver = std::make_unique<VideoReceiver>();
        testing::internal::CaptureStdout();
        const bool up = receiver->init_for_udp(W, H, VideoCodec::VP8);
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(up);
        // The bar's and the zoom's numbers below are for a 1280 x 720 window.
        SDL_SetWindowSize(Peer::window(*receiver), W, H);
        ASSERT_TRUE(player_socket.bind(0));
        ASSERT_TRUE(host.bind(0));
        args.port = player_socket.get_bound_port();
        args.parent_port = host.get_bound_port();
        args.has_audio = true;
        args.audio_volume = 0.5f;
    }

    void TearDown() override {
        loop.reset();
        testing::internal::CaptureStdout();
        receiver.reset();
        testing::internal::GetCapturedStdout();
        SDL_Quit();
    }

    PlayerLoop& start(Audio audio = Audio::Yes) {
        args.has_audio = audio == Audio::Yes;
        loop = std::make_unique<PlayerLoop>(args, *receiver, player_socket, [this] { return now; });
        return *loop;
    }

    // Lets the start-up display period run out.
    void hide_bar() {
        now += 5001;
        loop->auto_hide_overlay();
        ASSERT_FALSE(loop->overlay_visible());
    }

    std::vector<Bytes> host_received() { return received_datagrams(host, 30ms); }

    float gain() const { return Peer::audio_volume(*receiver); }
    SDL_Window* window() const { return Peer::window(*receiver); }

    static SDL_Event key(SDL_Keycode sym) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = sym;
        return e;
    }
    static SDL_Event button(uint32_t type, uint8_t which, int x, int y, uint8_t clicks = 1) {
        SDL_Event e{};
        e.type = type;
        e.button.button = which;
        e.button.x = x;
        e.button.y = y;
        e.button.clicks = clicks;
        return e;
    }
    static SDL_Event left_press(int x, int y, uint8_t clicks = 1) {
        return button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, x, y, clicks);
    }
    static SDL_Event left_release(int x, int y) {
        return button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, x, y);
    }
    static SDL_Event right_press(int x, int y) {
        return button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, x, y);
    }
    static SDL_Event right_release(int x, int y) {
        return button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, x, y);
    }
    static SDL_Event motion(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = x;
        e.motion.y = y;
        return e;
    }
    // A wheel notch with the pointer at (x, y) of the window.
    SDL_Event wheel_at(int x, int y, int amount) {
        SDL_WarpMouseInWindow(window(), x, y);
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.y = amount;
        return e;
    }

    void expect_window(int x, int y, int w, int h) {
        int gx = 0, gy = 0, gw = 0, gh = 0;
        SDL_GetWindowPosition(window(), &gx, &gy);
        SDL_GetWindowSize(window(), &gw, &gh);
        EXPECT_EQ(gx, x);
        EXPECT_EQ(gy, y);
        EXPECT_EQ(gw, w);
        EXPECT_EQ(gh, h);
    }
    bool sdl_fullscreen() const {
        return (SDL_GetWindowFlags(window()) & SDL_WINDOW_FULLSCREEN_DESKTOP) ==
               SDL_WINDOW_FULLSCREEN_DESKTOP;
    }

    static Rgb gradient_at(int x, int y) { return talvek::testing::gradient_at(x, y, W, H); }

    // Draws one picture through the receiver and reads the output pixel.
    Rgb drawn_at(int x, int y) {
        receiver->render();
        return talvek::testing::read_output(Peer::renderer(*receiver)).at(x, y);
    }

    uint32_t now = START_TICKS;
    std::unique_ptr<VideoReceiver> receiver;
    UDPSocket player_socket;
    UDPSocket host;
    Args args;
    std::unique_ptr<PlayerLoop> loop;
};

// ---- keys and the host application -----------------------------------------

TEST_F(PlayerControlsTest, AudioKeysReportEveryChangeAndSetTheGain) {
    PlayerLoop& l = start();
    EXPECT_TRUE(host_received().empty()) << "nothing is sent at start-up";
    EXPECT_FLOAT_EQ(gain(), 0.5f);

    l.on_event(key(SDLK_m));
    EXPECT_EQ(gain(), 0.0f);
    l.on_event(key(SDLK_UP));  // heard only once unmuted
    EXPECT_EQ(gain(), 0.0f);
    l.on_event(key(SDLK_m));
    EXPECT_FLOAT_EQ(gain(), 0.55f);
    l.on_event(key(SDLK_DOWN));
    EXPECT_FLOAT_EQ(gain(), 0.55f - 0.05f);

    EXPECT_EQ(host_received(), (std::vector<Bytes>{auds(true, 0.5f), auds(true, 0.5f + 0.05f),
                                                   auds(false, 0.5f + 0.05f),
                                                   auds(false, 0.5f + 0.05f - 0.05f)}));
}

TEST_F(PlayerControlsTest, VolumeKeysStopAtTheEndsAndStillReport) {
    args.audio_volume = 0.98f;
    PlayerLoop& l = start();
    l.on_event(key(SDLK_UP));
    EXPECT_EQ(l.chosen_volume(), 1.0f);
    l.on_event(key(SDLK_UP));
    EXPECT_EQ(host_received(), (std::vector<Bytes>{auds(false, 1.0f), auds(false, 1.0f)}));

    loop.reset();
    args.audio_volume = 0.03f;
    PlayerLoop& l2 = start();
    l2.on_event(key(SDLK_DOWN));
    EXPECT_EQ(l2.chosen_volume(), 0.0f);
    EXPECT_EQ(gain(), 0.0f);
    EXPECT_EQ(host_received(), (std::vector<Bytes>{auds(false, 0.0f)}));
}

TEST_F(PlayerControlsTest, AudioKeysShowTheBarAgain) {
    PlayerLoop& l = start();
    for (SDL_Keycode k : {SDLK_m, SDLK_UP, SDLK_DOWN}) {
        hide_bar();
        l.on_event(key(k));
        EXPECT_TRUE(l.overlay_visible()) << SDL_GetKeyName(k);
    }
    hide_bar();
    l.on_event(key(SDLK_r));  // other keys are not activity
    l.on_event(key(SDLK_a));
    EXPECT_FALSE(l.overlay_visible());
}

TEST_F(PlayerControlsTest, SilentStreamIgnoresAudioKeysButNotViewKeys) {
    PlayerLoop& l = start(Audio::No);
    hide_bar();
    for (SDL_Keycode k : {SDLK_m, SDLK_UP, SDLK_DOWN}) l.on_event(key(k));
    EXPECT_FALSE(l.is_muted());
    EXPECT_EQ(l.chosen_volume(), 0.5f);
    EXPECT_FLOAT_EQ(gain(), 0.5f);
    EXPECT_FALSE(l.overlay_visible());
    EXPECT_TRUE(host_received().empty());

    l.on_event(key(SDLK_F11));
    EXPECT_TRUE(l.view_state().fullscreen);
    l.on_event(key(SDLK_ESCAPE));
    EXPECT_FALSE(l.view_state().fullscreen);
}

TEST_F(PlayerControlsTest, WithoutParentPortTheVolumeChangesButNothingIsSent) {
    args.parent_port = 0;
    PlayerLoop& l = start();
    // Nothing is even tried: a send to port 0 would log a failure.
    ::testing::internal::CaptureStderr();
    l.on_event(key(SDLK_DOWN));
    l.on_event(key(SDLK_m));
    l.on_event(left_press(20, BAR_Y));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FLOAT_EQ(l.chosen_volume(), 0.45f);
    EXPECT_FALSE(l.is_muted());
    EXPECT_FLOAT_EQ(gain(), 0.45f);
    EXPECT_TRUE(host_received().empty());
}

TEST_F(PlayerControlsTest, QueuedKeyIsHandledByAPassOfTheLoop) {
    PlayerLoop& l = start();
    SDL_Event e = key(SDLK_m);
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
    l.run_pass();
    EXPECT_EQ(host_received(), (std::vector<Bytes>{auds(true, 0.5f)}));
}

// ---- clicks and drags on the bar ------------------------------------------

TEST_F(PlayerControlsTest, PressesAlongTheBandHitSpeakerGapAndSliderEdges) {
    PlayerLoop& l = start();
    l.on_event(left_press(43, BAR_Y));  // the speaker's last column
    EXPECT_TRUE(l.is_muted());
    for (int x = 44; x <= 47; ++x) l.on_event(left_press(x, BAR_Y));
    EXPECT_TRUE(l.is_muted());
    l.on_event(left_press(43, BAR_Y));
    EXPECT_FALSE(l.is_muted());
    l.on_event(left_press(48, BAR_Y));
    l.on_event(left_release(48, BAR_Y));
    l.on_event(left_press(348, BAR_Y));
    l.on_event(left_release(348, BAR_Y));
    l.on_event(left_press(349, BAR_Y));  // one past the slider's end
    l.on_event(left_release(349, BAR_Y));
    EXPECT_EQ(l.chosen_volume(), 1.0f);
    EXPECT_EQ(host_received(),
              (std::vector<Bytes>{auds(true, 0.5f), auds(false, 0.5f), auds(false, 0.0f),
                                  auds(false, 1.0f)}));
}

TEST_F(PlayerControlsTest, SliderPressWhileMutedStoresTheVolumeAndStaysSilent) {
    args.audio_muted = true;
    PlayerLoop& l = start();
    EXPECT_EQ(gain(), 0.0f);
    l.on_event(left_press(48 + 75, BAR_Y));
    EXPECT_EQ(l.chosen_volume(), 0.25f);
    EXPECT_EQ(gain(), 0.0f);
    EXPECT_EQ(host_received(), (std::vector<Bytes>{auds(true, 0.25f)}));
    l.on_event(key(SDLK_m));
    EXPECT_EQ(gain(), 0.25f);
}

TEST_F(PlayerControlsTest, DragPastBothEndsHoldsTheVolumeAndReportsEveryMotion) {
    PlayerLoop& l = start();
    l.on_event(left_press(198, BAR_Y));
    EXPECT_TRUE(l.is_dragging_volume());
    l.on_event(motion(500, 100));  // past the end, far above the band
    l.on_event(motion(900, BAR_Y));
    l.on_event(motion(-30, 400));  // past the start
    l.on_event(motion(123, 10));
    l.on_event(left_release(5, 5));  // wherever the pointer is
    EXPECT_FALSE(l.is_dragging_volume());
    l.on_event(motion(300, BAR_Y));  // no longer dragging
    EXPECT_EQ(l.chosen_volume(), 0.25f);
    EXPECT_EQ(host_received(),
              (std::vector<Bytes>{auds(false, 0.5f), auds(false, 1.0f), auds(false, 1.0f),
                                  auds(false, 0.0f), auds(false, 0.25f)}));
}

TEST_F(PlayerControlsTest, PressesOnAHiddenBarDoNothing) {
    PlayerLoop& l = start();
    hide_bar();
    l.on_event(left_press(20, BAR_Y));
    l.on_event(left_press(198, BAR_Y));
    l.on_event(left_press(1250, BAR_Y));
    l.on_event(left_press(600, 300, 2));  // a double-click on the picture too
    EXPECT_FALSE(l.is_muted());
    EXPECT_FALSE(l.is_dragging_volume());
    EXPECT_FALSE(l.view_state().fullscreen);
    EXPECT_FALSE(l.overlay_visible()) << "a press is not activity";
    EXPECT_TRUE(host_received().empty());
}

TEST_F(PlayerControlsTest, SecondPressOfADoubleClickOnThePictureTogglesFullscreen) {
    PlayerLoop& l = start();
    l.on_event(left_press(600, 300, 1));
    EXPECT_FALSE(l.view_state().fullscreen);
    l.on_event(left_press(600, 300, 2));
    EXPECT_TRUE(l.view_state().fullscreen);
    EXPECT_TRUE(sdl_fullscreen());
    l.on_event(left_press(600, 300, 3));  // a triple click's third press
    EXPECT_TRUE(l.view_state().fullscreen);

    // The window now has the display's size; the band moved with it.
    int w = 0, h = 0;
    SDL_GetWindowSize(window(), &w, &h);
    l.on_event(left_press(w / 2, h - 18, 2));  // a double-click inside the band
    EXPECT_TRUE(l.view_state().fullscreen);
    l.on_event(left_press(w / 2, h - 37, 2));
    EXPECT_FALSE(l.view_state().fullscreen);
}

TEST_F(PlayerControlsTest, FullscreenButtonWorksForSilentStreams) {
    PlayerLoop& l = start(Audio::No);
    l.on_event(left_press(20, BAR_Y));
    l.on_event(left_press(198, BAR_Y));
    EXPECT_FALSE(l.is_muted());
    EXPECT_EQ(l.chosen_volume(), 0.5f);
    EXPECT_TRUE(host_received().empty());
    l.on_event(left_press(1240, BAR_Y));
    EXPECT_TRUE(l.view_state().fullscreen);
}

// ---- fullscreen -------------------------------------------------------------

TEST_F(PlayerControlsTest, FTwiceReturnsTheWindowToItsPositionAndSize) {
    PlayerLoop& l = start();
    SDL_SetWindowPosition(window(), 123, 45);
    SDL_SetWindowSize(window(), 800, 450);
    for (SDL_Keycode k : {SDLK_f, SDLK_F11}) {
        SCOPED_TRACE(SDL_GetKeyName(k));
        l.on_event(key(k));
        EXPECT_TRUE(l.view_state().fullscreen);
        EXPECT_TRUE(sdl_fullscreen());
        SDL_DisplayMode mode{};
        ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
        expect_window(0, 0, mode.w, mode.h);
        l.on_event(key(k));
        EXPECT_FALSE(l.view_state().fullscreen);
        EXPECT_FALSE(sdl_fullscreen());
        expect_window(123, 45, 800, 450);
    }
}

TEST_F(PlayerControlsTest, EscapeLeavesFullscreenAndDoesNothingInAWindow) {
    PlayerLoop& l = start();
    SDL_SetWindowPosition(window(), 70, 80);
    l.on_event(key(SDLK_ESCAPE));
    EXPECT_FALSE(l.view_state().fullscreen);
    EXPECT_FALSE(sdl_fullscreen());
    expect_window(70, 80, W, H);

    l.on_event(key(SDLK_f));
    l.on_event(key(SDLK_ESCAPE));
    EXPECT_FALSE(l.view_state().fullscreen);
    expect_window(70, 80, W, H);
    l.on_event(key(SDLK_ESCAPE));
    EXPECT_FALSE(l.view_state().fullscreen);
}

TEST_F(PlayerControlsTest, BarShowsTheLeaveIconInFullscreen) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    // Enter-icon: a vertical stroke at fx = W - 32; leave-icon: at fx + 4.
    const Rgb icon{200, 200, 200};
    EXPECT_TRUE(near(drawn_at(W - 32, BAR_Y - 4), icon, 2));
    EXPECT_FALSE(near(drawn_at(W - 28, BAR_Y - 4), icon, 2));
    l.on_event(left_press(W - 20, BAR_Y));
    ASSERT_TRUE(l.view_state().fullscreen);
    int w = 0, h = 0;
    SDL_GetWindowSize(window(), &w, &h);
    EXPECT_TRUE(near(drawn_at(w - 28, h - 18 - 4), icon, 2));
    EXPECT_FALSE(near(drawn_at(w - 32, h - 18 - 4), icon, 2));
}

// A device lost under Direct3D 11 or 12 takes the texture with it; black
// over the old one stands for that here. The reset brings the last picture
// back, and an ended stream keeps its last picture under the overlay.
TEST_F(PlayerControlsTest, ADeviceResetShowsTheLastPictureAgain) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    hide_bar();
    const std::vector<uint8_t> black(static_cast<size_t>(W) * H * 4, 0);
    SDL_Event reset{};
    reset.type = SDL_RENDER_DEVICE_RESET;

    EXPECT_TRUE(near(drawn_at(640, 360), gradient_at(640, 360), 3));
    ASSERT_EQ(SDL_UpdateTexture(Peer::texture(*receiver), nullptr, black.data(), W * 4), 0);
    EXPECT_TRUE(near(drawn_at(640, 360), Rgb{0, 0, 0}, 0));
    l.on_event(reset);
    EXPECT_TRUE(near(drawn_at(640, 360), gradient_at(640, 360), 3));

    receiver->mark_stream_ended();
    const Rgb ended = drawn_at(100, 100);
    ASSERT_FALSE(near(ended, Rgb{0, 0, 0}, 2));
    ASSERT_EQ(SDL_UpdateTexture(Peer::texture(*receiver), nullptr, black.data(), W * 4), 0);
    EXPECT_TRUE(near(drawn_at(100, 100), Rgb{0, 0, 0}, 0));
    l.on_event(reset);
    EXPECT_TRUE(near(drawn_at(100, 100), ended, 0));
}

// ---- zoom and pan -------------------------------------------------------------

TEST_F(PlayerControlsTest, WheelZoomsAtThePointerAndRResetsTheWholePicture) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    hide_bar();  // keep the bar out of the corner pixels
    EXPECT_TRUE(near(drawn_at(0, 0), gradient_at(0, 0), 3));

    l.on_event(wheel_at(320, 180, 1));
    EXPECT_FLOAT_EQ(l.view_state().zoom.zoom, 1.25f);
    EXPECT_FLOAT_EQ(l.view_state().zoom.center_x, 0.45f);
    EXPECT_FLOAT_EQ(l.view_state().zoom.center_y, 0.45f);
    // The receiver shows a 1024 x 576 part from about (64, 36): the
    // point under the pointer stays put, the corners move in.
    EXPECT_TRUE(near(drawn_at(320, 180), gradient_at(320, 180), 3));
    EXPECT_TRUE(near(drawn_at(0, 0), gradient_at(64, 36), 3)) << drawn_at(0, 0);
    EXPECT_TRUE(near(drawn_at(W - 1, H - 1), gradient_at(64 + 1023, 36 + 575), 3));

    l.on_event(key(SDLK_r));
    EXPECT_EQ(l.view_state().zoom.zoom, 1.0f);
    EXPECT_EQ(l.view_state().zoom.center_x, 0.5f);
    EXPECT_TRUE(near(drawn_at(0, 0), gradient_at(0, 0), 3));
}

TEST_F(PlayerControlsTest, RAtZoomOneStillSwitchesTheZoomRectangleOff) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    hide_bar();
    receiver->set_zoom_rect(true, 320, 180, 640, 360);
    EXPECT_TRUE(near(drawn_at(0, 0), gradient_at(320, 180), 3));
    l.on_event(key(SDLK_r));
    EXPECT_TRUE(near(drawn_at(0, 0), gradient_at(0, 0), 3));
}

TEST_F(PlayerControlsTest, ElevenNotchesReachTenAndNotchingBackRecentres) {
    PlayerLoop& l = start();
    for (int i = 0; i < 11; ++i) l.on_event(wheel_at(1000, 600, 1));
    EXPECT_EQ(l.view_state().zoom.zoom, 10.0f);
    EXPECT_GT(l.view_state().zoom.center_x, 0.5f);
    for (int i = 0; i < 11; ++i) l.on_event(wheel_at(100, 100, -1));
    EXPECT_EQ(l.view_state().zoom.zoom, 1.0f);
    EXPECT_EQ(l.view_state().zoom.center_x, 0.5f);
    EXPECT_EQ(l.view_state().zoom.center_y, 0.5f);
}

TEST_F(PlayerControlsTest, RightDragPansTheZoomedViewUntilReleased) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    hide_bar();
    l.on_event(wheel_at(640, 360, 1));
    l.on_event(wheel_at(640, 360, 1));  // zoom 1.5625, still centred
    ASSERT_FLOAT_EQ(l.view_state().zoom.center_x, 0.5f);

    l.on_event(right_press(640, 360));
    EXPECT_TRUE(l.view_state().panning);
    l.on_event(motion(740, 310));  // right and up: the view moves left and down
    EXPECT_FLOAT_EQ(l.view_state().zoom.center_x, 0.5f - (100.0f / 1280.0f) / 1.5625f);
    EXPECT_FLOAT_EQ(l.view_state().zoom.center_y, 0.5f + (50.0f / 720.0f) / 1.5625f);
    EXPECT_EQ(l.view_state().pan_last_x, 740);
    EXPECT_EQ(l.view_state().pan_last_y, 310);
    // The picture follows the pointer: what was at the press point is now
    // under the pointer's new position.
    const ZoomRect shown = zoom_rect_for(l.view_state().zoom, W, H);
    EXPECT_TRUE(near(drawn_at(740, 310),
                     gradient_at(shown.x + 740 * shown.w / W, shown.y + 310 * shown.h / H), 3));
    EXPECT_TRUE(near(drawn_at(740, 310), gradient_at(640, 360), 4)) << drawn_at(740, 310);

    l.on_event(right_release(740, 310));
    EXPECT_FALSE(l.view_state().panning);
    const ZoomView before = l.view_state().zoom;
    l.on_event(motion(100, 100));
    EXPECT_EQ(l.view_state().zoom.center_x, before.center_x);
    EXPECT_EQ(l.view_state().zoom.center_y, before.center_y);
}

TEST_F(PlayerControlsTest, RightPressAtZoomOneStartsNoPanEvenIfTheWheelZoomsWhileHeld) {
    PlayerLoop& l = start();
    l.on_event(right_press(640, 360));
    EXPECT_FALSE(l.view_state().panning);
    l.on_event(wheel_at(640, 360, 1));
    ASSERT_GT(l.view_state().zoom.zoom, 1.0f);
    l.on_event(motion(900, 500));
    EXPECT_FALSE(l.view_state().panning);
    EXPECT_EQ(l.view_state().zoom.center_x, 0.5f);
    EXPECT_EQ(l.view_state().zoom.center_y, 0.5f);
}

// ---- the bar's visibility -----------------------------------------------------

TEST_F(PlayerControlsTest, BarShowsFiveSecondsAfterStartUpThenTwoAfterEachMovement) {
    PlayerLoop& l = start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    const Rgb picture = gradient_at(600, BAR_Y);
    EXPECT_FALSE(near(drawn_at(600, BAR_Y), picture, 3)) << "the bar darkens the band";

    now = START_TICKS + 5000;
    l.auto_hide_overlay();
    EXPECT_TRUE(l.overlay_visible());
    now = START_TICKS + 5001;
    l.run_pass();  // the pass hides it after drawing
    EXPECT_FALSE(l.overlay_visible());
    EXPECT_TRUE(near(drawn_at(600, BAR_Y), picture, 3));

    l.on_event(motion(10, 10));
    EXPECT_TRUE(l.overlay_visible());
    now += 2000;
    l.auto_hide_overlay();
    EXPECT_TRUE(l.overlay_visible());
    now += 1;
    l.auto_hide_overlay();
    EXPECT_FALSE(l.overlay_visible());
}

TEST_F(PlayerControlsTest, HeldSliderPressKeepsTheBarShownUntilRelease) {
    PlayerLoop& l = start();
    l.on_event(left_press(198, BAR_Y));
    for (int i = 0; i < 10; ++i) {
        now += 60000;
        l.auto_hide_overlay();
    }
    EXPECT_TRUE(l.overlay_visible());
    l.on_event(left_release(198, BAR_Y));
    l.auto_hide_overlay();
    EXPECT_FALSE(l.overlay_visible());
}

TEST_F(PlayerControlsTest, WheelAndClicksAreNotActivity) {
    PlayerLoop& l = start();
    hide_bar();
    l.on_event(wheel_at(300, 300, 1));
    l.on_event(right_press(300, 300));
    l.on_event(right_release(300, 300));
    EXPECT_FALSE(l.overlay_visible());
}

TEST_F(PlayerControlsTest, MutedBarDrawsARedSpeakerOverThePicture) {
    args.audio_muted = true;
    start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    EXPECT_TRUE(near(drawn_at(14, BAR_Y), Rgb{200, 60, 60}, 2)) << drawn_at(14, BAR_Y);
    EXPECT_TRUE(near(drawn_at(22, BAR_Y), Rgb{255, 80, 80}, 2)) << drawn_at(22, BAR_Y);
}

TEST_F(PlayerControlsTest, DestroyedLoopTakesItsBarOffTheReceiver) {
    start();
    Peer::hand_over(*receiver, gradient_picture(W, H));
    const Rgb picture = gradient_at(600, BAR_Y);
    EXPECT_FALSE(near(drawn_at(600, BAR_Y), picture, 3));
    loop.reset();
    EXPECT_TRUE(near(drawn_at(600, BAR_Y), picture, 3));
}

}  // namespace
