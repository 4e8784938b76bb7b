#pragma once
// Which path of the receiver one inbound datagram takes.

#include <cstdint>

enum class DatagramRoute {
    Dropped,      // shorter than the media header
    ScreenAudio,  // flags carry the screen-audio bit
    Video,        // everything else, whatever its other flag bits
};

// Decided on the media header's flags byte alone.
DatagramRoute route_datagram(const uint8_t* data, int length);
