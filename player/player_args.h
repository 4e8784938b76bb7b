#pragma once
// player's command line: a plain record with its defaults and the parser.
// Nothing but a missing port is refused; every other oddity is absorbed.

#include <cstdint>
#include <string>

#include "media_header.h"

struct Args {
    uint16_t port = 0;          // 0 means none was given
    uint16_t parent_port = 0;   // host application's reply port; 0 sends nothing
    uint32_t streamer_id = 0;   // only logged
    int32_t width = 1280;
    int32_t height = 720;
    std::string username = "Unknown";
    bool has_audio = false;
    float audio_volume = 1.0f;  // clamped to 0..1
    bool audio_muted = false;
    talvek::VideoCodec codec = talvek::VideoCodec::VP8;  // any of 0..3 is kept
};

// Fills args from argv; false (after printing the error line) without a port.
bool parse_args(int argc, char** argv, Args& args);

// The usage line for argv[0], to standard error.
void print_usage(const char* program);
