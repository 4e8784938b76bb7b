#pragma once
// Hand-made VP8 frames for the decode tests.

#include <cstdint>
#include <vector>

namespace client_test {

// A VP8 keyframe tag with a broken start code: the decoder refuses it.
inline std::vector<uint8_t> garbage_frame() {
    std::vector<uint8_t> frame(100, 0x5A);
    frame[0] = 0x00;  // keyframe, version 0
    frame[3] = 0xDE;  // start code should be 9d 01 2a
    frame[4] = 0xAD;
    frame[5] = 0xBE;
    return frame;
}

}  // namespace client_test
