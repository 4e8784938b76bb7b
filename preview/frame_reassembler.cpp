#include "frame_reassembler.h"

#include <algorithm>
#include <cstring>

#include "media_header.h"

using talvek::FRAGMENT_PAYLOAD_OFFSET;
using talvek::VIDEO_FRAGMENT_MAX_PAYLOAD;

static size_t bytes_for(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

FrameReassembler::FrameReassembler(int width_, int height_)
    : FrameReassembler(width_, height_, [] { return std::chrono::steady_clock::now(); }) {}

FrameReassembler::FrameReassembler(int width_, int height_, Clock clock)
    : frame_size(bytes_for(width_, height_)), now(std::move(clock)) {}

void FrameReassembler::handle_fragment(const uint8_t* data, int length) {
    if (length < FRAGMENT_PAYLOAD_OFFSET) return;
    const talvek::FragmentHeader header = talvek::read_fragment_header(data);

    // Numbers at or below the last completed frame are stale for good.
    if (header.frame_id <= last_completed_id) return;

    auto found = partial_frames.find(header.frame_id);
    if (found == partial_frames.end()) {
        if (partial_frames.size() >= MAX_PARTIAL_FRAMES) evict_oldest_entry();
        found = partial_frames.emplace(header.frame_id, PartialFrame{}).first;
    }
    PartialFrame& frame = found->second;

    // The first accepted datagram of a frame fixes its fragment count.
    if (frame.fragment_count == 0) {
        frame.fragment_count = header.fragment_count;
        frame.data.assign(frame_size, 0);
        frame.received.assign(header.fragment_count, false);
        frame.created_at = now();
    }

    // A payload_size that runs past the datagram's end marks a broken
    // datagram: it stores nothing rather than leave stale bytes in the slot.
    const size_t available = static_cast<size_t>(length - FRAGMENT_PAYLOAD_OFFSET);
    if (header.fragment_index < frame.fragment_count && !frame.received[header.fragment_index] &&
        header.payload_size <= available) {
        const size_t offset =
            static_cast<size_t>(header.fragment_index) * VIDEO_FRAGMENT_MAX_PAYLOAD;
        const size_t room = offset < frame.data.size() ? frame.data.size() - offset : 0;
        const size_t n = std::min<size_t>(header.payload_size, room);
        if (n > 0) {
            std::memcpy(frame.data.data() + offset, data + FRAGMENT_PAYLOAD_OFFSET, n);
            frame.received[header.fragment_index] = true;
            ++frame.fragments_received;
        }
    }

    if (frame.fragments_received == frame.fragment_count) {
        complete_frame = std::move(frame.data);
        frame.data = {};
        last_completed_id = header.frame_id;
        if (partial_frames.size() > PURGE_ABOVE_FRAMES && last_completed_id >= KEPT_BEHIND) {
            const uint32_t oldest_kept = last_completed_id - KEPT_BEHIND;
            std::erase_if(partial_frames, [&](const auto& entry) { return entry.first < oldest_kept; });
        }
    }

    purge_old_entries(now());
}

void FrameReassembler::purge_old_entries(TimePoint time) {
    std::erase_if(partial_frames,
                  [&](const auto& entry) { return time - entry.second.created_at > MAX_FRAME_AGE; });
}

void FrameReassembler::evict_oldest_entry() {
    auto oldest = std::min_element(partial_frames.begin(), partial_frames.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; });
    if (oldest != partial_frames.end()) partial_frames.erase(oldest);
}
