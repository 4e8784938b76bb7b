#pragma once
// The state of player's main loop and its handlers, one per kind of input,
// so a test can drive the loop without a window. The loop runs on the main
// thread only.

#include <cstdint>
#include <vector>

#include <SDL.h>

#include "datagram_route.h"
#include "player_args.h"
#include "protocol.h"
#include "udp_socket.h"
#include "video_receiver.h"

class PlayerLoop {
public:
    // Datagrams read in one pass at the most. A screen share sends a
    // keyframe of a few hundred kilobytes as one burst of datagrams; read one
    // a pass (about 1 to 2 ms each, with drawing) the socket buffer overflows
    // long before the burst is in. The bound keeps the window responsive
    // under a flood.
    static constexpr int MAX_DATAGRAMS_PER_PASS = TALVEK_PLAYER_DATAGRAMS_PER_PASS;

    PlayerLoop(const Args& args, talvek::client::VideoReceiver& receiver,
               talvek::UDPSocket& socket);

    // One pass: events, at most one datagram, the keyframe request, drawing.
    void run_pass();

    void on_event(const SDL_Event& event);
    void on_datagram(const uint8_t* data, int length);
    // Forwards a pending keyframe request to the host application.
    void forward_keyframe_request();

    bool quit_requested() const { return quit; }
    SDL_Window* window() const { return window_handle; }

private:
    const Args& args;
    talvek::client::VideoReceiver& receiver;
    talvek::UDPSocket& socket;
    SDL_Window* window_handle = nullptr;  // may be null: then view controls do nothing
    bool quit = false;
    bool muted;
    float volume;
    std::vector<uint8_t> buffer;  // one datagram at a time, reused
};
