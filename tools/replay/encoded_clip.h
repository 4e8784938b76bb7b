#pragma once
// A realistic compressed stream for the player benchmarks: the sender's test
// picture with fresh noise over its colour bars, encoded by the sender's own
// encoder and settings (real-time libvpx or libx264, constant bit rate), so
// every frame costs its full share of the bit rate and the first frame is a
// keyframe of a few hundred kilobytes at Mbit/s rates, as a busy screen
// share gives. The frame-number strip stays clean, so a screenshot still
// tells which picture is on screen.

#include <cstdint>
#include <string>
#include <vector>

#include "media_header.h"
#include "video_encoder.h"

namespace talvek::bench {

struct ClipSettings {
    VideoCodec codec = VideoCodec::VP8;
    int width = 1920;
    int height = 1080;
    double fps = 60.0;
    int64_t bitrate = 12'000'000;
    int pictures = 120;   // picture i shows the number i + 1
    int gop = 100'000;    // scheduled keyframes: none but the first by default
    int noise_amplitude = 16;
};

struct EncodedClip {
    ClipSettings settings;
    std::vector<tools::EncodedFrame> frames;  // one per picture, in order
};

// Encodes the clip; false (logged) when the encoder is missing or fails.
bool encode_clip(const ClipSettings& settings, EncodedClip& out);

// A cache of encoded clips, in the sender's clip file form, so repeated
// runs do not pay for encoding again: a file name that differs whenever the
// settings do.
std::string clip_cache_name(const ClipSettings& settings);

// Loads the clip from dir (when given and present) or encodes and stores it.
bool cached_clip(const ClipSettings& settings, const std::string& dir, EncodedClip& out);

}  // namespace talvek::bench
