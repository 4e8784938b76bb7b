// player: watches one remote user's screen share. The host application
// starts it with the ports and the stream's shape, then feeds it video
// fragments (and screen audio) over loopback UDP.
//
// A console program with a plain main on every platform: SDL_MAIN_HANDLED
// (set by the build) keeps SDL.h from renaming it to SDL_main for SDL2main.

#include <SDL.h>

#include "log.h"
#include "player_args.h"
#include "player_loop.h"
#include "udp_socket.h"
#include "video_receiver.h"
#ifdef _WIN32
#include "utf8_argv.h"
#endif

using talvek::log_err;
using talvek::log_out;

namespace {
constexpr int SOCKET_BUFFER_BYTES = 4 * 1024 * 1024;
#ifdef TALVEK_PLAYER_DATAGRAMS_PER_PASS  // a benchmark build's, to compare
constexpr int DATAGRAMS_PER_PASS = TALVEK_PLAYER_DATAGRAMS_PER_PASS;
#else
constexpr int DATAGRAMS_PER_PASS = PlayerLoop::DEFAULT_DATAGRAMS_PER_PASS;
#endif
}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    Utf8Argv utf8_argv;
    if (!utf8_argv.empty()) {
        argc = utf8_argv.argc();
        argv = utf8_argv.argv();
    }
#endif
    // What SDL2main would have done before calling us.
    SDL_SetMainReady();

    Args args;
    if (!parse_args(argc, argv, args)) {
        print_usage(argv[0]);
        return 1;
    }
    log_out("[VideoPlayer] Starting on port %u for streamer %u (%s, %dx%d, audio=%s)\n", args.port,
            args.streamer_id, args.username.c_str(), args.width, args.height,
            args.has_audio ? "yes" : "no");

    // Audio is started even for silent streams, as the host expects.
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) < 0) {
        log_err("[VideoPlayer] SDL_Init failed: %s\n", SDL_GetError());
        return 1;
    }

    talvek::client::VideoReceiver receiver;
    if (!receiver.init_for_udp(args.width, args.height, args.codec)) {
        log_err("[VideoPlayer] Failed to initialize video receiver\n");
        SDL_Quit();
        return 1;
    }
    // Without a decoder or a device the receiver says why; the stream plays silent.
    if (args.has_audio) receiver.enable_audio(true);

    socket_init();
    {
        talvek::UDPSocket socket;
        if (!socket.bind(args.port)) {
            log_err("[VideoPlayer] Failed to bind UDP socket to port %u\n", args.port);
            receiver.stop();
            SDL_Quit();
            return 1;
        }
        // A keyframe arrives as one burst of hundreds of datagrams; the system's
        // default buffer (about 90 of them) overflows while a pass draws.
        socket.set_recv_buffer(SOCKET_BUFFER_BYTES);
        log_out("[VideoPlayer] Listening on UDP port %u\n", args.port);

        PlayerLoop loop(args, receiver, socket, &SDL_GetTicks, DATAGRAMS_PER_PASS);
        while (!loop.quit_requested()) loop.run_pass();

        log_out("[VideoPlayer] Shutting down\n");
        receiver.stop();  // joins the decode thread, destroys the window while SDL runs
    }
    socket_cleanup();
    SDL_Quit();
    return 0;
}
