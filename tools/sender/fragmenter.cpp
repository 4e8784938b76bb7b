#include "fragmenter.h"

#include <algorithm>
#include <cstring>

#include "media_header.h"

namespace talvek::tools {

namespace {
constexpr size_t SLOT = static_cast<size_t>(VIDEO_FRAGMENT_MAX_PAYLOAD);
}

size_t fragment_count_for(size_t frame_bytes) {
    return std::max<size_t>(1, (frame_bytes + SLOT - 1) / SLOT);
}

Datagram make_fragment(uint32_t frame_id, uint16_t index, uint16_t count, uint16_t payload_size,
                       const uint8_t* payload, size_t payload_bytes, uint8_t flags,
                       uint32_t sequence) {
    Datagram d(FRAGMENT_PAYLOAD_OFFSET + payload_bytes, 0);
    MediaHeader media{};
    media.sequence = sequence;
    media.payload_length = static_cast<uint16_t>(
        std::min<size_t>(payload_bytes + sizeof(FragmentHeader), UINT16_MAX));
    media.flags = flags;
    std::memcpy(d.data(), &media, sizeof media);

    FragmentHeader fragment{};
    fragment.frame_id = frame_id;
    fragment.fragment_index = index;
    fragment.fragment_count = count;
    fragment.payload_size = payload_size;
    std::memcpy(d.data() + FRAGMENT_HEADER_OFFSET, &fragment, sizeof fragment);

    if (payload_bytes > 0) std::memcpy(d.data() + FRAGMENT_PAYLOAD_OFFSET, payload, payload_bytes);
    return d;
}

bool cut_into_fragments(uint32_t frame_id, const uint8_t* frame, size_t frame_bytes,
                        const FragmentOptions& options, std::vector<Datagram>& out) {
    const size_t count = fragment_count_for(frame_bytes);
    if (count > UINT16_MAX) return false;
    for (size_t i = 0; i < count; ++i) {
        const size_t offset = i * SLOT;
        const size_t n = std::min(SLOT, frame_bytes - std::min(offset, frame_bytes));
        out.push_back(make_fragment(frame_id, static_cast<uint16_t>(i),
                                    static_cast<uint16_t>(count), static_cast<uint16_t>(n),
                                    frame + offset, n, options.flags,
                                    options.first_sequence + static_cast<uint32_t>(i)));
    }
    return true;
}

bool cut_video_frame(uint32_t frame_id, const uint8_t* frame, size_t frame_bytes,
                     uint32_t& next_sequence, std::vector<Datagram>& out) {
    if (frame_bytes == 0 || fragment_count_for(frame_bytes) > VIDEO_MAX_FRAGMENTS) return false;
    FragmentOptions options;
    options.flags = VOICE_FLAG_VIDEO;
    options.first_sequence = next_sequence;
    const size_t before = out.size();
    cut_into_fragments(frame_id, frame, frame_bytes, options, out);
    next_sequence += static_cast<uint32_t>(out.size() - before);
    return true;
}

}  // namespace talvek::tools
