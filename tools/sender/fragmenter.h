#pragma once
// Cuts a frame into fragment datagrams the way the host application does:
//
//   0   MediaHeader      28 bytes (flags, sequence; sender bytes zero)
//   28  frame_id         u32
//   32  fragment_index   u16
//   34  fragment_count   u16
//   36  payload_size     u16
//   38  padding          u16, zero
//   40  payload          up to 1400 bytes; fragment i holds bytes i*1400...
//
// The same layout serves raw preview frames and encoded player frames.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvek::tools {

using Datagram = std::vector<uint8_t>;

struct FragmentOptions {
    uint8_t flags = 0;             // media header flags byte
    uint32_t first_sequence = 0;   // media header sequence of the first fragment
};

// Number of fragments for a frame of this many bytes (at least one).
size_t fragment_count_for(size_t frame_bytes);

// Appends the frame's datagrams to out. Frames needing more than 65535
// fragments cannot be described by the 16-bit count; returns false then.
bool cut_into_fragments(uint32_t frame_id, const uint8_t* frame, size_t frame_bytes,
                        const FragmentOptions& options, std::vector<Datagram>& out);

// A player accepts frames of 1 to 1000 fragments, so at most 1,400,000 bytes.
inline constexpr size_t VIDEO_MAX_FRAGMENTS = 1000;

// Cuts one encoded frame as the host sends it to a player: flags
// VOICE_FLAG_VIDEO, sequence numbers from next_sequence on (advanced past
// the frame). Returns false, appending nothing and leaving next_sequence,
// for an empty frame or one that needs more than 1000 fragments.
bool cut_video_frame(uint32_t frame_id, const uint8_t* frame, size_t frame_bytes,
                     uint32_t& next_sequence, std::vector<Datagram>& out);

// One datagram with exactly the given header fields and payload, for tests
// and for the malformed-datagram modes.
Datagram make_fragment(uint32_t frame_id, uint16_t index, uint16_t count, uint16_t payload_size,
                       const uint8_t* payload, size_t payload_bytes, uint8_t flags = 0,
                       uint32_t sequence = 0);

}  // namespace talvek::tools
