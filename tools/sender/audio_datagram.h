#pragma once
// One screen-audio datagram as the host application sends it to a player:
//
//   0   sender fields    20 bytes, zero
//   20  sequence         u32 LE, rises by 1 per packet
//   24  payload_length   u16 LE, bytes of the Opus packet
//   26  flags            u8, VOICE_FLAG_SCREEN_AUDIO (0x04) only
//   27  reserved         u8, zero
//   28  Opus packet      payload_length bytes, nothing after it

#include <cstddef>
#include <cstdint>

#include "fragmenter.h"

namespace talvek::tools {

// Longest Opus packet that payload_length can describe.
inline constexpr size_t AUDIO_MAX_PACKET = UINT16_MAX;

// The caller keeps `packet_bytes` within 1..AUDIO_MAX_PACKET.
Datagram make_screen_audio_datagram(uint32_t sequence, const uint8_t* packet, size_t packet_bytes);

}  // namespace talvek::tools
