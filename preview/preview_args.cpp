#include "preview_args.h"

#include <cstdlib>
#include <cstring>

#include "decimal.h"
#include "log.h"

using talvek::log_err;

// A frame must fit the int-sized pitch and buffer sizes of the texture API;
// anything larger would overflow width * height * 4. Both are positive here,
// so their product fits 64 bits, while the product times 4 may not.
static bool frame_fits(int32_t width, int32_t height) {
    return static_cast<int64_t>(width) * height <= INT32_MAX / 4;
}

bool parse_args(int argc, char** argv, Args& args) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        // Every option takes a value; standing last, it matches nothing.
        if (i + 1 >= argc) continue;
        if (std::strcmp(arg, "--port") == 0) {
            args.port = static_cast<uint16_t>(talvek::to_int(argv[++i]));
        } else if (std::strcmp(arg, "--parent-port") == 0) {
            args.parent_port = static_cast<uint16_t>(talvek::to_int(argv[++i]));
        } else if (std::strcmp(arg, "--width") == 0) {
            args.width = talvek::to_int(argv[++i]);
        } else if (std::strcmp(arg, "--height") == 0) {
            args.height = talvek::to_int(argv[++i]);
        } else if (std::strcmp(arg, "--title") == 0) {
            args.title = argv[++i];
        }
    }

    if (args.port == 0) {
        log_err("[Preview] Error: --port is required\n");
        return false;
    }
    if (args.width > 0 && args.height > 0 && frame_fits(args.width, args.height)) return true;
    log_err("[Preview] Error: Invalid dimensions %dx%d\n", args.width, args.height);
    return false;
}

void print_usage(const char* program) {
    log_err("Usage: %s --port <port> [--parent-port <port>] --width <w> --height <h> "
            "[--title <title>]\n",
            program);
}
