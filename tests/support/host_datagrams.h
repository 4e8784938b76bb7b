#pragma once
// The datagrams a player sends the host application, as a test's stand-in
// for the host reads them.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "udp_socket.h"

namespace talvek::testing {

// Reads until `most` have come or none comes for `quiet`, each datagram as
// bytes or as a std::string. All the player sends the host fits the buffer.
template <typename Datagram = std::vector<uint8_t>>
std::vector<Datagram> received_datagrams(UDPSocket& socket, std::chrono::milliseconds quiet,
                                         size_t most = SIZE_MAX) {
    std::vector<Datagram> out;
    uint8_t buf[512];
    for (int n; out.size() < most &&
                (n = socket.recv(buf, sizeof buf, static_cast<int>(quiet.count()))) > 0;)
        out.emplace_back(buf, buf + n);
    return out;
}

// "AUDS", the muted byte, the volume as a little-endian float (the tests run
// on little-endian hosts). Built by hand so that it can check the encoder.
inline std::vector<uint8_t> auds(bool muted, float volume) {
    std::vector<uint8_t> b = {'A', 'U', 'D', 'S', static_cast<uint8_t>(muted ? 1 : 0), 0, 0, 0, 0};
    std::memcpy(&b[5], &volume, 4);
    return b;
}

}  // namespace talvek::testing
