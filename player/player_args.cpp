#include "player_args.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decimal.h"
#include "float_conversion.h"
#include "log.h"

using talvek::log_err;

namespace {

// Ports keep the low 16 bits of atoi's result: 70000 is 4464, -1 is 65535.
uint16_t to_port(const char* text) { return static_cast<uint16_t>(talvek::to_int(text)); }

}  // namespace

bool parse_args(int argc, char** argv, Args& args) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool has_value = i + 1 < argc;
        // Options that take a value match only when one follows.
        if (has_value && std::strcmp(arg, "--port") == 0) {
            args.port = to_port(argv[++i]);
        } else if (has_value && std::strcmp(arg, "--streamer-id") == 0) {
            args.streamer_id = static_cast<uint32_t>(talvek::to_int(argv[++i]));
        } else if (has_value && std::strcmp(arg, "--width") == 0) {
            args.width = talvek::to_int(argv[++i]);
        } else if (has_value && std::strcmp(arg, "--height") == 0) {
            args.height = talvek::to_int(argv[++i]);
        } else if (has_value && std::strcmp(arg, "--username") == 0) {
            args.username = argv[++i];  // taken as is, even "--port"
        } else if (has_value && std::strcmp(arg, "--parent-port") == 0) {
            args.parent_port = to_port(argv[++i]);
        } else if (std::strcmp(arg, "--has-audio") == 0) {
            args.has_audio = true;
        } else if (has_value && std::strcmp(arg, "--audio-volume") == 0) {
            // strtof without an end pointer: trailing text ignored, none
            // gives 0, and so does "nan".
            args.audio_volume = talvek::clamp_to_unit(std::strtof(argv[++i], nullptr));
        } else if (std::strcmp(arg, "--audio-muted") == 0) {
            args.audio_muted = true;
        } else if (has_value && std::strcmp(arg, "--codec") == 0) {
            const int codec = talvek::to_int(argv[++i]);
            if (codec >= 0 && codec <= 3) args.codec = static_cast<talvek::VideoCodec>(codec);
        }
    }

    if (args.port == 0) {
        log_err("Error: --port is required\n");
        return false;
    }
    return true;
}

void print_usage(const char* program) {
    log_err("Usage: %s --port <PORT> [--streamer-id <ID>] [--width <W>] [--height <H>] "
            "[--username <NAME>] [--has-audio]\n",
            program);
}
