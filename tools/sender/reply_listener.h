#pragma once
// What a player sends back to the host application, read from the sender's
// own socket without blocking. Two kinds are defined, both without a media
// header:
//
//   KFRQ, 4 bytes   "KFRQ"                 the player wants a keyframe
//   AUDS, 9 bytes   0  "AUDS"              the user's audio settings
//                   4  u8 muted (0 or 1)
//                   5  f32 LE volume 0..1
//
// Anything else is kept as raw bytes so a developer can see what came.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "udp_socket.h"

namespace talvek::tools {

struct Reply {
    enum class Kind { KeyframeRequest, AudioState, Other };
    Kind kind = Kind::Other;
    bool muted = false;
    float volume = 0.0f;
    std::vector<uint8_t> bytes;  // the whole datagram
};

Reply parse_reply(const uint8_t* data, size_t length);

// The line the sender prints for a reply, with its newline:
// "[Sender] received KFRQ", "[Sender] received AUDS muted=1 volume=0.500",
// or "[Sender] received 5 bytes: 48 45 4c 4c 4f" (first 32 bytes, then "...").
std::string describe_reply(const Reply& reply);

class ReplyListener {
public:
    explicit ReplyListener(UDPSocket& socket_) : socket(socket_) {}

    // Reads every datagram already waiting and appends it to `out`; never
    // waits. Returns how many were read, or -1 on a socket error (logged by
    // the socket).
    int poll(std::vector<Reply>& out);

private:
    UDPSocket& socket;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(65536);
};

}  // namespace talvek::tools
