#pragma once
// A video fragment datagram with the header fields a test names, for the
// odd and malformed fragments that the sender's cutter never makes.

#include <cstdint>
#include <vector>

#include "fragmenter.h"

namespace talvek::testing {

// Its payload is `bytes` copies of `fill`, and payload_size says `bytes`.
inline tools::Datagram filled_fragment(uint32_t frame_id, uint16_t index, uint16_t count,
                                       uint16_t bytes, uint8_t fill = 0xAB) {
    const std::vector<uint8_t> payload(bytes, fill);
    return tools::make_fragment(frame_id, index, count, bytes, payload.data(), payload.size());
}

}  // namespace talvek::testing
