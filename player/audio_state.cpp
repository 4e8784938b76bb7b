#include "audio_state.h"

#include <cstring>

std::array<uint8_t, AUDIO_STATE_SIZE> encode_audio_state(bool muted, float volume) {
    static_assert(sizeof(float) == 4);
    uint32_t bits = 0;
    std::memcpy(&bits, &volume, sizeof bits);
    // Byte by byte, so the layout holds on any host byte order.
    return {'A',
            'U',
            'D',
            'S',
            static_cast<uint8_t>(muted ? 1 : 0),
            static_cast<uint8_t>(bits),
            static_cast<uint8_t>(bits >> 8),
            static_cast<uint8_t>(bits >> 16),
            static_cast<uint8_t>(bits >> 24)};
}

void send_audio_state(talvek::UDPSocket& socket, uint16_t parent_port, bool muted, float volume) {
    if (parent_port == 0) return;
    const auto message = encode_audio_state(muted, volume);
    socket.send(message.data(), message.size(), "127.0.0.1", parent_port);
}
