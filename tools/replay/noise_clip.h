#pragma once
// A video clip for the sender's --input: the sender's own test picture,
// numbered so a screenshot tells which picture is on screen, with fresh
// noise in a band of rows so that every picture costs its full share of the
// bit rate, as a busy screen share does. The test picture alone compresses
// to a datagram or two a frame.
//
// Written as YUV4MPEG2 (planar 4:2:0, BT.601 limited range), which
// libavformat reads without a codec and the sender only has to copy.

#include <cstdint>
#include <string>
#include <vector>

namespace talvek::testing {

struct ClipOptions {
    int width = 640;   // even
    int height = 360;  // even
    int pictures = 16;
    int fps = 30;
    uint32_t first_number = 1;  // picture i shows first_number + i
    // Rows [noise_top, noise_bottom) get luma noise of +-noise_amplitude.
    int noise_top = 0;
    int noise_bottom = 0;
    int noise_amplitude = 0;
    uint32_t seed = 1;
};

// False (with errno set by stdio) when the file cannot be written.
bool write_noise_clip(const std::string& path, const ClipOptions& options);

// The YUV 4:2:0 planes (Y, then U, then V) of picture `index` as written.
std::vector<uint8_t> clip_picture_yuv(const ClipOptions& options, int index);

}  // namespace talvek::testing
