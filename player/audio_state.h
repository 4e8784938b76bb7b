#pragma once
// The audio-state message to the host application, sent on every change of
// volume or mute. Fire-and-forget: no header, no sequence number, no reply.
//
//   offset  size  content
//   0       4     "AUDS" (0x41 0x55 0x44 0x53), no terminator
//   4       1     1 if muted, 0 if not
//   5       4     volume, IEEE-754 float32 little-endian: the chosen
//                 volume (0..1), also while muted

#include <array>
#include <cstdint>

#include "udp_socket.h"

inline constexpr size_t AUDIO_STATE_SIZE = 9;

std::array<uint8_t, AUDIO_STATE_SIZE> encode_audio_state(bool muted, float volume);

// To 127.0.0.1:parent_port; nothing when parent_port is 0. A failed send is
// logged by the socket.
void send_audio_state(talvek::UDPSocket& socket, uint16_t parent_port, bool muted, float volume);
