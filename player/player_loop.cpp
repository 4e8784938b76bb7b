#include "player_loop.h"

#include "audio_bar_input.h"
#include "log.h"

using talvek::log_out;

namespace {

// The keyframe request: four ASCII bytes, no header, no terminator.
constexpr uint8_t kf_marker[4] = {'K', 'F', 'R', 'Q'};

// Longest wait for a datagram in one pass; keeps the window responsive.
constexpr int RECV_WAIT_MS = 5;

}  // namespace

PlayerLoop::PlayerLoop(const Args& args_, talvek::client::VideoReceiver& receiver_,
                       talvek::UDPSocket& socket_, Ticks ticks_, int datagrams_per_pass)
    : args(args_), receiver(receiver_), socket(socket_), ticks(std::move(ticks_)),
      max_datagrams_per_pass(datagrams_per_pass),
      muted(args_.audio_muted), volume(args_.audio_volume), buffer(talvek::MEDIA_CHUNK_SIZE) {
    // No audio-state message at start-up: the host gave us these values.
    receiver.set_audio_volume(muted ? 0.0f : volume);

    window_handle = SDL_GetWindowFromID(receiver.get_window_id());
    if (window_handle) {
        const std::string title = "Stream: " + args.username;
        SDL_SetWindowTitle(window_handle, title.c_str());
    }

    receiver.set_overlay_callback(
        [this](SDL_Renderer* renderer, int width, int height) {
            draw_overlay(renderer, width, height);
        });
    start_display_period(overlay, ticks());
    // The receiver starts with zoom off; nothing is sent until the view changes.
    if (socket.get_bound_port() != 0 && wake_socket.bind(0)) {
        receiver.set_picture_callback([this] { wake(); });
    }
}

PlayerLoop::~PlayerLoop() {
    receiver.set_picture_callback({});
    receiver.set_overlay_callback({});
}

void PlayerLoop::wake() {
    static constexpr uint8_t wake_byte = 0;
    wake_socket.send(&wake_byte, 1, "127.0.0.1", socket.get_bound_port());
}

void PlayerLoop::on_event(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:
        quit = true;
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            quit = true;
        } else {
            window_exposed = true;  // shown, exposed, resized, restored...
        }
        break;
    case SDL_RENDER_TARGETS_RESET:
        window_exposed = true;
        break;
    case SDL_RENDER_DEVICE_RESET:
        receiver.restore_texture();
        window_exposed = true;
        break;
    case SDL_MOUSEWHEEL:
        on_wheel(event.wheel);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_RIGHT) on_right_press(event.button);
        if (event.button.button == SDL_BUTTON_LEFT) on_left_press(event.button);
        break;
    case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_RIGHT) on_right_release();
        if (event.button.button == SDL_BUTTON_LEFT) on_left_release();
        break;
    case SDL_MOUSEMOTION:
        on_motion(event.motion);
        break;
    case SDL_KEYDOWN:
        on_key(event.key);
        break;
    default:
        break;  // key releases, text input, other window events, middle button...
    }
}

// Auto-repeats act like fresh presses; modifiers are not looked at.
void PlayerLoop::on_key(const SDL_KeyboardEvent& key) {
    switch (key.keysym.sym) {
    case SDLK_f:
    case SDLK_F11:
        toggle_fullscreen();
        break;
    case SDLK_ESCAPE:
        if (view.fullscreen) toggle_fullscreen();  // in a window Escape does nothing
        break;
    case SDLK_r:
        reset_view();
        break;
    case SDLK_m:
        if (!args.has_audio) break;
        toggle_mute();
        overlay_activity();
        break;
    case SDLK_UP:
        if (!args.has_audio) break;
        set_volume(volume_up(volume));
        overlay_activity();
        break;
    case SDLK_DOWN:
        if (!args.has_audio) break;
        set_volume(volume_down(volume));
        overlay_activity();
        break;
    default:
        break;
    }
}

// Every movement shows the bar, before it pans or drags anything.
void PlayerLoop::on_motion(const SDL_MouseMotionEvent& motion) {
    overlay_activity();
    if (view.panning && view.zoom.zoom > 1.0f) pan_step(motion);
    if (args.has_audio && volume_dragging && window_handle) volume_drag_step(motion);
}

void PlayerLoop::on_datagram(const uint8_t* data, int length) {
    switch (route_datagram(data, length)) {
    case DatagramRoute::ScreenAudio:
        receiver.handle_screen_audio(data, length);
        break;
    case DatagramRoute::Video:
        receiver.handle_fragment(data, length);
        break;
    case DatagramRoute::Dropped:
        break;
    }
}

void PlayerLoop::forward_keyframe_request() {
    // Without a host port the request stays pending: nobody could answer it.
    if (args.parent_port == 0) return;
    if (!receiver.needs_keyframe_request()) return;
    socket.send(kf_marker, sizeof kf_marker, "127.0.0.1", args.parent_port);
    log_out("[VideoPlayer] Sent keyframe request to parent (port %u)\n", args.parent_port);
}

void PlayerLoop::run_pass() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) on_event(event);

    // Wait for the first datagram only; then take what is already pending.
    int wait_ms = RECV_WAIT_MS;
    for (int i = 0; i < max_datagrams_per_pass; ++i) {
        const int n = socket.recv(buffer.data(), buffer.size(), wait_ms);
        if (n <= 0) break;
        on_datagram(buffer.data(), n);
        wait_ms = 0;
    }

    forward_keyframe_request();
    draw_if_needed();
    auto_hide_overlay();
    SDL_Delay(1);
}

PlayerLoop::Scene PlayerLoop::scene() const {
    return Scene{overlay.visible, muted, volume, view.fullscreen, applied_zoom,
                 receiver.is_stream_ended()};
}

void PlayerLoop::draw_if_needed() {
    const Scene now = scene();
    if (drawn == now && !window_exposed && !receiver.has_new_picture()) return;
    receiver.render();
    ++draws;
    drawn = now;
    window_exposed = false;
}
