#pragma once
// Reassembles preview's raw frames from fragment datagrams and keeps the
// newest complete one. Single-threaded; no socket and no clock of its own
// beyond the one passed in, so tests can drive it step by step.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class FrameReassembler {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    struct PartialFrame {
        uint16_t fragment_count = 0;  // 0: not set up yet
        uint16_t fragments_received = 0;
        std::vector<uint8_t> data;
        std::vector<bool> received;
        TimePoint created_at{};
    };

    // An entry older than this when another datagram is accepted is dropped.
    static constexpr std::chrono::milliseconds MAX_FRAME_AGE{100};
    // Frames in flight at once. The host sends well under ten (100 ms of
    // frames); the cap keeps a stream of fresh frame numbers that never
    // complete from allocating a full frame buffer each without bound.
    static constexpr size_t MAX_PARTIAL_FRAMES = 32;
    // When a frame completes with more than this many in flight, those more
    // than KEPT_BEHIND numbers below it go: they can only complete stale.
    static constexpr size_t PURGE_ABOVE_FRAMES = 10;
    static constexpr uint32_t KEPT_BEHIND = 5;

    FrameReassembler(int width, int height);
    FrameReassembler(int width, int height, Clock clock);

    // One whole datagram (media header included). Bad or unwanted datagrams
    // are dropped without a message.
    void handle_fragment(const uint8_t* data, int length);

    bool has_complete_frame() const { return !complete_frame.empty(); }
    const std::vector<uint8_t>& get_frame() const { return complete_frame; }
    void clear_frame() { complete_frame = {}; }

    size_t frame_bytes() const { return frame_size; }
    size_t frames_in_flight() const { return partial_frames.size(); }

private:
    void purge_old_entries(TimePoint now);
    void evict_oldest_entry();

    std::unordered_map<uint32_t, PartialFrame> partial_frames;
    std::vector<uint8_t> complete_frame;
    uint32_t last_completed_id = 0;
    size_t frame_size;  // width * height * 4, computed without overflow
    Clock now;
};
