#include "audio_datagram.h"

#include <cstring>

#include "media_header.h"

namespace talvek::tools {

Datagram make_screen_audio_datagram(uint32_t sequence, const uint8_t* packet,
                                    size_t packet_bytes) {
    Datagram d(MEDIA_HEADER_SIZE + packet_bytes, 0);
    MediaHeader media{};
    media.sequence = sequence;
    media.payload_length = static_cast<uint16_t>(packet_bytes);
    media.flags = VOICE_FLAG_SCREEN_AUDIO;
    std::memcpy(d.data(), &media, sizeof media);
    if (packet_bytes > 0) std::memcpy(d.data() + MEDIA_HEADER_SIZE, packet, packet_bytes);
    return d;
}

}  // namespace talvek::tools
