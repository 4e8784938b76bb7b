// preview: shows the local user the raw frames the host application sends.
// On Windows SDL.h renames main to SDL_main and SDL2main supplies the entry
// point that turns the wide-character command line into UTF-8 argv.

#include <SDL.h>

#include <cstdint>
#include <memory>

#include "frame_reassembler.h"
#include "log.h"
#include "preview_args.h"
#include "udp_socket.h"

using talvek::log_err;
using talvek::log_out;

namespace {

constexpr int RECV_BUFFER_BYTES = 2048;          // largest raw fragment datagram
constexpr int SOCKET_BUFFER_BYTES = 4 * 1024 * 1024;  // a few frames of slack

bool quit_requested_by(const SDL_Event& event) {
    return event.type == SDL_QUIT ||
           (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
}

struct SdlDeleter {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
    void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
    void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};
template <typename T>
using SdlPtr = std::unique_ptr<T, SdlDeleter>;

// Shuts SDL down when it goes, after the SDL objects declared after it.
struct SdlVideo {
    SdlVideo() = default;
    SdlVideo(const SdlVideo&) = delete;
    SdlVideo& operator=(const SdlVideo&) = delete;
    ~SdlVideo() { SDL_Quit(); }
};

// The frames' streaming texture. Made again after the renderer lost its
// device (Direct3D 11 and 12 destroy every texture then), or no frame
// would show again.
SdlPtr<SDL_Texture> make_texture(SDL_Renderer* renderer, const Args& args) {
    SdlPtr<SDL_Texture> texture(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                                  SDL_TEXTUREACCESS_STREAMING, args.width,
                                                  args.height));
    if (!texture) log_err("[Preview] SDL_CreateTexture failed: %s\n", SDL_GetError());
    return texture;
}

// Everything between Winsock's start and its end. Whatever way it returns,
// the texture, the renderer and the window go in that order, then SDL, then
// the socket.
int run(const Args& args) {
    talvek::UDPSocket socket;
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        log_err("[Preview] SDL_Init failed: %s\n", SDL_GetError());
        return 1;
    }
    SdlVideo sdl;

    SdlPtr<SDL_Window> window(
        SDL_CreateWindow(args.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         args.width / 2, args.height / 2, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE));
    if (!window) {
        log_err("[Preview] SDL_CreateWindow failed: %s\n", SDL_GetError());
        return 1;
    }

    SdlPtr<SDL_Renderer> renderer(SDL_CreateRenderer(
        window.get(), -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC));
    if (!renderer) {
        log_err("[Preview] Accelerated renderer failed, trying software: %s\n", SDL_GetError());
        renderer.reset(SDL_CreateRenderer(window.get(), -1, SDL_RENDERER_SOFTWARE));
    }
    if (!renderer) {
        log_err("[Preview] SDL_CreateRenderer failed: %s\n", SDL_GetError());
        return 1;
    }

    SdlPtr<SDL_Texture> texture = make_texture(renderer.get(), args);
    if (!texture) return 1;

    if (!socket.bind(args.port)) {
        log_err("[Preview] Failed to bind UDP socket to port %u\n", args.port);
        return 1;
    }
    socket.set_recv_buffer(SOCKET_BUFFER_BYTES);
    log_out("[Preview] Ready to receive frames on port %u\n", args.port);

    FrameReassembler reassembler(args.width, args.height);
    uint8_t buffer[RECV_BUFFER_BYTES];
    bool quit = false;
    while (!quit) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (quit_requested_by(event)) quit = true;
            if (event.type == SDL_RENDER_DEVICE_RESET) {
                texture.reset();  // before its renderer makes the next one
                texture = make_texture(renderer.get(), args);
            }
        }

        // Drain everything pending before drawing: frames arrive as
        // thousands of datagrams and the socket buffer must not fill.
        for (;;) {
            int n = socket.recv(buffer, sizeof buffer, 0);
            if (n <= 0) break;
            reassembler.handle_fragment(buffer, n);
        }

        if (reassembler.has_complete_frame()) {
            SDL_UpdateTexture(texture.get(), nullptr, reassembler.get_frame().data(),
                              args.width * 4);
            SDL_RenderClear(renderer.get());
            SDL_RenderCopy(renderer.get(), texture.get(), nullptr, nullptr);
            SDL_RenderPresent(renderer.get());
            reassembler.clear_frame();
        }
        SDL_Delay(1);
    }
    log_out("[Preview] Shutting down\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, args)) {
        print_usage(argv[0]);
        return 1;
    }
    log_out("[Preview] Starting preview window (%dx%d) on port %u\n", args.width, args.height,
            args.port);

    socket_init();
    const int status = run(args);
    // Winsock stops after the socket is gone, on every path.
    socket_cleanup();
    return status;
}
