#include "datagram_route.h"

#include "media_header.h"

DatagramRoute route_datagram(const uint8_t* data, int length) {
    if (length < talvek::MEDIA_HEADER_SIZE) return DatagramRoute::Dropped;
    const talvek::MediaHeader header = talvek::read_media_header(data);
    return talvek::is_screen_audio(header.flags) ? DatagramRoute::ScreenAudio
                                                 : DatagramRoute::Video;
}
