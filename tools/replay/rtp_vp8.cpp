#include "rtp_vp8.h"

#include <algorithm>

namespace talvek::bench {

namespace {

void put_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put_u32(uint8_t* p, uint32_t v) {
    put_u16(p, static_cast<uint16_t>(v >> 16));
    put_u16(p + 2, static_cast<uint16_t>(v));
}

}  // namespace

void cut_rtp_vp8_frame(const uint8_t* frame, size_t frame_bytes, uint32_t timestamp,
                       uint32_t ssrc, uint16_t& next_sequence,
                       std::vector<std::vector<uint8_t>>& out) {
    for (size_t offset = 0; offset < frame_bytes; offset += RTP_VP8_MAX_PAYLOAD) {
        const size_t payload = std::min(RTP_VP8_MAX_PAYLOAD, frame_bytes - offset);
        const bool last = offset + payload == frame_bytes;
        std::vector<uint8_t>& packet = out.emplace_back(
            RTP_HEADER_BYTES + RTP_VP8_DESCRIPTOR_BYTES + payload);
        packet[0] = 0x80;
        packet[1] = static_cast<uint8_t>((last ? 0x80 : 0x00) | RTP_VP8_PAYLOAD_TYPE);
        put_u16(&packet[2], next_sequence++);
        put_u32(&packet[4], timestamp);
        put_u32(&packet[8], ssrc);
        packet[RTP_HEADER_BYTES] = offset == 0 ? 0x10 : 0x00;  // S: a partition starts here
        std::copy_n(frame + offset, payload,
                    packet.begin() + RTP_HEADER_BYTES + RTP_VP8_DESCRIPTOR_BYTES);
    }
}

}  // namespace talvek::bench
