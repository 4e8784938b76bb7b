#pragma once
// Options shared by every mode of the sender.

#include <cstdint>
#include <string>

#include "audio_sequence.h"
#include "impairment.h"
#include "media_header.h"

namespace talvek::tools {

struct SenderOptions {
    std::string mode;
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    int width = 1280;
    int height = 720;
    double fps = 30.0;
    long frames = 0;        // 0: run for `seconds`
    double seconds = 5.0;
    uint32_t first_frame = 1;
    ImpairmentOptions impairment;
    bool verbose = false;
    bool quiet = false;

    // player
    VideoCodec codec = VideoCodec::VP8;
    long bitrate = 2'000'000;  // bits per second
    long gop = 0;              // frames between keyframes; 0: ten seconds' worth
    std::string input;         // a video file to send instead of the test picture
    uint16_t listen_port = 0;  // where replies arrive, and video leaves from; 0: any
    bool burst = false;        // each frame in one burst instead of paced

    // screen audio: player with --audio, and the audio mode
    bool audio = false;
    long audio_bitrate = 96'000;  // bits per second
    int audio_packet_ms = 20;
    double audio_gain = 1.0;   // scales the samples before encoding
    double audio_drop = 0.0;   // chance that an audio datagram is lost before the link
    // Speed of the sender's audio clock against real time: 1.005 sends 0.5 %
    // more packets a second than the audio lasts, as a host whose clock
    // runs fast would, so a receiver without a latency bound lags further.
    double audio_clock_rate = 1.0;
    AudioSequencePlan audio_sequence;

    // soak runs, player and preview: garbage between the frames, a record of
    // what was sent when, and (player) frames encoded up front
    double garbage_every = 0.0;  // seconds between garbage bursts; 0: none
    int garbage_burst = 10;      // malformed units a burst, of the kinds of --kind
    std::string event_log;       // event_log.h; empty: none
    std::string clip;            // clip_file.h; empty: encode in real time

    // malformed
    std::string kind = "all";
    long count = 0;       // units (audio: packets) to send; 0: run for `seconds`
    double rate = 100.0;  // units per second
};

// Keyframe interval in frames: --gop, or ten seconds at the frame rate.
int keyframe_interval(const SenderOptions& options);

// Parses argv (mode first). Prints the reason and returns false on error.
bool parse_sender_options(int argc, char** argv, SenderOptions& options);
void print_sender_usage(const char* program);

}  // namespace talvek::tools
