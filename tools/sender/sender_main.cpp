// sender: a stand-in for the host application. It feeds our programs over
// loopback UDP exactly as the host does, with optional loss, duplication
// and reordering, for demos, tests and the host's own developers.

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

#include "audio_mode.h"
#include "log.h"
#include "malformed_mode.h"
#include "player_mode.h"
#include "preview_mode.h"
#include "sender_options.h"
#include "udp_socket.h"

namespace {

struct Mode {
    const char* name;
    int (*run)(const talvek::tools::SenderOptions&);
};

constexpr Mode MODES[] = {
    {"preview", talvek::tools::run_preview_mode},
    {"player", talvek::tools::run_player_mode},
    {"malformed", talvek::tools::run_malformed_mode},
    {"audio", talvek::tools::run_audio_mode},
};

}  // namespace

int main(int argc, char** argv) {
    talvek::tools::SenderOptions options;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        talvek::tools::print_sender_usage(argv[0]);
        return 0;
    }
    if (!talvek::tools::parse_sender_options(argc, argv, options)) {
        talvek::tools::print_sender_usage(argv[0]);
        return 2;
    }
    // The encoders' banners and statistics would bury our own lines.
    av_log_set_level(AV_LOG_WARNING);
    for (const Mode& mode : MODES) {
        if (options.mode == mode.name) {
            socket_init();
            int status = mode.run(options);
            socket_cleanup();
            return status;
        }
    }
    talvek::log_err("[Sender] Error: unknown mode %s\n", options.mode.c_str());
    talvek::tools::print_sender_usage(argv[0]);
    return 2;
}
