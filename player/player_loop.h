#pragma once
// The state of player's main loop and its handlers, one per kind of input,
// so a test can drive the loop without a window. The loop runs on the main
// thread only; so does the overlay callback, from inside render().

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <SDL.h>

#include "datagram_route.h"
#include "overlay_visibility.h"
#include "player_args.h"
#include "protocol.h"
#include "udp_socket.h"
#include "video_receiver.h"
#include "view_controls.h"

class PlayerLoop {
public:
    // Datagrams read in one pass at the most. A screen share sends a
    // keyframe of a few hundred kilobytes as one burst of datagrams; read one
    // a pass (about 1 to 2 ms each, with drawing) the socket buffer overflows
    // long before the burst is in. The bound keeps the window responsive
    // under a flood.
    static constexpr int DEFAULT_DATAGRAMS_PER_PASS = 512;

    // Milliseconds for the overlay's timing; SDL_GetTicks unless a test
    // moves the clock by hand.
    using Ticks = std::function<uint32_t()>;

    // Sets the starting gain, looks up the window and titles it, installs
    // the audio bar and starts its start-up display period. One loop per
    // receiver: the installed callback refers to this object.
    PlayerLoop(const Args& args, talvek::client::VideoReceiver& receiver,
               talvek::UDPSocket& socket, Ticks ticks = &SDL_GetTicks,
               int datagrams_per_pass = DEFAULT_DATAGRAMS_PER_PASS);
    // Takes the audio bar off the receiver again.
    ~PlayerLoop();
    PlayerLoop(const PlayerLoop&) = delete;
    PlayerLoop& operator=(const PlayerLoop&) = delete;

    // One pass: events, datagrams, the keyframe request, drawing, auto-hide.
    void run_pass();

    void on_event(const SDL_Event& event);
    void on_datagram(const uint8_t* data, int length);
    // Forwards a pending keyframe request to the host application.
    void forward_keyframe_request();

    // Input handlers, as on_event dispatches to them.
    void on_key(const SDL_KeyboardEvent& key);
    void on_wheel(const SDL_MouseWheelEvent& wheel);
    void on_right_press(const SDL_MouseButtonEvent& button);
    void on_right_release();
    void on_left_press(const SDL_MouseButtonEvent& button);
    void on_left_release();
    void on_motion(const SDL_MouseMotionEvent& motion);
    // Once a pass: render() when what the window shows would change (a new
    // picture, the view, the bar, the stream's end) or the window asks for
    // it; otherwise the last presented picture stays on screen.
    void draw_if_needed();
    // Once a pass, after drawing.
    void auto_hide_overlay();

    // View operations (player_loop_view.cpp). Without a window
    // toggle_fullscreen does nothing.
    void toggle_fullscreen();
    void apply_zoom();
    void reset_view();

    // Audio operations (player_loop_audio.cpp): each applies the gain and
    // reports the new state to the host application.
    void set_volume(float v);
    void toggle_mute();

    bool quit_requested() const { return quit; }
    SDL_Window* window() const { return window_handle; }
    const ViewState& view_state() const { return view; }
    bool is_muted() const { return muted; }
    float chosen_volume() const { return volume; }
    bool overlay_visible() const { return overlay.visible; }
    bool is_dragging_volume() const { return volume_dragging; }
    // How often the loop has called render(): what it presented.
    uint64_t draw_count() const { return draws; }

private:
    // Everything besides the picture that decides what render() draws.
    struct Scene {
        bool overlay_visible = false;
        bool muted = false;
        float volume = 0.0f;
        bool fullscreen = false;
        ZoomRect zoom;
        bool stream_ended = false;
        bool operator==(const Scene&) const = default;
    };
    Scene scene() const;
    // Decode thread: ends the main loop's wait for a datagram.
    void wake();

    void overlay_activity();
    void pan_step(const SDL_MouseMotionEvent& motion);
    void volume_drag_step(const SDL_MouseMotionEvent& motion);
    void draw_overlay(SDL_Renderer* renderer, int width, int height) const;

    const Args& args;
    talvek::client::VideoReceiver& receiver;
    talvek::UDPSocket& socket;
    Ticks ticks;
    const int max_datagrams_per_pass;
    SDL_Window* window_handle = nullptr;  // may be null: then view controls do nothing
    bool quit = false;

    ViewState view;

    bool muted;
    float volume;  // the chosen volume, 0..1, kept while muted
    OverlayVisibility overlay;
    bool volume_dragging = false;  // left button went down on the slider

    std::vector<uint8_t> buffer;  // one datagram at a time, reused

    ZoomRect applied_zoom;         // as last given to the receiver
    std::optional<Scene> drawn;    // none: nothing drawn yet
    bool window_exposed = false;   // the window's contents need drawing again
    uint64_t draws = 0;
    // Sends one byte to our own port when a picture is ready: the datagram
    // is too short to be media and is dropped, but it ends the wait.
    talvek::UDPSocket wake_socket;
};
