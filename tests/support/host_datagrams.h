#pragma once
// The host application's side of the player's replies: what its socket has
// received, and the audio-state message as it reads one.

#include <cstdint>
#include <cstring>
#include <vector>

#include "udp_socket.h"

namespace talvek::testing {

using Datagram = std::vector<uint8_t>;

// Every datagram waiting on `host`, read until none comes for `quiet_ms`.
inline std::vector<Datagram> datagrams_waiting(UDPSocket& host, int quiet_ms) {
    std::vector<Datagram> out;
    uint8_t buf[64];
    for (int n; (n = host.recv(buf, sizeof buf, quiet_ms)) > 0;) out.emplace_back(buf, buf + n);
    return out;
}

// "AUDS", the muted byte, the volume as a little-endian float (the tests run
// on little-endian hosts), built by hand rather than by the player's code.
inline Datagram auds_message(bool muted, float volume) {
    Datagram b = {'A', 'U', 'D', 'S', static_cast<uint8_t>(muted ? 1 : 0), 0, 0, 0, 0};
    std::memcpy(&b[5], &volume, 4);
    return b;
}

}  // namespace talvek::testing
