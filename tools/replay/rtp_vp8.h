#pragma once
// Cuts an encoded VP8 frame into RTP packets (RFC 3550 header, RFC 7741
// payload descriptor), so that a stock RTP receiver can be fed the very
// clip the player is fed, at the same pace, as a peer to measure against:
//
//   0   V=2, no padding, no extension, no CSRC     1 byte, 0x80
//   1   marker (last packet of the frame) | PT     1 byte
//   2   sequence number                           u16, big-endian
//   4   timestamp, 90 kHz                         u32, big-endian
//   8   SSRC                                      u32, big-endian
//   12  VP8 descriptor: S bit on the frame's first packet, partition 0
//   13  payload, up to 1400 bytes, as the player's fragments carry
//
// The payload is cut at the same 1400 bytes as the player's fragments, so
// both receivers get the same number of datagrams per frame.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvek::bench {

inline constexpr size_t RTP_HEADER_BYTES = 12;
inline constexpr size_t RTP_VP8_DESCRIPTOR_BYTES = 1;
inline constexpr size_t RTP_VP8_MAX_PAYLOAD = 1400;
inline constexpr uint8_t RTP_VP8_PAYLOAD_TYPE = 96;
inline constexpr uint32_t RTP_VIDEO_CLOCK_HZ = 90000;

// Appends the frame's packets to out, sequence numbers from next_sequence
// on (advanced past the frame, wrapping at 16 bits). An empty frame gives
// no packet.
void cut_rtp_vp8_frame(const uint8_t* frame, size_t frame_bytes, uint32_t timestamp,
                       uint32_t ssrc, uint16_t& next_sequence,
                       std::vector<std::vector<uint8_t>>& out);

}  // namespace talvek::bench
