#pragma once
// Headers at the front of every datagram from the host application.
//
//  offset  size  field            read by
//  ------  ----  ---------------  -----------------------------------
//   0      20    sender fields    nobody (host application's own)
//  20       4    sequence         screen-audio path
//  24       2    payload_length   screen-audio path
//  26       1    flags            main loop (VOICE_FLAG_SCREEN_AUDIO)
//  27       1    reserved         nobody
//  28      12    FragmentHeader   video and raw-frame fragments only
//  40       …    fragment payload
//
// Everything is little-endian, the machine's own order on every target; the
// structs are copied out of the datagram with memcpy, never cast in place.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol.h"

namespace talvek {

enum class VideoCodec : uint8_t {
    VP8 = 0,
    H264 = 1,
};

#pragma pack(push, 1)
struct MediaHeader {
    uint8_t sender[20];
    uint32_t sequence;
    uint16_t payload_length;
    uint8_t flags;
    uint8_t reserved;
};

struct FragmentHeader {
    uint32_t frame_id;
    uint16_t fragment_index;
    uint16_t fragment_count;
    uint16_t payload_size;
    uint16_t padding;
};
#pragma pack(pop)

inline constexpr int MEDIA_HEADER_SIZE = 28;
inline constexpr int FRAGMENT_HEADER_OFFSET = MEDIA_HEADER_SIZE;
inline constexpr int FRAGMENT_PAYLOAD_OFFSET = 40;

static_assert(sizeof(MediaHeader) == MEDIA_HEADER_SIZE);
static_assert(offsetof(MediaHeader, sequence) == 20);
static_assert(offsetof(MediaHeader, payload_length) == 24);
static_assert(offsetof(MediaHeader, flags) == 26);
static_assert(offsetof(MediaHeader, reserved) == 27);
static_assert(sizeof(FragmentHeader) == 12);
static_assert(offsetof(FragmentHeader, frame_id) == 0);
static_assert(offsetof(FragmentHeader, fragment_index) == 4);
static_assert(offsetof(FragmentHeader, fragment_count) == 6);
static_assert(offsetof(FragmentHeader, payload_size) == 8);
static_assert(FRAGMENT_HEADER_OFFSET + sizeof(FragmentHeader) == FRAGMENT_PAYLOAD_OFFSET);
static_assert(sizeof(VideoCodec) == 1);

// The caller has checked that the datagram holds at least 28 bytes.
inline MediaHeader read_media_header(const uint8_t* datagram) {
    MediaHeader header;
    std::memcpy(&header, datagram, sizeof header);
    return header;
}

// The caller has checked that the datagram holds at least 40 bytes.
inline FragmentHeader read_fragment_header(const uint8_t* datagram) {
    FragmentHeader header;
    std::memcpy(&header, datagram + FRAGMENT_HEADER_OFFSET, sizeof header);
    return header;
}

// Routing rule of the player's main loop: only the screen-audio bit decides;
// a datagram without it is video whatever its other flags say.
inline constexpr bool is_screen_audio(uint8_t flags) {
    return (flags & VOICE_FLAG_SCREEN_AUDIO) != 0;
}

}  // namespace talvek
