#include "player_loop.h"

#include "log.h"

using talvek::log_out;

namespace {

// The keyframe request: four ASCII bytes, no header, no terminator.
constexpr uint8_t kf_marker[4] = {'K', 'F', 'R', 'Q'};

// Longest wait for a datagram in one pass; keeps the window responsive.
constexpr int RECV_WAIT_MS = 5;

}  // namespace

PlayerLoop::PlayerLoop(const Args& args_, talvek::client::VideoReceiver& receiver_,
                       talvek::UDPSocket& socket_)
    : args(args_), receiver(receiver_), socket(socket_), muted(args_.audio_muted),
      volume(args_.audio_volume), buffer(talvek::MEDIA_CHUNK_SIZE) {
    receiver.set_audio_volume(muted ? 0.0f : volume);

    window_handle = SDL_GetWindowFromID(receiver.get_window_id());
    if (window_handle) {
        const std::string title = "Stream: " + args.username;
        SDL_SetWindowTitle(window_handle, title.c_str());
    }
}

void PlayerLoop::on_event(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:
        quit = true;
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) quit = true;
        break;
    default:
        break;  // view controls and the audio bar hook in here
    }
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
    for (int i = 0; i < MAX_DATAGRAMS_PER_PASS; ++i) {
        const int n = socket.recv(buffer.data(), buffer.size(), wait_ms);
        if (n <= 0) break;
        on_datagram(buffer.data(), n);
        wait_ms = 0;
    }

    forward_keyframe_request();
    receiver.render();
    SDL_Delay(1);
}
